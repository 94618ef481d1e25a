"""HTTP plumbing under the album service's endpoints.

Werkzeug parses requests and forms; this module adds what WSGI hides (the
request target and header lines as they came), a way to end a connection
without answering, and body readers that hash every byte received.
"""

import hashlib
import inspect
import os
import socket
import ssl
import struct
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from urllib.parse import parse_qsl, quote_from_bytes

from werkzeug.formparser import MultiPartParser
from werkzeug.http import parse_options_header
from werkzeug.sansio.multipart import Data, Epilogue, Field, File, MultipartDecoder
from werkzeug.serving import WSGIRequestHandler
from werkzeug.wrappers import Request

MULTIPART = "multipart/form-data"
URLENCODED = "application/x-www-form-urlencoded"
INCOMING_PREFIX = ".incoming-"
STORED_FILE_MODE = 0o644

# Werkzeug's multipart decoder copies every chunk a few times: chunks that
# still fit in the CPU cache, yet are large enough to keep its per-chunk Python
# work small, make the sink fastest (128 KiB measured best, 1 MiB half as fast).
READ_CHUNK = 128 * 1024
# A held body waits behind a receive buffer this small, so that little of it can be on
# its way meanwhile and the sender stays busy sending; then it is read through one this
# large. The small one still holds a few of the loopback's 64 KiB segments: below one
# segment the window stays shut for good (a receiver offers no window smaller than a
# segment, and with nothing arriving nothing reopens it), measured here with 4096 bytes.
HELD_RECEIVE_BUFFER = 256 * 1024
RELEASED_RECEIVE_BUFFER = 4 * 1024 * 1024
# How a TLS connection's handshake went: done; the client closed the connection before it
# was done; or anything else, which the record names ("failed: ...").
HANDSHAKE_DONE = "done"
HANDSHAKE_CLOSED = "closed"


# Part names and file names are UTF-8, undecodable bytes replaced. Werkzeug 2 is told so;
# Werkzeug 3 has no such arguments and always decodes that way.
MULTIPART_NAME_DECODING = (
    {"charset": "utf-8", "errors": "replace"}
    if "charset" in inspect.signature(MultiPartParser).parameters
    else {}
)


class AbandonConnection(BaseException):
    """Ends a request with no HTTP answer at all.

    A BaseException, because Werkzeug turns every Exception raised by the
    application into a 500 answer; this one has to reach the request handler.
    """

    def __init__(self, reset: bool):
        super().__init__("reset" if reset else "close")
        self.reset = reset


class AlbumRequestHandler(WSGIRequestHandler):
    # Werkzeug picks HTTP/1.1 for threaded servers by patching the handler
    # class unless the class sets it itself.
    protocol_version = "HTTP/1.1"
    # A client that stops sending (a Content-Length larger than its body, say)
    # gets its request ended after this long instead of holding a thread.
    timeout = 60

    def setup(self) -> None:
        # Over TLS the handshake is made in handle(), in the connection's own thread: made
        # where connections are accepted, as Werkzeug would, one client that never starts
        # it (a proxy's idle tunnel) would hold up every other.
        context = self.server.ssl_context
        if context is not None:
            self.request = context.wrap_socket(
                self.request, server_side=True, do_handshake_on_connect=False
            )
        super().setup()
        # Dripped answers are single bytes; Nagle would batch them.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def handle(self) -> None:
        if isinstance(self.connection, ssl.SSLSocket):
            try:
                self.connection.do_handshake()
            except (ssl.SSLEOFError, ssl.SSLZeroReturnError, ConnectionError):
                self.server.handshakes.append(HANDSHAKE_CLOSED)
                return
            except OSError as error:
                self.server.handshakes.append(f"failed: {error}")
                return
            self.server.handshakes.append(HANDSHAKE_DONE)
        super().handle()

    def finish(self) -> None:
        super().finish()
        # The server closes the socket it accepted, which the wrapping detached: the TLS
        # socket is closed here.
        if isinstance(self.connection, ssl.SSLSocket):
            self.connection.close()

    def make_environ(self) -> dict:
        environ = super().make_environ()
        # self.path is the request line's target decoded as latin-1: the raw
        # bytes, which the journal keeps beside the query as the endpoints read it.
        environ["album.target"] = self.path
        environ["album.version"] = self.request_version
        environ["album.headers"] = [[name, value] for name, value in self.headers.items()]
        environ["album.socket"] = self.connection
        return environ

    def run_wsgi(self) -> None:
        try:
            super().run_wsgi()
        except AbandonConnection as abandon:
            self.close_connection = True
            self._abandon(abandon.reset)

    def _abandon(self, reset: bool) -> None:
        sock = self.connection
        try:
            if reset:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        # The buffered reader holds a reference that would keep the
        # descriptor open past sock.close(), and with it the connection.
        self.rfile.close()
        sock.close()

    def log_request(self, code="-", size="-") -> None:
        # The journal records every request; a stderr line each would only
        # bury real errors.
        pass


