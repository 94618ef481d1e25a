"""The host tool's hand-over mode, its report and its limits, its answers when the uploader
is not there, and the nightly job that HOST-PROTOCOL.md builds on it."""

import ast
import hashlib
import json
import re
import shutil
import threading
import time

import pytest

import uploader_runs
import winedrive as wd
from album_service import Fault

# What ending a process and seeing it ended may add to a stated limit, on a machine shared
# with other work.
PROCESS_ALLOWANCE = 5
ALREADY_WAITS = "refused: its name already waits in temp"


def source_constants() -> dict[str, str]:
    """Every constexpr number of the uploader's source by name, as its definition reads."""
    found: dict[str, set[str]] = {}
    for path in sorted((wd.ROOT / "src").rglob("*")):
        if path.suffix in (".h", ".cpp"):
            text = path.read_text(encoding="utf-8")
            for name, value in re.findall(r"constexpr\s+[\w:]+\s+(\w+)\s*=\s*([^;{]+);", text):
                found.setdefault(name, set()).add(value.strip())
    return {name: values.pop() for name, values in found.items() if len(values) == 1}


def designed_ms(*names: str) -> int:
    """The sum of the uploader's named limits and pauses, each worked out from its own
    definition: a changed limit moves the sum with it, and a renamed one fails here."""
    definitions = source_constants()

    def value(node) -> int:
        if isinstance(node, ast.Constant) and isinstance(node.value, int):
            return node.value
        if isinstance(node, ast.Name):
            return value(ast.parse(definitions[node.id], mode="eval").body)
        if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Add | ast.Mult):
            left, right = value(node.left), value(node.right)
            return left + right if isinstance(node.op, ast.Add) else left * right
        raise ValueError(f"cannot work out {ast.dump(node)}")

    return sum(value(ast.Name(name)) for name in names)


# From "はい" to the uploader's end while an upload's answer is awaited, each part of the
# window's teardown at its longest (HOST-PROTOCOL.md, "How long the end takes, at most").
CLOSE_TO_END = (
    "CompletedJobEndLimit",  # the job's own result, had it just reported its end
    "FailedUploadPause",  # the photo back to waiting
    "QuitAnswerGrace",  # the answer to a photo whose end went out, and the drain allowance
    "QuitAnswerSlice",  # one more look at it
    "UploadTeardownPause",
    "ThreadEndLimit",  # the retirement: the job's thread, its body's writer, WinINet's closings
    "BodyWriterEndLimit",
    "ClosingLimit",
    "ClosingPollInterval",
    "UploadTeardownPause",
    "DestroyPause",
)


def awaited_drain_ms(host_stderr: str) -> int:
    """The drain allowance that the quit's wait for an answer adds: the one the photo's
    body measured on its link, none where no piece of it waited (no rate measured)."""
    written = re.findall(
        r"request body written: \d+ bytes, link (\d+) bytes/s, (\d+) ms", host_stderr
    )
    rate, drain = map(int, written[-1]) if written else (0, 0)
    return drain if rate else 0


