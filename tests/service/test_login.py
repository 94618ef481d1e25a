import hashlib
import re

import pytest

from conftest import (
    ACCOUNTS,
    BYTES_PASSWORD,
    BYTES_USER,
    JAPANESE_PASSWORD,
    JAPANESE_USER,
    PASSWORD,
    PLUS_USER,
    SPACE_USER,
    USER,
)
from uploader_wire import FORM_TYPE, LOGIN_PATH, exchange, http10_request, login_request

TOKEN = re.compile(rb"[A-Za-z0-9]{32}")


def test_good_login_answers_a_new_session_token_each_time(service):
    request = login_request(service.port, USER, PASSWORD)
    answers = [exchange(service.port, request) for _ in range(2)]

    for answer in answers:
        assert answer.status == 200
        assert answer.header("Content-Type") == "text/plain"
        assert TOKEN.fullmatch(answer.body), answer.body
    tokens = [a.body.decode() for a in answers]
    assert tokens[0] != tokens[1]
    assert service.sessions() == {tokens[0]: USER, tokens[1]: USER}


@pytest.mark.parametrize(
    "user, encoded",
    [(PLUS_USER, b"a%2Bb%40example.com"), (SPACE_USER, b"first+last%40example.com")],
    ids=["plus-sent-as-%2B", "space-sent-as-plus"],
)
def test_user_id_is_form_decoded(service, user, encoded):
    request = login_request(service.port, user, ACCOUNTS[user])
    assert b"userId=" + encoded + b"&hash=" in request

    answer = exchange(service.port, request)

    assert TOKEN.fullmatch(answer.body), answer.body
    assert service.sessions() == {answer.body.decode(): user}


@pytest.mark.parametrize(
    "user, password",
    [(JAPANESE_USER, JAPANESE_PASSWORD), (BYTES_USER, BYTES_PASSWORD)],
    ids=["shift-jis-password", "arbitrary-bytes"],
)
def test_hash_is_over_the_passwords_client_bytes(service, user, password):
    answer = exchange(service.port, login_request(service.port, user, password))

    assert TOKEN.fullmatch(answer.body), answer.body


def sha1_line(raw: bytes) -> bytes:
    return hashlib.sha1(raw).hexdigest().encode() + b"\n"


@pytest.mark.parametrize(
    "user, hash_field, reason",
    [
        (USER, sha1_line(b"wrong"), "wrong password hash"),
        ("nobody@example.com", sha1_line(PASSWORD.encode()), "unknown user"),
        (USER, sha1_line(PASSWORD.encode())[:-1], "hash lacks the trailing line feed"),
        (USER, sha1_line(PASSWORD.encode()).upper(), "wrong password hash"),
        (USER, sha1_line(PASSWORD.encode())[:-1] + b"\r\n", "wrong password hash"),
        (JAPANESE_USER, sha1_line(JAPANESE_PASSWORD.encode("utf-8")), "wrong password hash"),
    ],
    ids=[
        "wrong-password",
        "unknown-user",
        "no-line-feed",
        "uppercase-hex",
        "crlf",
        "utf8-password",
    ],
)
def test_bad_login_answers_fail(service, user, hash_field, reason):
    answer = exchange(service.port, login_request(service.port, user, hash_field=hash_field))

    assert (answer.status, answer.body) == (200, b"fail")
    assert service.sessions() == {}
    assert service.journal()[-1]["reason"] == reason


@pytest.mark.parametrize(
    "content_type, body, reason",
    [
        (FORM_TYPE, b"userId=user%40example.com", "userId or hash missing"),
        ("text/plain", b"userId=user%40example.com&hash=x", "unparsable body"),
        (FORM_TYPE, b"", "userId or hash missing"),
    ],
    ids=["no-hash", "not-a-form", "empty"],
)
def test_malformed_login_fails(service, content_type, body, reason):
    request = http10_request(service.port, LOGIN_PATH.encode(), content_type, body)

    answer = exchange(service.port, request)

    assert (answer.status, answer.body) == (200, b"fail")
    assert service.journal()[-1]["reason"].startswith(reason)
