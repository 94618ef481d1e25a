"""What the user or the host can do while one of the uploader's modal loops is open (an
alert, the close question, the login dialog) or while it sits in a teardown's pause. The
program ends once, exit code 0, keeps every file it did not deliver, never tears a job
down twice, and sends nothing after the user has quit.
"""

import hashlib
import time

import pytest

import uploader_runs
import winedrive as wd
from album_service import Fault
from uploader_wire import multipart_body

EXIT_COMMAND = 40001
IDYES = 6
LOGIN_DIALOG = "Vistoraに接続します。"
# DisposeJob reports each job it takes away with one of these lines.
TEARDOWN_MARKS = (b"job retired", b"job set aside")
# The status line of WinINet beginning to send a request (INTERNET_STATUS_SENDING_REQUEST).
SENDING = b"Status: 30\n"
# A close that came while the close question was open, and was turned away.
SECOND_CLOSE = b"close question already open\n"


def close(window: dict, how: str) -> None:
    """Ends the program as a user would: File > Exit, or the close box answered "はい"."""
    if how == "exit":
        wd.post(window["hwnd"], wd.WM_COMMAND, EXIT_COMMAND)
        return
    wd.post(window["hwnd"], wd.WM_CLOSE)
    question = wd.wait_for_dialog(window["pid"], "注意")
    wd.click(question["hwnd"], IDYES)


def teardowns(uploader) -> int:
    return sum(line.startswith(TEARDOWN_MARKS) for line in uploader.debug_lines())


def job_alerts(uploader) -> list[str]:
    prefix = b"job alert: "
    return [
        line[len(prefix) :].decode("cp932").rstrip("\n")
        for line in uploader.debug_lines()
        if line.startswith(prefix)
    ]


def assert_ended_cleanly(uploader) -> None:
    assert uploader.wait(timeout=60) == 0


def start_run(start_uploader, install, files):
    uploader = start_uploader(len(files))
    window = uploader.main_window()
    result = uploader_runs.hand_over(install, files, "--count", len(files), wait=None)
    assert result.returncode == 0, result.stderr
    return uploader, window


@pytest.mark.parametrize("how", ["exit", "close"])
def test_closing_while_the_give_up_alert_is_open(how, install, album, sources, start_uploader):
    uploader_runs.configure(install, album)
    album.set_faults([Fault(endpoint="upload", body="fail")])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    alert = wd.wait_for_dialog(window["pid"], "警告", timeout=120)
    assert wd.message_text(alert) == "アップロードに失敗しました"

    close(window, how)
    assert_ended_cleanly(uploader)
    # One login and eleven uploads, each job taken away once; no teardown found the last
    # upload again and reported it as interrupted.
    assert len(uploader_runs.uploads(album)) == 11
    assert teardowns(uploader) == 12
    assert job_alerts(uploader) == ["アップロードに失敗しました"]
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()


@pytest.mark.parametrize("how", ["exit", "close"])
def test_closing_while_the_login_failure_alert_is_open(
    how, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album, password="wrong password")
    before = install.ini.read_bytes()
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    job_alert = wd.wait_for_dialog(window["pid"], "警告", timeout=30)
    wd.click(job_alert["hwnd"], 1)
    wd.wait_gone(job_alert["hwnd"])
    alert = wd.wait_for_dialog(window["pid"], "警告", timeout=30)
    assert wd.message_text(alert) == "ログインに失敗しました"

    close(window, how)
    assert_ended_cleanly(uploader)
    assert teardowns(uploader) == 1
    assert uploader_runs.uploads(album) == []
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").exists()


@pytest.mark.parametrize("how", ["exit", "close"])
def test_closing_while_the_login_dialog_is_open(how, install, album, sources, start_uploader):
    uploader_runs.configure(install, album, account=None, password=None)
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    wd.wait_for_dialog(window["pid"], LOGIN_DIALOG, timeout=30)
    recorder = uploader_runs.AlertClicker(answer=False)
    recorder.start()

    close(window, how)
    assert_ended_cleanly(uploader)
    recorder.stop()
    # The user chose to leave: no login goes out afterwards, and no alert says it failed.
    assert uploader_runs.logins(album) == []
    assert ("警告", "ログインに失敗しました") not in recorder.seen
    assert teardowns(uploader) == 0
    assert (install.temp / "photo1.jpg").exists()


def test_an_upload_command_while_the_login_dialog_is_open_opens_no_second_one(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album, account=None, password=None)
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    dialog = wd.wait_for_dialog(window["pid"], LOGIN_DIALOG, timeout=30)

    code, answer = wd.host_raw("execute", "System", "--text", "upload")
    assert answer["result"] == "ack"
    code, answer = wd.host_raw("poke", "Upload", "Filename", "--text", "later.jpg")
    assert answer["result"] == "ack"
    time.sleep(1.0)
    assert [d["title"] for d in wd.dialogs(window["pid"])] == [LOGIN_DIALOG]

    # The one dialog still logs in, and the run goes on as the count says.
    wd.set_dialog_text(dialog["hwnd"], 1000, uploader_runs.ACCOUNT)
    wd.set_dialog_text(dialog["hwnd"], 1001, uploader_runs.PASSWORD)
    wd.click(dialog["hwnd"], 1)
    assert_ended_cleanly(uploader)
    assert len(uploader_runs.logins(album)) == 1
    assert sorted(album.stored_files(uploader_runs.ACCOUNT)) == ["photo1.jpg"]