class BodyReader:
    """A request body as a file, ending where the body ends.

    Counts and hashes every byte handed out, so the journal's body hash is
    over exactly what arrived. A body cut short by the client reads as EOF
    and leaves `complete` false.
    """

    def __init__(self, stream, length: int | None, sock: socket.socket | None = None):
        self._stream = stream
        self._socket = sock
        self.length = length
        self._remaining = length
        self._sha256 = hashlib.sha256()
        self.size = 0
        self.complete = True
        self._rate: float | None = None
        self._paced_from = 0.0

    def hold(self, seconds: float) -> None:
        """Reads nothing for the given time."""
        if self._socket is None:
            time.sleep(seconds)
            return
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, HELD_RECEIVE_BUFFER)
        time.sleep(seconds)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RELEASED_RECEIVE_BUFFER)

    def throttle(self, bytes_per_second: float) -> None:
        """Reads the rest of the body at no more than this rate, through the small
        receive buffer, so that the sender's socket holds little of it."""
        if self._socket is not None:
            self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, HELD_RECEIVE_BUFFER)
        self._rate = bytes_per_second
        self._paced_from = time.monotonic() - self.size / bytes_per_second

    def read(self, size: int = -1) -> bytes:
        size = self._bounded(size)
        if size == 0:
            return b""
        if self._rate is not None:
            size = READ_CHUNK if size < 0 else min(size, READ_CHUNK)
        try:
            data = self._stream.read(size) if size > 0 else self._stream.read()
        except OSError:
            data = b""
        self._account(data, size)
        self._keep_pace()
        return data

    def _keep_pace(self) -> None:
        if self._rate is None:
            return
        delay = self._paced_from + self.size / self._rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)

    def _bounded(self, size: int) -> int:
        if self._remaining is None:
            return size
        return self._remaining if size < 0 else min(size, self._remaining)

    def _account(self, data: bytes, requested: int) -> None:
        self._sha256.update(data)
        self.size += len(data)
        if self._remaining is not None:
            self._remaining -= len(data)
            if len(data) < requested:
                self.complete = False
                self._remaining = 0

    def drain(self) -> None:
        while self.read(READ_CHUNK):
            pass

    @property
    def sha256(self) -> str:
        return self._sha256.hexdigest()


def body_reader(environ: dict) -> BodyReader:
    stream = environ["wsgi.input"]
    sock = environ.get("album.socket")
    if environ.get("wsgi.input_terminated"):
        return BodyReader(stream, None, sock)
    try:
        length = max(int(environ.get("CONTENT_LENGTH") or 0), 0)
    except ValueError:
        length = 0
    return BodyReader(stream, length, sock)


def standard_query_value(raw: bytes) -> str:
    """What a standard server's request.args gives for a query value whose bytes were
    sent escaped: the text to compare a received value with."""
    return Request.from_values(query_string="v=" + quote_from_bytes(raw)).args["v"]


def split_target(target: str):
    """(path, raw query) of a request target, absolute form included."""
    if "://" in target.partition("?")[0]:
        target = "/" + target.split("://", 1)[1].partition("/")[2]
    path, _, raw_query = target.partition("?")
    return path, raw_query


def parse_urlencoded(reader, content_type: str) -> dict[str, str]:
    """Decoded form fields, each value the decoded bytes as a latin-1 str.

    The client encodes in Shift-JIS, so decoding to text is left to whoever
    knows what the bytes should be. Werkzeug 3 decodes form values as UTF-8
    only (its charset argument is gone), which would mangle those bytes, so
    the standard library's form decoding does it: "+" is a space, %XX a byte,
    a name without "=" an empty value, and the first of repeated names wins.
    """
    mimetype, _ = parse_options_header(content_type)
    if mimetype != URLENCODED:
        raise ValueError(f"expected {URLENCODED}, got {mimetype or 'no content type'}")
    text = reader.read().decode("latin-1")
    fields: dict[str, str] = {}
    for name, value in parse_qsl(text, keep_blank_values=True, encoding="latin-1"):
        fields.setdefault(name, value)
    return fields


