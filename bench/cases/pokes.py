"""pokes: a host that hands over a whole folder (one conversation, a poke of each name, each
waiting for its acknowledgement) with the uploader's window shown, against the design's
floor: the least DDE server (GuiReady: a window, DDEML, the service name, a callback that
acknowledges every poke and does nothing else), poked by the same client in the same run."""

from __future__ import annotations

import statistics
import time

from harness import (
    BENCH_DEBUG,
    IDM_EXIT,
    BenchError,
    Context,
    Row,
    helper_json_lines,
    median,
    wd,
)

NAME = "pokes"
FULL_COUNT = 10_000
QUICK_COUNT = 1_000
FULL_BLOCK = 1_000
QUICK_BLOCK = 100
# The servers take turns by chunks of pokes; after each chunk the host waits a little
# longer than the uploader's held paint (QueuePaintDelay, src/queue/queue_paint.h) and for
# the window's answer, so that one server's paint does not fall into the other's chunk.
# This machine's pace changes in stretches (a DDE round trip of 0.08 ms or of 0.5 ms), so
# each chunk is judged against the floor's chunk next to it in time.
CHUNK = 25
SETTLE_MS = 60
# Over the floor: the name's checks and the row that the uploader adds for each poke.
MARGIN = 1.5
# The last block against the first: a queue whose cost grows with its length would show.
DRIFT = 1.2
# A poke that took this long waited for one of the list's paints (a paint of the list takes
# several milliseconds under Wine, a poke a fraction of one).
PAINTED_POKE_MS = 2
LEAST_SERVICE = "VistoraBenchGui"
LEAST_CLASS = "VistoraBenchGuiWindow"
LEAST_TITLE = "VistoraBenchGui"
UPLOADER_SERVICE = "VistoraUploadServer"
LVM_GETITEMCOUNT = 0x1004
WS_MINIMIZE = 0x20000000
GOAL = (
    f"**pokes**: a host that hands over a folder: one DDEML conversation on Upload, a poke of "
    f"each name to Filename, each waiting for its acknowledgement (PokeBench), the uploader's "
    f"window shown. The floor is the least DDE server (GuiReady: a window, DDEML, the service "
    f"name, a callback that acknowledges every poke and does nothing else), poked by the same "
    f"client in the same run, the two servers taking turns every {CHUNK} pokes: this shared "
    f"machine changes its pace within seconds, so each of the uploader's turns is taken "
    f"against the floor's turn beside it. The goal allows {MARGIN:.1f}x the floor's median "
    f"poke for the name's checks and the row each poke adds; and the last block of pokes no "
    f"slower than {DRIFT:.1f}x the first, both against the floor (the cost of a poke must not "
    f"grow with the queue). Memory per row, the pokes that waited for a paint of the list and "
    f"the window's answer to a WM_NULL after the last poke are kept beside them."
)


def status_kib(pid: int, field: str) -> int:
    with open(f"/proc/{pid}/status") as f:
        return int(f.read().split(field + ":")[1].split()[0])


def shown_window(class_name: str, title: str) -> dict:
    window = wd.poll(
        lambda: (w := wd.find_window(class_name, title)) and w["visible"] and w, timeout=60
    )
    if not window or window["style"] & WS_MINIMIZE:
        raise BenchError(f"no window {class_name} shown")
    return window


def stop(process, window: dict, message: int, wparam: int, who: str) -> None:
    wd.post(window["hwnd"], message, wparam)
    try:
        process.wait(timeout=60)
    except Exception:
        process.kill()
        raise BenchError(f"{who} did not end after the pokes") from None
    marks = wd.crash_marks(process.stderr_path.read_bytes())
    if marks:
        raise BenchError(f"{who}: Wine reported a crash ({marks})")


