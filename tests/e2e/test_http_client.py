"""The HTTP client under Wine against the local album service.

Each test runs HttpDriver.exe, which performs one operation of the client the way the jobs
do (open, fields, request, wait, reads, close and drain) and prints what it saw as JSON.
The service's journal shows what arrived; the debugger output shows the client's lines.
"""

from __future__ import annotations

import hashlib
import json
import os
import socket
import threading
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

import winedrive as wd
from album_service import AlbumService, Fault, parse_multipart

DRIVER = wd.BIN / "HttpDriver.exe"
ACCOUNT = "user@example.com"
PASSWORD = "secret"
DIGEST = hashlib.sha1(PASSWORD.encode()).hexdigest() + "\n"
AGENT = "Mozilla/4.0 (compatible; )"
UPLOAD_BOUNDARY = "--TAVIK-VISTORA-UPLOAD-FORM-DATA"
SYNC_BOUNDARY = "--MULTI-PARTS-FORM-DATA-BOUNDARY"
ERROR_INTERNET_CANNOT_CONNECT = 12029
MiB = 1024 * 1024


@dataclass
class Run:
    result: dict
    debug: list[bytes]
    # With --repeat, one result per run; result is the first.
    results: list[dict]

    def debug_text(self) -> bytes:
        return b"".join(self.debug)


def drive(*args, timeout: float = 120) -> Run:
    done = wd.run_windows(DRIVER, *args, timeout=timeout)
    assert done.returncode == 0, done.stderr[-3000:]
    results = [json.loads(line) for line in done.stdout.decode("ascii").splitlines() if line]
    return Run(results[0], wd.debug_strings(done.stderr), results)


def plain(name: str, value: bytes | str) -> str:
    value = value.encode("cp932") if isinstance(value, str) else value
    return f"p:{name.encode().hex()}:{value.hex()}"


def file_field(name: str, path: Path) -> str:
    # The client sees the path in the ANSI code page, Shift-JIS under this prefix.
    return f"f:{name.encode().hex()}:{wd.windows_path(path).encode('cp932').hex()}"


def headers_of(entry: dict) -> dict:
    return {name.lower(): value for name, value in entry["headers"]}


def file_part_length(
    name: str, file_name: bytes, size: int, boundary: str = UPLOAD_BOUNDARY
) -> int:
    return 60 + len(boundary) + len(name) + len(file_name) + size + 2


def closing_length(boundary: str = UPLOAD_BOUNDARY) -> int:
    return len(boundary) + 6


def unused_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def assert_drained(result: dict) -> None:
    """Closing the handles of a request gives exactly two closing notifications."""
    assert result["closing_before"] == 0
    assert result["closing_count"] == 2
    assert result["handles_opened"] == 2


@pytest.fixture
def service(tmp_path):
    svc = AlbumService(accounts={ACCOUNT: PASSWORD}, storage=tmp_path / "album").start()
    yield svc
    svc.stop()


def only_entry(service: AlbumService) -> dict:
    entries = service.journal()
    assert len(entries) == 1, entries
    return entries[0]


def test_form_post_arrives_exactly_as_built(service):
    body = b"userId=user%40example.com&hash=" + DIGEST.encode()
    run = drive(
        "async-form",
        service.login_url,
        "/Pc/Upld_Login.aspx",
        plain("userId", "user%40example.com"),
        plain("hash", DIGEST),
    )
    result = run.result
    assert result["opened"] and result["sent"] and result["completed"]
    assert (result["async_result"], result["async_error"]) == (1, 0)

    entry = only_entry(service)
    assert (entry["method"], entry["path"], entry["version"]) == (
        "POST",
        "/Pc/Upld_Login.aspx",
        "HTTP/1.0",
    )
    headers = headers_of(entry)
    assert headers["content-length"] == str(len(body))
    assert headers["content-type"] == "application/x-www-form-urlencoded"
    assert headers["accept"] == "*/*"
    assert headers["user-agent"] == AGENT
    assert entry["body_length"] == len(body)
    assert entry["body_sha256"] == hashlib.sha256(body).hexdigest()
    assert entry["form"] == {"userId": ACCOUNT, "hash": DIGEST}

    token = bytes.fromhex(result["answer"]).decode("ascii")
    assert token == entry["answer"] and token in service.sessions()
    assert result["chunks"] == [len(token), 0]
    # REQUEST_SENT counts the request line and headers as well as the body.
    assert result["bytes_sent"] > len(body)
    assert f"REQUEST_SENT: {result['bytes_sent']}\n".encode() in run.debug
    completion = run.debug.index(b"Status: 100\n")
    assert run.debug[completion + 1] == b"\tResult 1  Err 0\n"
    assert_drained(result)


