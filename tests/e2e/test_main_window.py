"""The main window as a user meets it: started under Wine, looked at from outside."""
import time

import winedrive as wd

PBS_SMOOTH = 0x01
LVS_REPORT = 0x01
WS_VISIBLE = 0x10000000


def controls_by_id(hwnd):
    found = {}
    for child in wd.children(hwnd):
        found.setdefault(child["id"], []).append(child)
    return found


def width(rect):
    return rect[2] - rect[0]


def height(rect):
    return rect[3] - rect[1]


def test_window_shows_label_bars_and_list(start_uploader):
    uploader = start_uploader()
    window = uploader.main_window()
    assert window is not None
    assert window["visible"]
    assert width(window["rect"]) == 400
    assert height(window["rect"]) == 300

    controls = controls_by_id(window["hwnd"])
    label = controls[1004][0]
    assert label["class"].lower() == "static"
    assert label["text"] == "未ログイン"

    bars = {c["id"]: c for c in wd.children(window["hwnd"]) if c["class"] == "msctls_progress32"}
    assert set(bars) == {1003, 1005}
    for bar in bars.values():
        assert bar["style"] & PBS_SMOOTH
    menu_height = height(label["rect"])
    transfer, overall = bars[1003], bars[1005]
    assert transfer["rect"] == [100, 0, 300, menu_height // 2]
    assert overall["rect"] == [100, menu_height // 2, 300, 2 * (menu_height // 2)]

    lists = [c for c in controls[1003] if c["class"] == "SysListView32"]
    assert len(lists) == 1
    client_w, client_h = window["client"][2], window["client"][3]
    assert lists[0]["rect"] == [0, menu_height, client_w, client_h]
    view = wd.list_view(lists[0]["hwnd"])
    assert [(c["text"], c["width"]) for c in view["columns"]] == [("状態", 60), ("ファイル名", 280)]
    assert view["rows"] == []

    button = controls[1001][0]
    assert button["class"].lower() == "button"
    assert button["text"] == "アップロード"
    assert width(button["rect"]) == 0 and height(button["rect"]) == 0
    assert button["enabled"]

    backdrop = controls[1002][0]
    assert backdrop["rect"] == [0, 0, client_w, client_h]


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
