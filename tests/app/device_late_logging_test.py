#!/usr/bin/env python3
"""The logging task held off its CPU: no record lost.

Five times the logging raster's task "r_rMeas" is kept from running for
300 ms by a busy loop one real-time priority above it on its CPU (a child
process that ends itself by its own clock). The rasters that sample the values
stay above the loop and go on. The 1 ms, 10 ms and 100 ms blocks of m01 must
have no gap, and log.txt must count no time-stamp error.

Then the stop comes while "r_rMeas" is held for 0.5 s and the 1 ms raster's
task "r_r1ms", moved to a CPU of its own, for 0.3 s: the last records of the
1 ms block are taken after their sources would have stopped, had the stop
not waited for the logging's last look. The blocks end with no gap. A
second device's stop holds them longer than that wait (1.6 s and 1.2 s):
what is lost is named.

Needs real-time scheduling (root): without it the test is skipped (77).
Usage: device_late_logging_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, check_spacing, drive_files, lags, measdump_csv, wait_for  # noqa: E402

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
print("holding", flush=True)
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


def hold(cpu, prio, seconds=HOLD_S):
    """Starts the busy loop and returns once it holds the CPU; it ends itself."""
    loop = subprocess.Popen([sys.executable, "-c", BUSY, str(cpu), str(prio), str(seconds)],
                            stdout=subprocess.PIPE, text=True)
    assert loop.stdout.readline() == "holding\n", "busy loop failed"
    return loop


def ended(loop):
    try:
        assert loop.wait(timeout=30) == 0, "busy loop failed"
    finally:
        if loop.poll() is None:
            loop.kill()
            loop.wait()
        loop.stdout.close()


def held_task(pid, name, cpu):
    """(its CPU, the priority just above it) of the device's task `name`,
    kept on `cpu` (its own first CPU where None)."""
    tid = task_of(pid, name)
    assert tid, "no task %s in the device" % name
    affinity = os.sched_getaffinity(tid)
    cpu = min(affinity) if cpu is None else cpu
    if affinity != {cpu}:
        os.sched_setaffinity(tid, {cpu})
    return cpu, os.sched_getparam(tid).sched_priority + 1


def stop_held(dev, cpu, meas_s, r1ms_s):
    """The stop while "r_rMeas" is held for meas_s and "r_r1ms" for r1ms_s,
    each on a CPU of its own outside the device's pair (a pair's CPU held
    above the device's tasks puts them all at normal priority for the
    stop)."""
    pair = re.search(r"on host CPUs (\d+) and (\d+)", dev.log())
    spare = sorted(os.sched_getaffinity(0) - ({int(pair.group(1)), int(pair.group(2))} if pair else {cpu}))
    if len(spare) < 2:
        print("fewer than two CPUs beside the device's: the stop is not held")
        assert dev.stop() == 0
        return
    held = [held_task(dev.proc.pid, "r_rMeas", spare[0]) + (meas_s,),
            held_task(dev.proc.pid, "r_r1ms", spare[1]) + (r1ms_s,)]
    time.sleep(0.5)
    loops = [hold(*h) for h in held]
    assert dev.stop() == 0
    for loop in loops:
        ended(loop)


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
        # a build that leaves the tasks on every CPU: r_rMeas is kept on one
        # for the test, so that one busy loop holds it
        cpu, prio = held_task(dev.proc.pid, "r_rMeas", None)
        time.sleep(1.0)
        for _ in range(HOLDS):
            ended(hold(cpu, prio))
            time.sleep(0.7)
        stop_held(dev, cpu, 0.5, 0.3)
        dev.check_clean()

        names = drive_files(folder, "meas")
        assert names, "no file on meas/"
        joined = {}
        for name in names:
            rc, recs = measdump_csv(measdump, os.path.join(folder, "meas", name))
            assert rc == 0, "%s: measdump exit %d" % (name, rc)
            for block, rs in recs.items():
                joined.setdefault(block, []).extend(rs)
        spacing = {1: 10, 2: 100, 3: 1000}
        for block, step in spacing.items():
            assert len(joined.get(block, [])) * step > 40000, "block %d: only %d records" % (block, len(joined[block]))
        # (a busy host may hold the base tick back: its lines name the stamps)
        check_spacing(joined, spacing, "meas/", lags(folder))
        log = dev.log()
        errors = re.findall(r"TS ErrCnt [1-9]\d*|TS-Err BLK", log)
        assert not errors, "time-stamp errors in log.txt: %s" % errors[:3]
    # held past the stop's wait for the logging: the lists end before it
    # looks, and the runs it then finds nothing of are named
    with DeviceRun(sample, "tav9-late-") as run:
        dev = run.device(binary).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        stop_held(dev, None, 1.6, 1.2)
        dev.check_clean()
    print("device late logging test passed")


if __name__ == "__main__":
    main()
