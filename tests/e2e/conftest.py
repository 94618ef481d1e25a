import os

import pytest

import winedrive as wd


def pytest_collection_modifyitems(config, items):
    """VISTORA_E2E_SHARD=i/n keeps every n-th case, starting with the i-th: the long
    cases of a file then land in different shards, which ctest runs side by side."""
    shard = os.environ.get("VISTORA_E2E_SHARD", "1/1")
    index, count = (int(part) for part in shard.split("/"))
    kept = [item for number, item in enumerate(items) if number % count == index - 1]
    dropped = [item for item in items if item not in kept]
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = kept


@pytest.fixture(scope="module", autouse=True)
def no_crash_in_a_module_fixture_run():
    """Runs that module fixtures make as they are taken down (RootStore taking an
    authority out again, reg switching a proxy off) are checked once the module's last
    fixture is down; an autouse fixture comes down after the module's others."""
    yield
    crashes = wd.crashes_seen()
    assert not crashes, "a module fixture's run crashed:\n\n" + "\n\n".join(crashes)


@pytest.fixture(autouse=True)
def no_crash_in_any_run():
    """Every Windows program started through winedrive (the uploader, the host tool and
    the uploaders it starts, the HTTP driver, RootStore, reg, the UiProbe server) is
    checked for crash marks here: what the fixtures set up before the test ran as the
    test begins, the test's own once the test and its other fixtures are done with it."""
    crashes = wd.crashes_seen()
    assert not crashes, "a run before this test began crashed:\n\n" + "\n\n".join(crashes)
    yield
    crashes = wd.crashes_seen()
    assert not crashes, "\n\n".join(crashes)


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
    import uploader_runs
    from album_service import AlbumService

    with AlbumService(
        accounts={
            uploader_runs.ACCOUNT: uploader_runs.PASSWORD,
            uploader_runs.PUNCTUATED_ACCOUNT: uploader_runs.PASSWORD,
            "hanako@example.jp": "second pw",
        },
        storage=tmp_path / "album",
        port=0,
    ) as service:
        yield service


@pytest.fixture
def sources(tmp_path):
    folder = tmp_path / "sources"
    folder.mkdir()
    return folder


@pytest.fixture(autouse=True)
def no_uploader_left_behind():
    """A test must see its uploader end. One that is still open afterwards fails the test
    that left it, and is closed so that it cannot hold the single-instance lock for the
    next one. The host tool may have started it, so it is found by its window in this
    test file's own prefix and ended by its process id."""
    yield
    window = wd.find_window()
    if window is None:
        return
    wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
    if not wd.wait_gone(window["hwnd"], timeout=30):
        wd.terminate(window["pid"])
    pytest.fail("the test left its uploader running")
