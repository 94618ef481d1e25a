import socket
import threading
import time

import pytest

from album_service import AlbumService, Fault
from conftest import PASSWORD, USER
from uploader_wire import exchange, login, login_request, upload_request


def free_port() -> int:
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def test_serves_on_the_given_port_until_stopped(tmp_path):
    port = free_port()
    svc = AlbumService(accounts={USER: PASSWORD}, storage=tmp_path / "s", port=port)
    with pytest.raises(RuntimeError):
        _ = svc.port

    svc.start()
    assert (svc.port, svc.base_url) == (port, f"http://127.0.0.1:{port}")
    assert (svc.login_url, svc.upload_url, svc.sink_url) == (
        f"http://127.0.0.1:{port}/Pc/Upld_Login.aspx",
        f"http://127.0.0.1:{port}/Pc/Upld_Upload.aspx",
        f"http://127.0.0.1:{port}/sink",
    )
    login(port, USER, PASSWORD)
    with pytest.raises(RuntimeError):
        svc.start()
    svc.stop()

    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", port), timeout=5)
    svc.stop()


def test_a_slow_request_does_not_hold_up_others(service):
    token = login(service.port, USER, PASSWORD)
    service.set_faults([Fault(endpoint="login", delay=1.0)])
    slow_request = login_request(service.port, USER, PASSWORD)
    slow = threading.Thread(target=exchange, args=(service.port, slow_request))
    slow.start()
    time.sleep(0.1)

    started = time.monotonic()
    answer = exchange(service.port, upload_request(service.port, token, USER, "a.jpg", b"x"))
    elapsed = time.monotonic() - started
    slow.join()

    assert answer.body == b"success"
    assert elapsed < 0.5
    assert [e["endpoint"] for e in service.journal()] == ["login", "login", "upload"]
