"""Shared by the fault tests: running the uploader against a misbehaving service."""

import math
import socket
import time
from dataclasses import dataclass, field

import uploader_runs
import winedrive as wd

TIMED_OUT = ("警告", "タイムアウトしました。サーバから応答がありません。")
LOGIN_FAILED = ("警告", "ログインに失敗しました")
WRONG_LOGIN = ("警告", "パスワードもしくはログインネームが異なります")
RECEIVE_ERROR = ("警告", "受信にエラーが起こりました。")
UPLOAD_FAILED = ("警告", "アップロードに失敗しました")


def unused_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@dataclass
class Outcome:
    seen: list = field(default_factory=list)  # (caption, message) of each alert, in order
    elapsed: float = 0.0  # from the hand-over to the uploader's end
    cpu: float = 0.0  # CPU seconds the uploader used, as last seen while it ran
    uploader: wd.Uploader | None = None  # the run, for its debugger lines


def run(install, album, files, limit, *, close_after=None, before_handover=None) -> Outcome:
    """Hands files over with their count and answers alerts until the uploader ends (or,
    with close_after, until that condition holds, when the window is closed)."""
    clicker = uploader_runs.AlertClicker()
    uploader = wd.Uploader(install, len(files))
    outcome = Outcome(uploader=uploader)
    try:
        window = uploader.main_window()
        clicker.start()
        if before_handover is not None:
            before_handover()
        result = uploader_runs.hand_over(install, files, "--count", len(files), wait=None)
        assert result.returncode == 0, result.stderr
        started = time.monotonic()
        while uploader.running():
            assert time.monotonic() - started < limit, "the uploader hung"
            if close_after is not None and close_after():
                wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
                close_after = None
            cpu = uploader.cpu_seconds()
            if not math.isnan(cpu):  # NaN once the process has gone
                outcome.cpu = cpu
            time.sleep(0.2)
        outcome.elapsed = time.monotonic() - started
    finally:
        clicker.stop()
        uploader.kill()
    assert uploader.process.returncode == 0
    outcome.seen = clicker.seen
    return outcome
