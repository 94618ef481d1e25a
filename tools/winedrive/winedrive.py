"""Drives the project's Windows programs under Wine and looks at them from outside.

Used by the end-to-end tests and the demo. Expects the environment that
scripts/with-wine.sh sets up (WINEPREFIX, DISPLAY, a running wineserver).
"""

from __future__ import annotations

import atexit
import contextlib
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VISTORA_BUILD_DIR", ROOT / "build"))
BIN = Path(os.environ.get("VISTORA_BIN", BUILD / "bin"))

UPLOADER_EXE = "VistoraUploader.exe"
WINDOW_CLASS = "TAVIKVISTORAUPLOAD"
WINDOW_TITLE = "TavikVistoraUploader"

WM_CLOSE = 0x0010
WM_COMMAND = 0x0111


def windows_path(path: Path | str) -> str:
    """The Wine (Z: drive) name of a Linux path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def sha256_of(path: Path | str) -> str:
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def decode(hex_text: str) -> str:
    """Text that UiProbe printed as hex of its UTF-8 bytes (it reads texts through the
    wide functions, as Windows shows them)."""
    return bytes.fromhex(hex_text).decode("utf-8")


# The project's prefix: the Japanese system locale, code page 932.
JAPANESE_LOCALE = {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}
# An English system locale, code page 1252. Wine takes its system locale from the Unix
# character type, and falls back to English (United States) for C.UTF-8, the one besides
# ja_JP.UTF-8 that every Debian has; its UTF-8 keeps the Unix names of files what they are
# in the Japanese prefix. (With en_US.UTF-8 itself in LC_ALL but not generated, Wine runs
# in the C locale, whose ASCII refuses every file name beyond it.)
ENGLISH_LOCALE = {"LANG": "en_US.UTF-8", "LC_ALL": None, "LC_CTYPE": "C.UTF-8"}

# The environment of the desktop that winedrive's programs run in now (see Desktop); a
# None drops the variable.
_desktop_env: dict[str, str | None] = {}


def wine_env(extra: dict | None = None) -> dict:
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(BUILD / "wineprefix"))
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=;winedbg.exe=d")  # see wine-env.sh
    env.setdefault("WINEDEBUG", "-all")
    env.update(JAPANESE_LOCALE)
    for proxy in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(proxy, None)
    for name, value in _desktop_env.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    if extra:
        env.update(extra)
    return env


# Every Windows program that this module starts (and every uploader such a program starts,
# since a child keeps its parent's stderr) writes Wine's stderr to a file of its own that
# is kept for the crash check. The err class stays on: a crash shows as err:seh.
PROGRAM_DEBUG = "fixme-all,warn+debugstr,warn+heap"
# What Wine writes to stderr when a program crashes or its C runtime aborts, and, with
# warn+heap, when it frees a block twice ("delayed freed block").
CRASH_MARKS = (
    b"Unhandled",
    b"page fault",
    b"err:seh",
    b"Backtrace",
    b"Assertion",
    b"wine: Call from",
    b"warn:heap",
)

# Each remembered run log with how far crashes_seen() has read it. A run that outlives a
# test (the UiProbe server) is live: it is read on from there at every check, up to its
# last whole line, and forgotten only once it has ended and been read to its end.
_run_logs: dict[Path, int] = {}
_live_logs: set[Path] = set()
_log_folder: Path | None = None


def new_run_log(tag: str, live: bool = False) -> Path:
    """A fresh stderr file for one program run, remembered for crashes_seen(); live for a
    run that outlives the test that started it (end_live_log() when it has ended). The
    files go when the Python process ends."""
    global _log_folder
    if _log_folder is None:
        _log_folder = Path(tempfile.mkdtemp(prefix="vistora-runs-"))
        atexit.register(shutil.rmtree, _log_folder, ignore_errors=True)
    path = _log_folder / f"{tag}-{time.monotonic_ns()}.err"
    _run_logs[path] = 0
    if live:
        _live_logs.add(path)
    return path


def end_live_log(path: Path) -> None:
    """The live run has ended: the next check reads the rest of its log and forgets it."""
    _live_logs.discard(path)


def cpu_seconds(pid: int) -> float:
    """User and system CPU time a process has used so far; NaN once it is gone. A Windows
    program keeps the Linux process id that wine started it with."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return float("nan")


