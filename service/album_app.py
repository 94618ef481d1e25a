"""The album service's WSGI application: routing, the login, upload and sink
endpoints, the fault script and the control endpoints."""

import json
import logging
import time
from collections.abc import Callable
from dataclasses import dataclass
from http import HTTPStatus

from werkzeug.wrappers import Request

from album_faults import Fault, FaultScript
from album_state import Accounts, Journal, Sessions, Storage, client_bytes
from album_wire import (
    AbandonConnection,
    BodyReader,
    MultipartForm,
    ReceivedFile,
    body_reader,
    parse_multipart_form,
    parse_urlencoded,
    split_target,
    standard_query_value,
)

LOGIN_PATH = "/Pc/Upld_Login.aspx"
UPLOAD_PATH = "/Pc/Upld_Upload.aspx"
SINK_PATH = "/sink"
CONTROL_PREFIX = "/_control/"
ENDPOINT_PATHS = {LOGIN_PATH: "login", UPLOAD_PATH: "upload", SINK_PATH: "sink"}

SUCCESS = b"success"
FAIL = b"fail"

# A reset should hit a client that is still sending, so read only a little:
# half the body at most, and no more than this.
RESET_AFTER_BYTES = 64 * 1024

log = logging.getLogger("album_service")


@dataclass
class Incoming:
    method: str
    path: str
    raw_query: str
    # The query as a standard server reads it (Werkzeug's request.args: "+" is a space,
    # "%XX" a byte, "#" ends the URL), the first value of each name.
    query: dict[str, str]
    version: str
    headers: list
    content_type: str
    reader: BodyReader

    @classmethod
    def from_environ(cls, environ: dict) -> "Incoming":
        path, raw_query = split_target(environ["album.target"])
        return cls(
            method=environ["REQUEST_METHOD"],
            path=path,
            raw_query=raw_query,
            query=Request(environ).args.to_dict(),
            version=environ["album.version"],
            headers=environ["album.headers"],
            content_type=environ.get("CONTENT_TYPE", ""),
            reader=body_reader(environ),
        )

    def journal_entry(self, endpoint: str) -> dict:
        return {
            "endpoint": endpoint,
            "method": self.method,
            "path": self.path,
            "raw_query": self.raw_query,
            "query": self.query,
            "version": self.version,
            "headers": self.headers,
            "body_length": 0,
            "body_sha256": None,
            "form": {},
            "fields": {},
            "files": [],
            "status": None,
            "answer": None,
            "fault": None,
            "reason": None,
        }


@dataclass
class Outcome:
    status: int
    answer: bytes
    reason: str | None = None

    @classmethod
    def fail(cls, reason: str, status: int = 200) -> "Outcome":
        return cls(status, FAIL, reason)


def status_line(status: int) -> str:
    try:
        return f"{status} {HTTPStatus(status).phrase}"
    except ValueError:
        return f"{status} Unknown"


def plain_headers(body: bytes):
    return [("Content-Type", "text/plain"), ("Content-Length", str(len(body)))]


