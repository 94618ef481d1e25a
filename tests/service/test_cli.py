import json
import re
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from uploader_wire import exchange, login_request, upload_request

SERVICE_SCRIPT = Path(__file__).resolve().parents[2] / "service" / "album_service.py"
LISTENING = re.compile(r"listening on http://127\.0\.0\.1:(\d+)\n")


@pytest.fixture
def start_service():
    processes = []

    def start(*arguments, cwd=None):
        process = subprocess.Popen(
            [sys.executable, str(SERVICE_SCRIPT), *map(str, arguments)],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            cwd=cwd,
        )
        processes.append(process)
        line = process.stdout.readline()
        match = LISTENING.fullmatch(line)
        assert match, (line, process.stderr.read() if process.poll() is not None else "")
        return process, int(match.group(1))

    yield start
    for process in processes:
        if process.poll() is None:
            process.kill()
            process.wait()


def stop(process, signum):
    process.send_signal(signum)
    return process.wait(timeout=10)


def test_serves_accounts_from_the_command_line_until_sigterm(tmp_path, start_service):
    port_file, journal = tmp_path / "port", tmp_path / "journal.jsonl"
    process, port = start_service(
        *("--port", 0, "--storage", tmp_path / "photos"),
        *("--port-file", port_file, "--journal", journal),
        *("--account", "me@example.com:pass:word", "--account", "you@example.com:x"),
    )

    assert port_file.read_text() == str(port)
    token = exchange(port, login_request(port, "me@example.com", "pass:word")).body.decode()
    answer = exchange(port, upload_request(port, token, "me@example.com", "a.jpg", b"data"))
    assert answer.body == b"success"
    assert (tmp_path / "photos" / "me@example.com" / "a.jpg").read_bytes() == b"data"

    assert stop(process, signal.SIGTERM) == 0
    entries = [json.loads(line) for line in journal.read_text().splitlines()]
    assert [e["endpoint"] for e in entries] == ["login", "upload"]


def test_config_file_with_faults_until_sigint(tmp_path, start_service):
    config = tmp_path / "service.json"
    config.write_text(
        json.dumps(
            {
                "storage": "photos",
                "accounts": {"me@example.com": "secret"},
                "faults": [{"endpoint": "login", "times": 1, "body": "suc"}],
            }
        )
    )

    process, port = start_service("--config", config, cwd="/")
    first = exchange(port, login_request(port, "me@example.com", "secret"))
    second = exchange(port, login_request(port, "me@example.com", "secret"))

    assert first.body == b"suc"
    assert re.fullmatch(rb"[A-Za-z0-9]{32}", second.body)
    assert (tmp_path / "photos").is_dir()
    assert stop(process, signal.SIGINT) == 0


def test_faults_file_is_loaded(tmp_path, start_service):
    faults = tmp_path / "faults.json"
    faults.write_text(json.dumps([{"endpoint": "*", "status": 503, "body": "busy"}]))

    process, port = start_service("--storage", tmp_path, "--faults", faults)
    answer = exchange(port, login_request(port, "x@example.com", "x"))

    assert (answer.status, answer.body) == (503, b"busy")
    assert stop(process, signal.SIGTERM) == 0


@pytest.mark.parametrize(
    "arguments, config",
    [
        (["--port", "0"], None),
        (["--storage", ".", "--account", "no-colon"], None),
        (["--storage", ".", "--account", "me@example.com:\U0001f600"], None),
        (["--config", "{config}"], {"storage": ".", "acounts": {}}),
    ],
    ids=["no-storage", "account-without-password", "password-not-in-cp932", "config-typo"],
)
def test_bad_settings_are_reported(tmp_path, arguments, config):
    config_path = tmp_path / "config.json"
    config_path.write_text(json.dumps(config))
    arguments = [a.replace("{config}", str(config_path)) for a in arguments]

    result = subprocess.run(
        [sys.executable, str(SERVICE_SCRIPT), *arguments],
        capture_output=True,
        text=True,
        timeout=30,
    )

    assert result.returncode == 2
    assert result.stderr.startswith("album_service: ")
