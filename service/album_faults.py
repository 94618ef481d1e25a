"""Scripted misbehaviour of the album service.

A fault script is an ordered list of rules. For each request the rules are
asked in order whether they take it; the first that does decides how the
request goes wrong. A rule only counts the requests that reach it, that is,
requests not already taken by an earlier rule.
"""

import dataclasses
import random
import threading
from collections.abc import Iterable
from dataclasses import dataclass

ENDPOINTS = ("login", "upload", "sink", "other")
ANY_ENDPOINT = "*"


@dataclass
class Fault:
    """One rule of a fault script.

    Selection: `endpoint` ("*" for any), `skip` matching requests let through
    first, then at most `times` requests (None: no limit), each taken with
    probability `rate` (None: always) drawn from random.Random(`seed`).

    Effect: `delay` seconds of silence after the request has been read;
    `body` answered instead of the normal answer; `status` instead of the
    normal HTTP status; `drop` closes the connection without an answer;
    `drop_during_body` resets the connection while the body is still coming;
    `drip` seconds between the single bytes of the answer body;
    `hold_body` seconds before the request body is read at all, through a small
    receive buffer, so that a client is still sending its body meanwhile;
    `read_rate` bytes a second at which the body is then read, through the same
    small buffer: a service that reads slowly, a client's send that takes long.

    A fault that replaces the answer (body, status, drop, drop_during_body)
    leaves the request unprocessed: no session, nothing stored, and an empty
    body unless `body` is given. With `process` the request is processed as
    usual and only what the client sees changes. A str body stands for the
    bytes of its latin-1 encoding.
    """

    endpoint: str = ANY_ENDPOINT
    times: int | None = None
    skip: int = 0
    rate: float | None = None
    seed: int | None = None
    delay: float = 0.0
    body: bytes | str | None = None
    process: bool = False
    status: int | None = None
    drop: bool = False
    drop_during_body: bool = False
    drip: float | None = None
    hold_body: float = 0.0
    read_rate: float | None = None
    name: str | None = None

    def __post_init__(self):
        if isinstance(self.body, str):
            self.body = self.body.encode("latin-1")
        elif isinstance(self.body, (bytearray, memoryview)):
            self.body = bytes(self.body)
        self._check()

    def _check(self):
        _require(
            self.endpoint == ANY_ENDPOINT or self.endpoint in ENDPOINTS,
            f"unknown endpoint {self.endpoint!r}",
        )
        _require(self.times is None or self.times >= 0, "times must be >= 0")
        _require(self.skip >= 0, "skip must be >= 0")
        _require(self.rate is None or 0 <= self.rate <= 1, "rate must be in [0, 1]")
        _require(self.delay >= 0, "delay must be >= 0")
        _require(self.drip is None or self.drip > 0, "drip must be > 0")
        _require(self.hold_body >= 0, "hold_body must be >= 0")
        _require(self.read_rate is None or self.read_rate > 0, "read_rate must be > 0")
        _require(
            self.status is None or 100 <= self.status <= 599,
            "status must be an HTTP status code",
        )
        _require(self.body is None or isinstance(self.body, bytes), "body must be bytes or str")
        _require(
            not (self.drop and self.drop_during_body),
            "drop and drop_during_body exclude each other",
        )

    @classmethod
    def from_dict(cls, data: dict) -> "Fault":
        known = {f.name for f in dataclasses.fields(cls)}
        unknown = sorted(set(data) - known)
        if unknown:
            raise ValueError(f"unknown fault keys: {', '.join(unknown)}")
        return cls(**data)

    @property
    def replaces_answer(self) -> bool:
        return (
            self.body is not None or self.status is not None or self.drop or self.drop_during_body
        )

    def describe(self) -> str:
        if self.name:
            return self.name
        parts = []
        if self.drop_during_body:
            parts.append("reset during body")
        if self.delay:
            parts.append(f"delay {self.delay:g}s")
        if self.drop:
            parts.append("drop")
        if self.status is not None:
            parts.append(f"status {self.status}")
        if self.body is not None:
            parts.append(_describe_body(self.body))
        if self.drip:
            parts.append(f"drip {self.drip:g}s")
        if self.hold_body:
            parts.append(f"body held {self.hold_body:g}s")
        if self.read_rate:
            parts.append(f"body read at {self.read_rate:g} B/s")
        if self.process and self.replaces_answer:
            parts.append("processed")
        return ", ".join(parts) or "no effect"


def _require(condition: bool, message: str) -> None:
    if not condition:
        raise ValueError(message)


def _describe_body(body: bytes) -> str:
    if len(body) <= 24:
        return f"body {body!r}"
    return f"body of {len(body)} bytes"


def as_fault(value: Fault | dict) -> Fault:
    return value if isinstance(value, Fault) else Fault.from_dict(value)


class _Rule:
    def __init__(self, fault: Fault):
        self.fault = fault
        self.seen = 0
        self.applied = 0
        self.rng = random.Random(fault.seed)

    def takes(self, endpoint: str) -> bool:
        fault = self.fault
        if fault.endpoint not in (ANY_ENDPOINT, endpoint):
            return False
        if fault.times is not None and self.applied >= fault.times:
            return False
        self.seen += 1
        if self.seen <= fault.skip:
            return False
        if fault.rate is not None and self.rng.random() >= fault.rate:
            return False
        self.applied += 1
        return True


class FaultScript:
    """The service's current rules; safe to change while requests run."""

    def __init__(self, faults: Iterable[Fault | dict] = ()):
        self._lock = threading.Lock()
        self._rules: list[_Rule] = []
        self.replace(faults)

    def replace(self, faults: Iterable[Fault | dict]) -> None:
        rules = [_Rule(as_fault(f)) for f in faults]
        with self._lock:
            self._rules = rules

    def add(self, fault: Fault | dict) -> None:
        rule = _Rule(as_fault(fault))
        with self._lock:
            self._rules.append(rule)

    def clear(self) -> None:
        self.replace(())

    def faults(self) -> list[Fault]:
        with self._lock:
            return [rule.fault for rule in self._rules]

    def pick(self, endpoint: str) -> tuple[int, Fault] | None:
        with self._lock:
            for index, rule in enumerate(self._rules):
                if rule.takes(endpoint):
                    return index, rule.fault
        return None