def test_handover_copies_pokes_and_starts_the_uploader(install, tmp_path, start_uploader):
    sources = []
    for name in ("a.jpg", "b.jpg"):
        path = tmp_path / name
        path.write_bytes(name.encode() * 100)
        sources.append(wd.windows_path(path))
    result = wd.host_handover("--exe", wd.windows_path(install.exe), "--no-upload", *sources)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    assert window is not None
    try:
        for name in ("a.jpg", "b.jpg"):
            assert (install.temp / name).read_bytes() == name.encode() * 100
        lists = [c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32"]
        cells = [r["cells"] for r in wd.list_view(lists[0]["hwnd"])["rows"]]
        assert cells == [["待機", "a.jpg"], ["待機", "b.jpg"]]

        # A second hand-over finds the running uploader instead of starting another.
        extra = tmp_path / "c.jpg"
        extra.write_bytes(b"c")
        result = wd.host_handover(
            "--exe", wd.windows_path(install.exe), "--no-upload", wd.windows_path(extra)
        )
        assert result.returncode == 0, result.stderr
        assert len(wd.list_view(lists[0]["hwnd"])["rows"]) == 3
    finally:
        wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
        wd.wait_gone(window["hwnd"])


def test_one_conversation_per_topic_with_reads_between_the_pokes(install, album, sources):
    # As hosts do it: the items read, the names poked and the command executed on
    # conversations that stay open, with the dispatching after each read that
    # HOST-PROTOCOL.md prescribes under Wine.
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 3)
    result = uploader_runs.hand_over(install, files, "--one-conversation")
    assert result.returncode == 0, result.stdout + result.stderr
    reads = {}
    for line in result.stdout.splitlines():
        if line.startswith("{"):
            answer = json.loads(line)
            reads[answer["read"]] = (answer["result"], wd.reply_bytes(answer))
    first = wd.windows_path(install.temp / "photo1.jpg")
    assert reads == {
        "Upload/SysItems": ("ack", b"Filename\tSysItems\tLoginData\tExitCondition\0"),
        "Upload/LoginData": (
            "ack",
            "\t".join(
                [album.login_url, album.upload_url, uploader_runs.ACCOUNT, uploader_runs.PASSWORD]
            ).encode("cp932"),
        ),
        "Upload/Filename": ("ack", first.encode("cp932") + b"\0"),
        "System/Topics": ("ack", b"System\tUpload\0"),
    }
    # The tool waited for the uploader's end, started with the count of three.
    assert [f"delivered: {f.name}" for f in files] == result.stdout.splitlines()[-3:]
    assert album.stored_files(uploader_runs.ACCOUNT) == {f.name: f.read_bytes() for f in files}
    assert list(install.temp.iterdir()) == []


CLOSE_QUESTION = "alert: 注意: まだ待機ファイルが残っています。アップロードを中断しますか？"


@pytest.mark.parametrize(
    "password, closing, code, alerts, fates",
    [
        (uploader_runs.PASSWORD, [], 0, [], ["delivered"] * 2),
        (
            "wrong password",
            [],
            1,
            [
                "alert: 警告: パスワードもしくはログインネームが異なります",
                "alert: 警告: ログインに失敗しました",
            ],
            ["still in temp"] * 2,
        ),
        # The host ends the run: the first photo has gone whole, and its answer is read;
        # the second stays.
        (
            uploader_runs.PASSWORD,
            ["--close-after", 3],
            1,
            [CLOSE_QUESTION],
            ["delivered", "still in temp"],
        ),
    ],
    ids=["good login", "wrong password", "closed by the host"],
)
def test_an_unattended_host_answers_the_alerts_and_learns_the_outcome(
    password, closing, code, alerts, fates, install, album, sources, tmp_path
):
    uploader_runs.configure(install, album)
    # Each upload is stored at once and answered 6 s later: the host's close, 3 s after the
    # hand-over, comes while the first photo's answer is awaited.
    album.set_faults([Fault(endpoint="upload", delay=6, process=True)])
    files = uploader_runs.make_files(sources, 2)
    login_data = "\\t".join([album.login_url, album.upload_url, uploader_runs.ACCOUNT, password])
    report = tmp_path / "report.json"
    result = uploader_runs.hand_over(
        install, files, "--unattended", "--login-data", login_data, *closing, report=report
    )
    assert result.returncode == code, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert [line for line in lines if line.startswith("alert: ")] == alerts
    assert lines[-2:] == [f"{fate}: {f.name}" for fate, f in zip(fates, files, strict=True)]
    for fate, f in zip(fates, files, strict=True):
        assert (install.temp / f.name).exists() == (fate == "still in temp")

    # The report says the same, and what it calls delivered is what the album stored.
    outcome = json.loads(report.read_text())
    assert outcome["status"] == code
    assert [f"alert: {a['caption']}: {a['text']}" for a in outcome["alerts"]] == alerts
    kept_or_delivered = {"delivered": "delivered", "still in temp": "kept"}
    assert [(p["name"], p["fate"]) for p in outcome["photos"]] == [
        (f.name, kept_or_delivered[fate]) for fate, f in zip(fates, files, strict=True)
    ]
    assert album.stored_files(uploader_runs.ACCOUNT) == {
        p["name"]: (sources / p["name"]).read_bytes()
        for p in outcome["photos"]
        if p["fate"] == "delivered"
    }
    if closing:
        # The close came while an answer was awaited: the uploader ended within the sum of
        # its teardown's limits, counted from the "はい".
        (yes,) = [a["time"] for a in outcome["alerts"] if a["answer"] == "yes"]
        bound = (designed_ms(*CLOSE_TO_END) + awaited_drain_ms(result.stderr)) / 1000
        assert outcome["close"] < yes < outcome["exit"] <= yes + bound + PROCESS_ALLOWANCE


