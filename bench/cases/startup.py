"""startup: from CreateProcess to the first DDE conversation with the uploader, against the
design's floor: the least program that does what the design asks before its message loop
(DesignReady: the common controls, the main window with its six controls, the Windows 98
setting, the DDE service registered), measured the same way in the same rounds. The least
GUI program with a DDE service (GuiReady) and a console program stay beside it."""

from __future__ import annotations

import re
import shutil

from harness import BenchError, Context, Row, each, helper_json_lines, median, run_helper, wd

NAME = "startup"
# Each program starts once a round, in turns; the medians need many starts on a machine
# whose pace changes within seconds.
FULL_ROUNDS = 30
QUICK_ROUNDS = 2
# The same uploader as an NT program, beside the win98 one: to its registration only.
NT_ROUNDS = 10
# StartupBench's waits: how long a DDE connect is retried before a round gives up, and
# the pause between retries once the service is registered.
FALLBACK_MS = 1000
RETRY_MS = 5
# Over the floor: reading the settings, the string table and the accelerators, and the
# program's own size.
MARGIN = 1.10
GOAL = (
    f"**startup**: the floor is the least program that does what the design asks before its "
    f"message loop (DesignReady: the single-instance mutex, the common controls, the main "
    f"window with its six controls and the list's columns, laid out, shown and painted, the "
    f"Windows 98 setting, the DDE service with its topics' and items' names registered), "
    f"CreateProcess to the first DdeConnect that gives a conversation, in the same "
    f"StartupBench rounds as the uploader. The goal allows {MARGIN:.2f}x that for what the "
    f"uploader does besides (its settings, its string table and accelerators; WinINet and "
    f"what it loads wait for the first request; the timelines below show where). The least "
    f"GUI program with a DDE service (GuiReady) and a trivial console program are kept "
    f"beside it."
)
# One line of Wine's debug output with +timestamp,+pid: seconds.milliseconds, process, thread.
TRACE_LINE = re.compile(rb"^(\d+)\.(\d{3}):([0-9a-f]+):([0-9a-f]+):(.*)$")
LOADED = re.compile(rb'trace:loaddll:\w+ Loaded (?:L|module )"([^"]*)"')
DLL_MAIN = re.compile(
    rb'^(Call|Ret ) PE DLL \(proc=\w+,module=\w+ L"([^"]*)",reason=PROCESS_ATTACH'
)
RELAYED = re.compile(rb"^(Call|Ret ) (\w+)\.(\w+)\(")
# The calls that mark a start's steps, relayed by Wine (+relay, limited to these by the
# prefix's RelayInclude, so that the start is hardly slowed): StartupBench's CreateProcessA
# is the start's 0; then the main window created (through the wide call by the uploader,
# the ANSI one by the floor), shown and painted, the DDE service registered, and the
# message loop.
MARKED_CALLS = (
    "kernel32.CreateProcessA",
    "user32.CreateWindowExA",
    "user32.CreateWindowExW",
    "user32.ShowWindow",
    "user32.UpdateWindow",
    "user32.DdeNameService",
    "user32.GetMessageA",
)
RELAY_KEY = r"HKCU\Software\Wine\Debug"
# A module's initialisation (its DllMain) is shown when it took at least this long.
SHOWN_DLL_MAIN_MS = 2
PROGRAMS = ("vistorauploader.exe", "designready.exe", "guiready.exe", "consoleready.exe")
DESIGN_EXE = "DesignReady.exe"
# The prefix reports Windows 98 for the uploader; the floor gets the same setting.
WIN98_KEY = rf"HKCU\Software\Wine\AppDefaults\{DESIGN_EXE}"


def run(ctx: Context) -> None:
    wd.run_windows("reg", "add", WIN98_KEY, "/v", "Version", "/d", "win98", "/f")
    try:
        measure(ctx)
    finally:
        wd.run_windows("reg", "delete", WIN98_KEY, "/f")


