import os

import pytest

from conftest import ACCOUNTS, PASSWORD, PLUS_USER, USER
from uploader_wire import (
    DELIMITER,
    MULTIPART_TYPE,
    exchange,
    file_part,
    http10_request,
    login,
    upload_request,
    upload_target,
)

# Bytes that look like the start of a delimiter, and every byte value.
TRICKY = b"\r\n" + DELIMITER[:-1] + b"\r\n--\r\n" + bytes(range(256)) * 4


@pytest.fixture
def session(service):
    return login(service.port, USER, PASSWORD)


def upload(service, session, filename, data, user=USER):
    return exchange(service.port, upload_request(service.port, session, user, filename, data))


@pytest.mark.parametrize(
    "filename, data",
    [
        ("photo.jpg", os.urandom(200_000)),
        ("写真 2024年.jpg", b"\xff\xd8\xff\xe0 jpeg-ish"),
        ("empty.jpg", b""),
        ("tricky.bin", TRICKY),
    ],
    ids=["binary", "japanese-name", "zero-bytes", "delimiter-like-content"],
)
def test_upload_stores_the_file_byte_for_byte(service, session, filename, data):
    answer = upload(service, session, filename, data)

    assert (answer.status, answer.body) == (200, b"success")
    assert answer.header("Content-Type") == "text/plain"
    assert service.stored_files(USER) == {filename: data}
    assert (service.account_dir(USER) / filename).read_bytes() == data


def test_upload_overwrites_a_file_of_the_same_name(service, session):
    upload(service, session, "a.jpg", b"first version")
    answer = upload(service, session, "a.jpg", b"second")

    assert answer.body == b"success"
    assert service.stored_files(USER) == {"a.jpg": b"second"}


def test_user_id_in_the_query_is_read_as_a_standard_server_reads_it(service):
    token = login(service.port, PLUS_USER, ACCOUNTS[PLUS_USER])
    body = file_part(b"a.jpg", b"x") + DELIMITER + b"--\r\n"

    def answer(user_id: bytes) -> bytes:
        target = upload_target(token, "") + user_id
        return upload_raw(service, target, body).body

    # "+" reads as a space, "%XX" in either case as its byte, "#" ends the URL.
    readings = {
        user_id: answer(user_id)
        for user_id in (
            b"a%2Bb@example.com",
            b"a%2bb%40example.com",
            b"a%2Bb@example.com#more",
            b"a+b@example.com",
            b"a%2Bb#@example.com",
        )
    }

    assert readings == {
        b"a%2Bb@example.com": b"success",
        b"a%2bb%40example.com": b"success",
        b"a%2Bb@example.com#more": b"success",
        b"a+b@example.com": b"fail",
        b"a%2Bb#@example.com": b"fail",
    }
    assert service.stored_files(PLUS_USER) == {"a.jpg": b"x"}


@pytest.mark.parametrize(
    "filename",
    ["../../escape.jpg", "..\\..\\escape.jpg", "..", "C:\\photos\\x.jpg"],
)
def test_file_names_cannot_leave_the_account_folder(service, session, filename):
    answer = upload(service, session, filename, b"data")

    assert answer.body == b"success"
    stored = service.stored_files(USER)
    assert list(stored.values()) == [b"data"]
    (name,) = stored
    assert "/" not in name and "\\" not in name and name not in (".", "..")
    everything = sorted(p.relative_to(service.storage) for p in service.storage.rglob("*"))
    assert [str(p) for p in everything] == [USER, f"{USER}/{name}"]


def upload_raw(service, target: bytes, body: bytes):
    return exchange(service.port, http10_request(service.port, target, MULTIPART_TYPE, body))


def test_rejected_uploads_answer_fail_and_store_nothing(service, session):
    other = login(service.port, PLUS_USER, ACCOUNTS[PLUS_USER])
    good_body = file_part(b"a.jpg", b"data") + DELIMITER + b"--\r\n"
    cases = {
        "unknown session": (upload_target("X" * 32, USER), good_body),
        "userId does not match the session": (upload_target(other, USER), good_body),
        "no file part": (
            upload_target(session, USER),
            file_part(b"a.jpg", b"data", name=b"photo") + DELIMITER + b"--\r\n",
        ),
        # The part's headers run into the closing delimiter.
        "unparsable body": (
            upload_target(session, USER),
            file_part(b"a.jpg", None) + DELIMITER + b"--\r\n",
        ),
        "unparsable body, name not UTF-8": (
            upload_target(session, USER),
            file_part("写真.jpg".encode("cp932"), b"data") + DELIMITER + b"--\r\n",
        ),
        "unparsable body, truncated": (upload_target(session, USER), good_body[:-30]),
    }
    for expected_reason, (target, body) in cases.items():
        answer = upload_raw(service, target, body)

        assert (answer.status, answer.body) == (200, b"fail"), expected_reason
        reason = service.journal()[-1]["reason"]
        assert reason.startswith(expected_reason.split(",")[0]), (expected_reason, reason)

    assert service.stored_files(USER) == {}
    assert service.stored_files(PLUS_USER) == {}
    leftovers = [p for p in service.storage.rglob("*") if p.is_file()]
    assert leftovers == []
    assert upload(service, session, "after.jpg", b"ok").body == b"success"


def test_upload_without_query_fails(service, session):
    body = file_part(b"a.jpg", b"x") + DELIMITER + b"--\r\n"

    answer = upload_raw(service, b"/Pc/Upld_Upload.aspx", body)

    assert answer.body == b"fail"