@pytest.mark.parametrize("host", ["VistoraHost.exe", "HandoverExample.exe"])
def test_a_photo_never_overwrites_one_that_waits_in_temp(host, install, album, sources, tmp_path):
    # Last night's photo1.jpg was not delivered; tonight's camera named a photo the same.
    uploader_runs.configure(install, album)
    waiting = install.temp / "photo1.jpg"
    waiting.write_bytes(b"last night's photo")
    files = uploader_runs.make_files(sources, 2)
    report = tmp_path / "report.json"
    if host == "VistoraHost.exe":
        result = uploader_runs.hand_over(install, files, report=report)
        code, out, err = result.returncode, result.stdout, result.stderr
        outcome = json.loads(report.read_text())
        assert (outcome["status"], [(p["name"], p["fate"]) for p in outcome["photos"]]) == (
            7,
            [("photo1.jpg", ALREADY_WAITS), ("photo2.jpg", "delivered")],
        )
    else:
        result = wd.run_windows(
            wd.BIN / host, wd.windows_path(install.exe), *map(wd.windows_path, files), timeout=180
        )
        code, out, err = result.returncode, result.stdout.decode(), result.stderr.decode()
        assert out.splitlines() == ["already waits in temp: photo1.jpg", "delivered: photo2.jpg"]
    assert code == (7 if host == "VistoraHost.exe" else 5), out + err
    assert "photo1.jpg already waits in temp" in err
    # The waiting photo is untouched, and only the other one went.
    assert waiting.read_bytes() == b"last night's photo"
    assert album.stored_files(uploader_runs.ACCOUNT) == {"photo2.jpg": files[1].read_bytes()}


def test_connect_and_wait_ready_right_after_the_start_end_within_their_limits(start_uploader):
    # The moment at which a connection found the service not up yet: each command still
    # ends within its limit, and wait-ready sees the service answer.
    raw_limit, ready_limit = 10, 30
    outcomes = []
    for _ in range(20):
        uploader = start_uploader()
        started = time.monotonic()
        code, answer = wd.host_raw("--limit", raw_limit, "connect", "System")
        connected = time.monotonic()
        ready = wd.run_windows(wd.BIN / "VistoraHost.exe", "wait-ready", "--limit", ready_limit)
        ended = time.monotonic()
        uploader.kill()
        outcomes.append((code, answer, ready.returncode))
        assert connected - started <= raw_limit + PROCESS_ALLOWANCE
        assert ended - connected <= ready_limit + PROCESS_ALLOWANCE
    assert all(
        (code, answer["connected"]) in ((0, True), (3, False)) for code, answer, _ in outcomes
    )
    assert [ready for _, _, ready in outcomes] == [0] * 20


def test_a_command_ends_within_its_limit_while_the_uploader_pauses(install, album, sources):
    # Three refused uploads, each followed by 2.6 s in which the uploader answers nothing:
    # a request sent then waits for the pause, a connection waits for each of its windows.
    uploader_runs.configure(install, album)
    album.set_faults([Fault(endpoint="upload", times=3, body="fail")])
    files = uploader_runs.make_files(sources, 1)
    limit, request_wait_ms = 1, 10_000  # a request may wait longer than its command may
    outcomes, codes = [], []
    handing_over = threading.Thread(
        target=lambda: outcomes.append(uploader_runs.hand_over(install, files, "--unattended"))
    )
    handing_over.start()
    while handing_over.is_alive():
        started = time.monotonic()
        code, _ = wd.host_raw(
            "--limit", limit, "--timeout", request_wait_ms, "request", "System", "Topics"
        )
        assert time.monotonic() - started <= limit + PROCESS_ALLOWANCE
        codes.append(code)
    handing_over.join()
    assert outcomes[0].returncode == 0, outcomes[0].stdout + outcomes[0].stderr
    # Some requests were answered, and some met a pause that outlasted their limit.
    assert 0 in codes and 6 in codes


