#!/usr/bin/env python3
"""The demo: starts the uploader under Wine, shows its main window and saves a
screenshot of it. Run through scripts/demo.sh, which builds and provides Wine and Xvfb."""
import subprocess
import sys
import tempfile
from pathlib import Path

import winedrive as wd


def main() -> int:
    shots = wd.BUILD / "demo"
    shots.mkdir(parents=True, exist_ok=True)
    screenshot = shots / "main-window.png"
    with tempfile.TemporaryDirectory() as folder:
        install = wd.Install(Path(folder) / "app")
        uploader = wd.Uploader(install)
        try:
            window = uploader.main_window(timeout=30)
            if window is None:
                print("demo: the main window did not appear", file=sys.stderr)
                return 1
            left, top, right, bottom = window["rect"]
            subprocess.run(["import", "-window", "root", "-crop",
                            f"{right - left}x{bottom - top}+{left}+{top}", str(screenshot)],
                           check=True)
            print(f"main window: {right - left}x{bottom - top}, title {window['text']!r}")
            wd.post(window["hwnd"], wd.WM_CLOSE)
            code = uploader.wait(timeout=30)
            print(f"uploader exit code: {code}")
        finally:
            uploader.kill()
    print(f"screenshot: {screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
