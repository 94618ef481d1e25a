#!/usr/bin/python3
"""A loopback link as users have it: slow, lossy, or one that stops moving.

Under Wine a program's sockets are made by the wineserver, so shaping a link for a Windows
program means running its whole Wine (wineserver, display, service, probe) in a network
namespace whose loopback is shaped. Two halves:

Outside, as root:

    shaped_link.py run NAME -- command [args...]

runs command in a network namespace of its own (loopback up, MTU 1500), with DISPLAY set
to an Xvfb started inside it, and removes both afterwards, also when the command fails or
the run is interrupted. The command must bring its own wineserver (a Wine prefix of its
own, as tests/e2e/run_isolated.sh makes one): a wineserver started outside would make the
program's sockets outside. Namespaces left behind by a run that was killed are removed by
the next run.

Inside (the command and what it starts): shape(), lose(), stall(), clear() and
wire_bytes() change and read the namespace's loopback. They refuse to touch the machine's
own network. The namespace's TCP sends with Windows' congestion control (CUBIC), which 'run'
adds to the machine's allowed algorithms where it is missing.
"""

from __future__ import annotations

import os
import re
import signal
import subprocess
import sys
from pathlib import Path

NAMESPACE_PREFIX = "vistora-link-"
# Set for the command that 'run' starts: the name of its namespace.
NAMESPACE_VARIABLE = "VISTORA_LINK_NAMESPACE"
# The token bucket drops every packet larger than its burst, and the loopback's own MTU
# (64 KiB) is far above any sensible burst: packets of an Ethernet's size pass.
LOOPBACK_MTU = 1500
# The bucket holds a few full packets; packets queue for at most this long before the
# bucket drops them, as a modem's buffer would.
BUCKET_BYTES = 4 * LOOPBACK_MTU
QUEUE_LATENCY = "200ms"
# The nftables table of the losses; dropped in the input hook, so a lost packet has used
# the link before it is lost, as on a radio link.
LOSS_TABLE = "vistora_link"
# How long a process started here gets to end when asked, before it is killed.
STOP_WAIT_S = 10
# Under Wine the kernel's TCP sends for the Windows program, so the namespace sends as
# Windows does: CUBIC, Windows' default since Windows 10 1709. A machine's default may be
# another (BBR on this project's machines, which reads the bucket's first burst as a link
# of gigabits and, on a crawling link, then sits out retransmission time-outs of 20 s).
CONGESTION_CONTROL = "cubic"
SYSCTL = Path("/proc/sys/net/ipv4")


def _run(*command: str) -> str:
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def _in_own_namespace() -> bool:
    """Whether this process runs in the namespace that 'run' made for it (named in the
    environment, and found so by the kernel's view of this process)."""
    wanted = os.environ.get(NAMESPACE_VARIABLE, "")
    if not wanted.startswith(NAMESPACE_PREFIX):
        return False
    return _run("ip", "netns", "identify", str(os.getpid())).split() == [wanted]


def _require_own_namespace() -> None:
    if not _in_own_namespace():
        raise RuntimeError(
            "shaped_link: not inside a network namespace of its own; run through "
            "'shaped_link.py run' (shaping here would slow the machine's own loopback)"
        )


# --- inside -------------------------------------------------------------------------------


def shape(rate: str) -> None:
    """The loopback at rate (tc's units: "1mbit", "512kbit"), both ways."""
    _require_own_namespace()
    _run(
        "tc", "qdisc", "replace", "dev", "lo", "root", "tbf", "rate", rate,
        "burst", str(BUCKET_BYTES), "latency", QUEUE_LATENCY,
    )  # fmt: skip


def _loss_rules(rule: str) -> None:
    clear()
    script = (
        f"table inet {LOSS_TABLE} {{\n"
        f"  chain input {{\n"
        f"    type filter hook input priority 0; policy accept;\n"
        f"    {rule}\n"
        f"  }}\n"
        f"}}\n"
    )
    subprocess.run(["nft", "-f", "-"], input=script, text=True, check=True, capture_output=True)


def lose(percent: int) -> None:
    """Drops percent of the packets, at random."""
    _require_own_namespace()
    _loss_rules(f"numgen random mod 100 < {int(percent)} drop")


def stall() -> None:
    """Drops every packet from now on: a link that has stopped moving."""
    _require_own_namespace()
    _loss_rules("drop")


