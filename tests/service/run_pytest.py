"""Runs pytest on the album service's tests under whichever Python starts it, and
first checks that this Python's Werkzeug is of the series the run is meant for, so a
run meant for one series never passes on another unnoticed.

Only Debian's packages can be installed on the test machines, so an interpreter of its
own (the python3 first on PATH, which carries current Werkzeug) may lack pytest: Debian's
is then taken from its dist-packages, looked at after the interpreter's own packages, so
the interpreter's Werkzeug still wins.

    python3 run_pytest.py WERKZEUG_MAJOR [pytest arguments...]
"""

import importlib.metadata
import sys

DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"


def main() -> int:
    wanted = sys.argv[1]
    found = importlib.metadata.version("werkzeug")
    if found.split(".")[0] != wanted:
        print(f"{sys.executable} carries Werkzeug {found}, not {wanted}.x", file=sys.stderr)
        return 1
    try:
        import pytest
    except ImportError:
        sys.path.append(DEBIAN_PACKAGES)
        import pytest
    print(f"album service tests under {sys.executable}, Werkzeug {found}")
    return pytest.main(sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
