"""Helpers for the end-to-end tests of whole runs: the album service, a configured
install, a host hand-over, and a watcher that records what the main window shows."""
from __future__ import annotations

import threading
import time
from pathlib import Path

import winedrive as wd

ACCOUNT = "taro.yamada@example.jp"
PASSWORD = "ひみつのpass"
PBM_GETPOS = 0x0408


def configure(install: wd.Install, service, account: str = ACCOUNT,
              password: str | None = PASSWORD) -> None:
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


def hand_over(install: wd.Install, files, *options, wait: float | None = 120):
    args = ["--exe", wd.windows_path(install.exe), *map(str, options)]
    if wait is not None:
        args += ["--wait", str(wait)]
    args += [wd.windows_path(f) for f in files]
    return wd.host_handover(*args, timeout=(wait or 60) + 60)


def controls(window: dict) -> dict:
    found = {}
    for child in wd.children(window["hwnd"]):
        found.setdefault((child["class"], child["id"]), child)
    return found


class Watcher(threading.Thread):
    """Records, while the main window lives, the overall bar's positions, the status
    label's texts and the list's states, each change once."""

    def __init__(self):
        super().__init__(daemon=True)
        self.positions: list[int] = []
        self.labels: list[str] = []
        self.states: list[list[str]] = []
        self._stopping = threading.Event()

    def _note(self, values: list, value) -> None:
        if value is not None and (not values or values[-1] != value):
            values.append(value)

    def run(self) -> None:
        window = None
        deadline = time.monotonic() + 60
        while window is None and not self._stopping.is_set() and time.monotonic() < deadline:
            window = wd.find_window()
            time.sleep(0.05)
        if window is None:
            return
        found = controls(window)
        bar = found.get(("msctls_progress32", 1005))
        view = found.get(("SysListView32", 1003))
        while not self._stopping.is_set():
            if wd.find_window() is None:
                return
            self._note(self.positions, wd.send(bar["hwnd"], PBM_GETPOS))
            texts = {c["id"]: c["text"] for c in wd.children(window["hwnd"])}
            self._note(self.labels, texts.get(1004))
            try:
                self._note(self.states, wd.row_states(view["hwnd"]))
            except Exception:
                return
            time.sleep(0.1)

    def stop(self) -> None:
        self._stopping.set()
        self.join(timeout=30)


def wait_for_states(states: list[str], timeout: float = 60) -> None:
    """Waits until the list's status column reads exactly states."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        window = wd.find_window()
        if window is not None:
            view = controls(window).get(("SysListView32", 1003))
            if view and wd.row_states(view["hwnd"]) == states:
                return
        time.sleep(0.1)
    raise TimeoutError(f"the list never showed {states}")


def uploads(service) -> list[dict]:
    return [e for e in service.journal() if e["endpoint"] == "upload"]


def logins(service) -> list[dict]:
    return [e for e in service.journal() if e["endpoint"] == "login"]


class AlertClicker(threading.Thread):
    """Answers every dialog box of the uploader with OK (or, with answer False, leaves it
    open) and records (caption, message) of each."""

    def __init__(self, answer: bool = True):
        super().__init__(daemon=True)
        self.seen: list[tuple[str, str]] = []
        self.answer = answer
        self._stopping = threading.Event()

    def run(self) -> None:
        answered = set()
        while not self._stopping.is_set():
            window = wd.find_window()
            if window is not None:
                for dialog in wd.dialogs(window["pid"]):
                    if dialog["hwnd"] in answered:
                        continue
                    answered.add(dialog["hwnd"])
                    self.seen.append((dialog["title"], wd.message_text(dialog)))
                    if self.answer:
                        wd.click(dialog["hwnd"], 1)
            time.sleep(0.2)

    def stop(self) -> None:
        self._stopping.set()
        self.join(timeout=30)
