"""The uploader over HTTPS: the service's certificate is checked against the machine's
trusted root authorities, and a certificate that fails the check stops the login before
a byte of it leaves.
"""

import pytest

import uploader_runs
from album_certificates import self_signed
from faults import LOGIN_FAILED, RECEIVE_ERROR, run
from https_service import album_serving, trusted_authority


@pytest.fixture(scope="module")
def authority(tmp_path_factory):
    with trusted_authority(tmp_path_factory.mktemp("authority")) as trusted:
        yield trusted


def test_the_road_over_https(authority, install, sources, tmp_path):
    files = uploader_runs.make_files(sources, 1) + uploader_runs.make_files(
        sources, 1, prefix="写真"
    )
    with album_serving(tmp_path, authority.issue("localhost")) as album:
        assert album.login_url.startswith("https://localhost:")
        uploader_runs.configure(install, album)
        seen = run(install, album, files, limit=60).seen
        assert seen == []
        assert [e["endpoint"] for e in album.journal()] == ["login", "upload", "upload"]
        assert album.stored_files(uploader_runs.ACCOUNT) == {f.name: f.read_bytes() for f in files}
    assert list(install.temp.iterdir()) == []


def withdrawn_authority(folder):
    """An authority that was trusted once and has been taken out of the root store."""
    with trusted_authority(folder, "Withdrawn CA") as withdrawn:
        pass
    return withdrawn


REFUSED = {
    "untrusted authority": lambda trusted, folder: withdrawn_authority(folder).issue("localhost"),
    "another host's name": lambda trusted, folder: trusted.issue("album.example.jp"),
    "expired": lambda trusted, folder: trusted.issue("localhost", expired=True),
    "self-signed": lambda trusted, folder: self_signed("localhost"),
}


@pytest.mark.parametrize("case", list(REFUSED))
def test_a_certificate_that_fails_the_check_ends_the_login(
    case, authority, install, sources, tmp_path
):
    with album_serving(tmp_path, REFUSED[case](authority, tmp_path / "other")) as album:
        uploader_runs.configure(install, album)
        before = install.ini.read_bytes()
        files = uploader_runs.make_files(sources, 1)
        seen = run(install, album, files, limit=60).seen
        assert seen == [RECEIVE_ERROR, LOGIN_FAILED]
        # The uploader reached the service and turned away after the handshake.
        assert album.handshakes()
        assert album.journal() == []
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
