"""One file's whole road through the uploader (hand-over, login, upload, deletion) timed
from its debugger lines, and the references that go beside it in rotation: curl -F, a
plain client sending a body already in memory, and the bare loop of 1024-byte reads. The
transfer and memory cases read the same uploads, measured once per size."""

from __future__ import annotations

import hashlib
import os
import re
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from harness import (
    IDM_EXIT,
    BenchError,
    Context,
    Event,
    MiB,
    Service,
    UploaderRun,
    check_sink_entry,
    first,
    helper_json_lines,
    is_retired,
    is_status,
    median,
    new_install,
    now,
    random_file,
    wd,
)

# Debugger lines of an upload request that failed: the send (WinINet's completion with an
# error, or nothing sent), the client's own reports, no HTTP status for the answer.
FAILURE_MARKS = (
    b"SendRequest:",
    b"\tResult 0 ",
    b"REQUEST_SENT: 0\n",
    b"HTTP status 0\n",
    b"ReadResponse:",
)
SUCCESS_LINE = b"success\r\n"
# The sizes of the large uploads, and rounds of each (every way once a round). The bare
# loop over a 64 MiB file in a fresh process took 121 to 186 ms here in 63 runs, whatever
# the process did around it (alone, on a thread, beside a window and a WinINet session,
# after a 1 s pause), and once 233 ms: a spread of a third of the floor, over which five
# rounds left the medians of the uploader's body and the loop tens of ms apart. The 64 MiB
# rounds are short, so that size takes nine.
FULL_ROUNDS = {64 * MiB: 9, 256 * MiB: 5}
FULL_SIZES = tuple(FULL_ROUNDS)
QUICK_SIZES = (8 * MiB,)
QUICK_ROUNDS = 1


@dataclass
class RoadResult:
    size: int
    road: float  # "upload" executed (login starts) -> file deleted (outside)
    login: float  # login starts -> login job retired
    transfer: float  # request handle created -> "success" read
    body: float  # request handle created -> CONNECTING (the body is built between)
    connect: float  # CONNECTING -> CONNECTED
    copy: float  # CONNECTED -> the first SENDING_REQUEST (Wine builds the headers' buffer)
    send: float  # the first SENDING_REQUEST -> the last REQUEST_SENT (headers, body pieces)
    answer: float  # the last REQUEST_SENT -> "success" read
    deleted_after: float  # "success" read -> file gone (outside)
    service: float  # the sink's own duration of the request
    peak_kib: int
    rss_before_kib: int  # at the request handle, before the body
    rss_body_kib: int  # at CONNECTING: the body built
    rss_copy_kib: int  # at the first SENDING_REQUEST: the headers' buffer made


def request_marks(events: list[Event], done: int) -> dict:
    """Indexes of one upload's landmarks, from its "success" line at done back: the job's
    two handle creations (connection, request), then WinINet's CONNECTING (20), CONNECTED
    (21), the first SENDING_REQUEST (30: the headers) and the last REQUEST_SENT (31: the
    body's last piece)."""
    job = events[done].tid
    sixties = [i for i in range(done) if events[i].tid == job and is_status(60)(events[i])]
    if len(sixties) < 2:
        raise BenchError("an upload without its two handle creations in the debugger output")
    marks = {"connection": sixties[-2], "request": sixties[-1]}
    at = marks["request"]
    for name, code in (("connecting", 20), ("connected", 21), ("sending", 30), ("sent", 31)):
        at = first(events, at + 1, is_status(code))
        if at < 0 or at > done:
            raise BenchError(f"no Status {code} between an upload's request and its answer")
        marks[name] = at
    marks["sent"] = max(i for i in range(marks["sent"], done) if is_status(31)(events[i]))
    marks["success"] = done
    return marks


def upload_phases(events: list[Event]) -> dict:
    done = max((i for i, e in enumerate(events) if e.text == SUCCESS_LINE), default=-1)
    if done < 0:
        raise BenchError("no upload answered success in the debugger output")
    marks = request_marks(events, done)
    digest = first(events, 0, lambda e: re.fullmatch(rb"[0-9a-f]{40}\n", e.text) is not None)
    marks["login"] = digest if digest >= 0 else first(events, 0, is_status(60))
    marks["login_retired"] = first(events, marks["login"], is_retired)
    return {k: events[v].t for k, v in marks.items()}


def failure_indexes(events: list[Event]) -> list[int]:
    return [i for i, e in enumerate(events) if e.text.startswith(FAILURE_MARKS)]


