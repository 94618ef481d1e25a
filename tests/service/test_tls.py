"""The service over HTTPS, with certificates from a test authority."""

import contextlib
import re
import socket
import ssl
import subprocess
import sys
import time

import pytest

from album_certificates import Authority
from album_service import AlbumService
from conftest import ACCOUNTS, PASSWORD, USER
from test_cli import SERVICE_SCRIPT
from uploader_wire import exchange, login_request

LISTENING = re.compile(r"listening on https://localhost:(\d+)\n")


@pytest.fixture(scope="module")
def authority():
    return Authority.create("Service Test CA")


@pytest.fixture
def server_files(authority, tmp_path):
    return authority.issue("localhost").write(tmp_path / "tls", "server")


def client_trusting(authority) -> ssl.SSLContext:
    return ssl.create_default_context(cadata=authority.pem.decode("ascii"))


def test_serves_https_and_records_each_handshake(authority, server_files, tmp_path):
    with AlbumService(accounts=ACCOUNTS, storage=tmp_path / "s", ssl_context=server_files) as svc:
        assert svc.login_url == f"https://localhost:{svc.port}/Pc/Upld_Login.aspx"
        answer = exchange(
            svc.port, login_request(svc.port, USER, PASSWORD), tls=client_trusting(authority)
        )
        assert answer.status == 200 and len(answer.body) == 32
        # A client that does not trust the certificate says so in the handshake.
        with pytest.raises(ssl.SSLCertVerificationError):
            exchange(
                svc.port, login_request(svc.port, USER, PASSWORD), tls=ssl.create_default_context()
            )
        # Plain HTTP to the TLS port ends the handshake too.
        with socket.create_connection(("127.0.0.1", svc.port), timeout=10) as plain:
            plain.sendall(login_request(svc.port, USER, PASSWORD))
            with contextlib.suppress(ConnectionResetError):
                assert plain.recv(1) == b""
        # A client that closes without a word.
        socket.create_connection(("127.0.0.1", svc.port), timeout=10).close()
        deadline = time.monotonic() + 10
        while len(svc.handshakes()) < 4 and time.monotonic() < deadline:
            time.sleep(0.01)
        # Each is recorded by its connection's own thread, in whatever order they end.
        handshakes = svc.handshakes()
        failed = [h for h in handshakes if h.startswith("failed: ")]
        assert sorted(set(handshakes) - set(failed)) == ["closed", "done"]
        assert len(failed) == 2 and len([f for f in failed if "unknown ca" in f]) == 1
        assert [e["endpoint"] for e in svc.journal()] == ["login"]


def test_a_client_that_never_starts_its_handshake_holds_up_no_other(
    authority, server_files, tmp_path
):
    with AlbumService(accounts=ACCOUNTS, storage=tmp_path / "s", ssl_context=server_files) as svc:
        with socket.create_connection(("127.0.0.1", svc.port)):
            time.sleep(0.2)
            answer = exchange(
                svc.port,
                login_request(svc.port, USER, PASSWORD),
                timeout=5,
                tls=client_trusting(authority),
            )
        assert answer.status == 200


def test_the_command_line_serves_https(authority, server_files, tmp_path):
    cert_file, key_file = server_files
    process = subprocess.Popen(
        [
            sys.executable,
            str(SERVICE_SCRIPT),
            "--port",
            "0",
            "--storage",
            tmp_path / "s",
            "--account",
            f"{USER}:{PASSWORD}",
            "--certificate",
            cert_file,
            "--key",
            key_file,
        ],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        match = LISTENING.fullmatch(process.stdout.readline())
        assert match, process.stderr.read() if process.poll() is not None else ""
        port = int(match.group(1))
        answer = exchange(port, login_request(port, USER, PASSWORD), tls=client_trusting(authority))
        assert answer.status == 200
    finally:
        process.kill()
        process.wait()
