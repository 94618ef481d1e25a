#!/usr/bin/python3
"""One measurement of the link case (bench/cases/link.py), run inside the network namespace
that tools/winedrive/shaped_link.py makes for it, with a Wine prefix of its own: the
loopback shaped to the rate, the album service, a hand-over of one photo, and what the
link carried from the execute to the photo's deletion. Writes the figures as JSON.

    link_inside.py --rate 1mbit --size BYTES --work DIR --out FILE
"""

from __future__ import annotations

import argparse
import json
import os
import re
import time
from pathlib import Path

import harness
import shaped_link
from harness import BenchError, Service, UploaderRun, new_install, random_file
from roads import curl_run, upload_phases


def measure(rate: str, size: int, work: Path, limit_s: float, reference: bool) -> dict:
    shaped_link.shape(rate)
    service = Service(work)
    try:
        install = new_install(work / "install", service)
        source = work / "photo.jpg"
        sha = random_file(source, size)
        target = install.temp / source.name
        os.link(source, target)
        before = shaped_link.wire_bytes()
        run = UploaderRun(install, [target], "link", count=1, wait=True)
        deadline = time.monotonic() + limit_s
        while target.name not in run.deleted and run.alive():
            if time.monotonic() > deadline:
                run.kill()
                raise BenchError(f"the photo was not deleted within {limit_s:.0f} s")
            time.sleep(0.05)
        after = shaped_link.wire_bytes()
        run.wait_end(timeout=60)
        run.check_no_crash("link")
        if target.name not in run.deleted:
            raise BenchError(f"the uploader ended with the photo in temp ({run.host_said()})")
        sinks = [e for e in service.journal() if e["endpoint"] == "sink"]
        harness.check_sink_entry(sinks[-1], size, sha, "link")
        body_length = int(dict(sinks[-1]["headers"])["Content-Length"])
        curl = {}
        if reference:
            # The same photo from curl over the same link, once the uploader has ended: what
            # the link and TCP give any sender.
            wire = shaped_link.wire_bytes()
            started = time.monotonic()
            curl_s = curl_run(service, source, sha)[0]
            curl["curl_s"] = curl_s
            curl["curl_wall_s"] = time.monotonic() - started
            curl["curl_wire_bytes"] = shaped_link.wire_bytes()["bytes"] - wire["bytes"]
        phases = upload_phases(run.events())
        # Each attempt's measure of the link and its allowance for the socket's drain.
        drains = [
            re.search(rb"link (\d+) bytes/s, (\d+) ms to drain", e.text)
            for e in run.events()
            if e.text.startswith(b"request body written:")
        ]
        return {
            **curl,
            "drains": [(int(d.group(1)), int(d.group(2)) / 1000) for d in drains if d],
            "executed_to_deleted": run.deleted[target.name] - phases["login"],
            "wire_bytes": after["bytes"] - before["bytes"],
            "packets": after["packets"] - before["packets"],
            "dropped": after["dropped"] - before["dropped"],
            "attempts": len(sinks),
            "received": sum(e["body_length"] for e in sinks),
            "body_length": body_length,
        }
    finally:
        service.stop()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rate", required=True)
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("--limit", type=float, required=True)
    parser.add_argument("--reference", action="store_true", help="also time curl -F")
    args = parser.parse_args()
    args.work.mkdir(parents=True, exist_ok=True)
    try:
        result = measure(args.rate, args.size, args.work, args.limit, args.reference)
    except BenchError as error:
        result = {"error": str(error)}
    crashes = harness.wd.crashes_seen()
    if crashes:
        result = {"error": "Wine reported a crash:\n" + "\n".join(crashes)}
    args.out.write_text(json.dumps(result))


if __name__ == "__main__":
    main()
