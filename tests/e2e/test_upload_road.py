"""Whole runs: the host hands files over, the uploader logs in, uploads and ends.

Everywhere: a file leaves the temp folder only when the service stored exactly its bytes
and answered "success".
"""

import hashlib

import pytest

import uploader_runs
import winedrive as wd
from album_service import Fault


def stored(album, account=uploader_runs.ACCOUNT):
    return album.stored_files(account)


@pytest.mark.parametrize(
    "account, query_user_id",
    [
        (uploader_runs.ACCOUNT, uploader_runs.ACCOUNT),
        (uploader_runs.PUNCTUATED_ACCOUNT, "taro%2Bx%2541%26y%23z@example.jp"),
    ],
    ids=["plain-address", "address-with-query-characters"],
)
def test_three_announced_files_log_in_upload_and_end(
    install, album, sources, start_uploader, account, query_user_id
):
    uploader_runs.configure(install, album, account=account)
    files = uploader_runs.make_files(sources, 3)
    originals = {f: f.read_bytes() for f in files}
    uploader = start_uploader(3)
    uploader.main_window()
    result = uploader_runs.hand_over(install, files, "--count", 3)

    assert result.returncode == 0, result.stdout + result.stderr
    assert uploader.wait() == 0
    assert uploader_runs.overall_positions(uploader) == [0, 25, 50, 75, 100]
    assert uploader_runs.status_labels(uploader) == ["ログイン中"] + ["ログイン済"] * 3
    # The login and each upload end their request with the transfer bar at 100.
    runs = uploader_runs.transfer_runs(uploader)
    assert len(runs) == 4
    assert all(run[-1] == 100 for run in runs), runs
    assert list(install.temp.iterdir()) == []
    assert stored(album, account) == {f.name: data for f, data in originals.items()}
    sessions = [e["answer"] for e in uploader_runs.logins(album)]
    assert len(sessions) == 1
    login = uploader_runs.logins(album)[0]
    assert login["form"]["userId"] == account
    assert (
        login["form"]["hash"]
        == hashlib.sha1(uploader_runs.PASSWORD.encode("cp932")).hexdigest() + "\n"
    )
    # The service reads the query as a standard server does: the address arrives whole.
    for upload in uploader_runs.uploads(album):
        assert upload["raw_query"] == f"sessionId={sessions[0]}&userId={query_user_id}"
        assert upload["query"] == {"sessionId": sessions[0], "userId": account}
    # Saved without Shift: comment, section, name and password, each line ending in CR LF.
    lines = [
        "# Vistoraサーバー情報ファイル",
        "[WebAlbum]",
        f"LoginName={account}",
        f"Password={uploader_runs.PASSWORD}",
    ]
    assert install.ini.read_bytes() == "".join(f"{line}\r\n" for line in lines).encode("cp932")


def test_an_unreached_count_keeps_the_window_open_for_another_run(
    install, album, sources, start_uploader
):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 3)
    uploader = start_uploader(3)
    uploader.main_window()
    result = uploader_runs.hand_over(install, files[:2], "--count", 3, wait=None)
    assert result.returncode == 0, result.stderr
    uploader_runs.wait_for_states(["完了", "完了"])
    window = wd.find_window()
    # Idle again: the button, the run's busy flag, is enabled once more.
    assert wd.poll(lambda: uploader_runs.controls(window)[("Button", 1001)]["enabled"], timeout=20)
    # Login and two of three files; with no file left the bar goes on to 100.
    assert uploader_runs.overall_positions(uploader) == [0, 25, 50, 75, 100]

    # More files and another "upload": a new run on the same window.
    result = uploader_runs.hand_over(install, files[2:], wait=None)
    assert result.returncode == 0, result.stderr
    uploader_runs.wait_for_states(["完了", "完了", "完了"])
    assert sorted(stored(album)) == ["photo1.jpg", "photo2.jpg", "photo3.jpg"]
    assert len(uploader_runs.logins(album)) == 1


def test_without_a_count_the_run_ends_when_the_queue_drains(install, album, sources):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 2)
    result = uploader_runs.hand_over(install, files, "--no-count")
    assert result.returncode == 0, result.stdout + result.stderr
    assert sorted(stored(album)) == ["photo1.jpg", "photo2.jpg"]


