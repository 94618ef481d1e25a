"""link: one photo over a slow uplink (a loopback shaped in a network namespace of its own),
from the execute to the photo's deletion, against the link's floor: the bytes that crossed
the link in that time at its rate; on two home uplinks and on a crawling one. And the bytes
the service received against the body: a photo sent once is received once."""

from __future__ import annotations

import json
import subprocess
import sys

from harness import ROOT, BenchError, Context, Row

NAME = "link"
# Over the floor: the login's designed pauses (1.5 s), the pause before the upload's job
# starts, and the answer's wait: a few percent of a minute and more on the link.
MARGIN = 1.15
# A crawling link's floor is a few minutes: the same pauses are less of it, but TCP on a
# link this slow sits out retransmission time-outs in which the link carries nothing.
CRAWL_MARGIN = 1.20
# (photo bytes, tc's rate, the rate in bit/s, the goal's margin, the row's name, whether
# curl sends the same photo over the same link too): a photo that takes over a minute on a
# home uplink, one on half of it, and a small one on a weak mobile uplink, where the socket
# takes most of the photo at once and needs minutes to pass it on.
LINKS = (
    (9_000_000, "1mbit", 1_000_000, MARGIN, "link, 9.0 MB photo at 1mbit", False),
    (4_000_000, "512kbit", 512_000, MARGIN, "link, 4.0 MB photo at 512kbit", False),
    (150_000, "8kbit", 8_000, CRAWL_MARGIN, "link, crawling: 150 kB photo at 8kbit", True),
)
# The whole measurement may take this many times its floor before it counts as failed.
LIMIT_FACTOR = 4
LIMIT_EXTRA_S = 120
GOAL = (
    f"**link**: one photo over a loopback shaped by tc's token bucket (a namespace of its own, "
    f"with the uploader's whole Wine and the service inside), from the execute (the login's "
    f"password digest line) to the photo's deletion seen in temp. The floor is what the "
    f"link carried meanwhile (tc's byte count: request, answers, TCP and IP headers, "
    f"acknowledgements) times 8 over its rate: no sender can be faster on that link. The "
    f"goal allows {MARGIN:.2f}x the floor for the designed pauses around the login and the "
    f"answer's wait, {CRAWL_MARGIN:.2f}x on the crawling link (8 kbit/s), where TCP also "
    f"sits out its retransmission time-outs. The second row of each is the body bytes the "
    f"service received against the body's size: the goal is exactly 1.00, the photo sent "
    f"once."
)


def measure(ctx: Context, size: int, rate: str, bits: int, reference: bool) -> dict:
    """Runs bench/link_inside.py in a namespace of its own; its figures."""
    label = f"bench-link-{rate}"
    work = ctx.work / label
    out = work / "result.json"
    work.mkdir(parents=True, exist_ok=True)
    limit = LIMIT_FACTOR * size * 8 / bits + LIMIT_EXTRA_S
    # curl's own send of the photo comes after the uploader's and may take as long.
    timeout = (2 if reference else 1) * limit + 120
    command = [
        sys.executable, str(ROOT / "tools" / "winedrive" / "shaped_link.py"), "run", label, "--",
        str(ROOT / "tests" / "e2e" / "run_isolated.sh"), label,
        sys.executable, str(ROOT / "bench" / "link_inside.py"), "--rate", rate,
        "--size", str(size), "--work", str(work), "--out", str(out), "--limit", str(limit),
    ] + (["--reference"] if reference else [])  # fmt: skip
    with open(work / "run.log", "wb") as log:
        subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, timeout=timeout)
    if not out.exists():
        raise BenchError(f"link {rate}: no result; see {work / 'run.log'}")
    result = json.loads(out.read_text())
    if "error" in result:
        raise BenchError(f"link {rate}: {result['error']}")
    return result


def run(ctx: Context) -> None:
    report = ctx.report
    report.say("## link")
    if ctx.quick:
        report.say("- not in the quick run: each photo takes a minute and more on its link")
        report.say()
        return
    for size, rate, bits, margin, name, reference in LINKS:
        found = measure(ctx, size, rate, bits, reference)
        took = found["executed_to_deleted"]
        floor = found["wire_bytes"] * 8 / bits
        share = found["received"] / found["body_length"]
        report.rows.append(
            Row(
                f"{name}: execute to deleted",
                f"{took:.1f} s",
                f"{floor:.1f} s (the bytes the link carried x 8 / rate)",
                f"≤ {margin:.2f}x floor ({margin * floor:.1f} s)",
                report.judge(took <= margin * floor),
                f"{took / (found['body_length'] * 8 / bits):.2f}x the body alone at the rate"
                + curl_beside(found, bits),
            )
        )
        report.rows.append(
            Row(
                f"{name}: body bytes received",
                f"{share:.2f}x the body",
                f"1.00x ({found['body_length']} bytes)",
                "exactly 1.00x",
                report.judge(found["received"] == found["body_length"]),
                f"{found['attempts']} request(s)",
            )
        )
        report.say(
            f"- {size} bytes at {rate}: execute to deleted {took:.1f} s; the link carried "
            f"{found['wire_bytes']} bytes in {found['packets']} packets ({found['dropped']} "
            f"dropped by the bucket), {floor:.1f} s at its rate, so {took / floor:.2f}x its "
            f"floor; the body alone ({found['body_length']} bytes) is "
            f"{found['body_length'] * 8 / bits:.1f} s at the rate; the service received "
            f"{found['received']} body bytes in {found['attempts']} request(s); the pieces "
            f"measured the link and allowed for the socket's drain after the last piece: "
            f"{', '.join(f'{r} bytes/s, {d:.1f} s' for r, d in found['drains']) or 'nothing'}"
        )
    report.say()


def curl_beside(found: dict, bits: int) -> str:
    """curl -F's send of the same photo over the same link, against the bytes it made the
    link carry, where the case measured it."""
    if "curl_s" not in found:
        return ""
    floor = found["curl_wire_bytes"] * 8 / bits
    return (
        f"; curl -F on the same link {found['curl_s']:.1f} s, "
        f"{found['curl_s'] / floor:.2f}x the bytes it made the link carry"
    )
