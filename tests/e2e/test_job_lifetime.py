"""Destroying the main window while a job is in each of its phases: the teardown stops
the job, waits for its thread and its handles, and the program ends cleanly, every time,
the same way for the same phase.

VISTORA_STRESS_ROUNDS sets how often each phase is tried (2 by default).
"""

import os
import time

import pytest

import uploader_runs
import winedrive as wd
from album_service import Fault

ROUNDS = int(os.environ.get("VISTORA_STRESS_ROUNDS", "2"))
RETIRED = b"job retired: its thread has ended and its handles are closed\n"
# A request whose answer never came stays open inside WinINet until the connection gives
# up; its job is kept (not destroyed) until then, with its thread ended all the same.
SET_ASIDE = b"job set aside: its thread has ended, WinINet still holds a request\n"
# The service's answer after it stored the photo, well inside the second and more that the
# window's teardown pauses before it stops an upload (FinishUpload's pause after a failed
# attempt and its first pause around the job's retirement).
ANSWER_AFTER_QUIT = 0.5


def wait_for_debug(uploader, text: bytes, count: int = 1, timeout: float = 30) -> None:
    seen = wd.poll(
        lambda: sum(text in line for line in uploader.debug_lines()) >= count, timeout=timeout
    )
    assert seen, f"never saw {text!r}"


def destroy_and_check(uploader, window, teardown: bytes) -> None:
    """Destroys the window; the phase's job is taken down as teardown says, last."""
    wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
    # The longest teardown: the upload's pauses, the retirement and the window's own second.
    assert uploader.wait(timeout=30) == 0
    teardowns = [
        line
        for line in uploader.debug_lines()
        if line.startswith(b"job ") and line[4:].startswith((b"retired", b"set aside"))
    ]
    assert teardowns and teardowns[-1] == teardown, teardowns
    assert b"job set aside: its thread has not ended\n" not in teardowns


def start_run(start_uploader, install, sources, size=20000):
    files = uploader_runs.make_files(sources, 1, size=size)
    uploader = start_uploader(1)
    window = uploader.main_window()
    result = uploader_runs.hand_over(install, files, "--count", 1, wait=None)
    assert result.returncode == 0, result.stderr
    return uploader, window


# Each phase: the service's behaviour that holds the job there, how the test knows it got
# there, and how the job is then taken down: retired, or, when WinINet still holds a
# request whose answer never came, set aside with its thread ended.


def login_phase(phase, album):
    if phase == "open":
        # The login has just started: opening, sending or waiting for the quick answer.
        return RETIRED, lambda up, w: wait_for_debug(up, "status label ログイン中".encode("cp932"))
    if phase == "wait":
        album.set_faults([Fault(endpoint="login", delay=30)])
        return SET_ASIDE, lambda up, w: wait_for_debug(up, b"REQUEST_SENT")
    if phase == "read":
        album.set_faults([Fault(endpoint="login", body="A" * 30, drip=0.4, process=True)])
        return RETIRED, lambda up, w: (wait_for_debug(up, b"REQUEST_SENT"), time.sleep(1.5))
    album.set_faults([Fault(endpoint="login", body="fail")])
    return RETIRED, lambda up, w: wd.wait_for_dialog(w["pid"], "警告")


def upload_phase(phase, album, install):
    """Also the file's size, whether the service stores it before the teardown, and
    whether the photo stays in temp."""
    uploading = lambda: uploader_runs.wait_for_states(["アップ中"])  # noqa: E731
    if phase == "send":
        # A large body: the stop meets it being built or sent; a part of it may arrive.
        return RETIRED, 50 * 1024 * 1024, None, True, lambda up, w: uploading()
    if phase == "wait":
        album.set_faults([Fault(endpoint="upload", delay=30)])
        return SET_ASIDE, 20000, True, True, lambda up, w: (uploading(), time.sleep(1.0))
    if phase == "read":
        # Judged on its fourth byte, long after the teardown has stopped the job: the job
        # reads on through the teardown's pauses.
        album.set_faults([Fault(endpoint="upload", body="success", drip=2.0, process=True)])
        return RETIRED, 20000, True, True, lambda up, w: (uploading(), time.sleep(1.5))
    if phase == "answered":
        # The user quits as the photo is stored; "success" follows inside the teardown's
        # pauses, and the job reads it before it is stopped: the photo is delivered.
        album.set_faults([Fault(endpoint="upload", delay=ANSWER_AFTER_QUIT)])
        stored = lambda: "photo1.jpg" in album.stored_files(uploader_runs.ACCOUNT)  # noqa: E731
        return RETIRED, 20000, True, False, lambda up, w: wd.poll(stored, timeout=30, interval=0.01)
    # A scheme in capitals is not one the client knows: the connection fails at once and
    # the job shows its alert.
    ini = install.ini.read_bytes().decode("cp932")
    install.ini.write_bytes(ini.replace("UploadUrl=http://", "UploadUrl=HTTP://").encode("cp932"))
    return RETIRED, 20000, False, True, lambda up, w: wd.wait_for_dialog(w["pid"], "警告")


@pytest.mark.parametrize("round_", range(ROUNDS))
@pytest.mark.parametrize("phase", ["open", "wait", "read", "alert"])
def test_destroying_the_window_during_a_login(
    phase, round_, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    teardown, reached = login_phase(phase, album)
    uploader, window = start_run(start_uploader, install, sources)
    reached(uploader, window)
    destroy_and_check(uploader, window, teardown)
    assert uploader_runs.uploads(album) == []
    assert (install.temp / "photo1.jpg").exists()


@pytest.mark.parametrize("round_", range(ROUNDS))
@pytest.mark.parametrize("phase", ["send", "wait", "read", "answered", "alert"])
def test_destroying_the_window_during_an_upload(
    phase, round_, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    teardown, size, stored, kept, reached = upload_phase(phase, album, install)
    uploader, window = start_run(start_uploader, install, sources, size=size)
    reached(uploader, window)
    destroy_and_check(uploader, window, teardown)
    # A stopped upload keeps its file, whatever the service holds; one the service
    # confirmed before the job was stopped does not.
    name = "photo1.jpg"
    assert (install.temp / name).exists() == kept
    if stored is not None:
        assert (name in album.stored_files(uploader_runs.ACCOUNT)) == stored
    if stored:
        assert len(uploader_runs.uploads(album)) == 1
