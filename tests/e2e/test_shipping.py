"""What is shipped: the release archive as a person at the desktop unpacks it, and the
hand-over example as a host developer builds it."""

import os
import re
import shutil
import struct
import zipfile

import pytest

import uploader_runs
import winedrive as wd

ARCHIVE_CONTENTS = [
    "HOST-PROTOCOL.md",
    "README-ja.txt",
    "Vistora.ini.sample",
    "VistoraHost.exe",
    "VistoraUploader.exe",
    "handover.c",
    "temp/",
]


def unpack_release(folder):
    archives = list((wd.BUILD / "dist").glob("VistoraUploader-*.zip"))
    assert len(archives) == 1, archives
    with zipfile.ZipFile(archives[0]) as archive:
        assert sorted(archive.namelist()) == ARCHIVE_CONTENTS
        archive.extractall(folder)
    return wd.Install(folder, copy=False)


def oldest_windows(program) -> tuple[int, int, int, int]:
    """The oldest Windows a program's header admits: its operating system version and its
    subsystem version, which Windows compares with its own before it starts the program."""
    data = program.read_bytes()
    (header,) = struct.unpack_from("<I", data, 0x3C)
    assert data[header : header + 4] == b"PE\0\0"
    optional = header + 24
    return struct.unpack_from("<HHxxxxHH", data, optional + 40)


def test_the_release_archive_works_as_unpacked(tmp_path, album, sources):
    install = unpack_release(tmp_path / "VistoraUploader")
    assert list(install.temp.iterdir()) == []
    # Windows 7 and later: an older Windows refuses to start them.
    for program in ("VistoraUploader.exe", "VistoraHost.exe"):
        assert oldest_windows(install.folder / program) == (6, 1, 6, 1), program
    readme = (install.folder / "README-ja.txt").read_bytes()
    assert b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b"")
    assert "パスワードの保存について" in readme.decode("cp932")
    # The kit's documents send their reader to nothing of the source tree, which the kit
    # does not hold.
    for document in ("HOST-PROTOCOL.md", "README-ja.txt"):
        text = (install.folder / document).read_bytes()
        found = re.findall(rb"\b(?:bench|tests|src|tools|scripts|service)/\S*", text)
        assert found == [], (document, found)

    # The sample, renamed as it is, is read as it is: the service's own URLs, no login.
    sample = install.folder / "Vistora.ini.sample"
    shutil.copy(sample, install.ini)
    uploader = wd.Uploader(install)
    try:
        assert uploader.main_window() is not None
        code, answer = wd.host_raw("request", "Upload", "LoginData")
        assert wd.reply_bytes(answer) == (
            b"http://vistora-album.invalid/Pc/Upld_Login.aspx\t"
            b"http://vistora-album.invalid/Pc/Upld_Upload.aspx\t\t"
        )
        wd.post(uploader.main_window()["hwnd"], wd.WM_COMMAND, 40001)
        assert uploader.wait() == 0
    finally:
        uploader.kill()

    # Pointed at the album service, with an account, and two files handed over with the
    # host tool from the archive.
    text = sample.read_bytes().decode("cp932")
    text = text.replace("http://vistora-album.invalid/Pc/Upld_Login.aspx", album.login_url)
    text = text.replace("http://vistora-album.invalid/Pc/Upld_Upload.aspx", album.upload_url)
    text = text.replace("LoginName=\r\n", f"LoginName={uploader_runs.ACCOUNT}\r\n")
    text = text.replace("Password=\r\n", f"Password={uploader_runs.PASSWORD}\r\n")
    install.ini.write_bytes(text.encode("cp932"))
    files = uploader_runs.make_files(sources, 2)
    uploader = wd.Uploader(install, 2)
    try:
        assert uploader.main_window() is not None
        result = wd.run_windows(
            install.folder / "VistoraHost.exe",
            "handover",
            "--exe",
            wd.windows_path(install.exe),
            "--count",
            2,
            "--wait",
            120,
            *[wd.windows_path(f) for f in files],
            timeout=180,
        )
        assert result.returncode == 0, result.stdout + result.stderr
        assert uploader.wait() == 0
    finally:
        uploader.kill()
    assert album.stored_files(uploader_runs.ACCOUNT) == {f.name: f.read_bytes() for f in files}
    assert list(install.temp.iterdir()) == []


# The example as a 32-bit and as a 64-bit host; the uploader is 32-bit either way.
@pytest.mark.parametrize("example", ["HandoverExample.exe", "HandoverExample64.exe"])
def test_the_hand_over_example_does_the_whole_hand_over(example, install, album, sources):
    if example == "HandoverExample64.exe" and os.environ.get("WINEARCH") == "win32":
        pytest.skip("a 32-bit prefix, like 32-bit Windows, runs no 64-bit program")
    uploader_runs.configure(install, album)
    # The second byte of 表 (0x95 0x5C) is a backslash: the name must survive it.
    photos = uploader_runs.make_files(sources, 2) + uploader_runs.make_files(
        sources, 1, prefix="表紙"
    )
    result = wd.run_windows(
        wd.BIN / example,
        wd.windows_path(install.exe),
        *[wd.windows_path(p) for p in photos],
        timeout=180,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.decode("cp932").splitlines() == [
        "delivered: photo1.jpg",
        "delivered: photo2.jpg",
        "delivered: 表紙1.jpg",
    ]
    # It started the uploader and returned only after its end.
    assert wd.find_window() is None
    assert album.stored_files(uploader_runs.ACCOUNT) == {p.name: p.read_bytes() for p in photos}
    assert list(install.temp.iterdir()) == []
