"""Through a proxy, set the way Windows users set one (the user's Internet settings, which
the uploader's preconfigured WinINet session follows): tinyproxy on loopback, whose log
shows what passed through it.
"""

import re
import socket
import subprocess

import pytest

import uploader_runs
import winedrive as wd
from faults import LOGIN_FAILED, RECEIVE_ERROR, run, unused_port
from https_service import album_serving, trusted_authority

# tinyproxy's log line for each request it takes.
REQUEST_LINE = re.compile(r"Request \(file descriptor \d+\): (.*)$")
STARTUP_LIMIT = 10


class Tinyproxy:
    """A tinyproxy of its own on a free loopback port, logging each request."""

    def __init__(self, folder):
        self.port = unused_port()
        self.log = folder / "tinyproxy.log"
        config = folder / "tinyproxy.conf"
        # No ConnectPort line: CONNECT may reach any port, the test service's included.
        config.write_text(
            f'Port {self.port}\nListen 127.0.0.1\nLogFile "{self.log}"\nLogLevel Connect\n'
        )
        self.process = subprocess.Popen(
            ["tinyproxy", "-d", "-c", str(config)],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        if not wd.poll(self._listening, STARTUP_LIMIT):
            self.stop()
            raise RuntimeError(f"tinyproxy did not start on port {self.port}")

    def _listening(self) -> bool:
        if self.process.poll() is not None:
            raise RuntimeError(f"tinyproxy ended with {self.process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def requests(self) -> list[str]:
        """The request lines that reached the proxy, in order."""
        lines = self.log.read_text(errors="replace").splitlines() if self.log.exists() else []
        return [m.group(1) for m in map(REQUEST_LINE.search, lines) if m]

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture(scope="module")
def proxy(tmp_path_factory):
    proxy = Tinyproxy(tmp_path_factory.mktemp("proxy"))
    wd.set_internet_proxy(f"127.0.0.1:{proxy.port}")
    yield proxy
    wd.set_internet_proxy(None)
    proxy.stop()


def test_the_road_through_a_proxy(proxy, album, install, sources):
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 2)
    seen = run(install, album, files, limit=60).seen
    assert seen == []
    assert album.stored_files(uploader_runs.ACCOUNT) == {f.name: f.read_bytes() for f in files}
    assert list(install.temp.iterdir()) == []
    # The proxy forwarded the login and both uploads, each addressed by its whole URL.
    passed = proxy.requests()
    assert passed[0] == f"POST {album.login_url} HTTP/1.0"
    assert [line.split("?")[0] for line in passed[1:]] == [f"POST {album.upload_url}"] * 2


def test_https_through_a_proxy_ends_the_login_under_wine(proxy, install, sources, tmp_path):
    # Wine's HttpSendRequestEx sends the proxy the CONNECT and leaves the tunnel there:
    # HttpEndRequest then takes the proxy's "200 Connection established" for the
    # service's answer, and no TLS follows (PLATFORM.md, "Where Wine differs from Windows").
    # Pinned as it stands, so that a mended Wine, or a change in the program's calls,
    # shows here.
    with (
        trusted_authority(tmp_path / "authority") as authority,
        album_serving(tmp_path, authority.issue("localhost")) as album,
    ):
        uploader_runs.configure(install, album)
        before = install.ini.read_bytes()
        files = uploader_runs.make_files(sources, 1)
        seen = run(install, album, files, limit=60).seen
        assert seen == [RECEIVE_ERROR, LOGIN_FAILED]
        assert proxy.requests()[-1] == f"CONNECT localhost:{album.port} HTTP/1.1"
        assert album.journal() == []
        # The tunnel closed with the handshake unfinished, and the login did not travel
        # through it in clear either (the handshake would have failed on it).
        assert wd.poll(album.handshakes, timeout=10) == ["closed"]
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").read_bytes() == files[0].read_bytes()
