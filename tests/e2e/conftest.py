import subprocess

import pytest

import winedrive as wd


@pytest.fixture
def install(tmp_path):
    return wd.Install(tmp_path / "app")


@pytest.fixture
def start_uploader(install):
    """Starts the uploader from a private install; kills what is left at the end."""
    started = []

    def start(*args, cwd=None, target=None):
        uploader = wd.Uploader(target or install, *args, cwd=cwd)
        started.append(uploader)
        return uploader

    # A copy left over from an earlier test would hold the single-instance lock.
    assert wd.find_window() is None, "an uploader window is already open"
    yield start
    for uploader in started:
        uploader.kill()


@pytest.fixture
def album(tmp_path):
    from album_service import AlbumService
    import road

    with AlbumService(accounts={road.ACCOUNT: road.PASSWORD, "hanako@example.jp": "second pw"},
                      storage=tmp_path / "album", port=0) as service:
        yield service


@pytest.fixture
def sources(tmp_path):
    folder = tmp_path / "sources"
    folder.mkdir()
    return folder


@pytest.fixture(autouse=True)
def no_uploader_left_behind():
    """A run that failed half-way must not leave its uploader for the next test."""
    yield
    window = wd.find_window()
    if window is not None:
        wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
        if not wd.wait_gone(window["hwnd"], timeout=30):
            subprocess.run(["pkill", "-9", "-f", wd.UPLOADER_EXE])
