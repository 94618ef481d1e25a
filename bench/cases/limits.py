"""limits: the largest file that uploads in the 32-bit process, found by real uploads, and
the next size up failing cleanly (tried again, left in temp, no crash), against what
BodyBench finds room for in a process of its own."""

from __future__ import annotations

import time

from harness import (
    IDM_EXIT,
    BenchError,
    Context,
    MiB,
    Row,
    UploaderRun,
    first,
    helper_json_lines,
    is_retired,
    is_status,
    mib,
    new_install,
    now,
    sparse_file,
    wd,
    zeros_sha256,
)
from roads import failure_indexes, road_run

NAME = "limits"
GOAL = (
    "**limits**: BodyBench bisects, in a process of its own, the largest body block that "
    "fits and the largest for which a copy of it fits beside it (Wine's HttpSendRequestEx "
    "copies a body handed to it whole; the uploader writes its body in pieces); the "
    "uploader's own layout "
    "differs, so real uploads find its limit to 1 MiB. The goal is that the next size up "
    "fails cleanly: the request fails, the file stays in temp and is tried again, the program "
    "stays up, nothing crashes and the sink records no upload."
)
# The real uploads' search: steps down from BodyBench's figure while that fails, and caps
# on the tries, so a machine that gives no clear limit ends the case in bounded time.
STEP_DOWN = 32 * MiB
MAX_STEPS_DOWN = 4
MAX_TRIES_UP = 8
MAX_TRIES = 16
LARGEST_SIZE = 2047 * MiB  # the largest size the client's 32-bit counts can describe
MORE_ROOM_TRIES = 3  # the next size up uploading after all moves the limit, this often
# How long an attempt one size too big may take to fail, and to end and be tried again.
FAIL_WAIT_S = 90
RETRY_WAIT_S = 180
EXIT_WAIT_S = 90
UNANSWERED_WAIT_S = 30
# A 32-bit program's user address space: from the first 64 KiB (never mapped) to the top of
# the lower 2 GiB.
ADDRESS_FLOOR = 0x10000
ADDRESS_REACH = 0x7FFF0000
TWO_GIB = 0x80000000


def run(ctx: Context) -> None:
    report = ctx.report
    report.say("## limits")
    probe = ctx.work / "limit-probe.bin"
    limit = helper_json_lines("BodyBench.exe", "limit", wd.windows_path(probe), timeout=600)[0]
    build_limit, copy_limit = limit["build_limit"], limit["copy_limit"]
    floor = f"{mib(build_limit)} (BodyBench: body alone fits)"
    report.say(
        f"- BodyBench, bisection to 1 MiB in {limit['probes']} probes (sparse files, the "
        f"body block sized by EstimateBodySize): the body block fits up to "
        f"{mib(build_limit)}; with a second block of the body's length beside it (the copy "
        f"Wine's HttpSendRequestEx makes of a body handed to it whole) up to "
        f"{mib(copy_limit)}"
    )
    report.say(
        f"- confirmed with BuildMultipartBody: {mib(build_limit)} built "
        f"({limit['build_at_limit']} bytes, {limit['build_at_limit_ms']:.0f} ms); "
        f"{mib(build_limit + MiB)} returned {limit['build_above_limit']} with no block "
        f"left: {'yes' if limit['above_limit_clean'] else 'NO'}"
    )

    def row(uploader: str, passed: bool) -> None:
        report.rows.append(
            Row(
                "limits: largest file that uploads",
                uploader,
                floor,
                "the next size up fails cleanly",
                report.judge(passed),
                f"body and Wine's copy fit to {mib(copy_limit)} in BodyBench",
            )
        )
        report.say()

    if ctx.quick:
        report.say("- quick run: no real uploads near the limit")
        row("no real upload (quick)", False)
        return
    # Real uploads: the helper's layout is not the uploader's (and the uploader's varies
    # from run to run), so its figures only seed a bisection to 1 MiB between a size that
    # uploaded and one that failed, each tried for real.
    tried: list[tuple[int, bool, str]] = []

    def attempt(size: int) -> bool:
        ok, what = upload_sparse(ctx, size)
        tried.append((size, ok, what))
        report.say(f"- real upload of {mib(size)}: {'uploaded' if ok else 'failed'} ({what})")
        return ok

    low = copy_limit
    while not attempt(low):
        low -= STEP_DOWN
        if low <= 0 or len(tried) > MAX_STEPS_DOWN:
            row("not found", False)
            return
    high = max(build_limit + MiB, low + MiB)
    while attempt(high):
        low, high = high, min(high + 2 * (high - low), LARGEST_SIZE)
        if len(tried) > MAX_TRIES_UP:
            break
    while high - low > MiB and len(tried) < MAX_TRIES:
        middle = (low + high) // 2 // MiB * MiB
        if attempt(middle):
            low = middle
        else:
            high = middle
    if high - low > MiB:
        row(f"{mib(low)} to {mib(high)}", False)
        return
    largest = low
    # The layout may give a little more room this time: the next size up is observed, and
    # while it still uploads the limit moves up.
    for _ in range(MORE_ROOM_TRIES):
        failure = observe_failure(ctx, largest + MiB)
        if not failure["uploaded"]:
            break
        report.say(f"- real upload of {mib(largest + MiB)}: uploaded (this time)")
        largest += MiB
    else:
        row(f"> {mib(largest)}", False)
        return
    say_failure(ctx, largest + MiB, failure)
    row(mib(largest), failure["clean"])


