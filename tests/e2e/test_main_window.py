"""The main window as a user meets it: started under Wine, looked at from outside."""

import time

import winedrive as wd

SYMBOL_CHARSET = 2


def test_the_program_shows_its_window_from_its_own_resources(start_uploader):
    # The controls and their layout are the unit tests' (they build the same window);
    # here only what the program's start-up adds: the class and the title from its string
    # table, the size, the window shown.
    uploader = start_uploader()
    window = uploader.main_window()
    assert window is not None
    assert window["visible"]
    assert window["text"] == wd.WINDOW_TITLE
    assert window["rect"][2] - window["rect"][0] == 400
    assert window["rect"][3] - window["rect"][1] == 300
    label = [c for c in wd.children(window["hwnd"]) if c["id"] == 1004]
    assert [c["text"] for c in label] == ["未ログイン"]


def test_the_start_loads_common_controls_6_and_leaves_wininet_for_the_first_request(
    start_uploader,
):
    # WinINet, and the shell and Winsock that it pulls in, would lengthen every start; the
    # window and the DDE service do not need them.
    uploader = start_uploader()
    window = uploader.main_window()
    loaded = wd.modules(window["pid"])
    assert "comctl32.dll" in loaded
    assert "wininet.dll" not in loaded
    # The loader took the program's manifest: the common controls come from the side-by-side
    # assembly of version 6, not from the system folder.
    paths = [path.lower() for path in wd.module_paths(window["pid"])]
    comctl32 = [path for path in paths if path.endswith("\\comctl32.dll")]
    assert len(comctl32) == 1
    assert "\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6." in comctl32[0]


def test_the_caption_buttons_font_is_in_the_prefix():
    # Wine draws the minimise, maximise and close buttons as Marlett glyphs; a prefix that
    # cannot resolve the face shows their codes ("0 1 r") in a text font instead.
    assert wd.realised_face("Marlett", SYMBOL_CHARSET) == "Marlett"


def test_closing_with_an_empty_list_ends_without_a_question(start_uploader):
    uploader = start_uploader()
    window = uploader.main_window()
    assert wd.post(window["hwnd"], wd.WM_CLOSE)
    assert wd.wait_gone(window["hwnd"], timeout=10)
    assert wd.dialogs(window["pid"]) == []
    assert uploader.wait(timeout=15) == 0


def test_a_second_copy_exits_at_once_and_shows_nothing(start_uploader, tmp_path):
    first = start_uploader()
    window = first.main_window()
    other = wd.Install(tmp_path / "other")
    started = time.monotonic()
    second = start_uploader("2", target=other)
    assert second.wait(timeout=15) == 0
    assert time.monotonic() - started < 10
    assert wd.find_window()["hwnd"] == window["hwnd"]
    assert wd.dialogs() == []
    assert first.running()


def test_about_box_opens_from_the_accelerator_and_closes_with_ok(start_uploader):
    uploader = start_uploader()
    window = uploader.main_window()
    wd.xdotool_key(window, "alt+slash")
    about = wd.wait_for_dialog(window["pid"], "About", timeout=10)
    texts = [c["text"] for c in about["controls"]]
    assert "Vistora Uploader" in texts
    wd.click(about["hwnd"], 1)
    assert wd.wait_gone(about["hwnd"], timeout=10)
    assert uploader.running()
