#!/usr/bin/env python3
"""A second time master on the network, its time 1000 s behind.

Two devices in two network namespaces (scripts/netns-pair, root), both
time masters (a misconfiguration): A (PID 1) runs in a time namespace whose
monotonic clock is 1000 s ahead, B (PID 2) on the host's clock, so that B's
time lies 1000 s behind A's. A's m03 records B's values, B's measurements
record A's, and B's m01 waits for a global start condition that A's values
give.

Neither device takes a value of the other's time: A names B's values once,
"behind", as B names A's once, "ahead"; no measurement of either starts with
a stamp of the other's time. B names A's condition values, stamped ahead,
once rather than at every evaluation, and neither device logs its FIFOs'
refusals again every second ("New error ... TS ErrCnt").

Usage: device_second_master_test.py TAV9_BINARY SAMPLE_FOLDER SOURCE_DIR
Exit 77: skipped (no root or no namespaces here).
"""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import netns_pair_down, netns_pair_up, wait_for  # noqa: E402
from device_two_devices_test import (PID_A, PID_B, ADDR_A, ADDR_B, SKIP, blkcount, prepare,  # noqa: E402
                                     print_log_ends, stop_both)

AHEAD_S = 1000
NAMED = "values of PID 0x%X come stamped (\\d+) s %s this device's time, not recorded"
STARTED = re.compile(r"starting measurement m0\d with timestamp")
ILLEGAL = "Illegal condition timestamp"
NEW_ERROR = re.compile(r"New error BLK #\d+, Fifo #\d+, .*TS ErrCnt [1-9]")


def records_the_other(run_a):
    """A's m03 takes B's values; B's measurements name A's (PID 1) already."""
    m03 = os.path.join(run_a.folder, "cfg", "m03.xml")
    with open(m03) as f:
        text = f.read()
    with open(m03, "w") as f:
        f.write(text.replace('adr="0x01', 'adr="0x%02X' % PID_B))


def named(log, pid, way):
    return re.findall(NAMED % (pid, way), log)


def second_master(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-2m-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-2m-b-", PID_B, ADDR_B) as run_b:
        records_the_other(run_a)
        a = run_a.device(binary, prefix=("ip", "netns", "exec", ns_a, "unshare", "-T", "--monotonic",
                                         str(AHEAD_S))).wait_ready()
        b = run_b.device(binary, prefix=("ip", "netns", "exec", ns_b)).wait_ready()
        try:
            wait_for(lambda: "meas_app_running           = 1" in a.shell("meas"), "A to log")
            wait_for(lambda: "meas_app_running           = 1" in b.shell("meas"), "B to log")
            wait_for(lambda: named(b.log(), PID_A, "ahead of"), "B to name A's values, ahead", 60)
            wait_for(lambda: named(a.log(), PID_B, "behind"), "A to name B's values, behind", 30)
            wait_for(lambda: blkcount(a, "SG") > 2000, "A's own values in its m01", 30)
            time.sleep(5)   # five seconds more of values refused each millisecond
            log_a, log_b = a.log(), b.log()
            for name, log, pid, way in (("A", log_a, PID_B, "behind"), ("B", log_b, PID_A, "ahead of")):
                seconds = named(log, pid, way)
                assert len(seconds) == 1, "%s named PID 0x%X %d times" % (name, pid, len(seconds))
                assert abs(int(seconds[0]) - AHEAD_S) <= 2, seconds
                errors = NEW_ERROR.findall(log)
                assert len(errors) <= 2, "%s logs refusals as new errors: %s" % (name, errors[:3])
            # A's m01 records its own values; nothing of the other's time starts a measurement
            started_a = STARTED.findall(log_a)
            assert len(started_a) == 1 and "m01" in log_a[log_a.find("starting measurement"):][:40], \
                "A started: %s" % [ln for ln in log_a.splitlines() if STARTED.search(ln)]
            assert not STARTED.search(log_b), [ln for ln in log_b.splitlines() if STARTED.search(ln)]
            assert blkcount(a, "FDE") == 0 and blkcount(b, "SG") == 0 and blkcount(b, "FDE") == 0
            illegal = [ln for ln in log_b.splitlines() if ILLEGAL in ln]
            assert len(illegal) == 1, "%d lines: %s" % (len(illegal), illegal[:3])
            stop_both(a, b)
        except Exception:
            print_log_ends(a, b)
            raise
    print("second master 1000 s behind test passed")


def main():
    binary, sample, source = sys.argv[1:4]
    pair = netns_pair_up(source, "m")
    if not pair:
        return SKIP
    try:
        second_master(binary, sample, *pair)
    finally:
        netns_pair_down(source, pair)
    return 0


if __name__ == "__main__":
    sys.exit(main())
