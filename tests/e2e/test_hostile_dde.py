"""Hostile DDE input: the uploader stays responsive, crashes on nothing, and its queue holds
exactly the names it acknowledged."""

import os
import random
import subprocess
import tempfile
import time

import pytest

import uploader_runs
import winedrive as wd


@pytest.fixture
def running(start_uploader):
    uploader = start_uploader()
    assert uploader.main_window() is not None
    yield uploader


def rows(uploader):
    window = uploader.main_window()
    view = uploader_runs.controls(window)[("SysListView32", 1003)]
    return wd.list_view(view["hwnd"])["rows"]


def responsive(uploader) -> bool:
    code, answer = wd.host_raw("--timeout", "5000", "request", "System", "Topics")
    return answer.get("data") is True and wd.find_window() is not None


def poke_bytes(data: bytes, item="Filename", topic="Upload"):
    # Through a file: 64 KiB as hex would not fit a command line.
    with tempfile.NamedTemporaryFile(delete=False) as payload:
        payload.write(data)
    try:
        return wd.host_raw("poke", topic, item, "--file", wd.windows_path(payload.name))[1][
            "result"
        ]
    finally:
        os.unlink(payload.name)


def test_odd_file_name_pokes(running):
    rng = random.Random(7)
    binary = bytes(rng.randrange(1, 256) for _ in range(300))
    # The 259 bytes a poke keeps never fit the path, and control characters and an empty
    # name name no file: all of them refused.
    cases = [
        (b"", "not-processed"),
        (b"no terminating zero", "ack"),
        (b"x" * 65536, "not-processed"),
        (binary, "not-processed"),
        (b"cut lead byte \x82", "ack"),
        (b"\t\t\t\t", "not-processed"),
        (b"\x00hidden after a zero", "not-processed"),
    ]
    for data, result in cases:
        assert poke_bytes(data) == result, data[:20]
    held = rows(running)
    names = [r["cells"][1] for r in held]
    assert names[0] == "no terminating zero"
    assert len(names) == 2
    assert all(r["cells"][0] == "待機" for r in held)
    assert responsive(running)


def test_login_data_pokes_that_cannot_be_staged(running):
    many = "\t".join(f"token{i}" for i in range(5000)).encode()
    assert poke_bytes(many, "LoginData") == "ack"  # four short tokens within 2047 bytes
    assert poke_bytes(b"\t" * 3000, "LoginData") == "not-processed"
    assert poke_bytes(b"http://h/" + b"u" * 600 + b"\tb\tc\td", "LoginData") == "not-processed"
    # Binary junk without a delimiter is one token, longer than any field.
    assert poke_bytes(bytes(range(11, 256)) * 4, "LoginData") == "not-processed"
    # With delimiters, four binary tokens that fit their fields are staged like any others.
    assert poke_bytes(bytes(range(1, 256)) * 4, "LoginData") == "ack"
    assert poke_bytes(b"", "ExitCondition") == "not-processed"
    assert poke_bytes(b"\xff" * 5000, "ExitCondition") == "ack"
    assert rows(running) == []
    assert responsive(running)


def test_wrong_formats_topics_items_and_advise_loops(running):
    for fmt in ("2", "13", "49152"):
        assert wd.host_raw("--format", fmt, "request", "Upload", "Filename")[1]["data"] is False
        assert (
            wd.host_raw("--format", fmt, "poke", "Upload", "Filename", "--text", "a")[1]["result"]
            == "not-processed"
        )
    assert not wd.host_raw("connect", "Nothing")[1]["connected"]
    assert not wd.host_raw("--service", "OtherServer", "connect", "System")[1]["connected"]
    assert wd.host_raw("request", "Upload", "Topics")[1]["data"] is False
    assert wd.host_raw("poke", "Upload", "Help", "--text", "x")[1]["result"] == "not-processed"
    for item in ("Topics", "Help", "Filename", "LoginData", "ExitCondition"):
        topic = "System" if item in ("Topics", "Help") else "Upload"
        assert wd.host_raw("advstart", topic, item)[1]["result"] == "ack"
    assert rows(running) == []
    assert responsive(running)


def test_execute_commands_of_every_length(running):
    rng = random.Random(11)
    window = running.main_window()
    for length in range(0, 101):
        command = bytes(rng.randrange(0, 256) for _ in range(length))
        if command.startswith(b"upload"):
            command = b"x" + command[1:]
        code, answer = wd.host_raw("execute", "System", "--hex", command.hex())
        # An empty execute is refused by the client's own DDEML before it is sent.
        assert answer["result"] == "ack" or (length == 0 and answer["result"] == "failed"), length
    # None of them started a run, which would have shown "待機ファイルがありません".
    time.sleep(1)
    assert wd.dialogs(window["pid"]) == []
    assert responsive(running)


def test_twenty_hosts_poking_at_once(running):
    processes = []
    for host in range(20):
        names = [f"h{host:02d}-{n:03d}.jpg" for n in range(100)]
        processes.append(
            wd.start_windows(
                wd.BIN / "VistoraHost.exe",
                "raw",
                "--timeout",
                "60000",
                "poke-many",
                "Upload",
                "Filename",
                *names,
                stdout=subprocess.PIPE,
            )
        )
    acknowledged = 0
    for process in processes:
        out, _ = process.communicate(timeout=600)
        answer = wd.json.loads(out.decode().strip().splitlines()[-1])
        acknowledged += answer["acknowledged"]
    held = rows(running)
    assert len(held) == acknowledged
    assert acknowledged == 2000
    assert len({r["cells"][1] for r in held}) == 2000
    assert responsive(running)