def measure(ctx: Context) -> None:
    report = ctx.report
    rounds = QUICK_ROUNDS if ctx.quick else FULL_ROUNDS
    install = wd.Install(ctx.work / "startup")
    programs = (
        wd.windows_path(wd.BIN / "ConsoleReady.exe"),
        wd.windows_path(install.exe),
        wd.windows_path(wd.BIN / "GuiReady.exe"),
        wd.windows_path(wd.BIN / DESIGN_EXE),
    )
    lines = helper_json_lines(
        "StartupBench.exe", rounds, FALLBACK_MS, RETRY_MS, *programs, timeout=60 + rounds * 30
    )
    console = [line["ready_ms"] for line in lines if line["kind"] == "console" and line["ok"]]
    uploader = [line for line in lines if line["kind"] == "uploader" and line["ok"]]
    gui = [line["answer_ms"] for line in lines if line["kind"] == "gui" and line["ok"]]
    design = [line["answer_ms"] for line in lines if line["kind"] == "design" and line["ok"]]
    poll = next(line for line in lines if line["kind"] == "poll")
    if any(len(found) != rounds for found in (console, uploader, gui, design)):
        raise BenchError(f"start-up rounds failed: {lines}")
    up = [line["answer_ms"] for line in uploader]
    floor = median(design)
    report.rows.append(
        Row(
            "startup to DDE answer",
            f"{median(up):.0f} ms (median of {rounds})",
            f"{floor:.0f} ms (the design's start alone, DesignReady, same rounds)",
            f"≤ {MARGIN:.2f}x floor ({MARGIN * floor:.0f} ms)",
            report.judge(median(up) <= MARGIN * floor),
            f"{median(up) / floor:.2f}x the floor; {median(up) / median(gui):.2f}x the least "
            f"GUI program with a DDE service ({median(gui):.0f} ms); "
            f"{median(up) / median(console):.2f}x a console program ({median(console):.0f} ms)",
        )
    )
    report.say("## startup")
    bound = [
        line["answer_ms"] - line["last_miss_end_ms"]
        for line in uploader
        if line["last_miss_end_ms"] > 0
    ]
    report.say(
        f"- {rounds} rounds of StartupBench, each starting the four programs in turns (the "
        f"first of a round rotating, each after a 200 ms pause), CreateProcess to the first "
        f"DdeConnect that gave a conversation (for the console program, to its first act)"
    )
    report.say(f"- uploader: median {median(up):.1f} ms; each: {each(up)}")
    report.say(
        f"- its DDE service registered (XTYP_REGISTER seen here) at median "
        f"{median([line['registered_ms'] for line in uploader]):.1f} ms; the service "
        f"answered at most {max(bound, default=0):.1f} ms before it was seen ({RETRY_MS} ms "
        f"retries after the registration; one unanswered DdeConnect costs "
        f"{poll['connect_ms']:.1f} ms here)"
    )
    report.say(
        f"- the floor: DesignReady (the mutex, the common controls, the main window with its "
        f"six controls and two columns, laid out, shown and painted, the Windows 98 setting, "
        f"the DDE service with its topics' and items' names), same measure: median "
        f"{floor:.1f} ms; each: {each(design)}; the uploader is {median(up) / floor:.2f}x that"
    )
    report.say(
        f"- beside it: the least GUI program with a DDE service (GuiReady: a window, DDEML, "
        f"a name, NT version): median {median(gui):.1f} ms; each: {each(gui)}; and a trivial "
        f"console program, CreateProcess to its first act (SetEvent): median "
        f"{median(console):.1f} ms; each: {each(console)}"
    )
    for program, timeline in startup_timeline(programs).items():
        report.say(
            f"- one start of {program}, ms after StartupBench's CreateProcess (Wine's "
            f"+timestamp,+loaddll and +relay of {len(MARKED_CALLS)} calls, one more round): "
            + ", ".join(timeline)
        )
    # The prefix gives VistoraUploader.exe a win98 version (the 9x DDE branch); the same
    # program under another name starts as Wine's default NT version. Its NT branch refuses
    # every client under Wine, so both are compared at the registration of their service.
    renamed = install.folder / "RenamedUploader.exe"
    shutil.copyfile(install.exe, renamed)
    lines = helper_json_lines(
        "StartupBench.exe",
        "registered",
        min(rounds, NT_ROUNDS),
        FALLBACK_MS,
        RETRY_MS,
        wd.windows_path(wd.BIN / "ConsoleReady.exe"),
        wd.windows_path(renamed),
        timeout=60 + rounds * 30,
    )
    nt = [line["registered_ms"] for line in lines if line["kind"] == "uploader" and line["ok"]]
    registered = median([line["registered_ms"] for line in uploader])
    report.say(
        f"- the same uploader copied to another name (no win98 setting: Wine's default NT "
        f"version, no 16-bit modules), to its service's registration: median "
        f"{median(nt):.1f} ms over {len(nt)}, against {registered:.1f} ms as "
        f"VistoraUploader.exe; the win98 setting costs {registered - median(nt):.0f} ms of "
        f"the start"
    )
    report.say()


