#!/usr/bin/env python3
"""Status blocks and the lap stack of a running device.

The device is its own lap-trigger master (the sibling application's page says
so through start.cfg) and has no lap-stack controller, so it keeps the lap
stack itself. The test plays the lap-trigger function: it sends two lap events
(command 0x1200) 83.45 s apart in lap time stamps to the command multicast
group on the loopback interface. The file the second lap closes must end with
a status block "StateData V" whose lap stack holds the lap with 1:23.45; after
an orderly restart the next lap-closed file still shows it.
Usage: device_statusblock_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import re
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, wait_for  # noqa: E402

PID = 1                      # sample/start.cfg
GROUP, PORT = "239.239.239.201", 9870
LAP_TIME = 834500            # 83.45 s in 0.1 ms


def now_stamp():
    """The device's time stamp (0.1 ms of the monotonic clock, 32 bits)."""
    return int(time.clock_gettime(time.CLOCK_MONOTONIC) * 10000) & 0xFFFFFFFF


def send_lap(lap, outing, stamp):
    payload = struct.pack(">HHHI", 0, lap, outing, stamp & 0xFFFFFFFF)
    header = struct.pack(">HHHHIIHH", 0, len(payload), PID, 0xFFFE, 0, 0, 0x1200, 0)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        s.sendto(header + payload, (GROUP, PORT))
    finally:
        s.close()


def lap_counter(dev):
    m = re.search(r"Lap counter: \t\t(\d+)", dev.shell("lof_get"))
    return int(m.group(1)) if m else -1


def lap(dev, number, stamp):
    send_lap(number, 1, stamp)
    wait_for(lambda: lap_counter(dev) == number, "lap %d" % number, 10)


def listing(measdump, path):
    r = subprocess.run([measdump, path], capture_output=True, text=True)
    assert r.returncode == 0, "%s: measdump exit %d %s" % (path, r.returncode, r.stderr)
    return r.stdout.splitlines()


def closing_block(lines, path):
    """The status block line, which must be the file's last item."""
    items = [l for l in lines if l.startswith("meta @") or l.startswith("frame @")]
    assert items and "(status block)" in items[-1], "%s does not end with a status block:\n%s" % (
        path, "\n".join(lines[-5:]))
    assert '"StateData V"' in items[-1], items[-1]
    return items[-1]


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    with DeviceRun(sample, "tav9-sblk-") as run:
        folder = run.folder
        with open(os.path.join(folder, "start.cfg"), "a") as f:
            f.write("sibling_laptrig_pid = %d\n" % PID)
        dev = run.start_logging(binary)
        time.sleep(1.0)
        second = now_stamp() + 10000           # a second from now
        lap(dev, 2, second - LAP_TIME)         # the lap before, 83.45 s earlier
        time.sleep(1.0)
        lap(dev, 3, second)
        time.sleep(1.0)
        assert dev.stop() == 0
        dev.check_clean()

        names = drive_files(folder, "meas")
        assert [n[:5] for n in names] == ["A0101", "A0102", "A0103"], names
        lap2 = os.path.join(folder, "meas", names[1])
        block = closing_block(listing(measdump, lap2), lap2)
        assert "lap stack 2: lap 2 0:00.00 fuel 0.00; lap 3 1:23.45 fuel 0.00" in block, block
        assert 'file "%s"' % names[1] in block, block
        # the file the stop closed carries the same stack
        last = os.path.join(folder, "meas", names[2])
        assert "lap 3 1:23.45" in closing_block(listing(measdump, last), last)
        # so does the second logging's last file
        name = sorted(os.listdir(os.path.join(folder, "meas2")))[-1]
        path = os.path.join(folder, "meas2", name)
        assert "lap 3 1:23.45" in closing_block(listing(measdump, path), path)

        # after a restart the stack is still there and grows
        before = set(names)
        dev = run.start_logging(binary)
        time.sleep(1.0)
        lap(dev, 4, now_stamp())
        time.sleep(1.0)
        assert dev.stop() == 0
        dev.check_clean()
        new = sorted(set(drive_files(folder, "meas")) - before)
        assert len(new) == 2, new
        first = os.path.join(folder, "meas", new[0])
        block = closing_block(listing(measdump, first), first)
        assert "lap stack 3: lap 2 0:00.00 fuel 0.00; lap 3 1:23.45 fuel 0.00; lap 4 0:00.00 fuel 0.00" in block, \
            block
    print("device status block test passed")


if __name__ == "__main__":
    main()
