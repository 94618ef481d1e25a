#!/usr/bin/env python3
"""The soak: 300 files handed over at once while the album service fails about one upload
in ten at random (seeded). Checks the invariant: every file that left the temp folder is
at the service with identical bytes, every file still in temp was never confirmed, and
the counts add up. Run through scripts/soak.sh; the test suite runs a short one.

    soak_run.py [--files N] [--seed S] [--rate R] [--work DIR]
"""

import argparse
import hashlib
import shutil
import sys
import time
from collections import Counter
from pathlib import Path

import uploader_runs
import winedrive as wd
from album_service import AlbumService, Fault
from faults import run


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--rate", type=float, default=0.1)
    parser.add_argument("--work", type=Path, default=wd.BUILD / "soak")
    args = parser.parse_args()

    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    sources = work / "sources"
    sources.mkdir()
    # Three kinds of quick failure share the rate: a refusal, an error page reading
    # "success" (nothing stored) and a cut answer after the file was stored.
    share = args.rate / 3
    faults = [
        Fault(endpoint="upload", rate=share, seed=args.seed, body="fail", name="fail"),
        Fault(
            endpoint="upload",
            rate=share / (1 - share),
            seed=args.seed + 1,
            status=500,
            body="success",
            name="500 success",
        ),
        Fault(
            endpoint="upload",
            rate=share / (1 - 2 * share),
            seed=args.seed + 2,
            body="succ",
            process=True,
            name="succ after storing",
        ),
    ]
    with AlbumService(
        accounts={uploader_runs.ACCOUNT: uploader_runs.PASSWORD}, storage=work / "album", port=0
    ) as album:
        install = wd.Install(work / "app")
        uploader_runs.configure(install, album)
        files = uploader_runs.make_files(sources, args.files, size=4096)
        digests = {f.name: hashlib.sha256(f.read_bytes()).hexdigest() for f in files}
        album.set_faults(faults)
        started = time.monotonic()
        outcome = run(install, album, files, limit=args.files * 20)
        crashes = wd.crashes_seen()
        journal = album.journal()
        held = album.stored_files(uploader_runs.ACCOUNT)

    uploads = [e for e in journal if e["endpoint"] == "upload"]
    failures = sum(1 for e in uploads if e["answer"] != "success" or e["status"] != 200)
    in_temp = {p.name for p in install.temp.iterdir()}
    delivered = [name for name in digests if name not in in_temp]
    lost = [
        name
        for name in delivered
        if hashlib.sha256(held.get(name, b"")).hexdigest() != digests[name]
    ]
    confirmed = {e["raw_query"] for e in uploads if e["answer"] == "success" and e["status"] == 200}

    print(f"files handed over: {len(files)}")
    print(f"upload requests:   {len(uploads)}")
    injected = Counter(e["fault"] for e in uploads if e["fault"])
    print(f"failures injected: {failures} ({dict(injected)})")
    print(f"retries:           {len(uploads) - len(files)}")
    print(f"files delivered:   {len(delivered)} (left the temp folder, identical at the service)")
    print(f"files in temp:     {len(in_temp)}")
    print(f"files lost:        {len(lost)}")
    print(f"alerts:            {outcome.seen}")
    print(f"crashes:           {crashes or 'none'}")
    print(
        f"time:              {outcome.elapsed:.0f} s ({outcome.elapsed / len(files):.2f} s "
        f"per file), {time.monotonic() - started:.0f} s in all"
    )
    ok = (
        not lost
        and not crashes
        and len(delivered) + len(in_temp) == len(files)
        and len(uploads) == len(files) + failures
        and bool(confirmed)
    )
    print("soak:", "PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
