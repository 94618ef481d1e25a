#!/usr/bin/env python3
"""The demo: a real upload through the uploader under Wine.

Starts the local album service on loopback over HTTPS, with a certificate from a demo
certificate authority that is trusted in the Wine prefix for the run, installs the
uploader in a folder of its own with a settings file pointing at the service's https
addresses and a demo account, puts a handful of sample pictures into its temp folder,
hands them over with the host tool (with their count) and lets the uploader log in,
upload and end. A screenshot is taken mid-run. Then, per file: its size, its SHA-256 here
and at the service, and whether it left the temp folder. The whole run goes twice: on the
project's desktop at 100 %, and on a copy of it with the display at 150 % (LogPixels 144),
each with its screenshot.

Exit code 0 only when every file of both runs arrived byte-identical and was deleted
locally.
Run through scripts/demo.sh, which builds and provides Wine and Xvfb.
"""

import hashlib
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

import winedrive as wd
from album_certificates import Authority, Credentials
from album_service import AlbumService

AUTHORITY = "Vistora Demo CA"
ACCOUNT = "demo.user@example.jp"
PASSWORD = "デモ用パスワード"
PICTURES = [
    ("sakura.jpg", "plasma:pink-white"),
    ("fuji.jpg", "gradient:skyblue-white"),
    ("umi.jpg", "plasma:blue-cyan"),
    ("写真.jpg", "plasma:orange-yellow"),
    ("matsuri.png", "plasma:red-gold"),
]


def make_pictures(folder: Path) -> None:
    makers = []
    for index, (name, pattern) in enumerate(PICTURES):
        size = f"{1200 + 200 * index}x{900 + 150 * index}"
        makers.append(
            subprocess.Popen(
                [
                    "convert",
                    "-seed",
                    str(index + 1),
                    "-size",
                    size,
                    pattern,
                    "-quality",
                    "92",
                    str(folder / name),
                ]
            )
        )
    for maker in makers:
        if maker.wait() != 0:
            raise RuntimeError(f"convert failed: {maker.args}")


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def shoot_mid_run(install: wd.Install, target: Path, done: threading.Event) -> list:
    """Waits until some files are done and some still wait, then takes the screenshot."""
    try:
        return wait_and_shoot(target, done)
    finally:
        wd.close_probe()


def wait_and_shoot(target: Path, done: threading.Event) -> list:
    taken = []
    deadline = time.monotonic() + 120
    while not done.is_set() and time.monotonic() < deadline:
        window = wd.find_window()
        if window:
            lists = [c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32"]
            if lists:
                states = wd.row_states(lists[0]["hwnd"])
                if "完了" in states and ("待機" in states or "アップ中" in states):
                    left, top, right, bottom = window["rect"]
                    subprocess.run(
                        [
                            "import",
                            "-window",
                            "root",
                            "-crop",
                            f"{right - left}x{bottom - top}+{left}+{top}",
                            str(target),
                        ],
                        check=True,
                    )
                    # The program moves on while the rows are read and the picture is
                    # taken: what the picture shows lies between these two readings.
                    taken.append(states)
                    taken.append(wd.row_states(lists[0]["hwnd"]))
                    return taken
        time.sleep(0.05)
    return taken


# The display's scale at 150 %: Windows' LogPixels.
SCALED_LOG_PIXELS = 144


def main() -> int:
    work = wd.BUILD / "demo"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    authority = Authority.create(AUTHORITY)
    authority_file, _ = authority.write(work / "tls", "demo-ca")
    server = authority.issue("localhost")
    print("at 100 %")
    results = [trusted_upload(work, work / "mid-run.png", server, authority, authority_file)]
    print()
    print("at 150 % (the same run on a copy of the prefix with LogPixels 144)")
    with wd.desktop("demo-150", log_pixels=SCALED_LOG_PIXELS) as scaled, scaled.active():
        results.append(
            trusted_upload(
                work / "at-150", work / "mid-run-150.png", server, authority, authority_file
            )
        )
    return max(results)


def trusted_upload(
    work: Path, screenshot: Path, server: Credentials, authority: Authority, authority_file: Path
) -> int:
    """One run over HTTPS with the demo authority trusted in the current prefix meanwhile."""
    wd.trust_root(authority_file)
    print(
        f"demo certificate authority, trusted in the Wine prefix for this run: {authority.subject}"
    )
    try:
        return upload_over_https(work, screenshot, server)
    finally:
        wd.distrust_root(authority_file)


def upload_over_https(work: Path, screenshot: Path, server: Credentials) -> int:
    with AlbumService(
        accounts={ACCOUNT: PASSWORD},
        storage=work / "album",
        port=0,
        ssl_context=server.write(work / "tls", "server"),
    ) as service:
        install = wd.Install(work / "app")
        install.write_ini(
            LoginUrl=service.login_url,
            UploadUrl=service.upload_url,
            LoginName=ACCOUNT,
            Password=PASSWORD,
        )
        make_pictures(install.temp)
        originals = {name: (install.temp / name).read_bytes() for name, _ in PICTURES}
        print(f"album service: {service.base_url}, account {ACCOUNT}")
        print(f"handing over {len(PICTURES)} pictures from {install.temp}")

        done = threading.Event()
        shots = []
        shooter = threading.Thread(
            target=lambda: shots.extend(shoot_mid_run(install, screenshot, done))
        )
        started = time.monotonic()
        shooter.start()
        result = wd.host_handover(
            "--exe",
            wd.windows_path(install.exe),
            "--count",
            len(PICTURES),
            "--wait",
            300,
            *[wd.windows_path(install.temp / name) for name, _ in PICTURES],
            timeout=400,
        )
        elapsed = time.monotonic() - started
        done.set()
        shooter.join()
        print(result.stdout.strip())
        said = wd.own_output(result.stderr).strip()
        if said:
            print(said)
        crashes = wd.crashes_seen()

        stored = service.stored_files(ACCOUNT)
        logins = [e for e in service.journal() if e["endpoint"] == "login"]
        ok = result.returncode == 0 and not crashes
        for crash in crashes:
            print("crash:", crash)
        print()
        print(f"{'file':<14}{'bytes':>10}  {'sha-256 here':<18}{'sha-256 at service':<20}left temp")
        for name, _ in PICTURES:
            local = originals[name]
            remote = stored.get(name)
            gone = not (install.temp / name).exists()
            same = remote == local
            ok = ok and same and gone
            print(
                f"{name:<14}{len(local):>10}  {sha256(local)[:16]}  "
                f"{sha256(remote)[:16] if remote is not None else '(missing)':<20}"
                f"{'yes' if gone else 'NO'}{'' if same else '  MISMATCH'}"
            )
        print()
        print(f"logins: {len(logins)}, total time: {elapsed:.1f} s")
        print(
            f"over HTTPS, the service's certificate: {server.subject}, "
            f"issued by {server.certificate.issuer.rfc4514_string()}"
        )
        settings = install.ini.read_bytes().decode("cp932").splitlines()
        print(f"settings saved: {len(settings)} lines")
    if shots:
        print(
            f"screenshot (mid-run; rows read before it {' '.join(shots[0])}, after it "
            f"{' '.join(shots[1])}): {screenshot}"
        )
    else:
        print("screenshot: the run ended before one could be taken")
    print("demo:", "every file arrived byte-identical and left the temp folder" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
