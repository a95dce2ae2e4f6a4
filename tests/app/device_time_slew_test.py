#!/usr/bin/env python3
"""A slave whose clock runs a fraction of a second ahead of its master's, on
a network that delivers each time message many times over.

Two devices in two network namespaces (scripts/netns-pair, root): device A
(PID 1, the time master) and device B (PID 2, which follows A's time). Each
runs in a time namespace of its own, B's monotonic clock 0.3 s ahead of A's.
A packet socket in B's namespace sees each of A's time messages and hands it
to B another 20 times at once, as a network that repeats datagrams would.
Each copy is a gap stamp that arrives later than the first, so B's time core
is told again and again that its master stands a little behind: together
the copies say more than a millisecond, the period of the logging raster.

B takes A's time once, records A's values, and goes on recording without a
break: its log never says "timestamp reset detected", each drive holds one
file, and the records of every block of it are in time order.

Usage: device_time_slew_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER SOURCE_DIR
Exit 77: skipped (no root or no namespaces here).
"""
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import netpeer  # noqa: E402
from device_harness import drive_files, netns_pair_down, netns_pair_up, wait_for  # noqa: E402
from device_time_restart_test import FIRST_AHEAD_NS, RESET, master, out_of_order, records  # noqa: E402
from device_two_devices_test import (PID_A, PID_B, ADDR_A, ADDR_B, SKIP, blkcount, print_log_ends,  # noqa: E402
                                     each_records_the_other, prepare)

B_AHEAD_NS = 3 * 10**8
COPIES = 20
COMMAND_PORT = 9870


class TimeRepeater:
    """Sees A's time messages arrive on B's eth0 (a packet socket in B's
    namespace) and sends each to B's command port COPIES times more."""

    def __init__(self, ns):
        with netpeer.in_namespace(ns):
            self.send = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.repeated = 0
        self._sniffer = netpeer.UdpSniffer(ns, ADDR_A, self._seen)

    def _seen(self, _dst, port, message):
        if port != COMMAND_PORT or len(message) < 20 or netpeer.parse_command(message)[0] != netpeer.CMD_TIME:
            return
        for _ in range(COPIES):
            self.send.sendto(message, (ADDR_B, COMMAND_PORT))
        self.repeated += 1

    def stop(self):
        self._sniffer.stop()
        self.send.close()


def slew(binary, measdump, sample, ns_a, ns_b):
    with prepare(sample, "tav9-tsl-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-tsl-b-", PID_B, ADDR_B) as run_b:
        each_records_the_other(binary, run_a, run_b, ns_b)
        repeater = TimeRepeater(ns_b)
        a = b = None
        try:
            a = master(binary, run_a, ns_a, FIRST_AHEAD_NS).wait_ready()
            b = master(binary, run_b, ns_b, FIRST_AHEAD_NS + B_AHEAD_NS).wait_ready()
            wait_for(lambda: "Sync on timemaster systemtime" in b.log(), "B to follow A's time", 60)
            wait_for(lambda: blkcount(b, "SG") > 0 and blkcount(b, "FDE") > 0, "A's values in B's files", 60)
            for drive in ("meas", "meas2"):
                wait_for(lambda: drive_files(run_b.folder, drive), "B's first file on " + drive)
            # 15 s of repeated time messages while B records
            start = repeater.repeated
            wait_for(lambda: repeater.repeated >= start + 150, "150 time messages repeated", 60)
            assert RESET not in b.log(), "B restarted its measurement:\n" + b.log()[-3000:]
            assert a.stop() == 0
            assert b.stop() == 0
            files = records(measdump, run_b.folder)
            bad = out_of_order(files)
            assert not bad, "B's files hold records stamped before their block's previous one:\n" + "\n".join(bad)
            for drive in ("meas", "meas2"):
                names = [n for n in files if n.startswith(drive + "/")]
                assert len(names) == 1, "B's files on %s: %s" % (drive, names)
            a.check_clean()
            b.check_clean()
        except Exception:
            if a and b:
                print_log_ends(a, b)
            raise
        finally:
            repeater.stop()
    print("slave slewed under repeated time messages test passed")


def main():
    binary, measdump, sample, source = sys.argv[1:5]
    pair = netns_pair_up(source, "w")
    if not pair:
        return SKIP
    try:
        slew(binary, measdump, sample, *pair)
    finally:
        netns_pair_down(source, pair)
    return 0


if __name__ == "__main__":
    sys.exit(main())
