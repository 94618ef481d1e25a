import random
import re
import socket
import time

import pytest

from album_service import Fault
from conftest import PASSWORD, USER
from uploader_wire import exchange, login, login_request, upload_request

GARBAGE = bytes(range(256))[::-1] + b"\r\n\x00success"
LONG = bytes((i * 7) % 251 for i in range(3000))
TOKEN = re.compile(rb"[A-Za-z0-9]{32}")


@pytest.fixture
def session(service):
    return login(service.port, USER, PASSWORD)


def upload(service, session, filename="a.jpg", data=b"photo"):
    return exchange(service.port, upload_request(service.port, session, USER, filename, data))


def do_login(service):
    return exchange(service.port, login_request(service.port, USER, PASSWORD))


@pytest.mark.parametrize(
    "body",
    [b"", b"suc", b"fail", b"succ", b"success\r\nand more", GARBAGE, LONG],
    ids=["empty", "suc", "fail", "succ", "success-and-more", "garbage", "3000-bytes"],
)
def test_body_fault_answers_exactly_that_body_and_skips_the_work(service, session, body):
    service.set_faults([Fault(endpoint="upload", body=body)])

    answer = upload(service, session)

    assert (answer.status, answer.body) == (200, body)
    assert answer.header("Content-Length") == str(len(body))
    assert service.stored_files(USER) == {}
    entry = service.journal()[-1]
    assert entry["answer"] == body.decode("latin-1")
    assert entry["fault"].startswith("rule 0: ")


def test_processed_fault_does_the_work_but_answers_the_fault_body(service, session):
    service.set_faults([Fault(endpoint="upload", body="fail", process=True)])

    assert upload(service, session, data=b"kept").body == b"fail"
    assert service.stored_files(USER) == {"a.jpg": b"kept"}


def test_status_fault_answers_another_status(service, session):
    service.set_faults([Fault(endpoint="upload", status=500, body="success")])

    answer = upload(service, session)

    assert (answer.status, answer.body) == (500, b"success")
    assert answer.raw.startswith(b"HTTP/1.1 500 Internal Server Error\r\n")
    assert service.stored_files(USER) == {}


@pytest.mark.parametrize("process", [False, True])
def test_drop_closes_the_connection_without_an_answer(service, process):
    service.set_faults([Fault(endpoint="login", drop=True, times=1, process=process)])

    dropped = do_login(service)
    after = do_login(service)

    assert dropped.raw == b""
    assert TOKEN.fullmatch(after.body)
    assert len(service.sessions()) == (2 if process else 1)
    entry = service.journal()[0]
    expected_fault = "rule 0: drop" + (", processed" if process else "")
    assert (entry["status"], entry["answer"], entry["fault"]) == (None, None, expected_fault)
    assert entry["finished"] is not None


@pytest.mark.parametrize("size", [16 << 20, 10], ids=["16-MiB", "10-bytes"])
def test_reset_during_the_body_breaks_the_connection(service, session, size):
    service.set_faults([Fault(endpoint="upload", drop_during_body=True, times=1)])
    request = upload_request(service.port, session, USER, "big.jpg", bytes(size))
    body_length = len(request) - request.index(b"\r\n\r\n") - 4

    with socket.create_connection(("127.0.0.1", service.port), timeout=10) as sock:
        with pytest.raises((ConnectionResetError, BrokenPipeError)):
            sock.sendall(request)
            sock.recv(1)

    entry = service.journal()[-1]
    assert entry["fault"] == "rule 0: reset during body"
    assert 0 < entry["body_length"] <= body_length // 2
    assert (entry["status"], entry["answer"]) == (None, None)
    assert service.stored_files(USER) == {}
    assert upload(service, session).body == b"success"


