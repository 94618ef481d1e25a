import hashlib
import random
import time

import pytest

from uploader_wire import (
    DELIMITER,
    MULTIPART_TYPE,
    exchange,
    file_part,
    http10_request,
    multipart_body,
)

SIZE = 64 << 20
# Far below what it does on an idle machine (hundreds of MB/s), so only a
# pathological slowdown fails, not a busy CI machine.
MINIMUM_MB_PER_S = 20


@pytest.fixture(scope="module")
def big_file():
    return random.Random(7).randbytes(SIZE)


def test_sink_hashes_a_large_upload_without_storing_it(service, big_file, capsys):
    body = multipart_body("big.bin", big_file)
    request = http10_request(service.port, b"/sink?run=1", MULTIPART_TYPE, body)

    started = time.perf_counter()
    answer = exchange(service.port, request, timeout=60)
    elapsed = time.perf_counter() - started

    assert (answer.status, answer.body) == (200, b"success")
    (entry,) = service.journal()
    assert entry["endpoint"] == "sink"
    assert entry["query"] == {"run": "1"}
    assert entry["body_length"] == len(body)
    assert entry["body_sha256"] == hashlib.sha256(body).hexdigest()
    assert entry["files"] == [
        {
            "field": "file",
            "filename": "big.bin",
            "size": SIZE,
            "sha256": hashlib.sha256(big_file).hexdigest(),
        }
    ]
    assert list(service.storage.rglob("*")) == []
    throughput = len(body) / elapsed / 1e6
    with capsys.disabled():
        print(f"\nsink: {len(body) / 1e6:.0f} MB in {elapsed:.2f} s = {throughput:.0f} MB/s")
    assert throughput >= MINIMUM_MB_PER_S


@pytest.mark.parametrize(
    "body, reason",
    [
        (file_part(b"a.jpg", b"x", name=b"other") + DELIMITER + b"--\r\n", "no file part"),
        (b"not multipart at all", "unparsable body"),
    ],
    ids=["no-file-part", "garbage"],
)
def test_sink_fails_without_a_file_part(service, body, reason):
    answer = exchange(service.port, http10_request(service.port, b"/sink", MULTIPART_TYPE, body))

    assert (answer.status, answer.body) == (200, b"fail")
    assert service.journal()[-1]["reason"].startswith(reason)
