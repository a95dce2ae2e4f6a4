#!/usr/bin/env python3
"""What stands on a USB drive stays: a copy's part file that a cut left is
removed at the start and when the drive arrives (so is an empty measurement
file then), and a copy whose name the drive already holds (another car's
file) takes the next free name there; log.txt names both names.
Usage: device_usb_names_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import filecmp
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, check_options, drive_files, make_folder, remove_folder, wait_for  # noqa: E402


def plug(folder, files):
    """A USB drive that arrives holding files: made aside, then put in place at once."""
    aside = os.path.join(folder, "usb_aside")
    os.mkdir(aside)
    for name, content in files.items():
        with open(os.path.join(aside, name), "wb") as f:
            f.write(content)
    os.rename(aside, os.path.join(folder, "usb_meas"))


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    folder = make_folder(sample, "tav9-usbnames-")
    usb = os.path.join(folder, "usb_meas")
    dev = None
    try:
        # a copy cut off before this start left its part
        plug(folder, {"A0102000.101.part": b"half a copy", "notes.part": b"not a copy's"})
        dev = Device(binary, folder).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        wait_for(lambda: not os.path.exists(os.path.join(usb, "A0102000.101.part")), "the part left before the start")
        # the line follows the removal
        wait_for(lambda: "'usb_meas:/A0102000.101.part' removed" in dev.log(), "the removal's line")
        assert os.path.exists(os.path.join(usb, "notes.part"))
        wait_for(lambda: "starting measurement m01" in dev.log(), "the first data of m01")

        # pulled, and back with a part and an empty file that cuts left meanwhile
        shutil.rmtree(usb)
        time.sleep(1.5)
        before = drive_files(folder, "meas")
        plug(folder, {"A0103000.101.part": b"half another copy", "A0109000.101": b""})
        wait_for(lambda: not os.path.exists(os.path.join(usb, "A0103000.101.part")), "the part left before the arrival")
        wait_for(lambda: "'usb_meas:/A0103000.101.part' removed" in dev.log(), "the removal's line")
        wait_for(lambda: not os.path.exists(os.path.join(usb, "A0109000.101")), "the empty file left before the arrival")
        wait_for(lambda: "empty measurement file 'usb_meas:/A0109000.101'" in dev.log(), "the removal's line")
        wait_for(lambda: len(drive_files(folder, "meas")) > len(before), "the fragment of the arrival", 15)

        # pulled, and back holding the name of the file the split closes
        shutil.rmtree(usb)
        time.sleep(1.5)
        before = drive_files(folder, "meas")
        closed = before[-1]
        plug(folder, {closed: b"another car's file"})
        # another car's file at a measurement file's name: the device leaves it, and so does the check
        check_options(folder, ignore={"usb_meas/" + closed})
        wait_for(lambda: len(drive_files(folder, "meas")) > len(before), "the fragment of the second arrival", 15)
        moved = re.compile(r"meas_app_copyLastFile\(\) 'usb_meas:/%s' is in use \(a file\): the copy of 'meas:/%s' "
                           r"goes to 'usb_meas:/(\w+\.\w+)'" % (re.escape(closed), re.escape(closed)))
        wait_for(lambda: "copy success from 'meas:/%s'" % closed in dev.log(), "the copy of " + closed, 20)
        m = moved.search(dev.log())
        assert m, dev.log()
        new = m.group(1)
        assert new != closed
        assert "copy success from 'meas:/%s' to 'usb_meas:/%s'" % (closed, new) in dev.log(), dev.log()
        assert dev.stop() == 0
        dev.check_clean()
        with open(os.path.join(usb, closed), "rb") as f:
            assert f.read() == b"another car's file"
        assert filecmp.cmp(os.path.join(folder, "meas", closed), os.path.join(usb, new), shallow=False)
        assert not [f for f in os.listdir(usb) if f.endswith(".part") and f != "notes.part"], os.listdir(usb)
    finally:
        if dev:
            dev.kill()
        if os.environ.get("KEEP"):
            print(folder)
        else:
            remove_folder(folder)
    print("device USB names test passed")


if __name__ == "__main__":
    main()
