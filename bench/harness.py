"""What every benchmark case shares: the album service in a process of its own, test
files, the uploader's debugger lines on this process's clock, one uploader run watched from
outside (memory from /proc, its temp folder), the Windows helpers, and the report."""

from __future__ import annotations

import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
import urllib.request
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tools" / "winedrive")]

import winedrive as wd  # noqa: E402  (needs the path above)

MiB = 1024 * 1024
ACCOUNT = "bench.user@example.jp"
PASSWORD = "bench-pass"
IDM_EXIT = 40001
# Wine's stderr for every measured program: the err class stays on, so a crash still shows
# (err:seh), but not winedrive's warn+heap: with it Wine's heap checks and fills the blocks
# it hands out (Wine's copy of a large body among them), which these cases would time.
BENCH_DEBUG = "fixme-all,warn+debugstr"
# Uploader runs whose debugger lines are timed: each line with Wine's tick and its thread.
TIMED_DEBUG = BENCH_DEBUG + ",+timestamp,+pid"
# How often the temp folder is listed (a deletion is seen at most this late) and memory sampled.
TEMP_WATCH_S = 0.002
MEMORY_SAMPLE_S = 0.01


def now() -> float:
    """Seconds on CLOCK_MONOTONIC_RAW, the clock behind Wine's tick count (checked)."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def median(values):
    return statistics.median(values) if values else float("nan")


def mib(n: float) -> str:
    return f"{n / MiB:.1f} MiB"


def each(values, digits: int = 0) -> str:
    return ", ".join(f"{v:.{digits}f}" for v in values)


class BenchError(RuntimeError):
    pass


# --- the album service, in a process of its own ----------------------------------------


class Service:
    def __init__(self, work: Path):
        port_file = work / "service.port"
        self.log = open(work / "service.log", "wb")
        self.process = subprocess.Popen(
            [
                sys.executable,
                str(ROOT / "service" / "album_service.py"),
                "--port",
                "0",
                "--port-file",
                str(port_file),
                "--storage",
                str(work / "album"),
                "--account",
                f"{ACCOUNT}:{PASSWORD}",
            ],
            stdout=self.log,
            stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL,
        )
        deadline = time.monotonic() + 30
        while not port_file.exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise BenchError("the album service did not start; see service.log")
            time.sleep(0.05)
        self.port = int(port_file.read_text())
        self.base = f"http://127.0.0.1:{self.port}"
        self.login_url = self.base + "/Pc/Upld_Login.aspx"
        self.sink_url = self.base + "/sink"
        self._opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))

    def journal(self) -> list[dict]:
        with self._opener.open(self.base + "/_control/journal", timeout=30) as answer:
            return json.loads(answer.read())

    def reset(self) -> None:
        request = urllib.request.Request(self.base + "/_control/reset", data=b"", method="POST")
        with self._opener.open(request, timeout=30) as answer:
            answer.read()

    def last_sink(self) -> dict:
        sinks = [e for e in self.journal() if e["endpoint"] == "sink"]
        if not sinks:
            raise BenchError("the sink recorded no request")
        return sinks[-1]

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.log.close()


def check_sink_entry(entry: dict, size: int, sha256: str, who: str) -> float:
    """The sink's own duration of a request (headers in to answer out), after checking
    that it received exactly the file."""
    files = entry.get("files") or []
    if entry.get("answer") != "success" or not files:
        raise BenchError(
            f"{who}: the sink answered {entry.get('answer')!r} ({entry.get('reason')})"
        )
    if files[0]["size"] != size or files[0]["sha256"] != sha256:
        raise BenchError(
            f"{who}: the sink received {files[0]['size']} bytes, "
            f"sha256 {files[0]['sha256'][:12]}, not the file"
        )
    return entry["finished"] - entry["started"]


# --- files ---------------------------------------------------------------------------------


def random_file(path: Path, size: int) -> str:
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        left = size
        while left:
            block = os.urandom(min(left, 4 * MiB))
            digest.update(block)
            out.write(block)
            left -= len(block)
    return digest.hexdigest()


def sparse_file(path: Path, size: int) -> None:
    with open(path, "wb") as out:
        out.truncate(size)


def zeros_sha256(size: int) -> str:
    digest = hashlib.sha256()
    block = bytes(MiB)
    left = size
    while left:
        take = min(left, MiB)
        digest.update(block[:take])
        left -= take
    return digest.hexdigest()


# --- the uploader's debugger lines on this process's clock --------------------------------


@dataclass
class Event:
    t: float  # seconds on the same clock as now()
    tid: str
    text: bytes


def tick_to_now(tick_ms: int, reference: float) -> float:
    """Wine's 32-bit millisecond tick as a now() value, unwrapped near reference."""
    wrap = 2**32
    base = int(reference * 1000) - (int(reference * 1000) % wrap)
    candidates = [base + tick_ms - wrap, base + tick_ms, base + tick_ms + wrap]
    return min(candidates, key=lambda c: abs(c - reference * 1000)) / 1000.0