def startup_timeline(programs: tuple[str, ...]) -> dict[str, list[str]]:
    """One more round of StartupBench with Wine's module loads, module initialisations and
    the marked calls time-stamped: per program, its steps in ms after CreateProcess."""
    wd.run_windows(
        "reg", "add", RELAY_KEY, "/v", "RelayInclude", "/d", ";".join(MARKED_CALLS), "/f"
    )
    try:
        result = run_helper(
            "StartupBench.exe",
            1,
            FALLBACK_MS,
            RETRY_MS,
            *programs,
            timeout=120,
            debug="fixme-all,+timestamp,+pid,+loaddll,+relay",
        )
    finally:
        wd.run_windows("reg", "delete", RELAY_KEY, "/v", "RelayInclude", "/f")
    return timelines(result.stderr)


def timelines(stderr: bytes) -> dict[str, list[str]]:
    """Per program StartupBench started, its steps in ms after the CreateProcess that
    started it (the last one before the program's first line)."""
    lines = []
    for raw in stderr.splitlines():
        m = TRACE_LINE.match(raw)
        if m:
            lines.append(
                (int(m.group(1)) + int(m.group(2)) / 1000, m.group(3), m.group(4), m.group(5))
            )
    starts = [
        t for t, _, _, text in lines if text.lower().startswith(b"call kernel32.createprocessa(")
    ]
    by_process: dict[bytes, list] = {}
    for line in lines:
        by_process.setdefault(line[1], []).append(line)
    result = {}
    for own in by_process.values():
        loads = [(t, LOADED.search(text)) for t, _, _, text in own]
        loads = [(t, m.group(1).decode("latin-1").rsplit("\\", 1)[-1]) for t, m in loads if m]
        if not loads or loads[0][1].lower() not in PROGRAMS:
            continue
        began = max((t for t in starts if t <= own[0][0]), default=own[0][0])
        result[loads[0][1].lower()] = [
            (f"{step} {(t - began) * 1000:.0f}")
            + ("" if end is None else f"-{(end - began) * 1000:.0f}")
            for t, step, end in steps(own, loads)
        ]
    return result


def steps(own: list, loads: list[tuple[float, str]]) -> list[tuple[float, str, float | None]]:
    """A process's steps, each with its time and, for a span, its end: each module mapped,
    each long module initialisation, the main window created, shown and painted, the
    service registered and the message loop."""
    found = [(t, f"{name} mapped", None) for t, name in loads]
    spans: dict[str, list[tuple[float, float]]] = {}
    opened: dict[tuple, list[float]] = {}
    for t, _, thread, text in own:
        if m := DLL_MAIN.match(text):
            key = (thread, "init", m.group(2).decode("latin-1"))
        elif m := RELAYED.match(text):
            key = (thread, "call", m.group(3).decode())
        else:
            continue
        kind, name = key[1], key[2]
        if m.group(1) == b"Call":
            opened.setdefault(key, []).append(t)
        elif opened.get(key):
            began = opened[key].pop()
            if not opened[key]:  # the outermost call of its name on this thread
                spans.setdefault(f"{kind} {name}", []).append((began, t))
    for name, found_spans in spans.items():
        if name.startswith("init "):
            for began, ended in found_spans:
                if (ended - began) * 1000 >= SHOWN_DLL_MAIN_MS:
                    found.append((began, f"{name[5:]} initialised", ended))

    def after(name: str, moment: float):
        return next((span for span in spans.get(f"call {name}", []) if span[0] >= moment), None)

    window = after("CreateWindowExW", 0) or after("CreateWindowExA", 0)
    if window:
        found.append((window[0], "main window created", window[1]))
        shown = after("ShowWindow", window[1])
        if shown:
            found.append((shown[0], "shown", shown[1]))
            painted = after("UpdateWindow", shown[1])
            if painted:
                found.append((painted[0], "painted", painted[1]))
    registered = after("DdeNameService", 0)
    if registered:
        found.append((registered[1], "DDE service registered", None))
    loop = after("GetMessageA", 0)
    if loop:
        found.append((loop[0], "message loop", None))
    return sorted(found, key=lambda step: step[0])
