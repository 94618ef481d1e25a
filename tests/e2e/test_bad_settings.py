"""Settings files the uploader cannot use as they are: it starts anyway, and the login or
the upload fails with its designed message. Nothing overflows."""

import pytest

import uploader_runs
import winedrive as wd
from faults import LOGIN_FAILED, RECEIVE_ERROR, WRONG_LOGIN, run

CANCEL = 2
SAVE_LOGIN_COMMAND = 40003
EXIT_COMMAND = 40001


def write_raw(install, data: bytes):
    install.ini.write_bytes(data)


def cancel_login_dialog(uploader_pid):
    dialog = wd.wait_for_dialog(uploader_pid, "Vistoraに接続します。", timeout=30)
    wd.click(dialog["hwnd"], CANCEL)


def test_values_of_a_thousand_characters_and_more(install, album, sources):
    uploader_runs.configure(install, album, password="p" * 1500)
    files = uploader_runs.make_files(sources, 1)
    # The password is read cut to 259 characters: the service refuses it.
    outcome = run(install, album, files, limit=60)
    assert outcome.seen == [WRONG_LOGIN, LOGIN_FAILED]

    # A login name whose form encoding (each "!" becomes %21) no longer fits the login
    # request starts no login.
    uploader_runs.configure(install, album, account="n!" * 600 + "@example.jp")
    outcome = run(install, album, files, limit=60)
    assert outcome.seen == [LOGIN_FAILED]

    # A login URL of 1000 characters is cut to 519 and does not fit either.
    keys = {
        "LoginUrl": album.login_url + "?" + "q" * 1000,
        "UploadUrl": album.upload_url,
        "LoginName": uploader_runs.ACCOUNT,
        "Password": uploader_runs.PASSWORD,
    }
    install.write_ini(**keys)
    outcome = run(install, album, files, limit=60)
    assert outcome.seen == [LOGIN_FAILED]
    assert len(uploader_runs.logins(album)) == 1
    assert (install.temp / "photo1.jpg").exists()


def test_urls_that_do_not_parse(install, album, sources):
    install.write_ini(
        LoginUrl="not a url at all",
        UploadUrl="::::",
        LoginName=uploader_runs.ACCOUNT,
        Password=uploader_runs.PASSWORD,
    )
    files = uploader_runs.make_files(sources, 1)
    outcome = run(install, album, files, limit=60)
    # Without a scheme the whole text is taken for a host name. That connection opens (an
    # http connection goes to the network only with its request); the name then fails to
    # resolve at once, and reading the answer fails.
    assert outcome.seen == [RECEIVE_ERROR, LOGIN_FAILED]
    assert uploader_runs.logins(album) == []

    # A scheme other than http and https opens no connection at all.
    install.write_ini(
        LoginUrl=album.login_url.replace("http://", "gopher://"),
        UploadUrl=album.upload_url,
        LoginName=uploader_runs.ACCOUNT,
        Password=uploader_runs.PASSWORD,
    )
    outcome = run(install, album, files, limit=60)
    assert outcome.seen == [("警告", "サーバに接続できませんでした。"), LOGIN_FAILED]
    assert uploader_runs.logins(album) == []
    assert (install.temp / "photo1.jpg").exists()


@pytest.mark.parametrize(
    "content",
    [
        b"[Elsewhere]\r\nLoginName=x@example.jp\r\nPassword=pw\r\n",
        bytes(range(256)) * 40,
        b"[WebAlbum\r\nLoginName=\x00\x01\x02\r\n\xff\xfe[[[]]]===\r\n",
    ],
    ids=["missing section", "binary junk", "broken section"],
)
def test_unusable_files_fall_back_to_the_defaults(install, album, sources, content):
    write_raw(install, content)
    uploader = wd.Uploader(install, 1)
    try:
        window = uploader.main_window()
        assert window is not None
        code, answer = wd.host_raw("request", "Upload", "LoginData")
        data = wd.reply_bytes(answer)
        assert data.startswith(b"http://vistora-album.invalid/Pc/Upld_Login.aspx\t")
        uploader_runs.make_files(install.temp, 1)
        wd.host_raw("poke", "Upload", "Filename", "--text", "photo1.jpg")
        wd.host_raw("execute", "System", "--text", "upload")
        # No stored credentials: the dialog asks; cancelled, the login fails.
        cancel_login_dialog(window["pid"])
        alert = wd.wait_for_dialog(window["pid"], "警告", timeout=20)
        assert wd.message_text(alert) == "ログインに失敗しました"
        wd.click(alert["hwnd"], 1)
        assert uploader.wait(timeout=30) == 0
    finally:
        uploader.kill()


def test_an_unreadable_settings_file(install, album):
    install.ini.mkdir()
    uploader = wd.Uploader(install)
    try:
        assert uploader.main_window() is not None
        code, answer = wd.host_raw("request", "Upload", "LoginData")
        assert wd.reply_bytes(answer).endswith(b"\t\t")
        window = uploader.main_window()
        wd.post(window["hwnd"], wd.WM_CLOSE)
        assert uploader.wait(timeout=30) == 0
    finally:
        uploader.kill()


def test_file_save_login_information_writes_the_settings_beside_the_program(install):
    install.write_ini(
        LoginUrl="http://127.0.0.1:9/l",
        UploadUrl="http://127.0.0.1:9/u",
        LoginName=uploader_runs.ACCOUNT,
        Password=uploader_runs.PASSWORD,
    )
    uploader = wd.Uploader(install)
    try:
        window = uploader.main_window()
        assert window is not None
        install.ini.unlink()
        wd.post(window["hwnd"], wd.WM_COMMAND, SAVE_LOGIN_COMMAND)
        assert wd.poll(install.ini.exists, timeout=20)
        wd.post(window["hwnd"], wd.WM_COMMAND, EXIT_COMMAND)
        assert uploader.wait(timeout=30) == 0
    finally:
        uploader.kill()
    # Saved without Shift: the URLs are left out, the password is in clear text.
    assert install.ini.read_bytes().decode("cp932").splitlines() == [
        "# Vistoraサーバー情報ファイル",
        "[WebAlbum]",
        f"LoginName={uploader_runs.ACCOUNT}",
        f"Password={uploader_runs.PASSWORD}",
    ]


def test_a_program_path_too_long_to_be_known_writes_no_settings(tmp_path):
    # GetModuleFileNameA cuts a path of more than 260 characters: the program's folder is
    # unknown, and the clear-text password must not go to the current directory instead.
    install = wd.Install(tmp_path / ("d" * 100) / ("e" * 100) / ("f" * 100) / "app")
    current = tmp_path / "current"
    current.mkdir()
    uploader = wd.Uploader(install, cwd=current)
    try:
        window = uploader.main_window()
        assert window is not None
        wd.post(window["hwnd"], wd.WM_COMMAND, SAVE_LOGIN_COMMAND)
        wd.post(window["hwnd"], wd.WM_COMMAND, EXIT_COMMAND)
        assert uploader.wait(timeout=30) == 0
    finally:
        uploader.kill()
    assert list(current.iterdir()) == []
    assert not install.ini.exists()
