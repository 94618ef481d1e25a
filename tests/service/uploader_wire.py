"""Requests built byte for byte the way the uploader sends them, and a raw
socket client that shows exactly what the service answers."""

import hashlib
import socket
import ssl
import time
from dataclasses import dataclass, field

BOUNDARY = "--TAVIK-VISTORA-UPLOAD-FORM-DATA"
DELIMITER = b"--" + BOUNDARY.encode("ascii")
MULTIPART_TYPE = "multipart/form-data; boundary=" + BOUNDARY
FORM_TYPE = "application/x-www-form-urlencoded"
USER_AGENT = "Mozilla/4.0 (compatible; )"
LOGIN_PATH = "/Pc/Upld_Login.aspx"
UPLOAD_PATH = "/Pc/Upld_Upload.aspx"
CLIENT_CODEPAGE = "cp932"
TLS_HOST = "localhost"


def form_encode(raw: bytes) -> bytes:
    """Letters, digits, '-', '.' and '_' as they are, space as '+', any other byte as
    %XX, as the uploader encodes its login name."""
    out = bytearray()
    for byte in raw:
        char = bytes([byte])
        if char.isalnum() or char in b"-._":
            out += char
        elif char == b" ":
            out += b"+"
        else:
            out += b"%%%02X" % byte
    return bytes(out)


def password_hash(password) -> bytes:
    raw = password if isinstance(password, bytes) else password.encode(CLIENT_CODEPAGE)
    return hashlib.sha1(raw).hexdigest().encode("ascii") + b"\n"


def login_body(user_id: str, password=None, hash_field: bytes | None = None) -> bytes:
    if hash_field is None:
        hash_field = password_hash(password)
    return b"userId=" + form_encode(user_id.encode(CLIENT_CODEPAGE)) + b"&hash=" + hash_field


def file_part(filename: bytes, data: bytes | None, name: bytes = b"file") -> bytes:
    """One part; data None is a part whose header block is never closed by its
    blank line, which no multipart parser takes. (A part with headers and no
    data at all is an empty file to current parsers, and refused by older ones.)"""
    head = (
        DELIMITER
        + b'\r\nContent-Disposition: form-data; name="'
        + name
        + b'"; filename="'
        + filename
        + b'"\r\n'
    )
    return head if data is None else head + b"\r\n" + data + b"\r\n"


def multipart_body(filename, data: bytes | None) -> bytes:
    if isinstance(filename, str):
        filename = filename.encode("utf-8")
    return file_part(filename, data) + DELIMITER + b"--\r\n"


def http10_request(port: int, target: bytes, content_type: str, body: bytes) -> bytes:
    """A POST with WinINet's headers, in its order."""
    headers = [
        ("Accept", "*/*"),
        ("Host", f"127.0.0.1:{port}"),
        ("Content-Length", str(len(body))),
        ("User-Agent", USER_AGENT),
        ("Cache-Control", "no-cache"),
        ("Content-Type", content_type),
        ("Connection", "Keep-Alive"),
    ]
    head = b"POST " + target + b" HTTP/1.0\r\n"
    head += b"".join(f"{k}: {v}\r\n".encode("latin-1") for k, v in headers)
    return head + b"\r\n" + body


def request_headers(request: bytes) -> list[list[str]]:
    lines = request.split(b"\r\n\r\n", 1)[0].split(b"\r\n")[1:]
    return [list(line.decode("latin-1").split(": ", 1)) for line in lines]


def login_request(port: int, user_id: str, password=None, hash_field=None) -> bytes:
    body = login_body(user_id, password, hash_field)
    return http10_request(port, LOGIN_PATH.encode(), FORM_TYPE, body)


def query_escape(raw: bytes) -> bytes:
    """A query value as the uploader writes it: "+", "%", "&", "#", space, control bytes
    and bytes of 0x80 and above as %XX, every other byte as it is."""
    out = bytearray()
    for byte in raw:
        if byte in b"+%&# " or byte < 0x20 or byte >= 0x7F:
            out += b"%%%02X" % byte
        else:
            out.append(byte)
    return bytes(out)


def upload_target(session: str, user_id) -> bytes:
    if isinstance(user_id, str):
        user_id = user_id.encode(CLIENT_CODEPAGE)
    return (
        UPLOAD_PATH.encode()
        + b"?sessionId="
        + query_escape(session.encode())
        + b"&userId="
        + query_escape(user_id)
    )


def upload_request(port: int, session: str, user_id, filename, data: bytes | None) -> bytes:
    body = multipart_body(filename, data)
    return http10_request(port, upload_target(session, user_id), MULTIPART_TYPE, body)


@dataclass
class Answer:
    raw: bytes
    status: int | None = None
    headers: list[tuple[str, str]] = field(default_factory=list)
    body: bytes = b""
    # (time.monotonic(), bytes) of every recv that returned data
    arrivals: list[tuple[float, bytes]] = field(default_factory=list)

    def header(self, name: str) -> str | None:
        return next((v for k, v in self.headers if k.lower() == name.lower()), None)


def parse_answer(raw: bytes, arrivals) -> Answer:
    answer = Answer(raw=raw, arrivals=arrivals)
    if not raw:
        return answer
    head, _, answer.body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    answer.status = int(lines[0].split()[1])
    answer.headers = [tuple(line.split(": ", 1)) for line in lines[1:]]
    return answer


def exchange(
    port: int, request: bytes, timeout: float = 10.0, tls: ssl.SSLContext | None = None
) -> Answer:
    """Sends the request and reads until the service closes the connection; with tls,
    over TLS to the service's certificate name."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls is not None:
        sock = tls.wrap_socket(sock, server_hostname=TLS_HOST)
    with sock:
        sock.sendall(request)
        arrivals = []
        while True:
            data = sock.recv(65536)
            if not data:
                break
            arrivals.append((time.monotonic(), data))
    return parse_answer(b"".join(d for _, d in arrivals), arrivals)


def login(port: int, user_id: str, password) -> str:
    answer = exchange(port, login_request(port, user_id, password))
    assert answer.status == 200 and answer.body != b"fail", answer.raw
    return answer.body.decode("ascii")
