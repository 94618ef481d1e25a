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
