#!/usr/bin/env python3
"""Writes the release archive VistoraUploader-<version>.zip and its .sha256.

    make_dist.py --version V --album-host HOST --bin DIR --out DIR [--strip STRIP]

The archive holds the two programs, an empty temp folder, the sample settings file, the
Japanese README for the person at the desktop (both in code page 932 with CRLF, as
Notepad and the uploader on a Japanese Windows read them), and for host developers the
protocol description and the hand-over example. Entries carry one fixed time, so the
same inputs give the same archive.
"""

from __future__ import annotations

import argparse
import hashlib
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# The zip format's earliest date; the files' own times would change at every build.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def text_for_windows(path: Path, substitutions: dict, encoding: str) -> bytes:
    text = path.read_text(encoding="utf-8")
    for key, value in substitutions.items():
        text = text.replace(f"@{key}@", value)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode(encoding)


def program(path: Path, strip: str | None) -> bytes:
    """The program's bytes, without the debug information the build keeps."""
    if not strip:
        return path.read_bytes()
    with tempfile.TemporaryDirectory() as folder:
        copy = Path(folder) / path.name
        shutil.copy2(path, copy)
        subprocess.run([strip, "--strip-debug", str(copy)], check=True)
        return copy.read_bytes()


def add(archive: zipfile.ZipFile, name: str, data: bytes) -> None:
    entry = zipfile.ZipInfo(name, FIXED_TIME)
    entry.compress_type = zipfile.ZIP_DEFLATED
    entry.external_attr = 0o644 << 16
    archive.writestr(entry, data)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--album-host", required=True)
    parser.add_argument("--bin", required=True, type=Path)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--strip")
    args = parser.parse_args()

    substitutions = {"VERSION": args.version, "ALBUM_HOST": args.album_host}
    dist = ROOT / "dist"
    name = f"VistoraUploader-{args.version}.zip"
    args.out.mkdir(parents=True, exist_ok=True)
    target = args.out / name
    partial = target.with_suffix(".zip.part")
    with zipfile.ZipFile(partial, "w") as archive:
        add(archive, "VistoraUploader.exe", program(args.bin / "VistoraUploader.exe", args.strip))
        temp = zipfile.ZipInfo("temp/", FIXED_TIME)
        temp.external_attr = (0o40755 << 16) | 0x10
        archive.writestr(temp, b"")
        add(
            archive,
            "Vistora.ini.sample",
            text_for_windows(dist / "Vistora.ini.sample", substitutions, "cp932"),
        )
        add(
            archive,
            "README-ja.txt",
            text_for_windows(dist / "README-ja.txt", substitutions, "cp932"),
        )
        add(archive, "VistoraHost.exe", program(args.bin / "VistoraHost.exe", args.strip))
        add(
            archive,
            "HOST-PROTOCOL.md",
            text_for_windows(dist / "HOST-PROTOCOL.md", substitutions, "utf-8"),
        )
        add(archive, "handover.c", text_for_windows(ROOT / "examples" / "handover.c", {}, "utf-8"))
    partial.replace(target)
    digest = hashlib.sha256(target.read_bytes()).hexdigest()
    (args.out / f"{name}.sha256").write_text(f"{digest}  {name}\n")
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