def test_a_count_of_two_leaves_the_third_file_waiting(install, album, sources):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 3)
    result = uploader_runs.hand_over(install, files, "--count", 2)
    assert result.returncode == 1
    assert "still in temp: photo3.jpg" in result.stdout
    assert sorted(stored(album)) == ["photo1.jpg", "photo2.jpg"]
    assert (install.temp / "photo3.jpg").read_bytes() == files[2].read_bytes()


def test_a_refused_login_ends_the_program_without_saving(install, album, sources):
    uploader_runs.configure(install, album, password="wrong password")
    before = install.ini.read_bytes()
    files = uploader_runs.make_files(sources, 1)
    result = uploader_runs.hand_over(install, files, "--count", 1, wait=None)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    job_alert = wd.wait_for_dialog(window["pid"], "警告", timeout=30)
    assert wd.message_text(job_alert) == "パスワードもしくはログインネームが異なります"
    wd.click(job_alert["hwnd"], 1)
    wd.wait_gone(job_alert["hwnd"])
    controller_alert = wd.wait_for_dialog(window["pid"], "警告", timeout=30)
    assert wd.message_text(controller_alert) == "ログインに失敗しました"
    wd.click(controller_alert["hwnd"], 1)
    assert wd.wait_gone(window["hwnd"], timeout=30)
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").exists()
    assert uploader_runs.uploads(album) == []


def test_a_failed_upload_is_retried_and_then_succeeds(install, album, sources):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 1)
    album.set_faults([Fault(endpoint="upload", times=1, body=b"fail")])
    watcher = uploader_runs.Watcher()
    watcher.start()
    result = uploader_runs.hand_over(install, files, "--count", 1)
    watcher.stop()
    assert result.returncode == 0, result.stdout + result.stderr
    assert [e["answer"] for e in uploader_runs.uploads(album)] == ["fail", "success"]
    assert stored(album) == {"photo1.jpg": files[0].read_bytes()}
    assert ["アップ中"] in watcher.states


def test_an_upload_that_always_fails_is_given_up_after_eleven_attempts(install, album, sources):
    uploader_runs.configure(install, album)
    before = install.ini.read_bytes()
    files = uploader_runs.make_files(sources, 1)
    album.set_faults([Fault(endpoint="upload", body=b"fail")])
    result = uploader_runs.hand_over(install, files, "--count", 1, wait=None)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    alert = wd.wait_for_dialog(window["pid"], "警告", timeout=120)
    assert wd.message_text(alert) == "アップロードに失敗しました"
    assert len(uploader_runs.uploads(album)) == 11
    wd.click(alert["hwnd"], 1)
    assert wd.wait_gone(window["hwnd"], timeout=30)
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
    assert install.ini.read_bytes() == before
    assert stored(album) == {}


def test_a_name_without_its_file_cannot_start_an_upload(install, album, sources):
    uploader_runs.configure(install, album)
    result = wd.host_handover("--exe", wd.windows_path(install.exe), "--count", 1)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    code, answer = wd.host_raw("poke", "Upload", "Filename", "--text", "nowhere.jpg")
    assert answer["result"] == "ack"
    code, answer = wd.host_raw("execute", "System", "--text", "upload")
    alert = wd.wait_for_dialog(window["pid"], "警告", timeout=30)
    assert wd.message_text(alert) == "スレッドの作成に失敗しました"
    wd.click(alert["hwnd"], 1)
    assert uploader_runs.uploads(album) == []
    # At the start of a run that is all: the window stays for another hand-over.
    assert wd.poll(lambda: uploader_runs.controls(window)[("Button", 1001)]["enabled"], timeout=20)
    wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
    assert wd.wait_gone(window["hwnd"], timeout=30)


def test_new_login_data_during_an_upload_brings_a_new_login(install, album, sources):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 2)
    album.set_faults([Fault(endpoint="upload", times=1, delay=2.0)])
    result = uploader_runs.hand_over(install, files, "--count", 2, wait=None)
    assert result.returncode == 0, result.stderr
    uploader_runs.wait_for_states(["アップ中", "待機"])
    # Poked while the first upload waits for its answer.
    new_data = f"{album.login_url}\t{album.upload_url}\thanako@example.jp\tsecond pw\n"
    code, answer = wd.host_raw("poke", "Upload", "LoginData", "--hex", new_data.encode().hex())
    assert answer["result"] == "ack"
    window = wd.find_window()
    assert wd.wait_gone(window["hwnd"], timeout=60)
    kinds = [
        (e["endpoint"], e["form"].get("userId") or e["query"].get("userId"))
        for e in album.journal()
    ]
    assert kinds == [
        ("login", uploader_runs.ACCOUNT),
        ("upload", uploader_runs.ACCOUNT),
        ("login", "hanako@example.jp"),
        ("upload", "hanako@example.jp"),
    ]
    assert list(stored(album, "hanako@example.jp")) == ["photo2.jpg"]