def crash_marks(stderr: bytes) -> list[bytes]:
    return [mark for mark in CRASH_MARKS if mark in stderr]


# A line of Wine's own debug channels, as against what the program itself wrote to stderr.
WINE_CHANNEL_LINE = re.compile(r"^(?:\d+\.\d{3}:)?(?:[0-9a-f]+:){1,2}(?:err|warn|fixme|trace):")


def own_output(stderr: str) -> str:
    """What a program wrote to stderr, without Wine's debug-channel lines."""
    return "\n".join(line for line in stderr.splitlines() if not WINE_CHANNEL_LINE.match(line))


def crashes_seen() -> list[str]:
    """Every remembered run whose stderr holds a crash mark not reported before, with the
    marks and the end of what was read; then forgets the runs that have ended. The tests'
    conftest calls this before and after every test."""
    found = []
    for path, start in list(_run_logs.items()):
        stderr = path.read_bytes()[start:] if path.exists() else b""
        live = path in _live_logs
        if live:
            # A line still being written is read whole at the next check.
            stderr = stderr[: stderr.rfind(b"\n") + 1]
        marks = crash_marks(stderr)
        if marks:
            tail = stderr[-1500:].decode("latin-1")
            found.append(f"{path.name}: {marks}\n{tail}")
        if live:
            _run_logs[path] = start + len(stderr)
        else:
            del _run_logs[path]
    return found


def start_windows(
    program: Path | str, *args, env_extra: dict | None = None, live: bool = False, **kwargs
) -> subprocess.Popen:
    """Starts a Windows program beside the caller; its stderr goes to a remembered file
    (a live one, see new_run_log, for a program that outlives the test)."""
    env = wine_env({"WINEDEBUG": PROGRAM_DEBUG, **(env_extra or {})})
    stderr_path = new_run_log(Path(program).stem, live=live)
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    with open(stderr_path, "wb") as err:
        process = subprocess.Popen(
            ["wine", str(program), *map(str, args)], env=env, stderr=err, **kwargs
        )
    process.stderr_path = stderr_path
    return process


def run_windows(
    program: Path | str, *args, timeout: float = 60, **kwargs
) -> subprocess.CompletedProcess:
    """Runs a Windows console program to its end and captures its output as bytes.

    The output goes through files, not pipes: a Windows process that the program starts
    keeps Wine's Unix stderr (Wine's debug channel), and a pipe would stay open until that
    process ends too.
    """
    with tempfile.TemporaryFile() as out:
        process = start_windows(program, *args, stdout=out, **kwargs)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        return subprocess.CompletedProcess(
            process.args, process.returncode, out.read(), process.stderr_path.read_bytes()
        )


# --- UiProbe -------------------------------------------------------------------------


class Probe:
    """One long-lived UiProbe in "serve" mode: a question costs about a millisecond,
    where a Windows process per question cost a good part of a second of CPU.

    Not shared between threads: each thread gets its own (see probe()). Waits happen
    here, in Python, so that a long wait never holds the probe.
    """

    def __init__(self):
        self._process = None

    def _start(self) -> None:
        # Checked for crash marks like every other run, at every check while it serves.
        self._process = start_windows(
            BIN / "UiProbe.exe", "serve", live=True, stdin=subprocess.PIPE, stdout=subprocess.PIPE
        )

    def ask(self, *args):
        """Runs one command; returns (status, parsed answer)."""
        line = "\t".join(map(str, args)) + "\n"
        for _attempt in range(2):
            if self._process is None or self._process.poll() is not None:
                self._start()
            try:
                self._process.stdin.write(line.encode("ascii"))
                self._process.stdin.flush()
                answer = self._process.stdout.readline()
            except (BrokenPipeError, OSError):
                answer = b""
            if answer:
                reply = json.loads(answer)
                return reply["status"], reply["out"]
            self.close()
        raise RuntimeError(f"UiProbe did not answer {args!r}")

    def close(self) -> None:
        if self._process is not None:
            try:
                self._process.stdin.close()
            except OSError:
                pass  # a probe that died leaves a broken pipe; it is waited for all the same
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
            end_live_log(self._process.stderr_path)
            self._process = None


