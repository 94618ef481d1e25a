"""Helpers for the end-to-end tests of whole runs: the album service, a configured
install, a host hand-over, and a watcher that records what the main window shows."""

from __future__ import annotations

import subprocess
import threading
import time
from pathlib import Path

import winedrive as wd

ACCOUNT = "taro.yamada@example.jp"
# Valid, and holding every byte a standard query parser reads as something else.
PUNCTUATED_ACCOUNT = "taro+x%41&y#z@example.jp"
PASSWORD = "ひみつのpass"
# The longest a test holds a file open for another program.
HOLD_LIMIT_MS = 120_000


def configure(
    install: wd.Install, service, account: str = ACCOUNT, password: str | None = PASSWORD
) -> None:
    keys = {"LoginUrl": service.login_url, "UploadUrl": service.upload_url}
    if account is not None:
        keys["LoginName"] = account
    if password is not None:
        keys["Password"] = password
    install.write_ini(**keys)


def make_files(folder: Path, count: int, size: int = 20000, prefix: str = "photo") -> list[Path]:
    files = []
    for index in range(count):
        path = folder / f"{prefix}{index + 1}.jpg"
        path.write_bytes(bytes((index * 7 + n) % 251 for n in range(size)))
        files.append(path)
    return files


def hand_over(
    install: wd.Install, files, *options, wait: float | None = 120, report: Path | None = None
):
    """The host tool's hand-over of files; with report, the outcome also goes to that file
    as JSON. A file whose very bytes already wait in temp under its name (a run before kept
    it) is handed over as it waits, as a host hands a leftover over again: the tool copies
    nothing over a waiting file."""
    args = ["--exe", wd.windows_path(install.exe), *map(str, options)]
    if wait is not None:
        args += ["--wait", str(wait)]
    if report is not None:
        args += ["--report", wd.windows_path(report)]
    for f in files:
        waiting = install.temp / Path(f).name
        kept = waiting.is_file() and waiting.read_bytes() == Path(f).read_bytes()
        args.append(wd.windows_path(waiting if kept else f))
    return wd.host_handover(*args, timeout=(wait or 60) + 60)


def controls(window: dict) -> dict:
    found = {}
    for child in wd.children(window["hwnd"]):
        found.setdefault((child["class"], child["id"]), child)
    return found


class Watcher(threading.Thread):
    """Records, while the main window lives, the list's status column, each change once."""

    def __init__(self):
        super().__init__(daemon=True)
        self.states: list[list[str]] = []
        self._stopping = threading.Event()

    def run(self) -> None:
        try:
            # The window can be found while its WM_CREATE still builds the controls.
            def queue_list():
                window = wd.find_window()
                return window and controls(window).get(("SysListView32", 1003))

            view = wd.poll(lambda: self._stopping.is_set() or queue_list(), timeout=60)
            if not isinstance(view, dict):
                return
            while not self._stopping.is_set() and wd.exists(view["hwnd"]):
                states = wd.row_states(view["hwnd"])
                if not self.states or self.states[-1] != states:
                    self.states.append(states)
                time.sleep(0.02)
        finally:
            wd.close_probe()

    def stop(self) -> None:
        self._stopping.set()
        self.join(timeout=30)


def debug_values(uploader: wd.Uploader, prefix: str) -> list[str]:
    """What the uploader wrote to the debugger after prefix, one entry per line."""
    head = prefix.encode("cp932")
    return [
        line[len(head) :].decode("cp932").rstrip("\n")
        for line in uploader.debug_lines()
        if line.startswith(head)
    ]


def overall_positions(uploader: wd.Uploader) -> list[int]:
    return [int(value) for value in debug_values(uploader, "overall bar ")]


def status_labels(uploader: wd.Uploader) -> list[str]:
    return debug_values(uploader, "status label ")


def transfer_runs(uploader: wd.Uploader) -> list[list[int]]:
    """The transfer bar's positions as the jobs set them, one list per job (each job
    starts its run at 0)."""
    runs: list[list[int]] = []
    for value in debug_values(uploader, "transfer bar "):
        position = int(value)
        if position == 0 and (not runs or runs[-1][-1] != 0):
            runs.append([])
        runs[-1].append(position)
    return runs


def wait_for_states(states: list[str], timeout: float = 60) -> None:
    """Waits until the list's status column reads exactly states."""

    def shown() -> bool:
        window = wd.find_window()
        view = controls(window).get(("SysListView32", 1003)) if window else None
        return bool(view) and wd.row_states(view["hwnd"]) == states

    if not wd.poll(shown, timeout):
        raise TimeoutError(f"the list never showed {states}")


def assert_nothing_lost(
    install: wd.Install, service, originals: dict[Path, bytes], account: str = ACCOUNT
) -> None:
    """Every file that left the temp folder is at the service with exactly its bytes."""
    held = service.stored_files(account)
    for path, data in originals.items():
        if not (install.temp / path.name).exists():
            assert held.get(path.name) == data, f"{path.name} left temp without arriving whole"


def hold(path: Path) -> subprocess.Popen:
    """Opens path without sharing in another Windows process, as an editor or a scanner
    still writing a photo would, until the returned process is ended; returns once the
    file is held."""
    holder = wd.start_windows(
        wd.BIN / "UiProbe.exe", "hold", wd.windows_path(path), HOLD_LIMIT_MS, stdout=subprocess.PIPE
    )
    assert b'"held":true' in holder.stdout.readline(), f"{path} could not be held"
    return holder


def release(holder: subprocess.Popen) -> None:
    holder.kill()
    holder.wait(timeout=30)


def uploads(service) -> list[dict]:
    return [e for e in service.journal() if e["endpoint"] == "upload"]


def logins(service) -> list[dict]:
    return [e for e in service.journal() if e["endpoint"] == "login"]


class AlertClicker(threading.Thread):
    """Answers every dialog box of the uploader with OK (or, with answer False, leaves it
    open) and records (caption, message) of each; boxes whose caption is in leave it
    neither answers nor records."""

    def __init__(self, answer: bool = True, leave: tuple[str, ...] = ()):
        super().__init__(daemon=True)
        self.seen: list[tuple[str, str]] = []
        self.answer = answer
        self.leave = leave
        self._stopping = threading.Event()

    def run(self) -> None:
        answered = set()
        try:
            while not self._stopping.is_set():
                window = wd.find_window()
                if window is not None:
                    for dialog in wd.dialogs(window["pid"]):
                        if dialog["hwnd"] in answered or dialog["title"] in self.leave:
                            continue
                        answered.add(dialog["hwnd"])
                        self.seen.append((dialog["title"], wd.message_text(dialog)))
                        if self.answer:
                            wd.click(dialog["hwnd"], 1)
                time.sleep(0.05)
        finally:
            wd.close_probe()

    def stop(self) -> None:
        self._stopping.set()
        self.join(timeout=30)
