"""memory: the uploader's peak memory in the upload of the largest file, against the
design's floor: the program before the body, plus the body (the whole file), which goes
out in pieces from where it was built."""

from __future__ import annotations

from harness import (
    MEMORY_SAMPLE_S,
    Context,
    MiB,
    Row,
    check_sink_entry,
    helper_json_lines,
    median,
    mib,
    wd,
)
from roads import measured, sizes

NAME = "memory"
# Over the floor: WinINet's own buffers, the heap's rounding of a block of hundreds of MiB,
# and the pages other threads touch meanwhile.
MARGIN = 32 * MiB
GOAL = (
    f"**memory**: the floor is the uploader's own memory just before it builds the body "
    f"(VmRSS at the request handle, the same upload) plus the file once: the design holds the "
    f"whole body in one block, and the client writes it to WinINet in pieces from "
    f"there (handed to HttpSendRequestEx whole, Wine would copy header and body into a buffer "
    f"of its own first). The goal allows {mib(MARGIN)} over that for WinINet's buffers and the "
    f"heap's rounding; more would mean a copy of the body or a leak. The ratio to the file's "
    f"size is kept beside it."
)


def run(ctx: Context) -> None:
    report = ctx.report
    size = max(sizes(ctx))
    found = measured(ctx, size)
    # The upload with the highest peak, and its own memory before the body.
    top = max(found.uploads, key=lambda u: u.peak_kib)
    peak = top.peak_kib * 1024
    floor = top.rss_before_kib * 1024 + size
    report.rows.append(
        Row(
            f"memory, {mib(size)} upload",
            mib(peak),
            f"{mib(floor)} (the program before the body + the file)",
            f"≤ floor + {mib(MARGIN)} ({mib(floor + MARGIN)})",
            report.judge(peak <= floor + MARGIN),
            f"{peak / size:.2f}x the file ({mib(size)})",
        )
    )
    report.say("## memory")
    report.say(
        f"- {mib(size)}, the uploads of the transfer case ({found.rounds} round(s)); VmRSS "
        f"of the uploader's process, sampled every "
        f"{MEMORY_SAMPLE_S * 1000:.0f} ms, in the upload with the highest "
        f"peak: {top.rss_before_kib / 1024:.0f} MiB before the body, "
        f"{top.rss_body_kib / 1024:.0f} MiB with the body built, "
        f"{top.rss_copy_kib / 1024:.0f} MiB once the headers went out; peak (VmHWM) "
        f"{mib(peak)}; "
        f"the peaks of each: {', '.join(mib(u.peak_kib * 1024) for u in found.uploads)}"
    )
    report.say(
        f"- the floor: {top.rss_before_kib / 1024:.0f} MiB + {mib(size)} = "
        f"{mib(floor)}; "
        f"the peak is {(peak - floor) / MiB:+.1f} MiB from it"
    )
    sends = send_pieces_trial(ctx, found)
    both = sends["whole"] + sends["pieces"]
    report.say(
        f"- what a body handed over whole would cost (SendBench, a profiling aid: the same "
        f"body built by "
        f"BuildMultipartBody, posted on a synchronous WinINet session, {found.rounds} "
        f"run(s) "
        f"each way, medians): handed over as HttpSendRequestExA's buffer: send "
        f"{median([r['send_ms'] for r in sends['whole']]):.0f} ms, peak working set "
        f"{mib(median([r['peak'] for r in sends['whole']]))}; announced by "
        f"dwBufferTotal and written with InternetWriteFile in 64 KiB pieces (the uploader "
        f"writes from the block in the same way, in pieces sized to the link): send "
        f"{median([r['send_ms'] for r in sends['pieces']]):.0f} ms, peak working set "
        f"{mib(median([r['peak'] for r in sends['pieces']]))}; body building in "
        f"these runs {median([r['build_ms'] for r in both]):.0f} ms"
    )
    report.say()


def send_pieces_trial(ctx: Context, found) -> dict:
    """SendBench both ways, alternating, each checked at the sink."""
    results = {"whole": [], "pieces": []}
    for round_ in range(found.rounds):
        for mode in ("whole", "pieces") if round_ % 2 == 0 else ("pieces", "whole"):
            line = helper_json_lines(
                "SendBench.exe",
                mode,
                "127.0.0.1",
                ctx.service.port,
                "/sink",
                wd.windows_path(found.source),
                timeout=600,
            )[0]
            check_sink_entry(ctx.service.last_sink(), found.size, found.sha256, f"SendBench {mode}")
            results[mode].append(line)
    return results
