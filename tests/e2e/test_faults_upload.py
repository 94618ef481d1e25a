"""A misbehaving album service during uploads: how many attempts a file takes, which
alert the user sees, and that the program neither crashes nor hangs beyond its designed
time-outs. A file leaves the temp folder only when the service holds exactly its bytes.

The designed time-outs make some cases slow: an answer the upload cannot judge keeps it
reading for 60 s, and a request that cannot be started is waited for 60 s.
"""

import pytest

import uploader_runs
from album_service import Fault
from faults import TIMED_OUT, run

# Each fault hits the first upload only; the retry then succeeds and the run ends.

# CPU time of a whole run that would mean a busy loop.
BUSY_CPU_SECONDS = 10

UPLOAD_FAULTS = {
    # name: (fault, attempts, alerts, least seconds)
    "succ": (Fault(endpoint="upload", times=1, body="succ"), 2, [], 0),
    "success followed by more": (
        Fault(endpoint="upload", times=1, body="success, stored", process=True),
        1,
        [],
        0,
    ),
    "fail": (Fault(endpoint="upload", times=1, body="fail"), 2, [], 0),
    "garbage": (Fault(endpoint="upload", times=1, body=b"\x00\xff<html>oops</html>\r\n"), 2, [], 0),
    "3000 bytes": (Fault(endpoint="upload", times=1, body=b"x" * 3000), 2, [], 0),
    "HTTP 500 reading success": (
        Fault(endpoint="upload", times=1, status=500, body="success"),
        2,
        [],
        0,
    ),
    # Judged as soon as four bytes are in: "succ".
    "dripped a byte a second": (
        Fault(endpoint="upload", times=1, body="success", drip=1.0, process=True),
        2,
        [],
        3,
    ),
    "connection dropped": (Fault(endpoint="upload", times=1, drop=True), 2, [TIMED_OUT], 60),
    "reset while the body is sent": (
        Fault(endpoint="upload", times=1, drop_during_body=True),
        2,
        [TIMED_OUT],
        60,
    ),
    "empty answer": (Fault(endpoint="upload", times=1, body=""), 2, [TIMED_OUT], 60),
    "one byte": (Fault(endpoint="upload", times=1, body="s"), 2, [TIMED_OUT], 60),
    "three bytes": (Fault(endpoint="upload", times=1, body="suc"), 2, [TIMED_OUT], 60),
    # Answered well after the 60 s wait, which, counted in slices, runs a little long on a
    # loaded machine.
    "no answer within the time-out": (Fault(endpoint="upload", times=1, delay=90), 2, [], 60),
}


@pytest.mark.parametrize("name", list(UPLOAD_FAULTS))
def test_upload_fault(name, install, album, sources):
    fault, attempts, alerts, least = UPLOAD_FAULTS[name]
    uploader_runs.configure(install, album)
    files = uploader_runs.make_files(sources, 1, size=512 * 1024)
    originals = {f: f.read_bytes() for f in files}
    album.set_faults([fault])
    outcome = run(install, album, files, limit=least + 60)

    assert len(uploader_runs.uploads(album)) == attempts
    assert outcome.seen == alerts
    assert outcome.elapsed >= least
    assert not (install.temp / "photo1.jpg").exists()
    uploader_runs.assert_nothing_lost(install, album, originals)
    # Waiting out an answer is waiting: spinning on reads kept a core busy for the whole
    # 60 s (32 s of CPU measured here), where a run takes well under one second.
    assert outcome.cpu < BUSY_CPU_SECONDS
