"""overhead: the time per file of many small files in one hand-over, against the design's
floor: DesignCycle, the least program that does per file what the design does, run to the
same service beside the uploader, round by round."""

from __future__ import annotations

import statistics

from harness import TEMP_WATCH_S, Context, Row, each, first, is_retired
from roads import SUCCESS_LINE, design_cycle_run, request_marks, small_files_run

NAME = "overhead"
# Rounds of files each through the uploader and DesignCycle: a round lasts about half a
# minute, short enough for the machine's pace to hold within it.
FULL_ROUNDS = 5
FULL_COUNT = 20
QUICK_ROUNDS = 1
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
    f"beside the uploader in rounds (which goes first alternating); each round's "
    f"difference is taken and the verdict is their median. The goal allows "
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


def cycle_parts(run) -> dict[str, list[float]]:
    """Where each cycle of one uploader run goes, from the debugger lines of consecutive
    uploads: from one answer to the next = teardown (answer to job retired) + start
    (retired to the next job's connection handle) + the next request; and the drain polls
    of each teardown past its first pause."""
    events = run.events()
    successes = [i for i, e in enumerate(events) if e.text == SUCCESS_LINE]
    retired = [first(events, i, is_retired) for i in successes]
    polls = [
        max(0, round((events[r].t - events[s].t - UPLOAD_TEARDOWN_PAUSE_S) / DRAIN_POLL_S))
        for s, r in zip(successes, retired, strict=False)
    ]
    parts: dict[str, list[float]] = {"cycle": [], "teardown": [], "start": [], "polls": polls}
    marks = [request_marks(events, i) for i in successes]

    def t(k: int, name: str) -> float:
        return events[marks[k][name]].t

    for k in range(len(marks) - 1):
        parts["cycle"].append(t(k + 1, "success") - t(k, "success"))
        parts["teardown"].append(events[retired[k]].t - t(k, "success"))
        parts["start"].append(t(k + 1, "connection") - events[retired[k]].t)
    for name, (a, b) in PARTS.items():
        parts[name] = [t(k, b) - t(k, a) for k in range(len(marks))]
    return parts


def run(ctx: Context) -> None:
    report = ctx.report
    rounds, count = (QUICK_ROUNDS, QUICK_COUNT) if ctx.quick else (FULL_ROUNDS, FULL_COUNT)
    # The machine's pace drifts within a minute, by more than the margin: each round runs
    # DesignCycle and the uploader side by side (which goes first alternating), each
    # round's difference is taken, and the verdict is their median.
    design_runs, uploader_runs, parts = [], [], {}
    for r in range(rounds):
        for which in ("design", "uploader") if r % 2 == 0 else ("uploader", "design"):
            if which == "design":
                design_runs.append(
                    design_cycle_run(ctx, f"overhead-cycle-{r + 1}", count, FILE_SIZE)
                )
                continue
            run, _ = small_files_run(ctx, f"overhead-{r + 1}", count, FILE_SIZE)
            deleted = sorted(run.deleted.values())
            uploader_runs.append((deleted[-1] - deleted[0]) / (count - 1))
            for name, values in cycle_parts(run).items():
                parts.setdefault(name, []).extend(values)
    differences = [u - d for u, d in zip(uploader_runs, design_runs, strict=True)]
    excess = statistics.median(differences)
    per_file = statistics.median(uploader_runs)
    design = statistics.median(design_runs)
    pauses = FINISH_PAUSES_S + DRAIN_POLL_S * statistics.mean(parts["polls"])
    report.rows.append(
        Row(
            f"overhead, {rounds} x {count} x {FILE_SIZE // 1024} KiB",
            f"{per_file * 1000:.0f} ms/file",
            f"{design * 1000:.0f} ms/file (the design's steps, DesignCycle, beside it)",
            f"≤ floor + {MARGIN_S * 1000:.0f} ms",
            report.judge(excess <= MARGIN_S),
            f"{excess * 1000:+.1f} ms from the floor (median of the rounds); the designed "
            f"pauses {pauses * 1000:.0f} ms/file, the uploader +{(per_file - pauses) * 1000:.1f} "
            f"ms and DesignCycle +{(design - FINISH_PAUSES_S) * 1000:.1f} ms over them",
        )
    )
    mean = statistics.mean
    cycles, teardowns, starts = parts["cycle"], parts["teardown"], parts["start"]
    request_mean = sum(mean(parts[name]) for name in PARTS)
    report.say("## overhead")
    report.say(
        f"- {rounds} rounds, each {count} files of {FILE_SIZE // 1024} KiB through the "
        f"uploader (one hand-over after a login) and through DesignCycle, side by side, "
        f"which goes first alternating; deletions seen in temp every "
        f"{TEMP_WATCH_S * 1000:.0f} ms, (last - first) / {count - 1} per file"
    )
    report.say(f"- uploader: {each([u * 1000 for u in uploader_runs], 1)} ms per file")
    report.say(
        f"- the design's steps alone (DesignCycle: per file the overall bar, the status "
        f"line and the row, a job thread with its own asynchronous WinINet session, the "
        f"body from an open for the size and 1024-byte reads, the request and its answer, "
        f"the transfer bar moved by SendMessage at the job's steps, the handles closed and "
        f"their closings awaited, the file deleted and the two "
        f"{UPLOAD_TEARDOWN_PAUSE_S * 1000:.0f} ms pauses; no debugger lines), to the same "
        f"service: {each([d * 1000 for d in design_runs], 1)} ms per file"
    )
    report.say(
        f"- the uploader against DesignCycle, round by round: "
        f"{', '.join(f'{x * 1000:+.1f}' for x in differences)} ms per file; median "
        f"{excess * 1000:+.1f} ms"
    )
    pause_ms, poll_ms = UPLOAD_TEARDOWN_PAUSE_S * 1000, DRAIN_POLL_S * 1000
    polls = parts["polls"]
    report.say(
        f"- the designed pauses from the code: FinishUpload's Sleep({pause_ms:.0f}) twice = "
        f"{FINISH_PAUSES_S * 1000:.0f} ms, plus {poll_ms:.0f} ms per CloseAndDrain poll; "
        f"polls seen (job retired - 'success' - {pause_ms:.0f} ms, in {poll_ms:.0f} ms "
        f"steps): {sum(polls)} in {len(polls)} uploads, so {pauses * 1000:.0f} ms per file"
    )
    if cycles:
        report.say(
            f"- {(per_file - pauses) * 1000:.1f} ms per file over the pauses. From the "
            f"uploader's debugger lines (means over {len(cycles)} cycles of all rounds): "
            f"answer to next answer {mean(cycles) * 1000:.1f} ms = teardown (answer to job "
            f"retired, a {pause_ms:.0f} ms pause and the drain polls in it) "
            f"{mean(teardowns) * 1000:.1f} ms + next job's start (job retired to its "
            f"connection handle; the second {pause_ms:.0f} ms pause, the thread, "
            f"InternetOpen) {mean(starts) * 1000:.1f} ms + the request "
            f"{request_mean * 1000:.1f} ms"
        )
    report.say(
        "  - the request, means: "
        + ", ".join(f"{name} {mean(parts[name]) * 1000:.1f} ms" for name in PARTS)
        + " (handles: connection to request handle; body: request handle to CONNECTING; "
        "copy: CONNECTED to the first SENDING_REQUEST; send: to the last REQUEST_SENT; "
        "answer: from there to 'success' read)"
    )
    report.say()
