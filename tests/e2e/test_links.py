"""Whole runs over links as users have them: a slow uplink, a lossy one, a crawling one,
and one that stops moving in the middle of a photo or after its last piece.

Each entry of this file runs in a network namespace of its own with the whole Wine of the
test inside it (tools/winedrive/shaped_link.py, from tests/e2e/CMakeLists.txt); each case
shapes that namespace's loopback.
"""

import re
import time

import pytest

import shaped_link
import uploader_runs
import winedrive as wd
from faults import run

MB = 1_000_000
# The transfer bar of an upload: 0, on by 20 once connected, through the send's span as
# the body goes out, then 90 and 100 at the end (the marks between are not logged).
SEND_START = 20
SEND_END = 40
# How far into a photo's send the link that stops mid-photo stops moving.
STALL_AFTER_S = 8
# The last piece before a stall may have gone in this long before it: a piece is about a
# second of the link, and it may have waited as long for room in the socket.
LAST_PIECE_S = 3
# A body that has not moved for this long makes the attempt give up; the service gets as
# long to answer once the body has left.
STALL_LIMIT_S = 60
# A piece blocked on a dead link ends at the socket's send time-out, 10 s after the stall
# limit counted from the piece's start.
SEND_TIMEOUT_S = 70

LINKS = {
    # name: (rate, percent lost, photo sizes, least seconds the run takes on that link)
    # 9 MB at 1 Mbit/s: well over a minute to send, where a request used to get one.
    "slow": ("1mbit", 0, [9 * MB], 72),
    "lossy": ("2mbit", 3, [MB, MB, MB], 12),
    # 64 kB at 5 kbit/s: the socket takes most of the photo at once and needs well over a
    # minute to pass it on; the service's minute starts only then.
    "crawling": ("5kbit", 0, [64_000], 100),
}

STALLS = {
    # name: (rate, photo size, whether the link stops after the last piece)
    # 32 s on this link; it stops moving about a quarter of the way.
    "mid-photo": ("1mbit", 4 * MB, False),
    # 30 s on this link, and after the last piece the socket still holds seconds of it.
    "after the last piece": ("128kbit", 480_000, True),
}


@pytest.fixture(autouse=True)
def no_losses_left():
    """Each case starts on a link without losses and leaves none behind."""
    shaped_link.clear()
    yield
    shaped_link.clear()


def upload_bar_runs(uploader) -> list[list[int]]:
    """The transfer bar's logged positions of each upload (the first run is the login's)."""
    return uploader_runs.transfer_runs(uploader)[1:]


@pytest.mark.parametrize("link", list(LINKS))
def test_photos_over_a_slow_link_are_each_sent_once(link, install, album, sources):
    rate, loss, sizes, least = LINKS[link]
    shaped_link.shape(rate)
    if loss:
        shaped_link.lose(loss)
    uploader_runs.configure(install, album)
    files = [
        uploader_runs.make_files(sources, 1, size=size, prefix=f"photo{n}-")[0]
        for n, size in enumerate(sizes)
    ]
    originals = {f: f.read_bytes() for f in files}
    # A second request for any photo ends the run there: it would be one copy too many.
    outcome = run(
        install,
        album,
        files,
        limit=3 * least + 120,
        close_after=lambda: len(uploader_runs.uploads(album)) > len(files),
    )

    assert len(uploader_runs.uploads(album)) == len(files)
    assert album.stored_files(uploader_runs.ACCOUNT) == {f.name: d for f, d in originals.items()}
    assert list(install.temp.iterdir()) == []
    assert outcome.seen == []
    assert outcome.elapsed >= least
    # Each upload's bar went up with its body, step by step, to the send's end.
    for bar in upload_bar_runs(outcome.uploader):
        sent = bar[1:-2]
        assert bar[0] == 0 and bar[-2:] == [90, 100], bar
        assert sent == sorted(set(sent)) and sent[-1] == SEND_END, bar
        assert all(SEND_START < position <= SEND_END for position in sent), bar
    if link == "slow":
        # A step for every twentieth of the photo: the user sees it move all along.
        assert upload_bar_runs(outcome.uploader)[0][1:-2] == list(
            range(SEND_START + 1, SEND_END + 1)
        )


def drain_allowance(uploader) -> float | None:
    """Seconds the upload allowed for its body to leave the socket after the last piece,
    once it has written that piece."""
    for line in uploader.debug_lines():
        found = re.match(rb"request body written: .*, (\d+) ms to drain", line)
        if found:
            return int(found.group(1)) / 1000
    return None


@pytest.mark.parametrize("stall", list(STALLS))
def test_a_link_that_stops_gives_up_after_a_minute_and_keeps_the_photo(
    stall, install, album, sources, start_uploader
):
    rate, size, after_last_piece = STALLS[stall]
    shaped_link.shape(rate)
    uploader_runs.configure(install, album)
    photo = uploader_runs.make_files(sources, 1, size=size)[0]
    clicker = uploader_runs.AlertClicker()
    uploader = start_uploader(1)
    window = uploader.main_window()
    clicker.start()
    try:
        result = uploader_runs.hand_over(install, [photo], "--count", 1, wait=None)
        assert result.returncode == 0, result.stderr
        uploader_runs.wait_for_states(["アップ中"])
        if after_last_piece:
            allowance = wd.poll(lambda: drain_allowance(uploader), timeout=120)
            assert allowance, "the photo's last piece never went out"
        else:
            time.sleep(STALL_AFTER_S)
            allowance = 0
        shaped_link.stall()
        stalled = time.monotonic()

        def first_attempt_ended():
            runs = upload_bar_runs(uploader)
            return bool(runs) and runs[0][-1] == 100

        assert wd.poll(first_attempt_ended, timeout=STALL_LIMIT_S + allowance + 90)
        gave_up = time.monotonic() - stalled
        # Mid-photo, nothing moved for a minute before the attempt gave up (counted from
        # the last piece that went in before the stall; a minute counted from the start of
        # the send would run out 52 s after the stall). After the last piece, the service's
        # minute started once the measured rate had carried the rest out of the socket.
        assert gave_up >= STALL_LIMIT_S + allowance - LAST_PIECE_S, (gave_up, allowance)
        # And it gave up then, not after a second wait of its own.
        assert gave_up < STALL_LIMIT_S + allowance + 30, (gave_up, allowance)
        stalled_lines = [
            line for line in uploader.debug_lines() if line.startswith(b"request body stalled:")
        ]
        assert len(stalled_lines) == (0 if after_last_piece else 1)
        assert (install.temp / photo.name).read_bytes() == photo.read_bytes()
        if not after_last_piece:
            # The piece left blocked on the dead link ends at the send time-out, so that
            # the attempt given up holds neither the link nor its photo's body for long.
            def writer_ended():
                return any(
                    line.startswith(b"request body piece failed:")
                    for line in uploader.debug_lines()
                )

            assert wd.poll(writer_ended, timeout=SEND_TIMEOUT_S + 30 - gave_up)

        # The user closes the program while the next attempt waits on the dead link.
        wd.post(window["hwnd"], wd.WM_COMMAND, 40001)
        assert uploader.wait(timeout=30) == 0
    finally:
        clicker.stop()
    assert clicker.seen == []
    assert (install.temp / photo.name).read_bytes() == photo.read_bytes()
    assert album.stored_files(uploader_runs.ACCOUNT) == {}