def test_closing_while_a_body_is_sent_sends_only_the_files_bytes(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    # A body larger than the socket buffers take on loopback (a few MB), which the service
    # begins to read only 2 s after the request: the stop, a second after the close,
    # comes while WinINet is still sending, and the service reads the rest before the
    # program has ended. The close comes once WinINet has begun to send: before that, a
    # quit keeps the request from going out at all.
    album.set_faults([Fault(endpoint="upload", hold_body=2.0)])
    files = uploader_runs.make_files(sources, 1, size=8 * 1024 * 1024)
    uploader, window = start_run(start_uploader, install, files)
    # The login's request is the first to be sent, the upload's the second.
    assert wd.poll(lambda: uploader.debug_lines().count(SENDING) >= 2, 60)

    close(window, "exit")
    assert_ended_cleanly(uploader)
    # Between the login's teardown and the stop, WinINet took less than the photo.
    lines = uploader.debug_lines()
    stopped = lines.index(b"SendRequest: request failed\n")
    upload_began = max(i for i, line in enumerate(lines[:stopped]) if line.startswith(b"job "))
    sent = [line for line in lines[upload_began:stopped] if line.startswith(b"REQUEST_SENT: ")]
    data = files[0].read_bytes()
    assert sum(int(line.split(b": ")[1]) for line in sent) < len(data), (
        "the body was sent whole before the stop"
    )
    # The service may still be reading what went out before the program ended.
    wd.poll(lambda: all(entry["finished"] for entry in uploader_runs.uploads(album)), timeout=30)
    received = uploader_runs.uploads(album)
    assert len(received) == 1 and received[0]["body_length"] > 0, received
    # What arrived is the beginning of the body, byte for byte. It may be the whole body:
    # the piece in WinINet's hands at the stop still goes out, and it can be the last one.
    body = multipart_body(b"photo1.jpg", data)
    arrived = received[0]["body_length"]
    assert received[0]["body_sha256"] == hashlib.sha256(body[:arrived]).hexdigest()
    assert (install.temp / "photo1.jpg").read_bytes() == data


@pytest.mark.parametrize("endpoint", ["login", "upload"])
def test_a_stop_while_the_answer_is_awaited_interrupts(
    endpoint, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    # The status line comes at once, the first byte of the answer only much later.
    album.set_faults([Fault(endpoint=endpoint, body="success", drip=30, process=True)])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    # An upload's answer is awaited after the login's.
    answers = 2 if endpoint == "upload" else 1
    assert wd.poll(
        lambda: uploader.debug_lines().count(b"HTTP status 200\n") >= answers, timeout=30
    ), "the answer was never awaited"
    time.sleep(0.5)

    close(window, "exit")
    assert_ended_cleanly(uploader)
    assert job_alerts(uploader) == ["ユーザーにより中断されました。"]
    assert (install.temp / "photo1.jpg").exists()


def test_a_second_close_asks_no_second_question_and_yes_ends_the_program(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    # The upload's answer comes long after the test: the run sits in its wait throughout.
    album.set_faults([Fault(endpoint="upload", body="success", delay=120)])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    # The row reads "アップ中" as the job starts, a moment before its request goes out; a
    # quit before that sends nothing, so the test waits until the service has it.
    assert wd.poll(lambda: len(uploader_runs.uploads(album)) == 1, 60)

    wd.post(window["hwnd"], wd.WM_CLOSE)
    question = wd.wait_for_dialog(window["pid"], "注意")
    wd.post(window["hwnd"], wd.WM_CLOSE)

    def questions():
        return [d["hwnd"] for d in wd.dialogs(window["pid"]) if d["title"] == "注意"]

    # The second close has been handled once it was turned away, or once it asked again.
    assert wd.poll(lambda: SECOND_CLOSE in uploader.debug_lines() or len(questions()) > 1, 30)
    assert questions() == [question["hwnd"]]

    wd.click(question["hwnd"], IDYES)
    assert_ended_cleanly(uploader)
    # The one upload under way when the user quit, and nothing after it.
    assert len(uploader_runs.uploads(album)) == 1
    assert teardowns(uploader) == 2
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()


def test_exit_in_the_pause_after_a_failed_upload_starts_no_retry(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    before = install.ini.read_bytes()
    album.set_faults([Fault(endpoint="upload", body="fail", times=1)])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    # Each run leaves the transfer bar at 100 right before it posts its completion; the
    # second is the upload's, whose teardown and the pause before the retry then hold the
    # UI thread for 2.6 s.
    assert wd.poll(lambda: uploader.debug_lines().count(b"transfer bar 100\n") >= 2, 60)

    close(window, "exit")
    assert_ended_cleanly(uploader)
    # No retry was started, let alone sent, and the quit saved nothing.
    assert len(uploader_runs.uploads(album)) == 1
    assert teardowns(uploader) == 2
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