def road_run(service: Service, work: Path, source: Path, sha256: str, tag: str) -> RoadResult:
    """One whole road: the host hands the file over, the uploader logs in, uploads it to
    the sink and deletes it. A request that fails ends the run at once (Exit command):
    the uploader would otherwise retry for minutes."""
    install = new_install(work / tag, service)
    target = install.temp / source.name
    os.link(source, target)
    size = target.stat().st_size
    run = UploaderRun(install, [target], tag, count=1, wait=True)
    try:
        # Generous for this machine (under 20 s for 560 MiB when calm), and far below the
        # minutes a failing file's retries take.
        deadline = time.monotonic() + 120 + size / MiB / 5
        while run.alive():
            events = run.events()
            failed = failure_indexes(events)
            if failed:
                window = wd.find_window(timeout=10)
                if window is not None:
                    wd.post(window["hwnd"], wd.WM_COMMAND, IDM_EXIT)
                run.wait_end(timeout=90)
                run.check_no_crash(tag)
                raise BenchError(
                    f"{tag}: the request failed "
                    f"({events[failed[0]].text.decode('latin-1').strip()})"
                )
            if time.monotonic() > deadline:
                raise BenchError(f"{tag}: the uploader did not end in time")
            time.sleep(0.25)
        run.wait_end(timeout=10)
        code = run.host_result()
    except BaseException:
        run.kill()
        raise
    run.check_no_crash(tag)
    if code != 0 or target.name not in run.deleted:
        raise BenchError(
            f"{tag}: the host tool ended with {code} ({run.host_said()}) and the file "
            f"{'left' if target.name in run.deleted else 'stayed in'} temp"
        )
    service_s = check_sink_entry(service.last_sink(), size, sha256, tag)
    p = upload_phases(run.events())
    deleted = run.deleted[target.name]
    if not p["success"] <= deleted + 0.002:
        raise BenchError(
            f"{tag}: the file left temp before the answer was read: the clocks disagree"
        )
    return RoadResult(
        size=size,
        road=deleted - p["login"],
        login=p["login_retired"] - p["login"],
        transfer=p["success"] - p["request"],
        body=p["connecting"] - p["request"],
        connect=p["connected"] - p["connecting"],
        copy=p["sending"] - p["connected"],
        send=p["sent"] - p["sending"],
        answer=p["success"] - p["sent"],
        deleted_after=deleted - p["success"],
        service=service_s,
        peak_kib=run.peak_kib,
        rss_before_kib=run.rss_at(p["request"]),
        rss_body_kib=run.rss_at(p["connecting"]),
        rss_copy_kib=run.rss_at(p["sending"]),
    )


def random_files(folder: Path, stem: str, count: int, size: int):
    """count files of size random bytes in folder, numbered after stem, and the sha256 of
    each by name."""
    files = []
    for i in range(count):
        path = folder / f"{stem}{i + 1:03d}.jpg"
        path.write_bytes(os.urandom(size))
        files.append(path)
    return files, {f.name: hashlib.sha256(f.read_bytes()).hexdigest() for f in files}


def sink_received_exactly(service: Service, expected: dict[str, str]) -> bool:
    """Whether the sink's journal since its reset holds exactly these files (name to
    sha256), each answered "success"."""
    sinks = [e for e in service.journal() if e["endpoint"] == "sink"]
    got = {e["files"][0]["filename"]: e["files"][0]["sha256"] for e in sinks if e.get("files")}
    return got == expected and all(e["answer"] == "success" for e in sinks)


def small_files_run(
    ctx: Context, tag: str, count: int, size: int
) -> tuple[UploaderRun, list[float]]:
    """count files of size random bytes in one hand-over (the count announced, one login
    first): the run once every file arrived whole at the sink and left temp, and the
    times their deletions were seen, in the order of the hand-over."""
    install = new_install(ctx.work / tag, ctx.service)
    files, expected = random_files(install.temp, "small", count, size)
    ctx.service.reset()
    run = UploaderRun(install, files, tag, count=count, wait=True)
    try:
        if not run.wait_end(timeout=120 + count * 5):
            raise BenchError(f"{tag}: the uploader did not end in time")
        code = run.host_result()
    except BaseException:
        run.kill()
        raise
    run.check_no_crash(tag)
    if code != 0 or len(run.deleted) != count:
        raise BenchError(
            f"{tag}: host tool {code} ({run.host_said()}), "
            f"{len(run.deleted)} of {count} files left temp"
        )
    if not sink_received_exactly(ctx.service, expected):
        raise BenchError(f"{tag}: the sink did not receive exactly the files")
    return run, [run.deleted[f.name] for f in files]


def design_cycle_run(ctx: Context, tag: str, count: int, size: int) -> float:
    """count files of size random bytes through DesignCycle (the design's steps per file
    and nothing else) to the sink: the time per file from the first deletion to the last,
    by its own clock, once every file arrived whole and left its folder."""
    folder = ctx.work / tag
    folder.mkdir(parents=True, exist_ok=True)
    files, expected = random_files(folder, "cycle", count, size)
    ctx.service.reset()
    lines = helper_json_lines(
        "DesignCycle.exe",
        "127.0.0.1",
        str(ctx.service.port),
        "/sink",
        *[wd.windows_path(f) for f in files],
        timeout=120 + count * 5,
    )
    if (
        len(lines) != count
        or not sink_received_exactly(ctx.service, expected)
        or any(f.exists() for f in files)
    ):
        raise BenchError(f"{tag}: DesignCycle did not send exactly the files")
    deleted = [line["deleted_ms"] for line in lines]
    return (deleted[-1] - deleted[0]) / (count - 1) / 1000


