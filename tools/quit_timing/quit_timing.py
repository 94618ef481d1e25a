#!/usr/bin/env python3
"""How long the uploader takes to end once the user has quit: from File > 終了 (posted) or
"はい" to the close question (clicked) to the end of its process. Each run hands over a few
files to a service that refuses about every second upload, so that runs go through the
designed pauses (the login's teardown, an upload's, the pause before a retry), and quits
at a random moment of it, one way or the other. Prints every run, then the median and
the longest time by what the program was doing (logging in or uploading) and by how the
user quit. After scripts/build.sh, from the repository:

    scripts/with-wine.sh /usr/bin/python3 tools/quit_timing/quit_timing.py \
        [--runs N] [--seed S] [--exe PATH] [--work DIR]

--exe measures another build of the uploader (the host tool and the probe stay this
build's).
"""

import argparse
import random
import shutil
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [
    str(ROOT / "tools" / "winedrive"),
    str(ROOT / "service"),
    str(ROOT / "tests" / "e2e"),
]

import uploader_runs  # noqa: E402  (needs the path above)
import winedrive as wd  # noqa: E402
from album_service import AlbumService, Fault  # noqa: E402

FILES = 3
# About every second upload is refused ("fail"): each refusal passes through the upload
# teardown's pauses and the controller's pause before the retry.
FAILURE_RATE = 0.5
# Of the others, about one in three is answered only after a while: a quit then finds the
# request on the wire, its answer awaited.
SLOW_RATE = 0.3
SLOW_ANSWER_S = 3.0
# When the user quits, in seconds after the hand-over: a run of three files with a couple
# of refusals and a slow answer takes about this long, its login included.
QUIT_WINDOW_S = (0.3, 10.0)
IDYES = 6
EXIT_COMMAND = 40001
# How long a run may take to end after the quit before it counts as hung.
END_LIMIT_S = 120
# How long the close question may take to show: the UI thread asks only once it is free,
# after any teardown's pauses.
QUESTION_LIMIT_S = 15


def quit_by_closing(window: dict, uploader: wd.Uploader) -> float | None:
    """WM_CLOSE, then "はい" once the question shows; the moment of the click, or of the
    close when the program ended without asking."""
    posted = time.monotonic()
    wd.post(window["hwnd"], wd.WM_CLOSE)
    deadline = posted + QUESTION_LIMIT_S
    while time.monotonic() < deadline:
        if not uploader.running():
            return posted
        question = next((d for d in wd.dialogs(window["pid"]) if d["title"] == "注意"), None)
        if question is not None:
            clicked = time.monotonic()
            wd.click(question["hwnd"], IDYES)
            return clicked
        time.sleep(0.01)
    return None


def one_run(index: int, rng, args, album, work: Path) -> dict:
    folder = work / f"run{index:03d}"
    install = wd.Install(folder / "app", copy=False)
    shutil.copy2(args.exe, install.exe)
    uploader_runs.configure(install, album)
    sources = folder / "sources"
    sources.mkdir()
    files = uploader_runs.make_files(sources, FILES)
    album.set_faults(
        [
            Fault(endpoint="upload", rate=FAILURE_RATE, seed=rng.randrange(1 << 30), body="fail"),
            Fault(
                endpoint="upload",
                rate=SLOW_RATE,
                seed=rng.randrange(1 << 30),
                delay=SLOW_ANSWER_S,
            ),
        ]
    )
    how = rng.choice(["exit", "close"])
    delay = rng.uniform(*QUIT_WINDOW_S)
    uploader = wd.Uploader(install, FILES)
    # The alerts are answered as a user would; the close question is the run's own.
    clicker = uploader_runs.AlertClicker(leave=("注意",))
    try:
        window = uploader.main_window()
        clicker.start()
        handed = uploader_runs.hand_over(install, files, "--count", FILES, wait=None)
        assert handed.returncode == 0, handed.stderr
        quit_at = time.monotonic() + delay
        while time.monotonic() < quit_at and uploader.running():
            time.sleep(0.005)
        if not uploader.running():
            return {"how": how, "phase": "ended before the quit", "seconds": None, "after": delay}
        labels = uploader_runs.status_labels(uploader)
        phase = "login" if not labels or labels[-1] == "ログイン中" else "upload"
        last = uploader.debug_lines()[-1].decode("cp932", "replace").strip()
        if how == "exit":
            quit_time = time.monotonic()
            wd.post(window["hwnd"], wd.WM_COMMAND, EXIT_COMMAND)
        else:
            quit_time = quit_by_closing(window, uploader)
            if quit_time is None:
                return {"how": how, "phase": phase, "seconds": None, "last": "no question"}
        while uploader.running():
            if time.monotonic() - quit_time > END_LIMIT_S:
                return {"how": how, "phase": phase, "seconds": None, "last": "hung"}
            time.sleep(0.005)
        return {
            "how": how,
            "phase": phase,
            "seconds": time.monotonic() - quit_time,
            "after": delay,
            "last": last,
            "code": uploader.process.returncode,
        }
    finally:
        clicker.stop()
        uploader.kill()


def summary(name: str, values: list[float]) -> str:
    if not values:
        return f"{name}: no runs"
    return (
        f"{name}: {len(values)} runs, median {statistics.median(values):.1f} s, "
        f"longest {max(values):.1f} s"
    )


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--exe", type=Path, default=wd.BIN / wd.UPLOADER_EXE)
    parser.add_argument("--work", type=Path, default=wd.BUILD / "quit-timing")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    results = []
    with AlbumService(
        accounts={uploader_runs.ACCOUNT: uploader_runs.PASSWORD}, storage=work / "album", port=0
    ) as album:
        for index in range(args.runs):
            result = one_run(index, rng, args, album, work)
            results.append(result)
            seconds = result["seconds"]
            shown = f"{seconds:5.2f} s" if seconds is not None else "   -   "
            print(
                f"run {index:3d}: {result['how']:5s} {result['phase']:22s} {shown}"
                f"  (quit {result.get('after', 0):.1f} s after the hand-over; "
                f"last line {result.get('last', '')!r})",
                flush=True,
            )
    crashes = wd.crashes_seen()
    timed = [r for r in results if r["seconds"] is not None]
    print(summary("all", [r["seconds"] for r in timed]))
    for how in ("exit", "close"):
        print(summary(f"  {how}", [r["seconds"] for r in timed if r["how"] == how]))
    for phase in ("login", "upload"):
        print(
            summary(f"  during the {phase}", [r["seconds"] for r in timed if r["phase"] == phase])
        )
    failed = [r for r in results if r["phase"] != "ended before the quit" and r["seconds"] is None]
    codes = sorted({r["code"] for r in timed})
    print(f"exit codes: {codes}; runs without a time: {len(failed)}; crashes: {crashes or 'none'}")
    return 0 if not failed and not crashes and codes == [0] else 1


if __name__ == "__main__":
    sys.exit(main())