class AlbumApp:
    def __init__(
        self,
        accounts: Accounts,
        sessions: Sessions,
        storage: Storage,
        journal: Journal,
        faults: FaultScript,
    ):
        self.accounts = accounts
        self.sessions = sessions
        self.storage = storage
        self.journal = journal
        self.faults = faults
        self._handlers: dict[str, Callable[[Incoming, dict, bool], Outcome]] = {
            "login": self._login,
            "upload": self._upload,
            "sink": self._sink,
            "other": self._other,
        }

    def __call__(self, environ, start_response):
        request = Incoming.from_environ(environ)
        if request.path.startswith(CONTROL_PREFIX):
            return self._control(request, start_response)
        endpoint = self._endpoint_of(request)
        entry = self.journal.open(request.journal_entry(endpoint))
        try:
            return self._serve(request, endpoint, entry, start_response)
        except Exception as error:
            log.exception("request failed")
            self.journal.update(entry, reason=f"internal error: {error!r}")
            return self._send(entry, 500, FAIL, None, start_response)

    @staticmethod
    def _endpoint_of(request: Incoming) -> str:
        endpoint = ENDPOINT_PATHS.get(request.path, "other")
        return endpoint if request.method == "POST" else "other"

    def _serve(self, request: Incoming, endpoint: str, entry: dict, start_response):
        picked = self.faults.pick(endpoint)
        fault = picked[1] if picked else None
        if picked:
            self.journal.update(entry, fault=f"rule {picked[0]}: {fault.describe()}")
        if fault is not None and fault.hold_body:
            request.reader.hold(fault.hold_body)
        if fault is not None and fault.read_rate:
            request.reader.throttle(fault.read_rate)
        if fault is not None and fault.drop_during_body:
            self._reset_during_body(request, entry, fault)
        act = fault is None or fault.process or not fault.replaces_answer
        outcome = self._handlers[endpoint](request, entry, act)
        self._finish_body(request, entry)
        status, answer, drip = self._apply(fault, outcome, act, entry)
        return self._send(entry, status, answer, drip, start_response)

    def _finish_body(self, request: Incoming, entry: dict) -> None:
        reader = request.reader
        reader.drain()
        self.journal.update(entry, body_length=reader.size, body_sha256=reader.sha256)
        if not reader.complete:
            self.journal.finish(entry, reason="request body ended early")
            raise AbandonConnection(reset=False)

    def _reset_during_body(self, request: Incoming, entry: dict, fault: Fault) -> None:
        reader = request.reader
        length = RESET_AFTER_BYTES if reader.length is None else reader.length // 2
        reader.read(min(length, RESET_AFTER_BYTES))
        time.sleep(fault.delay)
        self.journal.finish(entry, body_length=reader.size, body_sha256=reader.sha256)
        raise AbandonConnection(reset=True)

    def _apply(self, fault: Fault | None, outcome: Outcome, act: bool, entry: dict):
        self.journal.update(entry, reason=outcome.reason)
        if fault is None:
            return outcome.status, outcome.answer, None
        time.sleep(fault.delay)
        if fault.drop:
            self.journal.finish(entry)
            raise AbandonConnection(reset=False)
        status = fault.status or outcome.status
        if fault.body is not None:
            answer = fault.body
        else:
            answer = outcome.answer if act else b""
        return status, answer, fault.drip

    def _send(self, entry: dict, status: int, answer: bytes, drip, start_response):
        start_response(status_line(status), plain_headers(answer))
        finish = {"status": status, "answer": answer.decode("latin-1")}
        if not drip or not answer:
            self.journal.finish(entry, **finish)
            return [answer]
        return self._drip(entry, answer, drip, finish)

    def _drip(self, entry: dict, answer: bytes, interval: float, finish: dict):
        try:
            yield b""  # the status line and headers go out at once
            for index in range(len(answer)):
                time.sleep(interval)
                if index == len(answer) - 1:
                    # Before the last byte, so a client that has the whole
                    # answer also finds the entry complete.
                    self.journal.finish(entry, **finish)
                yield answer[index : index + 1]
        finally:
            if entry["finished"] is None:
                self.journal.finish(entry, reason="client left during the answer")

    # Endpoints. Each reads the body through the request's reader, records
    # what it parsed, and touches sessions or storage only when `act` is set.

    def _login(self, request: Incoming, entry: dict, act: bool) -> Outcome:
        try:
            form = parse_urlencoded(request.reader, request.content_type)
        except ValueError as error:
            return Outcome.fail(f"unparsable body: {error}")
        self.journal.update(entry, form=form)
        user_id = form.get("userId")
        email, reason = self.accounts.check_login(
            None if user_id is None else user_id.encode("latin-1"), form.get("hash")
        )
        if email is None:
            return Outcome.fail(reason)
        token = self.sessions.create(email) if act else ""
        return Outcome(200, token.encode("ascii"))

    def _authorize(self, query: dict[str, str]):
        """(e-mail, None) when the query names a live session of its userId."""
        email = self.sessions.user_of(query.get("sessionId"))
        if email is None:
            return None, "unknown session"
        user_id = query.get("userId")
        if user_id is None or user_id != standard_query_value(client_bytes(email)):
            return None, "userId does not match the session"
        return email, None

    def _upload(self, request: Incoming, entry: dict, act: bool) -> Outcome:
        email, reason = self._authorize(request.query)
        folder = self.storage.prepare(email) if email and act else None
        try:
            form = parse_multipart_form(request.reader, request.content_type, folder)
        except ValueError as error:
            return Outcome.fail(reason or f"unparsable body: {error}")
        try:
            return self._store_upload(form, email, reason, act, entry)
        finally:
            form.discard()

    def _store_upload(self, form: MultipartForm, email, reason, act, entry) -> Outcome:
        part = form.first("file")
        stored_as = None
        if reason is None and part is not None and act:
            stored_as = self.storage.store(email, part)
        self._record_form(entry, form, part, stored_as)
        if reason is not None:
            return Outcome.fail(reason)
        if part is None:
            return Outcome.fail("no file part")
        return Outcome(200, SUCCESS)

    def _sink(self, request: Incoming, entry: dict, act: bool) -> Outcome:
        try:
            form = parse_multipart_form(request.reader, request.content_type)
        except ValueError as error:
            return Outcome.fail(f"unparsable body: {error}")
        part = form.first("file")
        self._record_form(entry, form, part, None)
        if part is None:
            return Outcome.fail("no file part")
        return Outcome(200, SUCCESS)

    def _other(self, request: Incoming, entry: dict, act: bool) -> Outcome:
        return Outcome.fail("no such endpoint", status=404)

    def _record_form(self, entry, form: MultipartForm, stored: ReceivedFile | None, stored_as):
        files = []
        for received in form.files:
            description = {
                "field": received.field,
                "filename": received.filename,
                "size": received.sink.size,
                "sha256": received.sink.sha256,
            }
            if received is stored and stored_as is not None:
                description["stored_as"] = stored_as
            files.append(description)
        self.journal.update(entry, fields=form.fields, files=files)

    # Control endpoints, for driving the service from another process.

    def _control(self, request: Incoming, start_response):
        body = request.reader.read()
        action = (request.method, request.path[len(CONTROL_PREFIX) :])
        try:
            if action == ("GET", "journal"):
                return self._reply(start_response, 200, json.dumps(self.journal.entries()))
            if action == ("POST", "faults"):
                faults = json.loads(body or b"[]")
                if not isinstance(faults, list):
                    raise ValueError("expected a JSON list of faults")
                self.faults.replace(faults)
                return self._reply(start_response, 200, "ok")
            if action == ("POST", "reset"):
                self.reset()
                return self._reply(start_response, 200, "ok")
        except (ValueError, TypeError) as error:
            return self._reply(start_response, 400, str(error))
        return self._reply(start_response, 404, "fail")

    @staticmethod
    def _reply(start_response, status: int, text: str):
        body = text.encode("utf-8")
        start_response(status_line(status), plain_headers(body))
        return [body]

    def reset(self) -> None:
        self.journal.clear()
        self.faults.clear()
        self.sessions.clear()
