"""queue: many small files in one hand-over, the pace of the last tenth against the first:
a file's cost must not grow with the queue (the rows the list holds, done and waiting)."""

from __future__ import annotations

from cases.overhead import FILE_SIZE, FINISH_PAUSES_S
from harness import TEMP_WATCH_S, BenchError, Context, Row
from roads import small_files_run

NAME = "queue"
FULL_COUNT = 300
QUICK_COUNT = 20
MARGIN = 1.05
GOAL = (
    f"**queue**: {FULL_COUNT} files of {FILE_SIZE // 1024} KiB handed over at once and "
    f"uploaded in one run; the floor is the run's own first tenth, the time per file from the "
    f"first deletion to the last of that tenth. The goal is the last tenth within "
    f"{MARGIN:.2f}x of it: each file's step reads the whole list (the next waiting row, the "
    f"rows done), and nothing of that may grow into the pace."
)


def pace(deleted: list[float]) -> float:
    """Seconds per file between the first and the last deletion of a stretch."""
    return (deleted[-1] - deleted[0]) / (len(deleted) - 1)


def run(ctx: Context) -> None:
    report = ctx.report
    count = QUICK_COUNT if ctx.quick else FULL_COUNT
    tenth = count // 10
    run, deleted = small_files_run(ctx, "queue", count, FILE_SIZE)
    if deleted != sorted(deleted):
        raise BenchError("queue: the files left temp out of the order of their hand-over")
    tenths = [pace(deleted[i : i + tenth]) for i in range(0, count, tenth)]
    first, last = tenths[0], tenths[-1]
    report.rows.append(
        Row(
            f"queue, {count} x {FILE_SIZE // 1024} KiB: last tenth against the first",
            f"{last * 1000:.0f} ms/file ({last / first:.3f}x)",
            f"{first * 1000:.0f} ms/file (the first tenth)",
            f"≤ {MARGIN:.2f}x the first tenth",
            report.judge(last <= MARGIN * first),
            f"whole run {pace(deleted) * 1000:.0f} ms/file, "
            f"+{(pace(deleted) - FINISH_PAUSES_S) * 1000:.1f} ms over the designed pauses",
        )
    )
    report.say("## queue")
    report.say(
        f"- {count} files of {FILE_SIZE // 1024} KiB, one hand-over and one run after a "
        f"login; deletions seen in temp every {TEMP_WATCH_S * 1000:.0f} ms; ms per file in "
        f"each tenth ({tenth} files): " + ", ".join(f"{t * 1000:.1f}" for t in tenths)
    )
    report.say(
        f"- the last tenth is {last / first:.3f}x the first; the whole run "
        f"{pace(deleted) * 1000:.1f} ms per file; peak memory {run.peak_kib / 1024:.1f} MiB"
    )
    report.say()
