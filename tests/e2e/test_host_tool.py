"""The host tool's hand-over mode and its answers when the uploader is not there."""
import winedrive as wd


def test_handover_copies_pokes_and_starts_the_uploader(install, tmp_path, start_uploader):
    sources = []
    for name in ("a.jpg", "b.jpg"):
        path = tmp_path / name
        path.write_bytes(name.encode() * 100)
        sources.append(wd.windows_path(path))
    result = wd.host_handover("--exe", wd.windows_path(install.exe), "--no-upload", *sources)
    assert result.returncode == 0, result.stderr
    window = wd.find_window(timeout=20)
    assert window is not None
    try:
        for name in ("a.jpg", "b.jpg"):
            assert (install.temp / name).read_bytes() == name.encode() * 100
        lists = [c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32"]
        cells = [r["cells"] for r in wd.list_view(lists[0]["hwnd"])["rows"]]
        assert cells == [["待機", "a.jpg"], ["待機", "b.jpg"]]

        # A second hand-over finds the running uploader instead of starting another.
        extra = tmp_path / "c.jpg"
        extra.write_bytes(b"c")
        result = wd.host_handover("--exe", wd.windows_path(install.exe), "--no-upload",
                                  wd.windows_path(extra))
        assert result.returncode == 0, result.stderr
        assert len(wd.list_view(lists[0]["hwnd"])["rows"]) == 3
    finally:
        wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
        wd.wait_gone(window["hwnd"])


def test_raw_mode_reports_a_missing_service():
    code, answer = wd.host_raw("--timeout", "2000", "request", "System", "Topics")
    assert code == 3
    assert answer == {"connected": False, "error": answer["error"]}


def test_handover_reports_an_uploader_that_cannot_start(tmp_path):
    result = wd.host_handover("--exe", wd.windows_path(tmp_path / "missing.exe"),
                              "--start-timeout", "2")
    assert result.returncode == 3
    assert "cannot start" in result.stderr
