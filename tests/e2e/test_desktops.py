"""The uploader on desktops set as many people's are today: a display at 150 % (LogPixels
144), and an English system locale (code page 1252, as on an English Windows, and as a
Japanese one set to use UTF-8 for worldwide language support reads code page 932 bytes).
Each is a Wine prefix of its own beside the test's (winedrive's Desktop), made once for
the module; the texts are read through the wide functions, as Windows shows them.
"""

import contextlib

import pytest

import uploader_runs
import winedrive as wd

SCALED_DPI = 144
IDOK = 1
IDNO = 7
EXIT_COMMAND = 40001
# 夏休み.jpg as a host on a code page 932 system pokes it. Each of its bytes is a
# character of code page 1252 as well: there the same bytes name another file.
POKED_NAME = "夏休み.jpg".encode("cp932")


@pytest.fixture(scope="module")
def scaled_desktop():
    with wd.desktop("150", log_pixels=SCALED_DPI) as desktop:
        yield desktop


@pytest.fixture(scope="module")
def english_desktop():
    with wd.desktop("english", locale=wd.ENGLISH_LOCALE) as desktop:
        yield desktop


def look_at_the_window(start_uploader) -> dict:
    """What the uploader shows once started: its client area, its controls' rectangles,
    the list's column widths and what the status label draws; then it is closed."""
    uploader = start_uploader()
    window = uploader.main_window()
    controls = uploader_runs.controls(window)
    label = controls[("Static", 1004)]["hwnd"]
    # The label is painted a moment after the window shows.
    drawn = wd.poll(lambda: (shown := wd.ink(label))["ink"] and shown, timeout=10)
    look = {
        "dpi": wd.desktop_settings()["dpi"],
        "client": window["client"],
        "controls": {key: control["rect"] for key, control in controls.items()},
        "columns": [
            column["width"]
            for column in wd.list_view(controls[("SysListView32", 1003)]["hwnd"])["columns"]
        ],
        "label": drawn,
    }
    wd.post(window["hwnd"], wd.WM_COMMAND, EXIT_COMMAND)
    assert uploader.wait(timeout=30) == 0
    return look


def test_at_150_percent_every_control_is_half_again_as_large(start_uploader, scaled_desktop):
    design = look_at_the_window(start_uploader)
    with scaled_desktop.active():
        scaled = look_at_the_window(start_uploader)
    assert (design["dpi"], scaled["dpi"]) == (96, SCALED_DPI)

    def half_again(values):
        return pytest.approx([value * 3 / 2 for value in values], abs=1)

    assert scaled["client"] == half_again(design["client"])
    assert scaled["controls"].keys() == design["controls"].keys()
    for key, rect in design["controls"].items():
        assert scaled["controls"][key] == half_again(rect), key
    assert scaled["columns"] == half_again(design["columns"])
    # The status text fits its label: its last column and its last row are background.
    for look in (design, scaled):
        width, height = look["label"]["size"]
        _, _, right, bottom = look["label"]["ink"]
        assert right < width and bottom < height, look


@pytest.mark.parametrize("code_page", [932, 1252])
def test_the_uploaders_texts_read_right_in_either_code_page(
    code_page, request, start_uploader, install, album
):
    desktop = (
        request.getfixturevalue("english_desktop").active()
        if code_page == 1252
        else contextlib.nullcontext()
    )
    # What a host's name means is the system's code page: the file it names in temp is that.
    name = POKED_NAME.decode(f"cp{code_page}")
    photo = bytes(range(256)) * 40
    (install.temp / name).write_bytes(photo)
    uploader_runs.configure(install, album)
    with desktop:
        assert wd.desktop_settings()["codepage"] == code_page
        uploader = start_uploader()
        window = uploader.main_window()
        controls = uploader_runs.controls(window)
        assert controls[("Static", 1004)]["text"] == "未ログイン"
        view = controls[("SysListView32", 1003)]["hwnd"]
        assert [column["text"] for column in wd.list_view(view)["columns"]] == [
            "状態",
            "ファイル名",
        ]

        wd.host_raw("execute", "System", "--text", "upload")
        alert = wd.wait_for_dialog(window["pid"], "警告")
        assert wd.message_text(alert) == "待機ファイルがありません"
        wd.click(alert["hwnd"], IDOK)

        poked = wd.host_raw("poke", "Upload", "Filename", "--hex", (POKED_NAME + b"\0").hex())
        assert poked[1]["result"] == "ack"
        assert [row["cells"] for row in wd.list_view(view)["rows"]] == [["待機", name]]

        wd.post(window["hwnd"], wd.WM_CLOSE)
        question = wd.wait_for_dialog(window["pid"], "注意")
        asked = wd.message_text(question)
        assert asked == "まだ待機ファイルが残っています。アップロードを中断しますか？"
        wd.click(question["hwnd"], IDNO)

        wd.host_raw("execute", "System", "--text", "upload")
        assert uploader.wait(timeout=60) == 0
    # The same bytes reach the album under the name the system gives them.
    assert album.stored_files(uploader_runs.ACCOUNT) == {name: photo}
    assert list(install.temp.iterdir()) == []
