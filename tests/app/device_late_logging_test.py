#!/usr/bin/env python3
"""The logging task held off its CPU: no record lost.

Five times the logging raster's task "r_rMeas" is kept from running for
300 ms by a busy loop one real-time priority above it on its CPU (a child
process that ends itself by its own clock). The rasters that sample the values
stay above the loop and go on. The 1 ms, 10 ms and 100 ms blocks of m01 must
have no gap, and log.txt must count no time-stamp error.

Needs real-time scheduling (root): without it the test is skipped (77).
Usage: device_late_logging_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, measdump_csv, wait_for  # noqa: E402

SKIP = 77
HOLDS = 5
HOLD_S = 0.3

# The busy loop: bound to one CPU, SCHED_FIFO at the given priority, spinning
# until its own clock says the time is up.
BUSY = r"""
import os, sys, time
cpu, prio, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
os.sched_setaffinity(0, {cpu})
os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(prio))
end = time.monotonic() + seconds
while time.monotonic() < end:
    pass
"""


def task_of(pid, name):
    """Thread id of the device's task `name`, or None."""
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                if f.read().strip() == name:
                    return int(tid)
        except OSError:
            pass
    return None


def hold(cpu, prio):
    """Runs the busy loop once and waits for it to end."""
    p = subprocess.Popen([sys.executable, "-c", BUSY, str(cpu), str(prio), str(HOLD_S)])
    try:
        assert p.wait(timeout=30) == 0, "busy loop failed"
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    if os.geteuid() != 0:
        print("skipped: holding the logging task off its CPU needs real-time priority (root)")
        sys.exit(SKIP)
    with DeviceRun(sample, "tav9-late-") as run:
        folder = run.folder
        dev = run.device(binary).wait_ready()
        if "real-time scheduling not permitted" in dev.log():
            print("skipped: the device runs without real-time scheduling here")
            sys.exit(SKIP)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        meas_tid = task_of(dev.proc.pid, "r_rMeas")
        assert meas_tid, "no task r_rMeas in the device"
        if os.sched_getscheduler(meas_tid) != os.SCHED_FIFO:
            print("skipped: r_rMeas does not run under SCHED_FIFO")
            sys.exit(SKIP)
        prio = os.sched_getparam(meas_tid).sched_priority + 1
        # a build that leaves the tasks on every CPU: r_rMeas is kept on one
        # for the test, so that one busy loop holds it
        affinity = os.sched_getaffinity(meas_tid)
        cpu = min(affinity)
        if len(affinity) > 1:
            os.sched_setaffinity(meas_tid, {cpu})
        time.sleep(1.0)
        for _ in range(HOLDS):
            hold(cpu, prio)
            time.sleep(0.7)
        assert dev.stop() == 0
        dev.check_clean()

        names = drive_files(folder, "meas")
        assert names, "no file on meas/"
        joined = {}
        for name in names:
            rc, recs = measdump_csv(measdump, os.path.join(folder, "meas", name))
            assert rc == 0, "%s: measdump exit %d" % (name, rc)
            for block, rs in recs.items():
                joined.setdefault(block, []).extend(ts for ts, _ in rs)
        for block, spacing in ((1, 10), (2, 100), (3, 1000)):
            ts = joined.get(block, [])
            assert len(ts) * spacing > 40000, "block %d: only %d records" % (block, len(ts))
            gaps = [(a, b) for a, b in zip(ts, ts[1:]) if b - a != spacing]
            assert not gaps, "block %d: %d gaps, first %d -> %d" % (block, len(gaps), gaps[0][0], gaps[0][1])
        log = dev.log()
        errors = re.findall(r"TS ErrCnt [1-9]\d*|TS-Err BLK", log)
        assert not errors, "time-stamp errors in log.txt: %s" % errors[:3]
    print("device late logging test passed")


if __name__ == "__main__":
    main()
