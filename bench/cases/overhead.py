"""overhead: the time per file of many small files in one hand-over, against the design's
floor: DesignCycle, the least program that does per file what the design does, run to the
same service before and after the uploader."""

from __future__ import annotations

import statistics

from harness import TEMP_WATCH_S, Context, Row, each, first, is_retired
from roads import SUCCESS_LINE, design_cycle_run, request_marks, small_files_run

NAME = "overhead"
FULL_COUNT = 50
QUICK_COUNT = 5
FILE_SIZE = 4096
# The designed pauses: FinishUpload sleeps UploadTeardownPause (src/upload/upload_job.h)
# before and after DisposeJob, and CloseAndDrain DrainPollInterval (src/jobs/http_job.h)
# per poll for closings still under way. Information beside the floor: the design's own
# steps cost more than its pauses alone (DesignCycle took 14 to 56 ms a file over them).
UPLOAD_TEARDOWN_PAUSE_S = 0.300
FINISH_PAUSES_S = 2 * UPLOAD_TEARDOWN_PAUSE_S
DRAIN_POLL_S = 0.300
# Over DesignCycle: what the uploader does per file beyond the design's steps (the
# checks of the sent file, the debugger lines these runs are timed by, the list's paint).
MARGIN_S = 0.005
GOAL = (
    f"**overhead**: the floor is DesignCycle, the least program that does per file what "
    f"the design does (the window's bars and row, a job thread with its own WinINet "
    f"session, the request of {FILE_SIZE // 1024} KiB and the album service's answer, the "
    f"handles' closings awaited, the file deleted, the two pauses), run to the same service "
    f"before and after the uploader in the same run. The goal allows "
    f"{MARGIN_S * 1000:.0f} ms a file over it for what the uploader does besides (the checks "
    f"of the file it deletes, the debugger lines, the list's paint). The designed pauses "
    f"(FinishUpload's two of {UPLOAD_TEARDOWN_PAUSE_S * 1000:.0f} ms, plus "
    f"{DRAIN_POLL_S * 1000:.0f} ms for each CloseAndDrain poll counted in this run's debugger "
    f"lines) stay beside it."
)
PARTS = {
    "handles": ("connection", "request"),
    "body": ("request", "connecting"),
    "connect": ("connecting", "connected"),
    "copy": ("connected", "sending"),
    "send": ("sending", "sent"),
    "answer": ("sent", "success"),
}


