"""body: building the multipart body of a large file with the client's own code
(BuildMultipartBody), against the design's floor: the bare loop of the same 1024-byte
reads into one zeroed block."""

from __future__ import annotations

from harness import (
    BenchError,
    Context,
    MiB,
    Row,
    each,
    helper_json_lines,
    median,
    mib,
    random_file,
    wd,
)

NAME = "body"
FULL_SIZE = 256 * MiB
QUICK_SIZE = 8 * MiB
FULL_ROUNDS = 5
QUICK_ROUNDS = 1
READ_SIZE = 1024  # the design's read size (the client's body reader)
# Over the floor: the estimate, the part's header and the closing line, and the drift of
# a shared machine between medians.
MARGIN = 1.10
GOAL = (
    f"**body**: the floor is a bare loop of {READ_SIZE}-byte ReadFile calls into one zeroed "
    f"block (BodyBench, in the same process and rounds as the client's code): the design reads "
    f"the file in {READ_SIZE}-byte pieces, so no body built that way can be faster. The client "
    f"adds only the estimate, the part's header and the closing line, so the goal is "
    f"{MARGIN:.2f}x the floor, the rest being the drift of a shared machine. The ratio to one "
    f"ReadFile of the whole file is kept beside it."
)


def run(ctx: Context) -> None:
    report = ctx.report
    rounds = QUICK_ROUNDS if ctx.quick else FULL_ROUNDS
    source = ctx.work / "body.bin"
    size = QUICK_SIZE if ctx.quick else FULL_SIZE
    random_file(source, size)
    try:
        lines = helper_json_lines(
            "BodyBench.exe", "compare", wd.windows_path(source), rounds, timeout=120 + rounds * 30
        )
    finally:
        source.unlink()
    if not all(line["ok"] for line in lines):
        raise BenchError(f"a body did not hold the file: {lines}")
    by = {
        k: [line["ms"] for line in lines if line["kind"] == k] for k in ("floor", "blocks", "body")
    }
    body, loop, whole = median(by["body"]), median(by["blocks"]), median(by["floor"])
    report.rows.append(
        Row(
            f"body building, {mib(size)}",
            f"{body:.0f} ms",
            f"{loop:.0f} ms ({READ_SIZE}-byte read loop)",
            f"≤ {MARGIN:.2f}x floor ({MARGIN * loop:.0f} ms)",
            report.judge(body <= MARGIN * loop),
            f"{body / whole:.2f}x one ReadFile ({whole:.0f} ms)",
        )
    )
    report.say("## body")
    for kind, what in (
        (
            "blocks",
            f"the floor: a bare loop of {READ_SIZE}-byte ReadFile calls "
            f"into one zeroed block (the designed reads, without the "
            f"client's code)",
        ),
        (
            "body",
            f"BuildMultipartBody of one file field (estimate, zeroed block, "
            f"header, {READ_SIZE}-byte reads, closing line)",
        ),
        ("floor", "beside it: CreateFile, HeapAlloc of the size, one ReadFile of it all"),
    ):
        report.say(
            f"- {what}: median {median(by[kind]):.1f} ms over {len(by[kind])}; each: "
            f"{each(by[kind])}"
        )
    frees = [line["free_ms"] for line in lines if line["kind"] == "body"]
    calls = size // READ_SIZE + 1
    report.say(
        f"- FreeMultipartBody, not in the figure: median {median(frees):.1f} ms; {calls} "
        f"ReadFile calls per body: {(body - whole) / calls * 1000:.2f} µs each above one "
        f"ReadFile; the body is {body / loop:.2f}x the bare loop"
    )
    report.say()
