#!/usr/bin/env python3
"""Starts the device process twice in a copy of sample/ and talks to it.

Checks what an engineer relies on when running the device: it starts on the
board's two host CPUs, the shell socket answers getvar/setvar and the lap-counter commands, values of the
stimulus change, the screen image appears, "reset_voz" shuts it down in order
with every raster counted in the log, and the boot counter survives a restart.
The restart runs with the host's /tmp read-only (where a mount namespace can
be made): the shell's answers need no temporary directory.
Usage: device_smoke_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import re
import shlex
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, make_folder, read_text, remove_folder, wait_for  # noqa: E402

BACKGROUND = ("kScreenPng", "kNvramWrite")


def check_placement(dev):
    """Every build runs on the board's two CPUs, as on the car, but a
    sanitizer build: it runs on any CPU (its instrumented code does not fit
    one), each thread at normal priority (its runtime's spin locks would
    stall under real-time priorities)."""
    log = dev.log()
    sanitized = "startup: sanitizer build, tasks run at normal priority" in log
    m = re.search(r"processor cores 0 and 1 on host CPUs (\d+) and (\d+)", log)
    if sanitized:
        assert "startup: tasks run on any host CPU" in log, log[-3000:]
        pair = set(os.sched_getaffinity(0))
    else:
        assert m, "the device does not run on the board's CPUs:\n" + log[-3000:]
        pair = {int(m.group(1)), int(m.group(2))}
    for tid in os.listdir("/proc/%d/task" % dev.proc.pid):
        try:
            cpus, policy = os.sched_getaffinity(int(tid)), os.sched_getscheduler(int(tid))
        except OSError:
            continue  # the thread has ended meanwhile
        assert cpus <= pair, "thread %s on CPUs %s, not on %s" % (tid, sorted(cpus), sorted(pair))
        assert not sanitized or policy == os.SCHED_OTHER, "thread %s under policy %d" % (tid, policy)
        # the host's own background writers never keep the real-time policy
        # of the task that happened to start them
        if read_text("/proc/%d/task/%s/comm" % (dev.proc.pid, tid)).strip() in BACKGROUND:
            assert policy == os.SCHED_OTHER, "background thread %s under policy %d" % (tid, policy)


def readonly_tmp(folder):
    """A prefix that runs the device in a mount namespace of its own where
    /tmp is read-only but for its folder; None where that cannot be made
    (no right to mount)."""
    script = ("mount --bind {f} {f} && mount --rbind /tmp /tmp && mount -o remount,bind,ro /tmp && "
              'exec "$0" "$@"').format(f=shlex.quote(folder))
    prefix = ["unshare", "-m", "--propagation", "private", "sh", "-c", script]
    probe = subprocess.run(prefix + ["sh", "-c", "! touch /tmp 2>/dev/null && touch %s/.rw && rm %s/.rw"
                                     % (shlex.quote(folder), shlex.quote(folder))],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return prefix if probe.returncode == 0 else None


def run_once(binary, folder, prefix=()):
    dev = Device(binary, folder, prefix=prefix)
    try:
        dev.wait_ready()
        check_placement(dev)
        first = dev.shell("getvar n_engine")
        time.sleep(0.3)
        second = dev.shell("getvar n_engine")
        assert "n_engine" in first, first
        assert first != second, "stimulus values do not change: %r" % first
        # a value only the radio modem's answers write (there is no modem here):
        # the display's brightness follows its input channel and would not stay
        answer = dev.shell("setvar tele_modem_band 3")
        assert "tele_modem_band" in answer, answer
        assert re.search(r"\b3\b", dev.shell("getvar tele_modem_band")), "setvar did not land"
        assert "lap" in dev.shell("lof_get").lower()
        assert "unknown" in dev.shell("no_such_command").lower()
        wait_for(lambda: os.path.exists(os.path.join(folder, "screen.png")), "screen.png")
        with open(os.path.join(folder, "screen.png"), "rb") as f:
            assert f.read(8) == b"\x89PNG\r\n\x1a\n"
        rc = dev.stop()
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-6000:])
        dev.check_clean()
    finally:
        dev.kill()
    log = dev.log()
    for raster in ("r1ms", "r10ms", "r100ms", "r1000ms", "rMeas", "WATCHDOG"):
        assert re.search(r"raster %s: \d+ ticks" % raster, log), "no tick count of " + raster
    boots = re.findall(r"boot counter (\d+)", log)
    assert boots, "no boot counter line"
    return int(boots[-1])


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    folder = make_folder(sample, "tav9-smoke-")
    try:
        first = run_once(binary, folder)
        prefix = readonly_tmp(folder)
        if prefix is None:
            print("note: no read-only /tmp can be made here, the restart runs without")
        second = run_once(binary, folder, prefix or ())
        assert second == first + 1, "boot counter %d then %d" % (first, second)
    finally:
        remove_folder(folder)
    print("device smoke test passed")


if __name__ == "__main__":
    main()