def run(ctx: Context) -> None:
    report = ctx.report
    count = QUICK_COUNT if ctx.quick else FULL_COUNT
    # The design's own steps on either side of the uploader's run (the machine's pace
    # drifts within minutes); the quick run takes them once, after.
    design_runs = [] if ctx.quick else [design_cycle_run(ctx, "overhead-cycle-1", count, FILE_SIZE)]
    run, _ = small_files_run(ctx, "overhead", count, FILE_SIZE)
    design_runs.append(design_cycle_run(ctx, "overhead-cycle-2", count, FILE_SIZE))
    design = statistics.mean(design_runs)
    deleted = sorted(run.deleted.values())
    per_file = (deleted[-1] - deleted[0]) / (count - 1)
    events = run.events()
    successes = [i for i, e in enumerate(events) if e.text == SUCCESS_LINE]
    retired = [first(events, i, is_retired) for i in successes]
    # The teardown past its first pause, in drain polls.
    polls = [
        max(0, round((events[r].t - events[s].t - UPLOAD_TEARDOWN_PAUSE_S) / DRAIN_POLL_S))
        for s, r in zip(successes, retired, strict=False)
    ]
    pauses = FINISH_PAUSES_S + DRAIN_POLL_S * statistics.mean(polls)
    excess = per_file - design
    report.rows.append(
        Row(
            f"overhead, {count} x {FILE_SIZE // 1024} KiB",
            f"{per_file * 1000:.0f} ms/file",
            f"{design * 1000:.0f} ms/file (the design's steps, DesignCycle)",
            f"≤ floor + {MARGIN_S * 1000:.0f} ms",
            report.judge(excess <= MARGIN_S),
            f"{excess * 1000:+.1f} ms from the floor; the designed pauses "
            f"{pauses * 1000:.0f} ms/file, the uploader +{(per_file - pauses) * 1000:.1f} ms and "
            f"DesignCycle +{(design - FINISH_PAUSES_S) * 1000:.1f} ms over them",
        )
    )
    # Where a cycle's time goes, from the debugger lines of consecutive uploads: from one
    # answer to the next = teardown (answer to job retired) + start (retired to the next
    # job's connection handle) + the next request; means, so the parts add up.
    marks = [request_marks(events, i) for i in successes]

    def t(k: int, name: str) -> float:
        return events[marks[k][name]].t

    cycles, teardowns, starts = [], [], []
    for k in range(len(marks) - 1):
        cycles.append(t(k + 1, "success") - t(k, "success"))
        teardowns.append(events[retired[k]].t - t(k, "success"))
        starts.append(t(k + 1, "connection") - events[retired[k]].t)
    parts = {name: [t(k, b) - t(k, a) for k in range(len(marks))] for name, (a, b) in PARTS.items()}
    mean = statistics.mean
    request_mean = sum(mean(v) for v in parts.values())
    report.say("## overhead")
    report.say(
        f"- {count} files of {FILE_SIZE // 1024} KiB, one run after a login; deletions "
        f"seen in temp every {TEMP_WATCH_S * 1000:.0f} ms: (last - first) / "
        f"{count - 1} = {per_file * 1000:.1f} ms "
        f"per file"
    )
    pause_ms, poll_ms = UPLOAD_TEARDOWN_PAUSE_S * 1000, DRAIN_POLL_S * 1000
    report.say(
        f"- the designed pauses from the code: FinishUpload's Sleep({pause_ms:.0f}) twice = "
        f"{FINISH_PAUSES_S * 1000:.0f} ms, plus {poll_ms:.0f} ms per CloseAndDrain poll; "
        f"polls seen (job retired - 'success' - {pause_ms:.0f} ms, in {poll_ms:.0f} ms "
        f"steps): {sum(polls)} in {len(polls)} uploads, so {pauses * 1000:.0f} ms per file"
    )
    if cycles:
        report.say(
            f"- {(per_file - pauses) * 1000:.1f} ms per file over the pauses. From the "
            f"debugger lines (means "
            f"over {len(cycles)} cycles): answer to next answer {mean(cycles) * 1000:.1f} "
            f"ms = teardown (answer to job retired, a {pause_ms:.0f} ms pause and the drain "
            f"polls in it) {mean(teardowns) * 1000:.1f} ms + next job's start (job retired "
            f"to its connection handle; the second {pause_ms:.0f} ms pause, the thread, "
            f"InternetOpen) {mean(starts) * 1000:.1f} ms + the request "
            f"{request_mean * 1000:.1f} ms"
        )
    report.say(
        "  - the request, means: "
        + ", ".join(f"{name} {mean(v) * 1000:.1f} ms" for name, v in parts.items())
        + " (handles: connection to request handle; body: request handle to CONNECTING; "
        "copy: CONNECTED to the first SENDING_REQUEST; send: to the last REQUEST_SENT; "
        "answer: from there to 'success' read)"
    )
    report.say(
        f"- the design's steps alone (DesignCycle: per file the overall bar, the status "
        f"line and the row, a job thread with its own asynchronous WinINet session, the "
        f"body from an open for the size and 1024-byte reads, the request and its answer, "
        f"the transfer bar moved by SendMessage at the job's steps, the handles closed and "
        f"their closings awaited, the file deleted and the two {pause_ms:.0f} ms pauses; no "
        f"debugger lines), "
        f"{count} files to the same service "
        f"{'before and after' if len(design_runs) > 1 else 'after'} the uploader: "
        f"{each([d * 1000 for d in design_runs], 1)} ms per file (the floor, their mean), "
        f"+{(design - FINISH_PAUSES_S) * 1000:.1f} ms over its pauses; the uploader is "
        f"{(per_file - design) * 1000:+.1f} ms from it"
    )
    report.say(
        f"- the whole run, first debugger line to the last deletion: "
        f"{deleted[-1] - events[0].t:.2f} s; peak memory of this run (small files: the "
        f"program's base) {run.peak_kib / 1024:.1f} MiB"
    )
    report.say()