def debug_events(stderr: bytes, reference: float) -> list[Event]:
    """The debugger lines of a run under TIMED_DEBUG, read by winedrive's one reader."""
    return [
        Event(tick_to_now(line.tick_ms, reference), line.thread, line.text)
        for line in wd.read_debug_lines(stderr)
        if line.tick_ms is not None
    ]


def first(events, start: int, test) -> int:
    for i in range(start, len(events)):
        if test(events[i]):
            return i
    return -1


def is_status(code: int):
    return lambda e: e.text == f"Status: {code}\n".encode()


def is_retired(e: Event) -> bool:
    return e.text.startswith(b"job retired")


# --- one uploader run, watched from outside ---------------------------------------------


class UploaderRun:
    """A hand-over as a host application makes it: VistoraHost starts the uploader with the
    count, pokes the names and executes "upload" (and with wait, waits for the uploader to
    end and reports what is left in temp). The uploader inherits the host's Unix stderr, so
    its debugger output (with Wine's tick timestamps) lands in the host's winedrive log; its
    memory is sampled from /proc and its temp folder watched from outside."""

    def __init__(self, install: wd.Install, files: list[Path], tag: str, count: int, wait: bool):
        self.install = install
        self.out_path = install.folder / f"{tag}.out"
        self.samples: list[tuple[float, int, int]] = []  # (time, VmRSS kB, VmHWM kB)
        self.deleted: dict[str, float] = {}
        self._watched = {p.name: p for p in files}
        self._stop = threading.Event()
        args = ["handover", "--exe", wd.windows_path(install.exe), "--count", str(count)]
        if wait:
            args += ["--wait", "1800"]
        args += [wd.windows_path(f) for f in files]
        with open(self.out_path, "wb") as out:
            self.started = now()
            self.host = wd.start_windows(
                wd.BIN / "VistoraHost.exe",
                *args,
                env_extra={"WINEDEBUG": TIMED_DEBUG},
                cwd=str(install.folder),
                stdout=out,
            )
        self.err_path: Path = self.host.stderr_path
        self.pid = self._find_pid()
        self._threads = [
            threading.Thread(target=self._sample_memory, daemon=True),
            threading.Thread(target=self._watch_temp, daemon=True),
        ]
        for thread in self._threads:
            thread.start()

    def _find_pid(self) -> int:
        """The Linux process whose command line is this install's exe (Wine renames its
        process so: the Unix path when started from Linux, the Windows path when a Windows
        program started it); other sessions' uploaders have other paths."""
        wanted = {str(self.install.exe).encode(), wd.windows_path(self.install.exe).encode()}
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            for entry in os.listdir("/proc"):
                if not entry.isdigit():
                    continue
                try:
                    with open(f"/proc/{entry}/cmdline", "rb") as f:
                        argv0 = f.read().split(b"\0")[0]
                except OSError:
                    continue
                if argv0 in wanted:
                    return int(entry)
            if self.host.poll() is not None:
                deadline = min(deadline, time.monotonic() + 5)
            time.sleep(0.01)
        raise BenchError(
            f"no process of {self.install.exe} found; the host said: "
            f"{self.out_path.read_bytes()[-300:]!r}"
        )

    def alive(self) -> bool:
        try:
            with open(f"/proc/{self.pid}/status") as f:
                return "\nState:\tZ" not in f.read()
        except OSError:
            return False

    def _sample_memory(self) -> None:
        while not self._stop.is_set():
            try:
                with open(f"/proc/{self.pid}/status") as f:
                    status = f.read()
            except OSError:
                return
            if "VmHWM:" not in status or "VmRSS:" not in status:
                return  # exiting: its memory is gone already
            rss = int(status.split("VmRSS:")[1].split()[0])
            hwm = int(status.split("VmHWM:")[1].split()[0])
            self.samples.append((now(), rss, hwm))
            time.sleep(MEMORY_SAMPLE_S)

    def _watch_temp(self) -> None:
        while not self._stop.is_set() and len(self.deleted) < len(self._watched):
            present = set(os.listdir(self.install.temp))
            t = now()
            for name in self._watched:
                if name not in present and name not in self.deleted:
                    self.deleted[name] = t
            time.sleep(TEMP_WATCH_S)

    def wait_end(self, timeout: float) -> bool:
        """Waits for the uploader to end; False when it still runs after timeout."""
        deadline = time.monotonic() + timeout
        while self.alive() and time.monotonic() < deadline:
            time.sleep(0.05)
        ended = not self.alive()
        if ended:
            self._stop.set()
            for thread in self._threads:
                thread.join(timeout=5)
        return ended

    def host_result(self, timeout: float = 60) -> int:
        return self.host.wait(timeout=timeout)

    def host_said(self) -> str:
        return self.out_path.read_bytes().decode("cp932", "replace").strip()

    def kill(self) -> None:
        if self.alive():
            os.kill(self.pid, 9)
        if self.host.poll() is None:
            self.host.kill()
            self.host.wait(timeout=30)
        self._stop.set()

    @property
    def peak_kib(self) -> int:
        return max((s[2] for s in self.samples), default=0)

    def rss_at(self, t: float) -> int:
        """VmRSS (kB) of the last sample at or before t."""
        before = [s for s in self.samples if s[0] <= t]
        return before[-1][1] if before else 0

    def stderr_bytes(self) -> bytes:
        return self.err_path.read_bytes()

    def events(self) -> list[Event]:
        return debug_events(self.stderr_bytes(), self.started)

    def crash_signs(self) -> list[str]:
        return [mark.decode() for mark in wd.crash_marks(self.stderr_bytes())]

    def check_no_crash(self, who: str) -> None:
        if self.crash_signs():
            raise BenchError(
                f"{who}: Wine reported a crash ({self.crash_signs()}); see {self.err_path}"
            )