def test_drip_sends_the_answer_one_byte_at_a_time(service, session):
    interval = 0.06
    service.set_faults([Fault(endpoint="upload", drip=interval)])

    answer = upload(service, session)

    assert (answer.status, answer.body) == (200, b"success")
    assert service.stored_files(USER) == {"a.jpg": b"photo"}
    head_length = answer.raw.index(b"\r\n\r\n") + 4
    received, body_arrivals = 0, []
    for when, data in answer.arrivals:
        received += len(data)
        if received > head_length:
            body_arrivals.append(when)
    assert len(body_arrivals) >= 4, answer.arrivals
    assert body_arrivals[-1] - answer.arrivals[0][0] >= 0.9 * 7 * interval - 0.06
    assert body_arrivals[-1] - body_arrivals[0] >= 0.9 * 6 * interval - 0.06


@pytest.mark.parametrize(
    "fault, least",
    [({"hold_body": 0.5}, 0.5), ({"read_rate": 200_000}, 0.9 * 512_000 / 200_000)],
    ids=["held", "read slowly"],
)
def test_a_held_or_slowly_read_body_is_read_late_and_whole(service, session, fault, least):
    service.set_faults([Fault(endpoint="upload", **fault)])
    data = bytes(range(256)) * 2000

    started = time.monotonic()
    answer = upload(service, session, data=data)

    assert answer.body == b"success"
    assert time.monotonic() - started >= least
    assert service.stored_files(USER) == {"a.jpg": data}


def test_delay_holds_back_a_normal_answer(service):
    service.set_faults([Fault(endpoint="login", delay=0.3)])

    started = time.monotonic()
    answer = do_login(service)

    assert time.monotonic() - started >= 0.3
    assert TOKEN.fullmatch(answer.body)
    assert list(service.sessions()) == [answer.body.decode()]
    entry = service.journal()[-1]
    assert entry["finished"] - entry["started"] >= 0.3


def test_delay_combines_with_a_body(service, session):
    service.set_faults([Fault(endpoint="upload", delay=0.2, body="succ")])

    started = time.monotonic()
    answer = upload(service, session)

    assert time.monotonic() - started >= 0.2
    assert answer.body == b"succ"
    assert service.stored_files(USER) == {}


def test_skip_and_times_choose_the_requests(service):
    service.set_faults([Fault(endpoint="login", skip=1, times=2, body="fail")])

    bodies = [do_login(service).body for _ in range(4)]

    assert [TOKEN.fullmatch(b) is not None for b in bodies] == [True, False, False, True]
    assert bodies[1:3] == [b"fail", b"fail"]


def test_first_rule_that_takes_a_request_wins(service, session):
    service.set_faults([Fault(endpoint="upload", body="A"), Fault(times=1, body="B")])
    service.add_fault({"body": "C"})

    bodies = [
        do_login(service).body,
        upload(service, session).body,
        do_login(service).body,
        exchange(service.port, b"GET /other HTTP/1.0\r\n\r\n").body,
    ]

    assert bodies == [b"B", b"A", b"C", b"C"]


def rate_pattern(service, session, count):
    return [upload(service, session, f"{i}.jpg", b"x").status == 500 for i in range(count)]


def test_rate_fault_fails_about_one_in_ten_and_repeats_with_its_seed(service, session):
    soak = Fault(endpoint="upload", rate=0.1, seed=2024, status=500, body="fail")
    service.set_faults([soak])
    first = rate_pattern(service, session, 300)
    service.set_faults([soak])
    second = rate_pattern(service, session, 300)

    rng = random.Random(2024)
    assert first == [rng.random() < 0.1 for _ in range(300)]
    assert second == first
    assert 15 <= sum(first) <= 45
    assert len(service.stored_files(USER)) == 300 - sum(first)


@pytest.mark.parametrize(
    "arguments",
    [
        {"endpoint": "nowhere"},
        {"rate": 1.5},
        {"times": -1},
        {"drip": 0},
        {"status": 99},
        {"body": "日本"},
        {"drop": True, "drop_during_body": True},
        {"bodyy": "typo"},
    ],
)
def test_invalid_faults_are_refused(arguments):
    with pytest.raises((ValueError, TypeError)):
        Fault.from_dict(arguments)