# A body of up to 16 KiB goes with the headers, a larger one in pieces after them: the
# files whose bodies end just at that limit and one byte past it.
WHOLE_BODY_LIMIT = 16 * 1024
AT_LIMIT = WHOLE_BODY_LIMIT - file_part_length("file", b"photo.jpg", 0) - closing_length()


@pytest.mark.parametrize(
    "size",
    [0, 10, AT_LIMIT, AT_LIMIT + 1, MiB, 50 * MiB],
    ids=["0B", "10B", "body-16KiB", "body-16KiB+1", "1MiB", "50MiB"],
)
def test_multipart_upload_arrives_whole(service, tmp_path, size):
    content = os.urandom(size)
    photo = tmp_path / "photo.jpg"
    photo.write_bytes(content)
    run = drive("async-multipart", service.sink_url, "/sink", file_field("file", photo))
    result = run.result
    assert result["sent"] and result["completed"] and result["async_error"] == 0

    expected_length = file_part_length("file", b"photo.jpg", size) + closing_length()
    entry = only_entry(service)
    # The header block as WinINet sends it, in its order, whichever way the body follows.
    assert entry["headers"] == [
        ["Accept", "*/*"],
        ["Content-Type", f"multipart/form-data; boundary={UPLOAD_BOUNDARY}"],
        ["Content-Length", str(expected_length)],
        ["Host", f"127.0.0.1:{service.port}"],
        ["User-Agent", AGENT],
        ["Cache-Control", "no-cache"],
        ["Connection", "Keep-Alive"],
    ]
    assert entry["body_length"] == expected_length
    assert entry["files"] == [
        {
            "field": "file",
            "filename": "photo.jpg",
            "size": size,
            "sha256": hashlib.sha256(content).hexdigest(),
        }
    ]
    assert bytes.fromhex(result["answer"]) == b"success"
    assert result["bytes_sent"] > expected_length
    # Only a body past the limit is written in pieces, with its progress watched.
    written = [line for line in run.debug if line.startswith(b"request body written: ")]
    assert len(written) == (expected_length > WHOLE_BODY_LIMIT)
    assert_drained(result)


def test_the_client_sends_the_upload_target_as_given(service, tmp_path):
    login = drive(
        "async-form",
        service.login_url,
        "/Pc/Upld_Login.aspx",
        plain("userId", "user%40example.com"),
        plain("hash", DIGEST),
    )
    token = bytes.fromhex(login.result["answer"]).decode("ascii")
    content = os.urandom(4096)
    photo = tmp_path / "IMG_0001.JPG"
    photo.write_bytes(content)
    target = f"/Pc/Upld_Upload.aspx?sessionId={token}&userId={ACCOUNT}"
    run = drive("async-multipart", service.upload_url, target, file_field("file", photo))

    assert bytes.fromhex(run.result["path"]).decode() == target
    assert bytes.fromhex(run.result["answer"]) == b"success"
    upload = service.journal()[-1]
    assert upload["raw_query"] == f"sessionId={token}&userId={ACCOUNT}"
    assert service.stored_files(ACCOUNT) == {"IMG_0001.JPG": content}


def test_answer_is_read_in_pieces_of_the_size_asked_for(service, tmp_path):
    service.set_faults([Fault(endpoint="sink", body=b"x" * 300, process=True)])
    photo = tmp_path / "a.jpg"
    photo.write_bytes(b"0123456789")
    run = drive("async-multipart", service.sink_url, "/sink", file_field("file", photo))
    assert run.result["chunks"] == [128, 128, 44, 0]
    # The end of the body stays the end: every further read is true with nothing.
    assert run.result["after_end"] == ["true:0", "true:0"]
    assert bytes.fromhex(run.result["answer"]) == b"x" * 300
    assert_drained(run.result)


def test_a_read_before_the_answer_arrived_waits_for_it(service, tmp_path):
    # The headers come at once, each byte of the body a fifth of a second later.
    service.set_faults([Fault(endpoint="sink", body=b"success", drip=0.2, process=True)])
    photo = tmp_path / "a.jpg"
    photo.write_bytes(b"0123456789")
    run = drive("async-multipart", service.sink_url, "/sink", file_field("file", photo), timeout=60)
    assert run.result["completed"]
    # However the pieces come, the whole answer arrives and then the end.
    assert run.result["chunks"][-1] == 0 and -1 not in run.result["chunks"]
    assert bytes.fromhex(run.result["answer"]) == b"success"
    assert_drained(run.result)


