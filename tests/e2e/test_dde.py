"""The uploader's DDE service, driven by the host tool as a host application drives it."""
import pytest

import winedrive as wd

HELP_TEXT = (
    "DDEML Vistora Uploader help:\r\n\n"
    "'VistoraUploadServer' の構成内容\r\n\n"
    "topicとしては、'Upload' と 'System' が有効です。\r\n"
    "'Upload' のitemは、'Filename' があります。\r\n"
    "Upload/Filenameに対して、POKEでファイル(フルパス)をセットしてください。\r\n"
    "ファイルが一個ListViewに増えます。\r\n"
    "'System'に対して、EXECが有効です。\r\n"
    "コマンドには、'upload'があります。\r\n"
    "uploadを開始します。すでにアップロードが開始していたら無視されます。\r\n"
).encode("cp932") + b"\0"


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


def test_descriptive_items(running):
    assert wd.reply_bytes(request("System", "Topics")) == b"System\tUpload\0"
    assert wd.reply_bytes(request("System", "SysItems")) == b"Topics\tSysItems\tFormats\tHelp\0"
    assert (wd.reply_bytes(request("Upload", "SysItems"))
            == b"Filename\tSysItems\tLoginData\tExitCondition\0")
    assert wd.reply_bytes(request("System", "Formats")) == b"CF_TEXT\0"
    assert wd.reply_bytes(request("System", "Help")) == HELP_TEXT
    assert b"Help text requested." in running.debug_lines()


def test_filename_answers_the_next_waiting_file(running, install):
    assert wd.reply_bytes(request("Upload", "Filename")) == b"\0"
    code, answer = wd.host_raw("poke", "Upload", "Filename", "--text", "a.jpg")
    assert (code, answer["result"]) == (0, "ack")
    expected = (wd.windows_path(install.folder) + "\\temp\\a.jpg").encode("cp932") + b"\0"
    assert wd.reply_bytes(request("Upload", "Filename")) == expected
    assert b"UploadFilenameXfer poke received." in running.debug_lines()
    assert rows(running) == [{"param": 2, "cells": ["待機", "a.jpg"]}]


def test_a_300_byte_name_is_kept_as_259_bytes(running):
    code, answer = wd.host_raw("poke", "Upload", "Filename", "--hex", "61" * 300)
    assert answer["result"] == "ack"
    assert rows(running)[0]["cells"][1] == "a" * 259


def test_login_data_without_a_settings_file(running):
    data = wd.reply_bytes(request("Upload", "LoginData"))
    assert data == (b"http://vistora-album.invalid/Pc/Upld_Login.aspx\t"
                    b"http://vistora-album.invalid/Pc/Upld_Upload.aspx\t\t")
    assert wd.reply_bytes(request("Upload", "ExitCondition")) == data


def test_login_data_pokes(running):
    four = "http://h/l\thttp://h/u\tme@x.jp\tpw\n".encode().hex()
    assert wd.host_raw("poke", "Upload", "LoginData", "--hex", four)[1]["result"] == "ack"
    empty_field = "http://h/l\thttp://h/u\t\tpw\n".encode().hex()
    assert (wd.host_raw("poke", "Upload", "LoginData", "--hex", empty_field)[1]["result"]
            == "not-processed")
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
    assert wd.message_text(question) == "まだ待機ファイルが残っています。アップロードを中断しますか？"
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
