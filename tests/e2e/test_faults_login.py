"""A misbehaving album service during the login: the job's alert, then the controller's,
and the program ends without saving or deleting anything.
"""

import pytest

import uploader_runs
from album_service import Fault
from faults import LOGIN_FAILED, RECEIVE_ERROR, TIMED_OUT, WRONG_LOGIN, run, unused_port

# A failed login ends the program: the job's alert (if any), then "ログインに失敗しました".
# An answer the login cannot judge is read for 10 s; a request nobody answers is waited
# for 60 s.

LOGIN_FAULTS = {
    "fail": (Fault(endpoint="login", body="fail"), [WRONG_LOGIN], 0),
    "garbage": (
        Fault(endpoint="login", body="<html><body>error page</body></html>"),
        [WRONG_LOGIN],
        0,
    ),
    "3000 bytes": (Fault(endpoint="login", body="x" * 3000), [WRONG_LOGIN], 0),
    "token followed by a line feed": (
        Fault(endpoint="login", body="A" * 24 + "\n"),
        [WRONG_LOGIN],
        0,
    ),
    "HTTP 500 with a token": (Fault(endpoint="login", status=500, body="B" * 32), [WRONG_LOGIN], 0),
    "empty answer": (Fault(endpoint="login", body=""), [TIMED_OUT], 10),
    "one byte": (Fault(endpoint="login", body="a"), [TIMED_OUT], 10),
    "three bytes": (Fault(endpoint="login", body="abc"), [TIMED_OUT], 10),
    "dripped a byte a second": (Fault(endpoint="login", body="C" * 32, drip=1.0), [TIMED_OUT], 10),
    # The request completes without an answer, whose reads then bring nothing for 10 s.
    "connection dropped": (Fault(endpoint="login", drop=True), [TIMED_OUT], 10),
    # Answered well after the 60 s wait: a wait counted in slices runs a little long on
    # a loaded machine, and must not live to see the answer.
    "no answer within the time-out": (Fault(endpoint="login", delay=90), [], 60),
}


@pytest.mark.parametrize("name", list(LOGIN_FAULTS))
def test_login_fault(name, install, album, sources):
    fault, alerts, least = LOGIN_FAULTS[name]
    uploader_runs.configure(install, album)
    before = install.ini.read_bytes()
    files = uploader_runs.make_files(sources, 1)
    album.set_faults([fault])
    outcome = run(install, album, files, limit=least + 60)
    assert outcome.seen == alerts + [LOGIN_FAILED]
    assert outcome.elapsed >= least
    assert uploader_runs.uploads(album) == []
    assert install.ini.read_bytes() == before
    assert (install.temp / "photo1.jpg").exists()


def test_login_to_a_refused_connection(install, album, sources):
    # The refused request completes (with an error) at once; reading its answer fails.
    uploader_runs.configure(install, album)
    ini = install.ini.read_bytes().decode("cp932")
    install.ini.write_bytes(
        ini.replace(album.login_url, f"http://127.0.0.1:{unused_port()}/Pc/Upld_Login.aspx").encode(
            "cp932"
        )
    )
    files = uploader_runs.make_files(sources, 1)
    outcome = run(install, album, files, limit=60)
    assert outcome.seen == [RECEIVE_ERROR, LOGIN_FAILED]
    assert (install.temp / "photo1.jpg").exists()