class PartSink:
    """Where Werkzeug streams a file part: hashed, counted and, when a folder
    is given, written to a temporary file there."""

    def __init__(self, folder: Path | None = None):
        self._sha256 = hashlib.sha256()
        self.size = 0
        self.path: Path | None = None
        self._file = None
        if folder is not None:
            fd, name = tempfile.mkstemp(prefix=INCOMING_PREFIX, dir=folder)
            self._file = os.fdopen(fd, "wb")
            self.path = Path(name)

    def write(self, data: bytes) -> int:
        self._sha256.update(data)
        self.size += len(data)
        if self._file is not None:
            self._file.write(data)
        return len(data)

    def seek(self, offset: int, whence: int = 0) -> int:
        # Werkzeug rewinds a finished part for reading; nothing reads it back
        # from here.
        return 0

    @property
    def sha256(self) -> str:
        return self._sha256.hexdigest()

    def finish(self) -> None:
        if self._file is not None:
            self._file.close()
            self._file = None

    def move_to(self, destination: Path) -> None:
        self.finish()
        # mkstemp makes the file private; a stored photo is an ordinary file.
        os.chmod(self.path, STORED_FILE_MODE)
        os.replace(self.path, destination)
        self.path = None

    def discard(self) -> None:
        self.finish()
        if self.path is not None:
            self.path.unlink(missing_ok=True)
            self.path = None


@dataclass
class ReceivedFile:
    field: str
    filename: str
    sink: PartSink


@dataclass
class MultipartForm:
    fields: dict[str, str] = field(default_factory=dict)
    files: list[ReceivedFile] = field(default_factory=list)

    def first(self, name: str) -> ReceivedFile | None:
        return next((f for f in self.files if f.field == name), None)

    def discard(self) -> None:
        for received in self.files:
            received.sink.discard()


def multipart_boundary(content_type: str) -> bytes:
    mimetype, options = parse_options_header(content_type)
    if mimetype != MULTIPART:
        raise ValueError(f"expected {MULTIPART}, got {mimetype or 'no content type'}")
    boundary = options.get("boundary", "")
    if not boundary:
        raise ValueError("no multipart boundary")
    return boundary.encode("latin-1")


def parse_multipart_form(reader, content_type: str, folder: Path | None = None) -> MultipartForm:
    """Streams a multipart body through Werkzeug's form parser.

    File parts go to PartSinks (temporary files in `folder`, if given); a
    ValueError means the body could not be parsed, and then nothing is left
    behind on disk.
    """
    boundary = multipart_boundary(content_type)
    sinks: list[PartSink] = []

    def stream_factory(total_content_length, content_type, filename, content_length=None):
        sink = PartSink(folder)
        sinks.append(sink)
        return sink

    parser = MultiPartParser(stream_factory, buffer_size=READ_CHUNK, **MULTIPART_NAME_DECODING)
    try:
        fields, files = parser.parse(reader, boundary, None)
    except BaseException:
        for sink in sinks:
            sink.discard()
        raise
    received = [
        ReceivedFile(name, storage.filename, storage.stream)
        for name, storage in files.items(multi=True)
    ]
    for item in received:
        item.sink.finish()
    return MultipartForm(fields.to_dict(), received)


def parse_multipart(body: bytes, content_type: str) -> list[dict]:
    """Every part of a multipart body, in order, with its raw bytes.

    A peer parser for checking what a client builds: Werkzeug's multipart
    decoder, without the form layer that would decode field values and
    separate fields from files. Raises ValueError for a body it cannot parse.
    """
    decoder = MultipartDecoder(multipart_boundary(content_type))
    decoder.receive_data(body)
    decoder.receive_data(None)
    parts: list[dict] = []
    current: dict | None = None
    while True:
        event = decoder.next_event()
        if isinstance(event, (Field, File)):
            current = {
                "name": event.name,
                "filename": event.filename if isinstance(event, File) else None,
                "headers": [[k, v] for k, v in event.headers.items()],
                "data": bytearray(),
            }
        elif isinstance(event, Data):
            current["data"] += event.data
            if not event.more_data:
                current["data"] = bytes(current["data"])
                parts.append(current)
        elif isinstance(event, Epilogue):
            return parts