def say_failure(ctx: Context, size: int, failure: dict) -> None:
    say = ctx.report.say
    if failure.get("gaps"):
        say(
            f"- the uploader's largest free address ranges below 2 GiB just after that failure "
            f"(from /proc/PID/maps): {', '.join(failure['gaps'])}"
        )
    say(
        f"- {mib(size)}: the request failed ({'; '.join(failure['failure_lines'])}); "
        + (
            f"the attempt ended {failure['attempt_end_s']:.1f} s later "
            f"({failure['attempt_end_line']}), the file "
            f"{'still in' if failure['file_after_attempt'] else 'GONE from'} temp, the uploader "
            f"using {failure['busy'] * 100:.0f}% of a core meanwhile"
            if "attempt_end_s" in failure
            else f"the attempt did not end within {RETRY_WAIT_S} s"
        )
    )
    if "unanswered_s" in failure:
        say(
            f"  - the window did not answer for {failure['unanswered_s']:.1f} s after the attempt "
            f"ended (the UI thread sleeps through the pause between attempts)"
        )
    say(
        "  - "
        + (
            f"the same file tried again {failure['retry_after_s']:.1f} s after the attempt "
            f"ended (so its row had gone back to waiting)"
            if "retry_after_s" in failure
            else "NOT tried again"
        )
        + f"; program still running: {failure['alive']}; file still in temp: "
        f"{failure['file_stays']} (after Exit too: {failure['file_stays_after_exit']}); ended "
        f"after Exit: {failure['ended']} ({failure['exit_s']:.1f} s); alerts: "
        f"{failure['alerts'] or 'none'}; crash signs: {failure['crash_signs'] or 'none'}; "
        f"successful uploads recorded by the sink: {len(failure['uploads_recorded'])}"
    )


def upload_sparse(ctx: Context, size: int) -> tuple[bool, str]:
    """A real upload of a sparse file of size bytes; (uploaded, what happened)."""
    source = ctx.work / f"limit-{size // MiB}.bin"
    sparse_file(source, size)
    try:
        result = road_run(
            ctx.service, ctx.work, source, zeros_sha256(size), f"limit-ok-{size // MiB}"
        )
        return True, (
            f"uploaded in {result.transfer:.1f} s, peak memory {mib(result.peak_kib * 1024)}"
        )
    except BenchError as error:
        return False, str(error)
    finally:
        source.unlink(missing_ok=True)


