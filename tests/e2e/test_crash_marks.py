"""The crash check that every test passes through (conftest.py) sees a crash and a double
free: a check that saw nothing could not tell a clean run from a broken one."""

import pytest

import winedrive as wd


@pytest.mark.parametrize("command, mark", [("fault", b"err:seh"), ("double-free", b"warn:heap")])
def test_the_crash_check_sees_a_canary(command, mark):
    wd.run_windows(wd.BIN / "UiProbe.exe", command, timeout=60)
    crashes = wd.crashes_seen()
    assert len(crashes) == 1
    assert repr(mark) in crashes[0]
