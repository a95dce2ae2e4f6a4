#!/usr/bin/env python3
"""Runs the device with a full "meas:" and checks what it says about it.

"meas/" is a tiny tmpfs filled to the last byte before the start (so the test
needs to be root; otherwise it exits 77, skipped). m01 cannot write there: the
writer's messages name the cause, `meas` counts the refused writes for m01 in
write_errcnt, and m03 goes on writing "meas2:" - both of its files of a run
with a lap in the middle are whole.
Usage: device_full_drive_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import ctypes
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, make_folder, remove_folder, wait_for  # noqa: E402

SKIPPED = 77
NO_SPACE = os.strerror(28)   # ENOSPC


def mount_tmpfs(path, size):
    libc = ctypes.CDLL(None, use_errno=True)
    return libc.mount(b"tmpfs", path.encode(), b"tmpfs", 0, ("size=%s,mode=0755" % size).encode()) == 0


def umount(path):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.umount2(path.encode(), 0) != 0:
        libc.umount2(path.encode(), 2)   # MNT_DETACH


def fill(folder):
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        while os.write(fd, b"\0" * 1024) > 0:
            pass
    except OSError:
        pass   # no space left
    finally:
        os.close(fd)


def write_errcnt(answer, name):
    m = re.search(re.escape(name) + r" *:.*?--> write_errcnt    = (\d+)", answer, re.S)
    assert m, answer
    return int(m.group(1))


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    if os.geteuid() != 0:
        print("device full drive test skipped: needs root to mount a tmpfs")
        return SKIPPED
    folder = make_folder(sample, "tav9-fulldrive-")
    meas = os.path.join(folder, "meas")
    mounted = mount_tmpfs(meas, "64k")
    if not mounted:
        remove_folder(folder)
        print("device full drive test skipped: cannot mount a tmpfs")
        return SKIPPED
    dev = None
    try:
        fill(meas)
        dev = Device(binary, folder).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        time.sleep(1.5)
        assert "value = 0" in dev.shell("lof_laptrig")
        time.sleep(1.5)
        # the refused writes of m01 are counted where meas shows them
        wait_for(lambda: write_errcnt(dev.shell("meas"), "MEASURE SG") > 0, "m01's write failures in meas", 10)
        assert write_errcnt(dev.shell("meas"), "MEASURE FDE") == 0
        assert dev.stop() == 0
        dev.check_clean()

        # every failure of the full drive names its cause
        failures = [l for l in dev.log().splitlines() if "BFSWriter::" in l and "fail" in l]
        assert failures, dev.log()
        for line in failures:
            assert NO_SPACE in line and "meas:/" in line, line

        # m03 went on writing meas2:, both files of the lap whole
        names = sorted(f for f in os.listdir(os.path.join(folder, "meas2")) if not f.startswith("."))
        assert [n[:5] for n in names] == ["B0101", "B0102"], names
        for name in names:
            r = subprocess.run([measdump, os.path.join(folder, "meas2", name)], capture_output=True, text=True)
            assert r.returncode == 0, name + ": " + r.stdout + r.stderr
    finally:
        if dev:
            dev.kill()
        if mounted:
            umount(meas)
        remove_folder(folder)
    print("device full drive test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