_probes = threading.local()


def probe() -> Probe:
    """This thread's probe, started on first use."""
    if getattr(_probes, "probe", None) is None:
        _probes.probe = Probe()
    return _probes.probe


def close_probe() -> None:
    """Ends this thread's probe; threads that used one call this before they end."""
    if getattr(_probes, "probe", None) is not None:
        _probes.probe.close()
        _probes.probe = None


def _decode_texts(value):
    if isinstance(value, dict):
        return {
            k: (decode(v) if k in ("text", "title") and isinstance(v, str) else _decode_texts(v))
            for k, v in value.items()
        }
    if isinstance(value, list):
        return [_decode_texts(v) for v in value]
    return value


def poll(condition, timeout: float, interval: float = 0.02):
    """condition() until it gives something true, at most timeout seconds; its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def find_window(
    class_name: str = WINDOW_CLASS, title: str = WINDOW_TITLE, timeout: float = 0
) -> dict | None:
    def found():
        status, window = probe().ask("find", class_name, title)
        return _decode_texts(window) if status == 0 else None

    return poll(found, timeout)


def children(hwnd: int) -> list[dict]:
    return _decode_texts(probe().ask("children", hwnd)[1])


def list_view(hwnd: int) -> dict:
    data = probe().ask("listview", hwnd)[1]
    return {
        "columns": _decode_texts(data["columns"]),
        "rows": [
            {"param": r["param"], "cells": [decode(c) for c in r["cells"]]} for r in data["rows"]
        ],
    }


def row_states(hwnd: int) -> list[str]:
    """The status column of a list view, row by row."""
    return [row["cells"][0] for row in list_view(hwnd)["rows"]]


def dialogs(pid: int = 0) -> list[dict]:
    return _decode_texts(probe().ask("dialogs", pid)[1])


def message_text(dialog: dict) -> str:
    """The message of a message box: its static control 0xFFFF."""
    for control in dialog["controls"]:
        if control["id"] == 0xFFFF:
            return control["text"]
    return ""


def wait_for_dialog(pid: int, title: str | None = None, timeout: float = 20) -> dict:
    def shown():
        return next((d for d in dialogs(pid) if title is None or d["title"] == title), None)

    dialog = poll(shown, timeout)
    if dialog is None:
        raise TimeoutError(f"no dialog {title!r} of process {pid} within {timeout} s")
    return dialog


def click(dialog_hwnd: int, button_id: int) -> None:
    probe().ask("click", dialog_hwnd, button_id)


VK_MENU = 0x12
VK_F4 = 0x73


def keys(hwnd: int, *virtual_keys: int) -> bool:
    """Brings a window to the front and types a chord of keys (Alt+F4: VK_MENU, VK_F4)
    through the input queue of its prefix, as a user's keys arrive."""
    return probe().ask("keys", hwnd, *virtual_keys)[0] == 0


def post(hwnd: int, message: int, wparam: int = 0, lparam: int = 0) -> bool:
    return probe().ask("post", hwnd, message, wparam, lparam)[0] == 0


def send(hwnd: int, message: int, wparam: int = 0, lparam: int = 0) -> int | None:
    """SendMessage with a 2 s limit; None when the window did not answer."""
    answer = probe().ask("send", hwnd, message, wparam, lparam)[1]
    return answer["result"] if answer["answered"] else None


def set_dialog_text(dialog_hwnd: int, control_id: int, text: str) -> bool:
    return probe().ask("settext", dialog_hwnd, control_id, text.encode("utf-8").hex())[0] == 0


def realised_face(name: str, charset: int) -> str:
    """The face GDI gives a font request of that name and character set in this prefix."""
    return decode(probe().ask("face", name.encode("utf-8").hex(), charset)[1])


