"""The crash check that every test passes through (conftest.py) sees a crash and a double
free, in a program run once, in the long-lived UiProbe server and in runs that module
fixtures make: a check that saw nothing could not tell a clean run from a broken one."""

from pathlib import Path

import pytest

import winedrive as wd

pytest_plugins = ["pytester"]


def run_once(command):
    wd.run_windows(wd.BIN / "UiProbe.exe", command, timeout=60)


def ask_the_serving_probe(command):
    try:
        wd.probe().ask(command)
    except RuntimeError:
        pass  # a probe that faults never answers, nor does the one started in its place
    finally:
        wd.close_probe()


@pytest.mark.parametrize("command, mark", [("fault", b"err:seh"), ("double-free", b"warn:heap")])
@pytest.mark.parametrize("start", [run_once, ask_the_serving_probe], ids=["run", "probe"])
def test_the_crash_check_sees_a_canary(start, command, mark):
    start(command)
    crashes = wd.crashes_seen()
    assert crashes
    assert all(repr(mark) in crash for crash in crashes), crashes
    # Reported once: a later check reads on from where this one stopped.
    assert wd.crashes_seen() == []


def test_the_crash_check_sees_the_runs_of_module_fixtures(pytester, monkeypatch):
    monkeypatch.setenv("VISTORA_E2E_SHARD", "1/1")
    pytester.makeconftest(Path(__file__).with_name("conftest.py").read_text())
    pytester.makepyfile(
        test_set_up="""
            import pytest, winedrive as wd

            @pytest.fixture(scope="module")
            def crashes_as_it_is_set_up():
                wd.run_windows(wd.BIN / "UiProbe.exe", "fault", timeout=60)

            def test_first(crashes_as_it_is_set_up):
                pass

            def test_second():
                pass
        """,
        test_taken_down="""
            import pytest, winedrive as wd

            @pytest.fixture(scope="module")
            def frees_twice_as_it_is_taken_down():
                yield
                wd.run_windows(wd.BIN / "UiProbe.exe", "double-free", timeout=60)

            def test_only(frees_twice_as_it_is_taken_down):
                pass
        """,
    )
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
    result.assert_outcomes(passed=2, errors=2)
    result.stdout.fnmatch_lines(
        [
            "*ERROR at setup of test_first*",
            "E*a run before this test began crashed:",
            "E*UiProbe-*.err: [[]*b'err:seh'*",
            "*ERROR at teardown of test_only*",
            "E*a module fixture's run crashed:",
            "E*UiProbe-*.err: [[]b'warn:heap'[]]",
        ],
    )
