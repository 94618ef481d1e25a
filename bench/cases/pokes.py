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
# Each of the two servers is poked this often, in turns: uploader, least server, ...
FULL_ROUNDS = 2
QUICK_ROUNDS = 1
# Over the floor: the name's checks and the row that the uploader adds for each poke.
MARGIN = 1.5
# The last block against the first: a queue whose cost grows with its length would show.
DRIFT = 1.2
LEAST_SERVICE = "VistoraBenchGui"
LEAST_CLASS = "VistoraBenchGuiWindow"
LEAST_TITLE = "VistoraBenchGui"
LVM_GETITEMCOUNT = 0x1004
WS_MINIMIZE = 0x20000000
GOAL = (
    f"**pokes**: a host that hands over a folder: one DDEML conversation on Upload, a poke of "
    f"each name to Filename, each waiting for its acknowledgement (PokeBench), the uploader's "
    f"window shown. The floor is the least DDE server (GuiReady: a window, DDEML, the service "
    f"name, a callback that acknowledges every poke and does nothing else), poked by the same "
    f"client in turns with the uploader. The goal allows {MARGIN:.1f}x its median poke for the "
    f"name's checks and the row each poke adds; and the last block of pokes no slower than "
    f"{DRIFT:.1f}x the first (the cost of a poke must not grow with the queue). Memory per "
    f"row and the window's answer to a WM_NULL after the last poke are kept beside them."
)


def status_kib(pid: int, field: str) -> int:
    with open(f"/proc/{pid}/status") as f:
        return int(f.read().split(field + ":")[1].split()[0])


def poke(service: str, count: int, window_class: str) -> dict:
    lines = helper_json_lines(
        "PokeBench.exe", service, count, window_class, timeout=120 + count * 0.1
    )
    result = lines[-1]
    if result["refused"] or len(result["times_us"]) != count:
        raise BenchError(f"PokeBench against {service}: {result['refused']} pokes refused")
    return result


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


def uploader_round(ctx: Context, count: int, round_no: int) -> dict:
    install = wd.Install(ctx.work / f"pokes-{round_no}")
    process = wd.start_windows(
        install.exe, cwd=str(install.folder), env_extra={"WINEDEBUG": BENCH_DEBUG}
    )
    try:
        window = shown_window(wd.WINDOW_CLASS, wd.WINDOW_TITLE)
        # Settled: the start's own pages are in before the first poke.
        time.sleep(0.5)
        rss_before = status_kib(process.pid, "VmRSS")
        result = poke("VistoraUploadServer", count, wd.WINDOW_CLASS)
        rss_after = status_kib(process.pid, "VmRSS")
        queue = next(c for c in wd.children(window["hwnd"]) if c["class"] == "SysListView32")
        rows = wd.send(queue["hwnd"], LVM_GETITEMCOUNT)
        if rows != count:
            raise BenchError(f"the uploader's list holds {rows} rows after {count} pokes")
    except BaseException:
        process.kill()
        raise
    stop(process, window, wd.WM_COMMAND, IDM_EXIT, "the uploader")
    result["row_kib"] = (rss_after - rss_before) / count
    return result


def least_round(count: int) -> dict:
    process = wd.start_windows(wd.BIN / "GuiReady.exe", env_extra={"WINEDEBUG": BENCH_DEBUG})
    try:
        window = shown_window(LEAST_CLASS, LEAST_TITLE)
        result = poke(LEAST_SERVICE, count, LEAST_CLASS)
    except BaseException:
        process.kill()
        raise
    stop(process, window, wd.WM_CLOSE, 0, "GuiReady")
    return result


def blocks(times_us: list[int], block: int) -> list[float]:
    """The median poke of each block, in ms."""
    return [median(times_us[i : i + block]) / 1000 for i in range(0, len(times_us), block)]


def run(ctx: Context) -> None:
    report = ctx.report
    count = QUICK_COUNT if ctx.quick else FULL_COUNT
    block = QUICK_BLOCK if ctx.quick else FULL_BLOCK
    rounds = QUICK_ROUNDS if ctx.quick else FULL_ROUNDS
    uploader, least = [], []
    for round_no in range(rounds):
        # Turns: which server is poked first alternates, so a drift of the machine does
        # not favour one.
        turns = ("uploader", "least") if round_no % 2 == 0 else ("least", "uploader")
        for turn in turns:
            if turn == "uploader":
                uploader.append(uploader_round(ctx, count, round_no))
            else:
                least.append(least_round(count))
    up_all = [t for r in uploader for t in r["times_us"]]
    least_all = [t for r in least for t in r["times_us"]]
    up_median = median(up_all) / 1000
    least_median = median(least_all) / 1000
    up_blocks = [blocks(r["times_us"], block) for r in uploader]
    least_blocks = [blocks(r["times_us"], block) for r in least]
    drift = max(b[-1] / b[0] for b in up_blocks)
    row_kib = statistics.mean(r["row_kib"] for r in uploader)
    report.rows.append(
        Row(
            f"pokes, {count:,} names, window shown: median",
            f"{up_median:.2f} ms",
            f"{least_median:.2f} ms (least DDE server, same client)",
            f"≤ {MARGIN:.1f}x floor ({MARGIN * least_median:.2f} ms)",
            report.judge(up_median <= MARGIN * least_median),
            f"{sum(up_all) / 1e6 / rounds:.1f} s for {count:,} pokes; {row_kib:.2f} KiB a row",
        )
    )
    report.rows.append(
        Row(
            f"pokes, {count:,} names: last {block:,} against the first",
            f"{drift:.2f}x",
            "1.00x (a poke's cost independent of the queue)",
            f"≤ {DRIFT:.1f}x",
            report.judge(drift <= DRIFT),
            "the least DDE server: " + ", ".join(f"{b[-1] / b[0]:.2f}x" for b in least_blocks),
        )
    )
    report.say("## pokes")
    report.say(
        f"- {count:,} pokes of Filename on one conversation, each waiting for its "
        f"acknowledgement (PokeBench), {rounds} round(s) per server in turns; uploader "
        f"started without a count, its window shown, no run started"
    )
    for k, r in enumerate(uploader):
        report.say(
            f"- uploader, round {k + 1}: median {median(r['times_us']) / 1000:.2f} ms, "
            f"whole hand-over {sum(r['times_us']) / 1e6:.2f} s; median per {block:,}: "
            + ", ".join(f"{b:.2f}" for b in up_blocks[k])
            + f" ms; the window answered a WM_NULL {r['null_ms']:.2f} ms after the last "
            f"poke; VmRSS grew {r['row_kib']:.2f} KiB a row"
        )
    for k, r in enumerate(least):
        report.say(
            f"- least DDE server, round {k + 1}: median {median(r['times_us']) / 1000:.2f} "
            f"ms, whole hand-over {sum(r['times_us']) / 1e6:.2f} s; median per {block:,}: "
            + ", ".join(f"{b:.2f}" for b in least_blocks[k])
            + " ms"
        )
    report.say(
        f"- the uploader's median poke is {up_median / least_median:.2f}x the least "
        f"server's; its slowest poke {max(up_all) / 1000:.1f} ms, 99th percentile "
        f"{statistics.quantiles(up_all, n=100)[98] / 1000:.2f} ms"
    )
    report.say()
