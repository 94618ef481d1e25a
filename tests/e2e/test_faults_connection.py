"""Uploads whose connection is refused, or whose service goes away mid-upload: the file
stays in the temp folder and the program does not hang.
"""

import subprocess
import sys
import time
from pathlib import Path

import uploader_runs
import winedrive as wd
from faults import TIMED_OUT, UPLOAD_FAILED, run, unused_port


def test_upload_to_a_refused_connection_keeps_the_file(install, album, sources):
    # Each refused attempt fails at once and the file goes back in line; the eleventh
    # failure in a row shows its alert and the program closes without saving.
    uploader_runs.configure(install, album)
    ini = install.ini.read_bytes().decode("cp932")
    install.ini.write_bytes(
        ini.replace(
            album.upload_url, f"http://127.0.0.1:{unused_port()}/Pc/Upld_Upload.aspx"
        ).encode("cp932")
    )
    before = install.ini.read_bytes()
    files = uploader_runs.make_files(sources, 1)
    outcome = run(install, album, files, limit=120)
    assert outcome.seen == [UPLOAD_FAILED]
    # Eleven attempts, each followed by the teardown's and the controller's pauses.
    assert outcome.elapsed >= 11 * 2.6
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
    assert install.ini.read_bytes() == before


def test_the_service_stopping_in_the_middle_of_an_upload(install, tmp_path, sources):
    """The service process is killed while an upload waits for its answer; later attempts
    are refused. The file stays."""
    port = unused_port()
    service = subprocess.Popen(
        [
            sys.executable,
            str(wd.ROOT / "service" / "album_service.py"),
            "--port",
            str(port),
            "--storage",
            str(tmp_path / "album"),
            "--account",
            f"{uploader_runs.ACCOUNT}:{uploader_runs.PASSWORD}",
            "--faults",
            str(_write(tmp_path / "faults.json", '[{"endpoint": "upload", "delay": 30}]')),
        ],
        stdout=subprocess.PIPE,
    )
    try:
        assert b"listening" in service.stdout.readline()

        class Urls:
            login_url = f"http://127.0.0.1:{port}/Pc/Upld_Login.aspx"
            upload_url = f"http://127.0.0.1:{port}/Pc/Upld_Upload.aspx"

        uploader_runs.configure(install, Urls)
        files = uploader_runs.make_files(sources, 1, size=8 * 1024 * 1024)
        killed = []

        def stop_service_once_uploading():
            if not killed:
                window = wd.find_window()
                view = uploader_runs.controls(window)[("SysListView32", 1003)] if window else None
                if view and wd.row_states(view["hwnd"]) == ["アップ中"]:
                    time.sleep(1)
                    service.kill()
                    killed.append(time.monotonic())
            return False

        outcome = run(install, None, files, limit=200, close_after=stop_service_once_uploading)
        assert killed
        # The cut attempt finds no answer to read for 60 s; ten refused ones follow and
        # the program gives up.
        assert outcome.seen == [TIMED_OUT, UPLOAD_FAILED]
        assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
    finally:
        service.kill()
        service.wait()


def _write(path: Path, text: str) -> Path:
    path.write_text(text)
    return path
