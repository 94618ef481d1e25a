#!/usr/bin/python3
"""The uploader's benchmarks under Wine, each judged against the design's floor measured in
the same run (the machine is shared and noisy), with the ratios to outside references
beside it.

Run through bench/run.sh, which builds and provides Xvfb and a wineserver:

    bench.py --build-dir DIR [--quick] [--keep] [--only transfer,memory]

Cases (bench/cases/): transfer, link, body, overhead, queue, memory, startup, pokes,
limits. Prints a table and the evidence behind it, and writes both as markdown.
"""

from __future__ import annotations

import argparse
import datetime
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import harness
import shaped_link
from cases import NAMES, RUN_ORDER, TABLE_ORDER
from harness import BenchError, Context, MiB, Report, Service, mib, wd

# Free disk the work folder needs: the large files and the installs' hard links to them.
QUICK_DISK = 64 * MiB
FULL_DISK = 1024 * MiB


def load_average() -> str:
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine() -> list[str]:
    def text(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True, timeout=30).stdout.strip()
        except OSError:
            return "?"

    def proc_field(path: str, name: str) -> str:
        with open(path) as f:
            return next((ln.split(":", 1)[1].strip() for ln in f if ln.startswith(name)), "?")

    head = text(["git", "-C", str(harness.ROOT), "rev-parse", "--short", "HEAD"])
    dirty = text(["git", "-C", str(harness.ROOT), "status", "--porcelain", "--", "src"])
    curl = text(["curl", "--version"]).splitlines()[0].split()[1]
    return [
        f"- date: {datetime.datetime.now(datetime.UTC).strftime('%Y-%m-%d %H:%M UTC')}",
        f"- CPU: {proc_field('/proc/cpuinfo', 'model name')}, {os.cpu_count()} cores "
        f"(`nproc`: {text(['nproc'])})",
        f"- memory: {proc_field('/proc/meminfo', 'MemTotal')}",
        f"- kernel: {platform.release()}; TCP congestion control: "
        f"{(shaped_link.SYSCTL / 'tcp_congestion_control').read_text().strip()} (the machine), "
        f"{shaped_link.CONGESTION_CONTROL} (the slow links' namespaces, as Windows sends)",
        f"- Wine: {text(['wine', '--version'])}; curl: {curl}; "
        f"Python (service): {platform.python_version()}",
        f"- source: commit {head}"
        + (" with changes under src/ not yet committed" if dirty else ""),
        f"- Wine's debug channels in every measured run: WINEDEBUG={harness.BENCH_DEBUG} "
        f"(+timestamp,+pid where the uploader's debugger lines are timed)",
        f"- load average at the start: {load_average()}",
    ]


def case_names(text: str | None) -> list[str]:
    if not text:
        return NAMES
    names = text.split(",")
    unknown = [n for n in names if n not in NAMES]
    if unknown:
        raise SystemExit(f"bench: no case {', '.join(unknown)}; the cases: {', '.join(NAMES)}")
    return names


def results_text(args, report: Report, info: list[str], clock: str) -> str:
    title = "Benchmark results" + (" (quick smoke run, no verdicts)" if args.quick else "")
    command = " ".join(
        ["bench/run.sh"]
        + (["--quick"] if args.quick else [])
        + ([f"--only {args.only}"] if args.only else [])
    )
    out = [
        f"# {title}",
        "",
        f"Written by `{command}`.",
        "",
        "## Machine",
        "",
        *info,
        f"- {clock}",
        "",
        "## Table",
        "",
        report.table(NAMES),
        "",
        "Each case is judged against the design's floor: what the design itself costs, "
        "measured in the same run, side by side with the uploader (rotating order) on the "
        "same machine. The last column keeps the ratios to outside references (curl, one "
        "ReadFile, a console program, the file's size) for information: the design cannot "
        "reach them, since it builds the whole body in memory with 1024-byte reads before "
        "it sends.",
        "",
        "## Floors and goals",
        "",
        *[f"- {goal}" for goal in report.goals],
        "",
        *report.details,
    ]
    return "\n".join(out) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--only", help=f"comma-separated case names ({','.join(NAMES)})")
    args = parser.parse_args()
    only = case_names(args.only)
    build = args.build_dir.resolve()
    work = build / "bench-work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    # winedrive keeps each Windows run's stderr in a folder under the temp folder until the
    # crash check; here that folder is inside the work folder, where nothing that cleans
    # the shared /tmp meanwhile can take it, and it goes (or stays, with --keep) with it.
    runs = work / "runs"
    runs.mkdir()
    tempfile.tempdir = str(runs)
    free = shutil.disk_usage(work).free
    need = QUICK_DISK if args.quick else FULL_DISK
    if free < need:
        raise SystemExit(f"bench: {mib(free)} free under {build}, {mib(need)} needed")
    if wd.find_window() is not None:
        raise SystemExit("bench: an uploader window is already open in this Wine prefix")

    report = Report(quick=args.quick)
    started = time.monotonic()
    info = machine()
    for line in info:
        print(line)
    clock = harness.clock_check()
    print(clock, flush=True)
    print()
    ctx = Context(report, Service(work), work, args.quick)
    try:
        for case in RUN_ORDER:
            if case.NAME in only:
                case.run(ctx)
        crashes = wd.crashes_seen()
        if crashes:
            raise BenchError("Wine reported a crash in a run:\n" + "\n".join(crashes))
    finally:
        ctx.service.stop()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    report.goals = [case.GOAL for case in TABLE_ORDER if case.NAME in only]
    elapsed = time.monotonic() - started
    info.append(f"- load average at the end: {load_average()}; the run took {elapsed:.0f} s")
    print()
    print(report.table(NAMES))
    print()
    print(info[-1])

    partial = args.quick or args.only
    target = (
        build / "bench" / "RESULTS-partial.md" if partial else harness.ROOT / "bench" / "RESULTS.md"
    )
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_text(results_text(args, report, info, clock), encoding="utf-8")
    print(f"written: {target}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        sys.exit(1)
