#!/usr/bin/env python3
"""Drives of a running device: the boot preparation's format requests are
answered and logging starts; a USB drive that arrives (its folder created)
splits the measurement files (its writer joins the open file); from its
second arrival on, the file that the split closed is also copied to it by the
copy task, byte for byte.
Usage: device_usb_copy_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import filecmp
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, drive_files, make_folder, remove_folder, wait_for  # noqa: E402


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    folder = make_folder(sample, "tav9-usb-")
    usb = os.path.join(folder, "usb_meas")
    dev = None
    try:
        assert not os.path.exists(usb)
        dev = Device(binary, folder).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        log = dev.log()
        # a host folder's directory size never matches at first: the request is sent and answered
        assert "meas_app_BootPrepareDisks_checkDir(meas:) should be reformated NOW" in log, log
        assert "meas_app_BootPrepareDisks_format()" not in log, log
        assert "meas_app_BootPrepareDisks() timeout" not in log, log
        wait_for(lambda: "starting measurement m01" in dev.log(), "the first data of m01")
        wait_for(lambda: len(drive_files(folder, "meas")) == 1, "the first file of m01")

        # first arrival: a new fragment; the USB writer joins the open file, no copy task
        first = drive_files(folder, "meas")
        os.mkdir(usb)
        wait_for(lambda: len(drive_files(folder, "meas")) == len(first) + 1, "the fragment of the first arrival", 15)
        time.sleep(6.5)
        assert "meas_app_copyLastFile()" not in dev.log()

        # pulled and plugged in again: a new fragment and the copy of the one it closed
        shutil.rmtree(usb)
        time.sleep(1.5)
        before = drive_files(folder, "meas")
        os.mkdir(usb)
        wait_for(lambda: len(drive_files(folder, "meas")) == len(before) + 1, "the fragment of the second arrival", 15)
        closed = before[-1]
        wait_for(lambda: "meas_app_copyLastFile() copy success from 'meas:/%s' to 'usb_meas:/%s'" % (closed, closed)
                 in dev.log(), "the copy of " + closed, 20)
        assert closed in drive_files(folder, "usb_meas"), drive_files(folder, "usb_meas")
        assert dev.stop() == 0
        dev.check_clean()
        assert filecmp.cmp(os.path.join(folder, "meas", closed), os.path.join(usb, closed), shallow=False)
        assert not os.access(os.path.join(usb, closed), os.W_OK) or os.geteuid() == 0

        # the next boot: the drives answer the size they were formatted for, nothing is asked
        # again, and the folder's files are all still there
        kept = drive_files(folder, "meas")
        dev = Device(binary, folder).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        assert dev.stop() == 0
        log = dev.log()
        assert "should be reformated NOW" not in log, log
        assert "meas_app_BootPrepareDisks" not in log, log
        assert set(kept) <= set(drive_files(folder, "meas")), (kept, drive_files(folder, "meas"))
    finally:
        if dev:
            dev.kill()
        if os.environ.get("KEEP"):
            print(folder)
        else:
            remove_folder(folder)
    print("device USB copy test passed")


if __name__ == "__main__":
    main()