def test_a_read_that_stays_pending_gives_up_after_its_wait(service, tmp_path):
    # The first byte of the body would come only after 12 s; the read waits 10 s.
    service.set_faults([Fault(endpoint="sink", body=b"success", drip=12, process=True)])
    photo = tmp_path / "a.jpg"
    photo.write_bytes(b"0123456789")
    run = drive("async-multipart", service.sink_url, "/sink", file_field("file", photo), timeout=60)
    assert run.result["completed"]
    assert run.result["chunks"] == [-1]
    assert b"ReadResponse: response failed...\n" in run.debug


def test_winnets_wait_for_the_answer_ends_where_the_clients_does(service, tmp_path):
    # Wine waits for ever by default and Windows 30 s; the client sets WinINet's receive
    # time-out on each request to its own wait for the answer, here 1 s, and 10 s beyond.
    service.set_faults([Fault(endpoint="sink", delay=40)])
    photo = tmp_path / "a.jpg"
    photo.write_bytes(b"0123456789")
    started = time.monotonic()
    run = drive(
        "async-multipart",
        service.sink_url,
        "/sink",
        file_field("file", photo),
        "--answer-limit",
        1000,
        "--wait",
        30000,
        timeout=120,
    )
    assert run.result["completed"], run.result
    assert time.monotonic() - started < 30
    # Nothing of the answer came.
    assert bytes.fromhex(run.result["answer"]) == b""


@pytest.mark.parametrize(
    "fault",
    [{"drop": True}, {"drop_during_body": True}],
    ids=["dropped", "reset while the body is sent"],
)
def test_a_broken_connection_ends_the_same_way_every_time(service, tmp_path, fault):
    # The end request of a broken connection fails fast; whether it failed before the send
    # was judged once decided whether the request counted as started at all.
    service.set_faults([Fault(endpoint="upload", **fault)])
    photo = tmp_path / "a.jpg"
    photo.write_bytes(bytes(range(256)) * 2048)
    run = drive(
        "async-multipart",
        service.upload_url,
        "/Pc/Upld_Upload.aspx",
        file_field("file", photo),
        "--repeat",
        20,
        "--wait",
        10000,
        timeout=300,
    )
    # As the README's table has it for an upload: the request completes and its answer is
    # empty, so the job waits out its 60 s for the bytes it judges, and times out.
    outcomes = [(r["sent"], r["completed"], r.get("chunks")) for r in run.results]
    assert outcomes == [(True, True, [0])] * 20


@pytest.mark.parametrize("command", ["async-form", "async-multipart"])
def test_refused_connection_fails_the_post(tmp_path, command):
    port = unused_port()
    photo = tmp_path / "a.jpg"
    photo.write_bytes(b"0123456789")
    run = drive(
        command, f"http://127.0.0.1:{port}/x", "/x", file_field("file", photo), "--wait", 3000
    )
    result = run.result
    # An HTTP connection goes to the network only with the request.
    assert result["opened"]
    assert not result["sent"] and not result["request_open"]
    assert b"SendRequest: request failed\n" in run.debug
    assert f"\tResult 0  Err {ERROR_INTERNET_CANNOT_CONNECT}\n".encode() in run.debug
    # The closing of the failed request and that of the connection.
    assert result["closing_count"] == 2


def test_refused_connection_of_a_get_shows_in_the_completion():
    port = unused_port()
    run = drive("async-get", f"http://127.0.0.1:{port}/x", "/x", "--wait", 3000)
    # The send itself only starts: the failure arrives with the completion.
    assert run.result["sent"] and run.result["completed"]
    assert run.result["async_error"] == ERROR_INTERNET_CANNOT_CONNECT


def test_unknown_scheme_is_not_connected(service):
    run = drive("async-form", f"HTTPS://127.0.0.1:{service.port}/x", "/x", "--closings", 0)
    assert run.result["opened"] is False
    line = f"ConnectAsync: connect failed... (host 127.0.0.1, port {service.port}, scheme -1)\n"
    assert line.encode() in run.debug
    assert run.result["closing_count"] == 0
    assert service.journal() == []


def test_ftp_url_without_a_server_is_not_connected():
    port = unused_port()
    run = drive("async-form", f"ftp://127.0.0.1:{port}/x", "/x", "--closings", 1)
    assert run.result["opened"] is False
    assert (
        f"ConnectAsync: connect failed... (host 127.0.0.1, port {port}, scheme 0)\n".encode()
        in run.debug
    )


