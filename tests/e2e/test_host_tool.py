"""The host tool's hand-over mode and its answers when the uploader is not there."""

import json

import pytest

import uploader_runs
import winedrive as wd
from album_service import Fault


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
    password, closing, code, alerts, fates, install, album, sources
):
    uploader_runs.configure(install, album)
    # Each upload is stored at once and answered 6 s later: the host's close, 3 s after the
    # hand-over, comes while the first photo's answer is awaited.
    album.set_faults([Fault(endpoint="upload", delay=6, process=True)])
    files = uploader_runs.make_files(sources, 2)
    login_data = "\\t".join([album.login_url, album.upload_url, uploader_runs.ACCOUNT, password])
    result = uploader_runs.hand_over(
        install, files, "--unattended", "--login-data", login_data, *closing
    )
    assert result.returncode == code, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert [line for line in lines if line.startswith("alert: ")] == alerts
    assert lines[-2:] == [f"{fate}: {f.name}" for fate, f in zip(fates, files, strict=True)]
    for fate, f in zip(fates, files, strict=True):
        assert (install.temp / f.name).exists() == (fate == "still in temp")


def test_raw_mode_reports_a_missing_service():
    code, answer = wd.host_raw("--timeout", "2000", "request", "System", "Topics")
    assert code == 3
    assert answer == {"connected": False, "error": answer["error"]}


def test_handover_reports_an_uploader_that_cannot_start(tmp_path):
    result = wd.host_handover(
        "--exe", wd.windows_path(tmp_path / "missing.exe"), "--start-timeout", "2"
    )
    assert result.returncode == 3
    assert "cannot start" in result.stderr
