"""The uploader's DDE service, driven by the host tool as a host application drives it."""

import pytest

import uploader_runs
import winedrive as wd


@pytest.fixture
def running(start_uploader):
    uploader = start_uploader()
    assert uploader.main_window() is not None
    return uploader


def request(topic, item, *options):
    code, answer = wd.host_raw(*options, "request", topic, item)
    assert answer["connected"], answer
    return answer


def rows(uploader):
    window = uploader.main_window()
    lists = [c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32"]
    return wd.list_view(lists[0]["hwnd"])["rows"]


def test_a_host_reads_the_help_in_code_page_932(running):
    # The replies of the descriptive items, the help text among them, are the unit tests';
    # here that a host gets them over DDE, in code page 932.
    help_text = wd.reply_bytes(request("System", "Help"))
    assert help_text.startswith(b"DDEML Vistora Uploader help:\r\n")
    assert "構成内容" in help_text[:-1].decode("cp932")
    assert b"Help text requested." in running.debug_lines()


def test_filename_answers_the_next_waiting_file(running, install):
    assert wd.reply_bytes(request("Upload", "Filename")) == b"\0"
    code, answer = wd.host_raw("poke", "Upload", "Filename", "--text", "a.jpg")
    assert (code, answer["result"]) == (0, "ack")
    expected = (wd.windows_path(install.folder) + "\\temp\\a.jpg").encode("cp932") + b"\0"
    assert wd.reply_bytes(request("Upload", "Filename")) == expected
    assert b"UploadFilenameXfer poke received." in running.debug_lines()
    assert rows(running) == [{"param": 2, "cells": ["待機", "a.jpg"]}]


def test_names_that_leave_temp_are_refused(running, install):
    # Any program on the desktop may poke: a name that climbs out of temp would have its
    # file sent to the album service and deleted.
    secret = install.folder / "secret.txt"
    secret.write_bytes(b"not a photo")
    for name in ["..\\secret.txt", "../secret.txt", "sub\\..\\..\\secret.txt", "NUL"]:
        code, answer = wd.host_raw("poke", "Upload", "Filename", "--text", name)
        assert answer["result"] == "not-processed", name
    assert rows(running) == []
    assert secret.read_bytes() == b"not a photo"


def test_a_photo_goes_out_after_names_of_no_file_are_refused(start_uploader, install, album):
    # Queued, each of these would be first in line at every run and never sent, and the
    # photo behind it would wait for ever.
    uploader_runs.configure(install, album)
    photo = uploader_runs.make_files(install.temp, 1)[0]
    original = photo.read_bytes()
    (install.temp / "sub").mkdir()
    uploader = start_uploader(1)
    assert uploader.main_window() is not None
    too_long = "n" * 254  # with the folder's path before it, more than 259 bytes
    for options in [
        ("--hex", "00"),
        ("--text", "\\"),
        ("--text", "sub\\"),
        ("--text", "*"),
        ("--text", "a?.jpg"),
        ("--text", too_long),
    ]:
        code, answer = wd.host_raw("poke", "Upload", "Filename", *options)
        assert answer["result"] == "not-processed", options
    assert wd.host_raw("poke", "Upload", "Filename", "--text", photo.name)[1]["result"] == "ack"
    wd.host_raw("execute", "System", "--text", "upload")
    assert uploader.wait(timeout=60) == 0
    assert album.stored_files(uploader_runs.ACCOUNT) == {photo.name: original}
    assert not photo.exists()


def test_login_data_without_a_settings_file(running):
    data = wd.reply_bytes(request("Upload", "LoginData"))
    assert data == (
        b"http://vistora-album.invalid/Pc/Upld_Login.aspx\t"
        b"http://vistora-album.invalid/Pc/Upld_Upload.aspx\t\t"
    )
    assert wd.reply_bytes(request("Upload", "ExitCondition")) == data


def test_login_data_pokes(running):
    four = b"http://h/l\thttp://h/u\tme@x.jp\tpw\n".hex()
    assert wd.host_raw("poke", "Upload", "LoginData", "--hex", four)[1]["result"] == "ack"
    empty_field = b"http://h/l\thttp://h/u\t\tpw\n".hex()
    assert (
        wd.host_raw("poke", "Upload", "LoginData", "--hex", empty_field)[1]["result"]
        == "not-processed"
    )
    assert b"LoginDataXfer poke received." in running.debug_lines()
    # Staged only: the settings change at the next run.
    assert wd.reply_bytes(request("Upload", "LoginData")).endswith(b"\t\t")


def test_upload_execute_is_refused_on_upload_and_starts_a_run_on_system(running):
    code, answer = wd.host_raw("execute", "Upload", "--text", "upload")
    assert answer["result"] == "not-processed"
    window = running.main_window()
    assert wd.dialogs(window["pid"]) == []

    code, answer = wd.host_raw("execute", "System", "--text", "upload")
    assert answer["result"] == "ack"
    # The run starts with an empty queue and no count: nothing to do.
    alert = wd.wait_for_dialog(window["pid"], "警告")
    assert wd.message_text(alert) == "待機ファイルがありません"
    wd.click(alert["hwnd"], 1)


def test_connections(running):
    code, answer = wd.host_raw("wildcard")
    assert answer["pairs"] == [["VistoraUploadServer", "System"], ["VistoraUploadServer", "Upload"]]
    assert wd.host_raw("connect", "upload")[1]["connected"]
    assert not wd.host_raw("connect", "Printing")[1]["connected"]
    assert wd.host_raw("--context", "none", "connect", "System")[1]["connected"]


def test_requests_outside_the_tables_get_nothing(running):
    code, answer = wd.host_raw("--format", "2", "request", "System", "Topics")
    assert (code, answer["data"]) == (1, False)
    code, answer = wd.host_raw("request", "System", "Filename")
    assert answer["data"] is False
    assert wd.host_raw("advstart", "Upload", "Filename")[1]["result"] == "ack"
    assert wd.host_raw("poke", "System", "Help", "--text", "x")[1]["result"] == "not-processed"


def test_closing_with_waiting_rows_asks_first(running):
    wd.host_raw("poke", "Upload", "Filename", "--text", "a.jpg")
    window = running.main_window()
    wd.post(window["hwnd"], wd.WM_CLOSE)
    question = wd.wait_for_dialog(window["pid"], "注意")
    assert (
        wd.message_text(question) == "まだ待機ファイルが残っています。アップロードを中断しますか？"
    )
    wd.click(question["hwnd"], 7)  # IDNO
    assert wd.wait_gone(question["hwnd"])
    assert wd.find_window()["hwnd"] == window["hwnd"]

    wd.post(window["hwnd"], wd.WM_CLOSE)
    question = wd.wait_for_dialog(window["pid"], "注意")
    wd.click(question["hwnd"], 6)  # IDYES
    assert wd.wait_gone(window["hwnd"])
    assert running.wait(timeout=15) == 0


def test_exit_command_ends_without_the_question(running):
    wd.host_raw("poke", "Upload", "Filename", "--text", "a.jpg")
    window = running.main_window()
    wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
    assert wd.wait_gone(window["hwnd"])
    assert running.wait(timeout=15) == 0
