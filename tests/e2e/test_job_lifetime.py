"""Destroying the main window while a job is in each of its phases: the teardown stops
the job, waits for its thread and its handles, and the program ends cleanly, every time.

VISTORA_STRESS_ROUNDS sets how often each phase is tried (2 by default).
"""
import os
import time

import pytest

import road
import winedrive as wd
from album_service import Fault

ROUNDS = int(os.environ.get("VISTORA_STRESS_ROUNDS", "2"))
RETIRED = b"job retired: its thread has ended and its handles are closed\n"
# A request whose answer never came stays open inside WinINet until the connection gives
# up; its job is kept (not destroyed) until then, with its thread ended all the same.
SET_ASIDE = b"job set aside: its thread has ended, WinINet still holds a request\n"


def wait_for_debug(uploader, text: bytes, count: int = 1, timeout: float = 30) -> None:
    seen = wd.poll(lambda: sum(text in line for line in uploader.debug_lines()) >= count,
                   timeout=timeout)
    assert seen, f"never saw {text!r}"


def destroy_and_check(uploader, window) -> None:
    wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
    # The longest teardown: the upload's pauses, the retirement and the window's own second.
    assert uploader.wait(timeout=30) == 0
    lines = uploader.debug_lines()
    assert RETIRED in lines or SET_ASIDE in lines, lines[-20:]
    assert b"job set aside: its thread has not ended\n" not in lines


def start_run(start_uploader, install, sources, size=20000):
    files = road.make_files(sources, 1, size=size)
    uploader = start_uploader(1)
    window = uploader.main_window()
    result = road.hand_over(install, files, "--count", 1, wait=None)
    assert result.returncode == 0, result.stderr
    return uploader, window


def login_phase(phase, album):
    """Service faults that hold a login in a phase, and how to know it got there."""
    if phase == "wait":
        album.set_faults([Fault(endpoint="login", delay=30)])
        return lambda up, w: wait_for_debug(up, b"REQUEST_SENT")
    if phase == "read":
        album.set_faults([Fault(endpoint="login", body="A" * 30, drip=0.4, process=True)])
        return lambda up, w: (wait_for_debug(up, b"REQUEST_SENT"), time.sleep(1.5))
    if phase == "alert":
        album.set_faults([Fault(endpoint="login", body="fail")])
        return lambda up, w: wd.wait_for_dialog(w["pid"], "警告")
    # Right after the upload command: opening, sending or draining, as timing has it.
    return lambda up, w: time.sleep(0.15 * (hash(phase) % 4))


def upload_phase(phase, album, install):
    uploading = lambda: road.wait_for_states(["アップ中"])  # noqa: E731
    if phase == "send":
        return 50 * 1024 * 1024, lambda up, w: uploading()
    if phase == "wait":
        album.set_faults([Fault(endpoint="upload", delay=30)])
        return 20000, lambda up, w: (uploading(), time.sleep(1.0))
    if phase == "read":
        album.set_faults([Fault(endpoint="upload", body="success", drip=1.0, process=True)])
        return 20000, lambda up, w: (uploading(), time.sleep(1.5))
    if phase == "alert":
        # A scheme in capitals is not one the client knows: the connection fails at once
        # and the job shows its alert.
        ini = install.ini.read_bytes().decode("cp932")
        install.ini.write_bytes(ini.replace("UploadUrl=http://", "UploadUrl=HTTP://").encode("cp932"))
        return 20000, lambda up, w: wd.wait_for_dialog(w["pid"], "警告")
    return 20000, lambda up, w: (uploading(), time.sleep(0.1 * (hash(phase) % 5)))


@pytest.mark.parametrize("round_", range(ROUNDS))
@pytest.mark.parametrize("phase", ["open", "wait", "read", "alert", "drain"])
def test_destroying_the_window_during_a_login(phase, round_, install, album, sources,
                                              start_uploader):
    road.configure(install, album)
    reached = login_phase(phase, album)
    uploader, window = start_run(start_uploader, install, sources)
    reached(uploader, window)
    destroy_and_check(uploader, window)
    assert road.uploads(album) == []


@pytest.mark.parametrize("round_", range(ROUNDS))
@pytest.mark.parametrize("phase", ["send", "wait", "read", "alert", "drain"])
def test_destroying_the_window_during_an_upload(phase, round_, install, album, sources,
                                                start_uploader):
    road.configure(install, album)
    size, reached = upload_phase(phase, album, install)
    uploader, window = start_run(start_uploader, install, sources, size=size)
    reached(uploader, window)
    destroy_and_check(uploader, window)
    # Stopped uploads keep their file; one that finished before the stop is at the service.
    name = "photo1.jpg"
    assert (install.temp / name).exists() or name in album.stored_files(road.ACCOUNT)
