import json
import subprocess
import sys
from pathlib import Path

import pytest

from album_service import parse_multipart
from uploader_wire import DELIMITER, MULTIPART_TYPE, file_part, multipart_body

SERVICE_SCRIPT = Path(__file__).resolve().parents[2] / "service" / "album_service.py"


def test_parts_come_back_in_order_with_their_raw_bytes():
    body = (
        DELIMITER
        + b'\r\nContent-Disposition: form-data; name="note"\r\n\r\n\x82\xa0 not utf-8\r\n'
        + file_part("写真.jpg".encode(), b"\r\n\x00data\r\n")
        + DELIMITER
        + b"--\r\n"
    )

    parts = parse_multipart(body, MULTIPART_TYPE)

    assert parts == [
        {
            "name": "note",
            "filename": None,
            "headers": [["Content-Disposition", 'form-data; name="note"']],
            "data": b"\x82\xa0 not utf-8",
        },
        {
            "name": "file",
            "filename": "写真.jpg",
            "headers": [["Content-Disposition", 'form-data; name="file"; filename="写真.jpg"']],
            "data": b"\r\n\x00data\r\n",
        },
    ]


@pytest.mark.parametrize(
    "body, content_type",
    [
        (file_part(b"a.jpg", None) + DELIMITER + b"--\r\n", MULTIPART_TYPE),
        (multipart_body("a.jpg", b"x")[:-20], MULTIPART_TYPE),
        (multipart_body("a.jpg", b"x"), "multipart/form-data; boundary=other"),
        (multipart_body("a.jpg", b"x"), "multipart/form-data"),
        (multipart_body("a.jpg", b"x"), "text/plain"),
    ],
    ids=["unclosed-part-header", "truncated", "wrong-boundary", "no-boundary", "not-multipart"],
)
def test_malformed_bodies_raise_value_error(body, content_type):
    with pytest.raises(ValueError):
        parse_multipart(body, content_type)


def run_cli(path, content_type):
    return subprocess.run(
        [sys.executable, str(SERVICE_SCRIPT)]
        + ["--parse-multipart", str(path), "--content-type", content_type],
        capture_output=True,
        timeout=30,
    )


def test_command_line_prints_parts_as_json_with_hex_data(tmp_path):
    path = tmp_path / "body.bin"
    path.write_bytes(multipart_body("a b.jpg", b"\xff\x00\r\n"))

    result = run_cli(path, MULTIPART_TYPE)

    assert result.returncode == 0, result.stderr
    (part,) = json.loads(result.stdout)
    assert (part["name"], part["filename"], part["data"]) == ("file", "a b.jpg", "ff000d0a")


def test_command_line_reports_an_unparsable_body(tmp_path):
    path = tmp_path / "body.bin"
    path.write_bytes(b"garbage")

    result = run_cli(path, MULTIPART_TYPE)

    assert result.returncode != 0
    assert b"album_service:" in result.stderr