def test_raw_mode_and_wait_ready_report_a_missing_service():
    code, answer = wd.host_raw("--timeout", "2000", "request", "System", "Topics")
    assert code == 3
    assert answer == {"connected": False, "error": answer["error"]}
    limit = 2
    started = time.monotonic()
    ready = wd.run_windows(wd.BIN / "VistoraHost.exe", "wait-ready", "--limit", limit)
    assert (ready.returncode, b"no uploader window" in ready.stderr) == (3, True)
    assert time.monotonic() - started <= limit + PROCESS_ALLOWANCE


def test_handover_reports_an_uploader_that_cannot_start(tmp_path):
    result = wd.host_handover(
        "--exe", wd.windows_path(tmp_path / "missing.exe"), "--start-timeout", "2"
    )
    assert result.returncode == 3
    assert "cannot start" in result.stderr


def nightly_job() -> str:
    """The nightly job as HOST-PROTOCOL.md gives it, the first batch file of its section."""
    text = (wd.ROOT / "dist" / "HOST-PROTOCOL.md").read_text(encoding="utf-8")
    section = text.split("\n## A nightly job\n", 1)[1].split("\n## ", 1)[0]
    return section.split("```bat\n", 1)[1].split("```", 1)[0]


def test_the_nightly_job_of_the_host_protocol(install, album, sources):
    # Two nights of the job as the protocol gives it, in an install as the archive unpacks:
    # a wrong password keeps the first night's photos; the second night hands them over
    # first, without copying, then its own, one named in a subfolder.
    shutil.copy2(wd.BIN / "VistoraHost.exe", install.folder)
    job = install.folder / "night.cmd"
    job.write_bytes(nightly_job().replace("\n", "\r\n").encode("cp932"))
    login = install.folder / "login.txt"

    def night(password: str, *photos: str) -> tuple[int, dict]:
        fields = [album.login_url, album.upload_url, uploader_runs.ACCOUNT, password]
        login.write_bytes("\t".join(fields).encode("cp932"))
        result = wd.run_windows("cmd", "/c", wd.windows_path(job), *photos, timeout=300)
        assert wd.find_window() is None, "the night left its uploader running"
        return result.returncode, json.loads((install.folder / "night.json").read_text())

    first = uploader_runs.make_files(sources, 2)
    code, outcome = night("wrong password", *map(wd.windows_path, first))
    assert code == 1
    assert [(p["name"], p["fate"]) for p in outcome["photos"]] == [(f.name, "kept") for f in first]
    assert [a["text"] for a in outcome["alerts"]] == [
        "パスワードもしくはログインネームが異なります",
        "ログインに失敗しました",
    ]

    tonight = uploader_runs.make_files(sources, 2, size=30000, prefix="写真")
    code, outcome = night(
        uploader_runs.PASSWORD,
        wd.windows_path(tonight[0]),
        wd.windows_path(tonight[1]) + "=sub\\b.jpg",
    )
    assert code == 0
    assert [(p["name"], p["leftover"], p["fate"]) for p in outcome["photos"]] == [
        ("photo1.jpg", True, "delivered"),
        ("photo2.jpg", True, "delivered"),
        ("写真1.jpg", False, "delivered"),
        ("sub\\b.jpg", False, "delivered"),
    ]
    # Each photo went once, leftovers first, the subfolder's under its own name.
    sent = {hashlib.sha256(f.read_bytes()).hexdigest(): f for f in [*first, *tonight]}
    order = [sent[e["files"][0]["sha256"]] for e in uploader_runs.uploads(album)]
    assert order == [*first, *tonight]
    stored = album.stored_files(uploader_runs.ACCOUNT)
    assert stored == {
        **{f.name: f.read_bytes() for f in [*first, tonight[0]]},
        "b.jpg": tonight[1].read_bytes(),
    }
    assert [p for p in install.temp.rglob("*") if p.is_file()] == []