def module_paths(pid: int) -> list[str]:
    """The Windows paths of the modules a process of this prefix has loaded."""
    return [decode(path) for path in probe().ask("modules", pid)[1]]


def modules(pid: int) -> list[str]:
    """The file names of the modules a process of this prefix has loaded, in lower case."""
    return [path.rsplit("\\", 1)[-1].lower() for path in module_paths(pid)]


def desktop_settings() -> dict:
    """The system's ANSI code page ("codepage") and the screen's DPI ("dpi") that the
    current desktop gives its programs."""
    return probe().ask("desktop")[1]


def ink(hwnd: int) -> dict:
    """What a control shows on the screen: its "size" [width, height] and the "ink", the
    box [left, top, right, bottom] around its pixels that differ from its background
    (relative to the control), or None when it shows nothing but background."""
    return probe().ask("ink", hwnd)[1]


def exists(hwnd: int) -> bool:
    return probe().ask("exists", hwnd)[0] == 0


def wait_gone(hwnd: int, timeout: float = 20) -> bool:
    return poll(lambda: not exists(hwnd), timeout)


def terminate(pid: int) -> bool:
    """Ends a Windows process of this prefix by its id."""
    return probe().ask("terminate", pid)[0] == 0


# --- Desktops set as other Windows systems are ------------------------------------------

# Where Windows keeps the display's scale (LogPixels, 96 at 100 %); Wine reads both when
# its wineserver starts.
LOG_PIXELS_KEYS = (
    r"HKCU\Control Panel\Desktop",
    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts",
)


class Desktop:
    """A Wine prefix of its own beside the current one, a copy of it set as another
    Windows desktop is: another system locale (its ANSI code page) or another display
    scale. A wineserver keeps the locale it started with, and reads the scale as it
    starts, so each such desktop has its own folder and wineserver. Made by desktop();
    inside active(), every program winedrive starts (the probe among them) runs there."""

    def __init__(self, name: str, locale: dict, log_pixels: int | None):
        self.name = name
        self.locale = locale
        self.log_pixels = log_pixels
        self.prefix = Path(f"{wine_env()['WINEPREFIX']}-{name}")

    def _env(self) -> dict:
        return {"WINEPREFIX": str(self.prefix), **self.locale}

    def _run(self, *command: str) -> None:
        """One of Wine's own commands in this desktop, its output dropped."""
        with active_env(self._env()):
            subprocess.run(
                command,
                env=wine_env(),
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                check=False,
                timeout=120,
            )

    def _start(self) -> None:
        self._run("wineserver", "-p")
        # Wine's own background processes start now, detached from any test's output, as
        # scripts/wine-env.sh has them start for the project's prefix.
        self._run("wine", "cmd", "/c", "exit")

    def _stop(self) -> None:
        self._run("wineserver", "-k")
        self._run("wineserver", "-w")

    def prepare(self) -> None:
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", wine_env()["WINEPREFIX"], str(self.prefix)], check=True)
        self._start()
        if self.log_pixels is not None:
            with self.active():
                value = ["/v", "LogPixels", "/t", "REG_DWORD", "/d", str(self.log_pixels)]
                for key in LOG_PIXELS_KEYS:
                    result = run_windows("reg", "add", key, *value, "/f")
                    if result.returncode != 0:
                        raise RuntimeError(f"reg add {key} failed: {result.stderr[-500:]!r}")
            self._stop()
            self._start()

    def remove(self) -> None:
        self._stop()
        shutil.rmtree(self.prefix, ignore_errors=True)

    @contextlib.contextmanager
    def active(self):
        # This thread's probe runs in the prefix it started in: it starts anew on each side.
        close_probe()
        with active_env(self._env()):
            try:
                yield self
            finally:
                close_probe()


@contextlib.contextmanager
def active_env(env: dict):
    """The environment wine_env() gives, with env over the current desktop's, meanwhile."""
    global _desktop_env
    before = _desktop_env
    _desktop_env = {**before, **env}
    try:
        yield
    finally:
        _desktop_env = before