def observe_failure(ctx: Context, size: int) -> dict:
    """An upload one size too big. Clean means: the request fails, the attempt ends with the
    file left in temp and the program up, the same file is tried again (the queue takes
    only waiting rows, so its row went back to waiting), nothing crashed and the sink
    recorded no upload; then the window is closed through its Exit command, as a host test
    stops the retries, and the file is still there.

    The row's "waiting" cannot be read from outside: the UI thread sleeps through the whole
    pause between attempts and answers the list-view query only once the retry has set the
    row to uploading again. How long it does not answer is measured instead."""
    service = ctx.service
    install = new_install(ctx.work / f"limit-fail-{size // MiB}", service)
    target = install.temp / "too-big.bin"
    sparse_file(target, size)
    before = len(service.journal())
    run = UploaderRun(install, [target], "limit-fail", count=1, wait=False)
    seen: dict = {"size": size}
    try:
        deadline = time.monotonic() + FAIL_WAIT_S + size / MiB / 20
        events = []
        while time.monotonic() < deadline and not failure_indexes(events):
            if target.name in run.deleted:
                run.wait_end(timeout=EXIT_WAIT_S)
                return {"size": size, "uploaded": True}
            events = run.events()
            time.sleep(0.2)
        failures = failure_indexes(events)
        if not failures:
            raise BenchError(f"{mib(size)}: neither uploaded nor failed in time")
        failed = events[failures[0]]
        seen["failure_lines"] = [events[i].text.decode("latin-1").strip() for i in failures[:2]]
        cpu_at_failure = wd.cpu_seconds(run.pid)
        # Right after the failure the attempt's body is freed: the layout any body has to
        # fit in.
        seen["gaps"] = free_ranges(run.pid)
        window = wd.find_window(timeout=10)
        watch_retry(run, window, failed, cpu_at_failure, target, seen)
        seen["alive"] = run.alive()
        seen["file_stays"] = target.exists()
        seen["alerts"] = [
            wd.message_text(d) for d in wd.dialogs(window["pid"]) if d["title"] == "警告"
        ]
        wd.post(window["hwnd"], wd.WM_COMMAND, IDM_EXIT)
        exit_at = now()
        seen["ended"] = run.wait_end(timeout=EXIT_WAIT_S)
        seen["exit_s"] = now() - exit_at
        if not seen["ended"]:
            run.kill()
    except BaseException:
        run.kill()
        raise
    seen["file_stays_after_exit"] = target.exists()
    seen["crash_signs"] = run.crash_signs()
    seen["uploads_recorded"] = [
        e
        for e in service.journal()[before:]
        if e["endpoint"] == "sink" and e.get("answer") == "success"
    ]
    seen["uploaded"] = False
    seen["clean"] = bool(
        "retry_after_s" in seen
        and seen.get("file_after_attempt")
        and seen["alive"]
        and seen["file_stays"]
        and seen["file_stays_after_exit"]
        and not seen["crash_signs"]
        and not seen["uploads_recorded"]
        and seen["ended"]
    )
    return seen


def watch_retry(
    run: UploaderRun, window: dict, failed, cpu_at_failure: float, target, seen: dict
) -> None:
    """The attempt's end (its job retired), then the next attempt's first line."""
    retired = None
    deadline = time.monotonic() + RETRY_WAIT_S
    while time.monotonic() < deadline:
        events = run.events()
        start = events.index(failed) if failed in events else 0
        r = first(events, start, lambda e: is_retired(e) or e.text.startswith(b"job set aside"))
        if r >= 0 and retired is None:
            retired = events[r]
            seen["attempt_end_s"] = retired.t - failed.t
            seen["attempt_end_line"] = retired.text.decode("latin-1").strip()
            seen["busy"] = (wd.cpu_seconds(run.pid) - cpu_at_failure) / max(now() - failed.t, 1e-3)
            seen["file_after_attempt"] = target.exists()
            # How long the window does not answer (SendMessage, 2 s limit a try).
            asked = now()
            while wd.send(window["hwnd"], 0) is None and now() - asked < UNANSWERED_WAIT_S:
                pass
            seen["unanswered_s"] = now() - retired.t
        if retired is not None:
            k = first(events, events.index(retired) + 1, is_status(60))
            if k >= 0:
                seen["retry_after_s"] = events[k].t - retired.t
                return
        time.sleep(0.2)


def free_ranges(pid: int, count: int = 3) -> list[str]:
    """The largest unmapped ranges of a process below 2 GiB (a 32-bit program's reach)."""
    try:
        with open(f"/proc/{pid}/maps") as f:
            spans = sorted(tuple(int(x, 16) for x in line.split()[0].split("-")) for line in f)
    except OSError:
        return []
    free, at = [], ADDRESS_FLOOR
    for start, end in spans:
        if start >= TWO_GIB:
            break
        if start > at:
            free.append((start - at, at))
        at = max(at, end)
    if at < ADDRESS_REACH:
        free.append((ADDRESS_REACH - at, at))
    return [f"{mib(size)} at {start:#010x}" for size, start in sorted(free, reverse=True)[:count]]