def curl_run(service: Service, source: Path, sha256: str) -> tuple[float, float]:
    """curl's own total time for the form post, and the sink's duration of it."""
    result = subprocess.run(
        [
            "curl",
            "-sS",
            "--noproxy",
            "*",
            "-o",
            "-",
            "-w",
            "\n%{time_total} %{http_code}",
            "-F",
            f"file=@{source}",
            service.sink_url,
        ],
        capture_output=True,
        timeout=600,
    )
    lines = result.stdout.decode("latin-1").splitlines()
    if result.returncode != 0 or len(lines) < 2 or lines[0] != "success":
        raise BenchError(
            f"curl failed ({result.returncode}): {result.stdout[:200]!r} {result.stderr[:200]!r}"
        )
    total = float(lines[-1].split()[0])
    return total, check_sink_entry(service.last_sink(), source.stat().st_size, sha256, "curl")


def sink_client_run(service: Service, data: bytes, sha256: str) -> tuple[float, float]:
    """The sink alone: a multipart post of a body already in memory, sent over one socket
    with sendall; from connecting to the whole answer."""
    boundary = "bench-sink-boundary"
    head = (
        f'--{boundary}\r\nContent-Disposition: form-data; name="file"; '
        f'filename="memory.bin"\r\n\r\n'
    ).encode()
    tail = f"\r\n--{boundary}--\r\n".encode()
    request = (
        f"POST /sink HTTP/1.1\r\nHost: 127.0.0.1:{service.port}\r\n"
        f"Content-Type: multipart/form-data; boundary={boundary}\r\n"
        f"Content-Length: {len(head) + len(data) + len(tail)}\r\n"
        f"Connection: close\r\n\r\n"
    ).encode()
    start = now()
    with socket.create_connection(("127.0.0.1", service.port)) as s:
        s.sendall(request + head)
        s.sendall(memoryview(data))
        s.sendall(tail)
        answer = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            answer += piece
    elapsed = now() - start
    if not answer.endswith(b"success"):
        raise BenchError(f"the sink answered {answer[-100:]!r} to the Python client")
    return elapsed, check_sink_entry(service.last_sink(), len(data), sha256, "python client")


def bare_loop_ms(source: Path) -> float:
    """BodyBench's bare loop of 1024-byte reads over the file, as the first large block of
    a process of its own, as the uploader's body is."""
    lines = helper_json_lines(
        "BodyBench.exe", "loop", wd.windows_path(source), timeout=120 + source.stat().st_size / MiB
    )
    if len(lines) != 1 or not lines[0]["ok"]:
        raise BenchError(f"BodyBench did not read the file: {lines}")
    return lines[0]["ms"]


@dataclass
class RoadSet:
    """Every way a file of one size went in one run."""

    size: int
    rounds: int
    source: Path
    sha256: str
    uploads: list[RoadResult]
    curls: list[tuple[float, float]]  # (curl's time_total, the sink's time)
    clients: list[tuple[float, float]]  # (the plain client's time, the sink's time)
    loops: list[float]  # the bare 1024-byte read loop, ms

    @property
    def curl_s(self) -> float:
        return median([c[0] for c in self.curls])

    @property
    def loop_s(self) -> float:
        return median(self.loops) / 1000


def sizes(ctx: Context) -> tuple[int, ...]:
    return QUICK_SIZES if ctx.quick else FULL_SIZES


def measured(ctx: Context, size: int) -> RoadSet:
    """The uploads of one size with their references beside them, in rotating order so a
    drift of the shared machine favours none; measured once a run and kept (with the file,
    which the memory case sends again)."""
    key = ("road", size)
    if key in ctx.shared:
        return ctx.shared[key]
    rounds = QUICK_ROUNDS if ctx.quick else FULL_ROUNDS[size]
    source = ctx.work / f"road-{size // MiB}MiB.bin"
    sha = random_file(source, size)
    data = source.read_bytes()
    found = RoadSet(size, rounds, source, sha, [], [], [], [])
    ways = 4
    for round_ in range(rounds):
        for turn in range(ways):
            which = (round_ + turn) % ways
            if which == 0:
                found.curls.append(curl_run(ctx.service, source, sha))
            elif which == 1:
                found.clients.append(sink_client_run(ctx.service, data, sha))
            elif which == 2:
                found.loops.append(bare_loop_ms(source))
            else:
                found.uploads.append(
                    road_run(ctx.service, ctx.work, source, sha, f"road-{size // MiB}-{round_}")
                )
    ctx.shared[key] = found
    return found