class GreetingFtpServer:
    """Just enough of an FTP server for WinINet to log in: every command is accepted."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen()
        self.port = self.listener.getsockname()[1]
        self.commands: list[bytes] = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        try:
            while True:
                connection, _ = self.listener.accept()
                threading.Thread(target=self._serve, args=(connection,), daemon=True).start()
        except OSError:
            return

    def _serve(self, connection):
        replies = {
            b"USER": b"331 password please\r\n",
            b"PASS": b"230 logged in\r\n",
            b"QUIT": b"221 bye\r\n",
        }
        with connection:
            connection.sendall(b"220 ready\r\n")
            for line in connection.makefile("rb"):
                self.commands.append(line.strip())
                verb = line.split()[0].upper() if line.split() else b""
                connection.sendall(replies.get(verb, b"200 ok\r\n"))
                if verb == b"QUIT":
                    return

    def close(self):
        self.listener.close()


def test_ftp_connection_takes_no_http_request():
    server = GreetingFtpServer()
    try:
        run = drive(
            "async-form",
            f"ftp://127.0.0.1:{server.port}/x",
            "/x",
            plain("a", "1"),
            "--wait",
            200,
            "--closings",
            1,
        )
    finally:
        server.close()
    assert run.result["opened"]
    assert b"USER anonymous" in server.commands
    assert not run.result["sent"]
    assert b"SendRequest: request failed...\n" in run.debug


def test_synchronous_requests(service, tmp_path):
    form = drive(
        "sync-form",
        service.login_url,
        "/Pc/Upld_Login.aspx",
        plain("userId", "user%40example.com"),
        plain("hash", DIGEST),
    )
    assert form.result["failure"] == ""
    token = bytes.fromhex(form.result["answer"]).decode("ascii")
    assert token in service.sessions()

    content = os.urandom(100_000)
    photo = tmp_path / "sync.jpg"
    photo.write_bytes(content)
    multipart = drive("sync-multipart", service.sink_url, "/sink", file_field("file", photo))
    assert multipart.result["failure"] == ""
    assert bytes.fromhex(multipart.result["answer"]) == b"success"

    got = drive("sync-get", service.sink_url, "/sink?a=1")
    assert got.result["failure"] == ""
    assert bytes.fromhex(got.result["answer"]) == b"fail"

    login, upload, get = service.journal()
    assert login["form"] == {"userId": ACCOUNT, "hash": DIGEST}
    assert headers_of(login)["content-length"] == str(login["body_length"])
    expected_length = file_part_length(
        "file", b"sync.jpg", len(content), SYNC_BOUNDARY
    ) + closing_length(SYNC_BOUNDARY)
    assert headers_of(upload)["content-type"] == f"multipart/form-data; boundary={SYNC_BOUNDARY}"
    assert headers_of(upload)["content-length"] == str(expected_length)
    assert upload["body_length"] == expected_length
    assert upload["files"][0]["sha256"] == hashlib.sha256(content).hexdigest()
    assert (get["method"], get["version"], get["raw_query"]) == ("GET", "HTTP/1.0", "a=1")
    assert headers_of(get)["accept"] == "*/*"
    assert all(entry["version"] == "HTTP/1.0" for entry in (login, upload, get))


def build_body(tmp_path: Path, boundary: str, *fields: str) -> bytes:
    output = tmp_path / f"body-{len(list(tmp_path.glob('body-*')))}.bin"
    run = drive("build-body", boundary, wd.windows_path(output), *fields)
    body = output.read_bytes()
    assert run.result["length"] == len(body)
    return body


@pytest.mark.parametrize("boundary", [UPLOAD_BOUNDARY, SYNC_BOUNDARY])
def test_built_bodies_parse_as_a_peer(tmp_path, boundary):
    photos = tmp_path / "photos"
    photos.mkdir()
    japanese = photos / "写真ソ表.jpg"
    japanese.write_bytes(os.urandom(3000))
    empty = photos / "empty.png"
    empty.write_bytes(b"")
    body = build_body(
        tmp_path,
        boundary,
        plain("caption", "summer & fall"),
        file_field("file", japanese),
        plain("album", "夏休み"),
        file_field("second", empty),
    )
    parts = parse_multipart(body, f"multipart/form-data; boundary={boundary}")
    assert [(p["name"], p["filename"], p["data"]) for p in parts] == [
        ("caption", None, b"summer & fall"),
        ("file", "写真ソ表.jpg", japanese.read_bytes()),
        # Plain values go out as they are: in the ANSI code page.
        ("album", None, "夏休み".encode("cp932")),
        ("second", "empty.png", b""),
    ]
    assert body.endswith(f"--{boundary}--\r\n".encode())
    # The file name went out as UTF-8, not in the ANSI code page.
    assert 'filename="写真ソ表.jpg"'.encode() in body


def test_a_file_that_cannot_be_read_sends_nothing(service, tmp_path):
    # Its part header alone would reach the service as an empty photo.
    run = drive(
        "async-multipart",
        service.sink_url,
        "/sink",
        file_field("file", tmp_path / "gone.jpg"),
        "--wait",
        3000,
    )
    assert not run.result["sent"] and not run.result["request_open"]
    assert service.journal() == []