def clear() -> None:
    """No more losses (the rate stays)."""
    _require_own_namespace()
    subprocess.run(["nft", "delete", "table", "inet", LOSS_TABLE], capture_output=True, check=False)


def wire_bytes() -> dict:
    """What the loopback's bucket has let through and dropped so far: bytes, packets,
    drops (tc's counters, including every header and acknowledgement)."""
    _require_own_namespace()
    text = _run("tc", "-s", "qdisc", "show", "dev", "lo")
    found = re.search(r"Sent (\d+) bytes (\d+) pkt \(dropped (\d+)", text)
    if found is None:
        raise RuntimeError(f"shaped_link: no counters in {text!r}")
    sent, packets, dropped = map(int, found.groups())
    return {"bytes": sent, "packets": packets, "dropped": dropped}


# --- outside ------------------------------------------------------------------------------


def _namespaces() -> list[str]:
    return [line.split()[0] for line in _run("ip", "netns", "list").splitlines() if line]


def _remove_orphans() -> None:
    """Namespaces of runs whose process is gone (killed before it could clean up)."""
    for name in _namespaces():
        owner = name.rsplit("-", 1)[-1]
        if name.startswith(NAMESPACE_PREFIX) and owner.isdigit():
            if not Path(f"/proc/{owner}").exists():
                subprocess.run(["ip", "netns", "delete", name], check=False)


def _send_as_windows(namespace: str) -> None:
    """The namespace's TCP uses Windows' congestion control. A namespace may only choose an
    algorithm the machine allows, so it is added to the allowed ones where the kernel has
    it: the machine's own default and its sockets stay as they are."""
    if CONGESTION_CONTROL not in (SYSCTL / "tcp_available_congestion_control").read_text().split():
        print(
            f"shaped_link: no {CONGESTION_CONTROL} in this kernel; the machine's default "
            "congestion control sends",
            file=sys.stderr,
        )
        return
    allowed = (SYSCTL / "tcp_allowed_congestion_control").read_text().split()
    if CONGESTION_CONTROL not in allowed:
        wider = " ".join([*allowed, CONGESTION_CONTROL])
        _run("sysctl", "-q", "-w", f"net.ipv4.tcp_allowed_congestion_control={wider}")
    setting = f"net.ipv4.tcp_congestion_control={CONGESTION_CONTROL}"
    _run("ip", "netns", "exec", namespace, "sysctl", "-q", "-w", setting)


def _start_display(namespace: str) -> tuple[subprocess.Popen, str]:
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        # -noreset, as in scripts/with-wine.sh: a reset refuses connections meanwhile.
        ["ip", "netns", "exec", namespace, "Xvfb", "-displayfd", str(write_end),
         "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
    )  # fmt: skip
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number.isdigit():
        xvfb.kill()
        xvfb.wait()
        raise RuntimeError("shaped_link: Xvfb did not start in the namespace")
    return xvfb, f":{number}"


def _interrupted(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


def run_inside(label: str, command: list[str]) -> int:
    """Runs command in a fresh namespace with its own display; returns its exit status."""
    if os.geteuid() != 0:
        raise SystemExit("shaped_link: network namespaces need root")
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _interrupted)
    _remove_orphans()
    namespace = f"{NAMESPACE_PREFIX}{re.sub(r'[^A-Za-z0-9_]', '_', label)}-{os.getpid()}"
    child = xvfb = None
    _run("ip", "netns", "add", namespace)
    try:
        _run("ip", "-n", namespace, "link", "set", "lo", "mtu", str(LOOPBACK_MTU), "up")
        _send_as_windows(namespace)
        xvfb, display = _start_display(namespace)
        child = subprocess.Popen(
            [
                "ip",
                "netns",
                "exec",
                namespace,
                "env",
                f"DISPLAY={display}",
                f"{NAMESPACE_VARIABLE}={namespace}",
                *command,
            ]  # fmt: skip
        )
        return child.wait()
    finally:
        for process in (child, xvfb):
            if process is not None and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=STOP_WAIT_S)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        subprocess.run(["ip", "netns", "delete", namespace], check=False)


def main(argv: list[str]) -> int:
    if len(argv) < 4 or argv[0] != "run" or argv[2] != "--":
        print("usage: shaped_link.py run NAME -- command [args...]", file=sys.stderr)
        return 2
    return run_inside(argv[1], argv[3:])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