def new_install(folder: Path, service: Service) -> wd.Install:
    shutil.rmtree(folder, ignore_errors=True)
    install = wd.Install(folder)
    install.write_ini(
        LoginUrl=service.login_url, UploadUrl=service.sink_url, LoginName=ACCOUNT, Password=PASSWORD
    )
    return install


# --- the Windows helpers -----------------------------------------------------------------


def run_helper(
    exe: str, *args, timeout: float, debug: str = BENCH_DEBUG
) -> subprocess.CompletedProcess:
    """One run of a helper (which may start the uploader: its stderr comes along), checked
    for its exit code and for crash marks."""
    result = wd.run_windows(wd.BIN / exe, *args, timeout=timeout, env_extra={"WINEDEBUG": debug})
    if result.returncode != 0:
        raise BenchError(
            f"{exe} failed ({result.returncode}): "
            f"{result.stdout.decode('ascii', 'replace')[-500:]} "
            f"{result.stderr.decode('latin-1')[-500:]}"
        )
    marks = wd.crash_marks(result.stderr)
    if marks:
        raise BenchError(f"{exe}: Wine reported a crash ({marks})")
    return result


def helper_json_lines(exe: str, *args, timeout: float) -> list[dict]:
    out = run_helper(exe, *args, timeout=timeout).stdout.decode("ascii", "replace")
    return [json.loads(line) for line in out.splitlines() if line.startswith("{")]


def clock_check() -> str:
    """Wine's tick count and CLOCK_MONOTONIC_RAW must be one clock: the debugger
    timestamps are compared with times taken here."""
    best = None
    for _ in range(5):
        before = now()
        result = run_helper("ConsoleReady.exe", "tick", timeout=60)
        after = now()
        tick = tick_to_now(int(result.stdout.split()[0]), before)
        if not before - 0.002 <= tick <= after + 0.002:
            raise BenchError(
                f"Wine's tick count ({tick:.3f}) is not on CLOCK_MONOTONIC_RAW "
                f"({before:.3f}..{after:.3f}); the timelines would be wrong"
            )
        if best is None or after - before < best:
            best = after - before
    return (
        f"Wine's GetTickCount fell inside CLOCK_MONOTONIC_RAW brackets 5 of 5 times "
        f"(tightest {best * 1000:.0f} ms)"
    )


# --- the report -------------------------------------------------------------------------


@dataclass
class Row:
    case: str
    uploader: str
    floor: str
    goal: str
    verdict: str
    beside: str  # ratios to the outside references, for information


@dataclass
class Report:
    quick: bool
    rows: list[Row] = field(default_factory=list)
    details: list[str] = field(default_factory=list)
    goals: list[str] = field(default_factory=list)

    def judge(self, passed: bool) -> str:
        if self.quick:
            return "not judged (quick)"
        return "PASS" if passed else "FAIL"

    def say(self, text: str = "") -> None:
        print(text, flush=True)
        self.details.append(text)

    def table(self, order: list[str]) -> str:
        head = [
            "case",
            "uploader",
            "the design's floor (this run)",
            "goal",
            "result",
            "beside it (information)",
        ]
        rows = sorted(
            self.rows,
            key=lambda r: next(i for i, name in enumerate(order) if r.case.startswith(name)),
        )
        lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        lines += [
            f"| {r.case} | {r.uploader} | {r.floor} | {r.goal} | {r.verdict} | {r.beside} |"
            for r in rows
        ]
        return "\n".join(lines)


@dataclass
class Context:
    """What a case gets: the report, the service, a work folder, the run's size, and a
    place for measurements that two cases share (the transfer and memory uploads)."""

    report: Report
    service: Service
    work: Path
    quick: bool
    shared: dict = field(default_factory=dict)
