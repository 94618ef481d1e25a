import hashlib
import json
import time
import urllib.error
import urllib.request

from conftest import ACCOUNTS, PASSWORD, PLUS_USER, USER
from uploader_wire import (
    DELIMITER,
    MULTIPART_TYPE,
    exchange,
    file_part,
    http10_request,
    login,
    login_request,
    request_headers,
    upload_request,
    upload_target,
)


def body_of(request: bytes) -> bytes:
    return request.split(b"\r\n\r\n", 1)[1]


def test_login_entry_records_the_request_as_received(service):
    before = time.time()
    request = login_request(service.port, USER, PASSWORD)
    answer = exchange(service.port, request)

    (entry,) = service.journal()
    body = body_of(request)
    assert entry["endpoint"] == "login"
    assert entry["method"] == "POST"
    assert (entry["path"], entry["version"]) == ("/Pc/Upld_Login.aspx", "HTTP/1.0")
    assert (entry["raw_query"], entry["query"]) == ("", {})
    assert entry["headers"] == request_headers(request)
    assert entry["body_length"] == len(body)
    assert entry["body_sha256"] == hashlib.sha256(body).hexdigest()
    assert entry["form"] == {"userId": USER, "hash": hashlib.sha1(b"secret").hexdigest() + "\n"}
    assert (entry["fields"], entry["files"]) == ({}, [])
    assert (entry["status"], entry["answer"]) == (200, answer.body.decode())
    assert (entry["fault"], entry["reason"]) == (None, None)
    assert before <= entry["started"] <= entry["finished"] <= time.time()
    json.dumps(entry)


def test_upload_entry_has_the_raw_query_and_each_part(service):
    token = login(service.port, PLUS_USER, ACCOUNTS[PLUS_USER])
    service.clear_journal()
    data = b"\x00jpeg\r\n" * 1000
    body = (
        DELIMITER
        + b'\r\nContent-Disposition: form-data; name="comment"\r\n\r\nhello\r\n'
        + file_part("写真.jpg".encode(), data)
        + DELIMITER
        + b"--\r\n"
    )
    target = upload_target(token, PLUS_USER) + b"&x=%41"
    request = http10_request(service.port, target, MULTIPART_TYPE, body)

    assert exchange(service.port, request).body == b"success"

    (entry,) = service.journal()
    assert entry["endpoint"] == "upload"
    assert entry["raw_query"] == f"sessionId={token}&userId=a%2Bb@example.com&x=%41"
    assert entry["query"] == {"sessionId": token, "userId": "a+b@example.com", "x": "A"}
    assert entry["body_sha256"] == hashlib.sha256(body).hexdigest()
    assert entry["fields"] == {"comment": "hello"}
    assert entry["files"] == [
        {
            "field": "file",
            "filename": "写真.jpg",
            "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest(),
            "stored_as": "写真.jpg",
        }
    ]


def test_entries_keep_arrival_order_and_unknown_paths_get_404(service):
    exchange(service.port, b"GET /favicon.ico HTTP/1.0\r\n\r\n")
    exchange(service.port, login_request(service.port, USER, PASSWORD))
    other = exchange(service.port, b"GET /Pc/Upld_Login.aspx HTTP/1.0\r\n\r\n")

    assert (other.status, other.body) == (404, b"fail")
    entries = service.journal()
    assert [(e["endpoint"], e["method"], e["status"]) for e in entries] == [
        ("other", "GET", 404),
        ("login", "POST", 200),
        ("other", "GET", 404),
    ]
    assert entries[0]["started"] <= entries[1]["started"] <= entries[2]["started"]


def test_journal_returns_copies_and_can_be_cleared(service):
    exchange(service.port, login_request(service.port, USER, PASSWORD))
    service.journal()[0]["endpoint"] = "changed"

    assert service.journal()[0]["endpoint"] == "login"
    service.clear_journal()
    assert service.journal() == []


def control(service, method, name, payload=None):
    data = None if payload is None else json.dumps(payload).encode()
    url = f"{service.base_url}/_control/{name}"
    request = urllib.request.Request(url, data=data, method=method)
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def test_control_endpoints_drive_the_service_from_outside(service):
    token = login(service.port, USER, PASSWORD)

    status, journal = control(service, "GET", "journal")
    assert status == 200
    assert json.loads(journal) == service.journal()
    assert [e["endpoint"] for e in service.journal()] == ["login"]

    assert control(service, "POST", "faults", [{"endpoint": "upload", "body": "suc"}])[0] == 200
    answer = exchange(service.port, upload_request(service.port, token, USER, "a.jpg", b"x"))
    assert answer.body == b"suc"

    assert control(service, "POST", "reset", {}) == (200, b"ok")
    assert (service.journal(), service.sessions(), service.faults()) == ([], {}, [])


def test_control_rejects_bad_fault_scripts(service):
    scripts = [
        [{"endpoint": "upload", "bodyy": "x"}],
        [{"endpoint": "nowhere"}],
        [{"rate": 2}],
        {"endpoint": "upload"},
    ]
    for script in scripts:
        status, message = control(service, "POST", "faults", script)
        assert status == 400, script
        assert message
    assert service.faults() == []


def test_journal_file_gets_one_json_line_per_request(tmp_path):
    from album_service import AlbumService

    path = tmp_path / "journal.jsonl"
    with AlbumService(accounts={USER: PASSWORD}, storage=tmp_path / "s", journal_path=path) as svc:
        exchange(svc.port, login_request(svc.port, USER, PASSWORD))
        exchange(svc.port, b"GET /x HTTP/1.0\r\n\r\n")
        expected = svc.journal()

    lines = path.read_text(encoding="utf-8").splitlines()
    assert [json.loads(line) for line in lines] == expected