def test_without_stored_credentials_the_login_dialog_asks(install, album, sources):
    uploader_runs.configure(install, album, account=None, password=None)
    files = uploader_runs.make_files(sources, 1)
    result = uploader_runs.hand_over(install, files, "--count", 1, wait=None)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    dialog = wd.wait_for_dialog(window["pid"], "Vistoraに接続します。", timeout=30)
    wd.set_dialog_text(dialog["hwnd"], 1000, "not an address")
    wd.set_dialog_text(dialog["hwnd"], 1001, uploader_runs.PASSWORD)
    wd.click(dialog["hwnd"], 1)
    complaint = wd.wait_for_dialog(window["pid"], "メールアドレスが不正です", timeout=20)
    assert wd.message_text(complaint) == "'@'がありません"
    wd.click(complaint["hwnd"], 1)
    wd.wait_gone(complaint["hwnd"])
    assert any(d["hwnd"] == dialog["hwnd"] for d in wd.dialogs(window["pid"]))

    wd.set_dialog_text(dialog["hwnd"], 1000, uploader_runs.ACCOUNT)
    wd.click(dialog["hwnd"], 1)
    assert wd.wait_gone(window["hwnd"], timeout=60)
    assert stored(album) == {"photo1.jpg": files[0].read_bytes()}
    # The typed values were saved at the end of the run.
    assert f"LoginName={uploader_runs.ACCOUNT}" in install.ini.read_bytes().decode("cp932")


def test_cancelling_the_login_dialog_ends_the_program(install, album, sources):
    uploader_runs.configure(install, album, account=None, password=None)
    files = uploader_runs.make_files(sources, 1)
    uploader_runs.hand_over(install, files, "--count", 1, wait=None)
    window = wd.find_window(timeout=20)
    dialog = wd.wait_for_dialog(window["pid"], "Vistoraに接続します。", timeout=30)
    wd.click(dialog["hwnd"], 2)
    alert = wd.wait_for_dialog(window["pid"], "警告", timeout=20)
    assert wd.message_text(alert) == "ログインに失敗しました"
    wd.click(alert["hwnd"], 1)
    assert wd.wait_gone(window["hwnd"], timeout=30)
    assert uploader_runs.logins(album) == []
    assert (install.temp / "photo1.jpg").exists()


def test_a_photo_another_program_holds_is_not_sent_until_it_can_be_read(
    install, album, sources, start_uploader
):
    # Its part header alone would reach the service as an empty photo that is stored,
    # confirmed and then deleted here.
    uploader_runs.configure(install, album)
    photo = uploader_runs.make_files(install.temp, 1, size=300 * 1024)[0]
    original = photo.read_bytes()
    uploader = start_uploader(1)
    uploader.main_window()
    holder = uploader_runs.hold(photo)
    try:
        wd.host_raw("poke", "Upload", "Filename", "--text", photo.name)
        wd.host_raw("execute", "System", "--text", "upload")
        # Held through the login and the first upload attempt, to its end.
        assert wd.poll(
            lambda: (
                len(uploader_runs.transfer_runs(uploader)) >= 2
                and uploader_runs.transfer_runs(uploader)[1][-1] == 100
            ),
            timeout=30,
        )
    finally:
        uploader_runs.release(holder)
    assert uploader.wait(timeout=60) == 0
    # No request carried the part header without the photo's bytes.
    assert [e["body_length"] > len(original) for e in uploader_runs.uploads(album)] == [True]
    assert stored(album) == {photo.name: original}
    assert not photo.exists()
    lines = uploader.debug_lines()
    assert b"upload not sent: the file could not be read whole\n" in lines
    assert not [line for line in lines if line.startswith(b"job alert")]