@contextlib.contextmanager
def desktop(name: str, locale: dict | None = None, log_pixels: int | None = None):
    """A Desktop named name beside the current prefix, with the system locale of locale
    (JAPANESE_LOCALE, ENGLISH_LOCALE) and the display scale of log_pixels (144 for
    150 %); made anew, and taken down with its wineserver afterwards."""
    made = Desktop(name, locale or JAPANESE_LOCALE, log_pixels)
    try:
        made.prepare()
        yield made
    finally:
        made.remove()


# --- The uploader ----------------------------------------------------------------------


@dataclass
class Install:
    """A private copy of the uploader in a folder of its own, with its temp folder; with
    copy False, the uploader that the folder already holds (an unpacked release, say)."""

    folder: Path
    copy: bool = True

    def __post_init__(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        if self.copy:
            shutil.copy2(BIN / UPLOADER_EXE, self.exe)
        self.temp.mkdir(exist_ok=True)

    @property
    def exe(self) -> Path:
        return self.folder / UPLOADER_EXE

    @property
    def temp(self) -> Path:
        return self.folder / "temp"

    @property
    def ini(self) -> Path:
        return self.folder / "Vistora.ini"

    def write_ini(self, **keys: str) -> None:
        lines = ["[WebAlbum]"] + [f"{k}={v}" for k, v in keys.items()]
        self.ini.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp932"))


# One line of a program's debugger output as Wine prints it with warn+debugstr: led by the
# thread's id (with "+pid", the process's and the thread's), and with "+timestamp" by the
# seconds.milliseconds of Wine's tick.
DEBUG_LINE = re.compile(
    rb'^(?:(\d+)\.(\d{3}):)?((?:[0-9a-f]+:){0,2})warn:debugstr:OutputDebugStringA "(.*)"$'
)


@dataclass
class DebugLine:
    text: bytes
    tick_ms: int | None = None  # Wine's GetTickCount value, with +timestamp
    thread: str | None = None  # the writing thread's id, as Wine prints it


def read_debug_lines(stderr: bytes) -> list[DebugLine]:
    """The strings a program passed to OutputDebugStringA, from Wine's stderr: the one
    reader of the debugger lines for the tests and the benchmarks."""
    lines = []
    for raw in stderr.splitlines():
        m = DEBUG_LINE.match(raw)
        if m:
            tick = int(m.group(1)) * 1000 + int(m.group(2)) if m.group(1) else None
            ids = m.group(3).decode().rstrip(":").split(":")
            lines.append(DebugLine(_unescape_debug(m.group(4)), tick, ids[-1] or None))
    return lines


def debug_strings(stderr: bytes) -> list[bytes]:
    """Just the texts of read_debug_lines."""
    return [line.text for line in read_debug_lines(stderr)]


def _unescape_debug(text: bytes) -> bytes:
    """Wine prints debug strings C-escaped; returns the original bytes."""
    out = bytearray()
    i = 0
    simple = {ord("n"): b"\n", ord("r"): b"\r", ord("t"): b"\t", ord("\\"): b"\\", ord('"'): b'"'}
    while i < len(text):
        c = text[i]
        if c != ord("\\"):
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt in simple:
            out += simple[nxt]
            i += 2
        elif nxt == ord("x"):
            out.append(int(text[i + 2 : i + 4], 16))
            i += 4
        elif chr(nxt).isdigit():
            j = i + 1
            while j < len(text) and j < i + 4 and text[j] in b"01234567":
                j += 1
            out.append(int(text[i + 1 : j], 8))
            i = j
        else:
            out.append(nxt)
            i += 2
    return bytes(out)


class Uploader:
    """One run of the uploader under Wine, with its debugger output captured."""

    def __init__(self, install: Install, *args, cwd: Path | None = None):
        self.install = install
        self.args = [str(a) for a in args]
        self.process = start_windows(
            install.exe, *self.args, cwd=str(cwd or install.folder), stdout=subprocess.DEVNULL
        )
        self.stderr_path = self.process.stderr_path
        self.started = time.monotonic()

    @property
    def pid(self) -> int:
        window = self.main_window(timeout=0)
        return window["pid"] if window else 0

    def main_window(self, timeout: float = 20) -> dict | None:
        """The main window once it is shown (it exists a moment before that)."""
        deadline = time.monotonic() + timeout
        while True:
            window = find_window(timeout=max(0.0, deadline - time.monotonic()))
            if window is None or window["visible"] or time.monotonic() > deadline:
                return window
            time.sleep(0.05)

    def wait(self, timeout: float = 30) -> int:
        return self.process.wait(timeout=timeout)

    def running(self) -> bool:
        return self.process.poll() is None

    def kill(self) -> None:
        if self.running():
            self.process.kill()
            self.process.wait(timeout=30)

    def debug_lines(self) -> list[bytes]:
        return debug_strings(self.stderr_path.read_bytes())

    def cpu_seconds(self) -> float:
        """CPU time the uploader has used so far (NaN once it has ended)."""
        return cpu_seconds(self.process.pid)


def xdotool_key(window: dict, keys: str) -> None:
    """Types keys into a top-level window through the X server, as a user would."""
    title = window["text"]
    found = subprocess.run(
        ["xdotool", "search", "--name", f"^{re.escape(title)}$"],
        capture_output=True,
        text=True,
        timeout=10,
    )
    x_ids = found.stdout.split()
    if not x_ids:
        raise RuntimeError(f"no X window titled {title!r}")
    subprocess.run(["xdotool", "windowfocus", "--sync", x_ids[0]], check=True, timeout=10)
    subprocess.run(["xdotool", "key", "--clearmodifiers", keys], check=True, timeout=10)


# --- The host tool -----------------------------------------------------------------------


def host_raw(*args, timeout: float = 60):
    """One raw DDE transaction through VistoraHost; returns (exit code, parsed JSON)."""
    result = run_windows(BIN / "VistoraHost.exe", "raw", *args, timeout=timeout)
    out = result.stdout.decode("ascii", "replace").strip()
    return result.returncode, (json.loads(out.splitlines()[-1]) if out else None)


def host_handover(*args, timeout: float = 120) -> subprocess.CompletedProcess:
    """The host tool's hand-over mode; output decoded from code page 932."""
    result = run_windows(BIN / "VistoraHost.exe", "handover", *args, timeout=timeout)
    result.stdout = result.stdout.decode("cp932", "replace")
    result.stderr = result.stderr.decode("cp932", "replace")
    return result


def reply_bytes(answer: dict) -> bytes:
    return bytes.fromhex(answer["hex"])


# --- The prefix's network settings ---------------------------------------------------------

# Where Windows keeps the user's proxy, which a session opened with
# INTERNET_OPEN_TYPE_PRECONFIG follows.
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def _root_store(command: str, certificate: Path | str) -> str:
    result = run_windows(BIN / "RootStore.exe", command, windows_path(certificate))
    if result.returncode != 0:
        raise RuntimeError(f"RootStore {command} failed: {result.stderr[-500:]!r}")
    return result.stdout.decode("cp932").strip()


def trust_root(certificate: Path | str) -> str:
    """Adds a certificate (PEM or DER file) to the prefix's trusted root authorities, as
    an administrator would on Windows; returns RootStore's line naming its subject."""
    return _root_store("add", certificate)


def distrust_root(certificate: Path | str) -> str:
    """Takes a certificate out of the prefix's trusted root authorities again."""
    return _root_store("remove", certificate)


def set_internet_proxy(server: str | None) -> None:
    """Sets the prefix user's proxy ("host:port") as the Internet settings of Windows do,
    or, with None, switches it off."""
    values = [("ProxyEnable", "REG_DWORD", "1" if server else "0")]
    if server:
        values.append(("ProxyServer", "REG_SZ", server))
    for name, kind, data in values:
        result = run_windows(
            "reg", "add", INTERNET_SETTINGS, "/v", name, "/t", kind, "/d", data, "/f"
        )
        if result.returncode != 0:
            raise RuntimeError(f"reg add {name} failed: {result.stderr[-500:]!r}")
