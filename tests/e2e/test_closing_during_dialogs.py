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
IDNO = 7
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
    # An alert has no owner, and nor has the close question it meets.
    assert alert["owner"] == 0

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
    dialog = wd.wait_for_dialog(window["pid"], LOGIN_DIALOG, timeout=30)
    assert dialog["owner"] == window["hwnd"]
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


# A photo the service reads at 2 MiB/s through a small receive buffer: its send takes
# about 4 s, and what the socket holds at its end leaves within about 2 s more. The quits
# fall before the first piece has gone, through the send, around the moment the body's
# end is handed over and while its answer is awaited.
SLOW_PHOTO = 8 * 1024 * 1024
SLOW_READ_RATE = 2 * 1024 * 1024
QUIT_MOMENTS = [0.5, 1.5, 2.5, 3.5, 4.5, 6.0]


@pytest.mark.parametrize("after", QUIT_MOMENTS)
def test_after_a_quit_during_a_send_the_photo_is_at_the_album_or_in_temp(
    after, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    album.set_faults([Fault(endpoint="upload", read_rate=SLOW_READ_RATE)])
    files = uploader_runs.make_files(sources, 1, size=SLOW_PHOTO)
    data = files[0].read_bytes()
    uploader, window = start_run(start_uploader, install, files)
    # The login's request is the first to be sent, the upload's the second.
    assert wd.poll(lambda: uploader.debug_lines().count(SENDING) >= 2, 60)
    time.sleep(after)

    close(window, "exit")
    assert_ended_cleanly(uploader)
    # The service may still be reading what went out before the program ended.
    assert wd.poll(
        lambda: all(entry["finished"] for entry in uploader_runs.uploads(album)), timeout=30
    )
    stored = album.stored_files(uploader_runs.ACCOUNT)
    kept = (install.temp / "photo1.jpg").exists()
    # Never both (the next hand-over would store it a second time), never neither.
    assert kept != ("photo1.jpg" in stored), (after, stored.keys(), kept)
    if kept:
        # What arrived is the beginning of the body, byte for byte, and never all of it.
        received = uploader_runs.uploads(album)
        assert len(received) == 1, received
        body = multipart_body(b"photo1.jpg", data)
        arrived = received[0]["body_length"]
        assert arrived < len(body)
        assert received[0]["body_sha256"] == hashlib.sha256(body[:arrived]).hexdigest()
        assert (install.temp / "photo1.jpg").read_bytes() == data
    else:
        assert stored["photo1.jpg"] == data


def test_a_stop_while_the_logins_answer_is_awaited_interrupts(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    # The status line comes at once, the first byte of the answer only much later.
    album.set_faults([Fault(endpoint="login", body="success", drip=30, process=True)])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    assert wd.poll(lambda: b"HTTP status 200\n" in uploader.debug_lines(), timeout=30), (
        "the answer was never awaited"
    )
    time.sleep(0.5)

    close(window, "exit")
    assert_ended_cleanly(uploader)
    assert job_alerts(uploader) == ["ユーザーにより中断されました。"]
    assert (install.temp / "photo1.jpg").exists()


# The album stores the photo once it has it whole, then answers: "success" 4 s later, or
# at once a short answer that never says "success" (the job waits out its minute for more).
AWAITED_ANSWERS = {
    "success later": (Fault(endpoint="upload", delay=4, process=True), True),
    "short answer": (Fault(endpoint="upload", body="s", process=True), False),
}
# The teardown's line once the answer it awaited has ended without a verdict.
ANSWER_ENDED = b"quit: the answer ended without a verdict\n"


@pytest.mark.parametrize("answer", list(AWAITED_ANSWERS))
def test_a_quit_while_an_uploads_answer_is_awaited_waits_for_it(
    answer, install, album, sources, start_uploader
):
    fault, stored_said = AWAITED_ANSWERS[answer]
    uploader_runs.configure(install, album)
    album.set_faults([fault])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    assert wd.poll(lambda: len(uploader_runs.uploads(album)) == 1, 60)
    if not stored_said:
        # The job has read the whole answer, and no "success" in it.
        assert wd.poll(lambda: b"s\r\n" in uploader.debug_lines(), 30)

    close(window, "exit")
    # The DDE service went first thing, while the process still awaits the answer.
    code, _ = wd.host_raw("--timeout", "2000", "connect", "System")
    assert code == 3
    assert uploader.running() or not stored_said
    assert_ended_cleanly(uploader)
    assert album.stored_files(uploader_runs.ACCOUNT) == {"photo1.jpg": files[0].read_bytes()}
    if stored_said:
        # Stopped after the usual second, the job would have left the stored photo in temp.
        assert not (install.temp / "photo1.jpg").exists()
        assert job_alerts(uploader) == []
        assert ANSWER_ENDED not in uploader.debug_lines()
    else:
        # An answer that has ended says no more: the quit waits no longer for it, and the
        # photo stays, as the answer never said it was stored.
        assert ANSWER_ENDED in uploader.debug_lines()
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
    assert question["owner"] == 0
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


@pytest.mark.parametrize("into_pause", [0.0, 1.9], ids=["teardown pause", "retry pause"])
def test_a_key_pressed_in_a_pause_is_answered_before_the_retry_starts(
    into_pause, install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    album.set_faults([Fault(endpoint="upload", body="fail", times=1)])
    files = uploader_runs.make_files(sources, 1)
    uploader, window = start_run(start_uploader, install, files)
    # As in the test above: the upload's teardown and the pause before the retry hold the
    # UI thread for 2.6 s. The user's Alt+F4 comes in either, through the input queue.
    assert wd.poll(lambda: uploader.debug_lines().count(b"transfer bar 100\n") >= 2, 60)
    time.sleep(into_pause)
    assert wd.keys(window["hwnd"], wd.VK_MENU, wd.VK_F4)

    question = wd.wait_for_dialog(window["pid"], "注意", timeout=30)
    # The question came before the retry, and holds it while it is open.
    time.sleep(1.0)
    assert len(uploader_runs.uploads(album)) == 1
    # "いいえ": the run goes on with the retry it held.
    wd.click(question["hwnd"], IDNO)
    assert_ended_cleanly(uploader)
    assert len(uploader_runs.uploads(album)) == 2
    assert album.stored_files(uploader_runs.ACCOUNT) == {"photo1.jpg": files[0].read_bytes()}