def poke_both(ctx: Context, count: int) -> tuple[dict, dict, dict]:
    """The uploader (no count, so it only queues) and the least server, both shown, poked
    in turns; the uploader's figures with its memory per row, the least server's, and the
    uploader's in one more hand-over of its own."""
    install = wd.Install(ctx.work / "pokes")
    uploader = wd.start_windows(
        install.exe, cwd=str(install.folder), env_extra={"WINEDEBUG": BENCH_DEBUG}
    )
    least = wd.start_windows(wd.BIN / "GuiReady.exe", env_extra={"WINEDEBUG": BENCH_DEBUG})
    try:
        window = shown_window(wd.WINDOW_CLASS, wd.WINDOW_TITLE)
        least_window = shown_window(LEAST_CLASS, LEAST_TITLE)
        # Settled: the start's own pages are in before the first poke.
        time.sleep(0.5)
        rss_before = status_kib(uploader.pid, "VmRSS")
        lines = helper_json_lines(
            "PokeBench.exe",
            count,
            CHUNK,
            SETTLE_MS,
            UPLOADER_SERVICE,
            wd.WINDOW_CLASS,
            LEAST_SERVICE,
            LEAST_CLASS,
            timeout=120 + count * 0.1,
        )
        rss_after = status_kib(uploader.pid, "VmRSS")
        # Then the same names again to the uploader alone, as one uninterrupted hand-over.
        lines += helper_json_lines(
            "PokeBench.exe",
            count,
            count,
            0,
            UPLOADER_SERVICE,
            wd.WINDOW_CLASS,
            timeout=120 + count * 0.1,
        )
        for line in lines:
            if line["refused"] or len(line["times_us"]) != count:
                raise BenchError(f"PokeBench: {line['refused']} pokes of {line['service']} refused")
        queue = next(c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32")
        rows = wd.send(queue["hwnd"], LVM_GETITEMCOUNT)
        if rows != 2 * count:
            raise BenchError(f"the uploader's list holds {rows} rows after {2 * count} pokes")
    except BaseException:
        uploader.kill()
        least.kill()
        raise
    stop(uploader, window, wd.WM_COMMAND, IDM_EXIT, "the uploader")
    stop(least, least_window, wd.WM_CLOSE, 0, "GuiReady")
    result, floor, alone = lines
    result["row_kib"] = (rss_after - rss_before) / count
    return result, floor, alone


def blocks(times_us: list[int], block: int) -> list[float]:
    """The median poke of each block, in ms."""
    return [median(times_us[i : i + block]) / 1000 for i in range(0, len(times_us), block)]


def turn_ratios(up_us: list[int], floor_us: list[int]) -> list[float]:
    """The uploader's median poke in each of its turns against the floor's in the turn
    beside it."""
    return [
        median(up_us[i : i + CHUNK]) / median(floor_us[i : i + CHUNK])
        for i in range(0, len(up_us), CHUNK)
    ]


def run(ctx: Context) -> None:
    report = ctx.report
    count = QUICK_COUNT if ctx.quick else FULL_COUNT
    block = QUICK_BLOCK if ctx.quick else FULL_BLOCK
    up, least, alone = poke_both(ctx, count)
    up_times, least_times = up["times_us"], least["times_us"]
    up_median = median(up_times) / 1000
    least_median = median(least_times) / 1000
    up_blocks = blocks(up_times, block)
    least_blocks = blocks(least_times, block)
    # Turn by turn against the floor: the machine's pace of the moment cancels out.
    ratios = turn_ratios(up_times, least_times)
    ratio = median(ratios)
    per_block = block // CHUNK
    against = [median(ratios[i : i + per_block]) for i in range(0, len(ratios), per_block)]
    drift = against[-1] / against[0]
    seconds = sum(up_times) / 1e6
    alone_times = alone["times_us"]
    alone_seconds = sum(alone_times) / 1e6
    painted = [t for t in alone_times if t > PAINTED_POKE_MS * 1000]
    report.rows.append(
        Row(
            f"pokes, {count:,} names, window shown: median",
            f"{up_median:.2f} ms; {ratio:.2f}x the floor turn by turn",
            f"{least_median:.2f} ms (least DDE server, same client, in turns)",
            f"≤ {MARGIN:.1f}x floor",
            report.judge(ratio <= MARGIN),
            f"{alone_seconds:.1f} s for {count:,} pokes in one hand-over; "
            f"{up['row_kib']:.2f} KiB a row",
        )
    )
    report.rows.append(
        Row(
            f"pokes, {count:,} names: last {block:,} against the first",
            f"{drift:.2f}x (each against the floor, turn by turn)",
            "1.00x (a poke's cost independent of the queue)",
            f"≤ {DRIFT:.1f}x",
            report.judge(drift <= DRIFT),
            f"raw: uploader {up_blocks[-1] / up_blocks[0]:.2f}x, least DDE server "
            f"{least_blocks[-1] / least_blocks[0]:.2f}x",
        )
    )
    report.say("## pokes")
    report.say(
        f"- {count:,} pokes of Filename to each server on one conversation each, every poke "
        f"waiting for its acknowledgement (PokeBench), the servers taking turns every {CHUNK} "
        f"pokes with a {SETTLE_MS} ms pause and a WM_NULL after each turn; the uploader "
        f"started without a count, its window shown, no run started"
    )
    report.say(
        f"- uploader: median {up_median:.3f} ms, the pokes' sum {seconds:.2f} s; median per "
        f"{block:,}: " + ", ".join(f"{b:.3f}" for b in up_blocks) + " ms"
    )
    report.say(
        f"- least DDE server: median {least_median:.3f} ms, the pokes' sum "
        f"{sum(least_times) / 1e6:.2f} s; median per {block:,}: "
        + ", ".join(f"{b:.3f}" for b in least_blocks)
        + " ms"
    )
    report.say(
        f"- the uploader's median poke against the least server's, turn by turn ({CHUNK} "
        f"pokes each), median per {block:,}: "
        + ", ".join(f"{a:.2f}" for a in against)
        + f"; median of all {len(ratios)} turns {ratio:.2f}x (the two medians over the "
        f"whole run: {up_median / least_median:.2f}x)"
    )
    report.say(
        f"- then {count:,} more names to the uploader alone, one uninterrupted hand-over as a "
        f"host makes it: {alone_seconds:.2f} s, median poke {median(alone_times) / 1000:.3f} "
        f"ms; median per {block:,}: "
        + ", ".join(f"{b:.3f}" for b in blocks(alone_times, block))
        + f" ms; {len(painted)} pokes took over {PAINTED_POKE_MS} ms (they waited for a paint "
        f"of the list: {len(painted) / alone_seconds:.1f} a second), "
        f"{sum(painted) / 1e6:.2f} s of the {alone_seconds:.2f} s; slowest "
        f"{max(alone_times) / 1000:.1f} ms, 99th percentile "
        f"{statistics.quantiles(alone_times, n=100)[98] / 1000:.2f} ms; its window answered a "
        f"WM_NULL {alone['null_ms']:.2f} ms after the last poke"
    )
    report.say(f"- the uploader's VmRSS grew {up['row_kib']:.2f} KiB a row in the first run")
    report.say()
