#!/usr/bin/env python3
"""A USB drive that is there at the start, pulled while its writer writes a
file and plugged in again (also the first time): the stick keeps the start of
that recording, and the copy that the arrival makes completes it under its
own name, also when a lap closed it while the stick was away. The stick
ends with the whole recording there, byte for byte as on "meas:", and with no
second copy of it under another name. A stop a second after a further return
(the copy waits for the writer a few seconds) still makes that copy before
the end, or names it in the log as not made, and ends within a few seconds.
Usage: device_usb_return_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, wait_for  # noqa: E402


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    with DeviceRun(sample, "tav9-usbreturn-") as run:
        folder = run.folder
        usb, aside = os.path.join(folder, "usb_meas"), os.path.join(folder, "usb_pulled")
        os.mkdir(usb)
        dev = run.start_logging(binary)
        wait_for(lambda: "starting measurement m01" in dev.log(), "the first data of m01")

        def pull_and_return(lap=False):
            """Waits for records of the stick's newest file past its header, pulls the
            stick (it keeps what it holds), with lap starts a new lap while it is
            away, and plugs it in again; the file the arrival's fragment closed,
            and the one the stick holds cut."""
            # the file m01 writes now, on the stick too (after an arrival the
            # USB writer joins it a moment after the split made it)
            wait_for(lambda: drive_files(folder, "meas"), "m01's file")
            newest = drive_files(folder, "meas")[-1]
            wait_for(lambda: newest in drive_files(folder, "usb_meas"), "the USB writer's " + newest, 30)
            wait_for(lambda: os.path.getsize(os.path.join(usb, newest)) > 4096, "records on the stick", 30)
            before = drive_files(folder, "meas")
            misses = dev.log().count("due to media absence")
            os.rename(usb, aside)
            wait_for(lambda: dev.log().count("due to media absence") > misses, "the writer to miss the stick")
            if lap:
                dev.shell("lof_laptrig")
                wait_for(lambda: len(drive_files(folder, "meas")) > len(before), "the lap's file", 15)
                before = drive_files(folder, "meas")
            time.sleep(1.5)
            os.rename(aside, usb)
            wait_for(lambda: len(drive_files(folder, "meas")) > len(before), "the fragment of the arrival", 15)
            return drive_files(folder, "meas")[len(before) - 1], newest

        # the drive was there at the start: its return is no first arrival, and
        # the copy completes the file cut at the pull; the USB writer joins the new file
        first, held = pull_and_return()
        assert first == held, (first, held)
        wait_for(lambda: "copy success from 'meas:/%s'" % first in dev.log(), "the copy of " + first, 30)
        # what the writer missed of it is brought by that copy
        assert not [line for line in dev.log().splitlines() if "'usb_meas:/%s': " % first in line and
                    "a copy brings the whole file" not in line], first
        # a lap closes the cut file while the stick is away: its return completes that file too
        lapped, cut = pull_and_return(lap=True)
        assert lapped != cut, (lapped, cut)
        wait_for(lambda: "copy success from 'meas:/%s'" % cut in dev.log(), "the copy of " + cut, 30)
        assert read(os.path.join(usb, cut)) == read(os.path.join(folder, "meas", cut)), "%s is left cut" % cut
        closed, held = pull_and_return()
        assert closed == held, (closed, held)
        wait_for(lambda: "copy success from 'meas:/%s'" % closed in dev.log(), "the copy of " + closed, 30)

        # the stop comes a second after the next return, before that copy's start
        last, _ = pull_and_return()
        time.sleep(1)
        slow = 5 if "startup: sanitizer build" in dev.log() else 1
        stopped = time.time()
        assert dev.stop() == 0
        assert time.time() - stopped < 10 * slow, "the stop took %.1f s" % (time.time() - stopped)
        dev.check_clean()

        log = dev.log()
        made = "copy success from 'meas:/%s' to 'usb_meas:/%s'" % (last, last) in log
        if made:
            assert read(os.path.join(usb, last)) == read(os.path.join(folder, "meas", last)), last
        else:
            assert "copy of 'meas:/%s' to 'usb_meas:' is not made" % last in log, \
                [line for line in log.splitlines() if "copyLastFile" in line or "rtpShutdown" in line]
        copies = [line for line in log.splitlines() if "copyLastFile" in line]
        assert "copy success from 'meas:/%s' to 'usb_meas:/%s'" % (closed, closed) in log, copies
        whole = read(os.path.join(folder, "meas", closed))
        assert read(os.path.join(usb, closed)) == whole, "the stick's %s is not the whole recording" % closed
        # no second copy of the recording under another name
        others = [f for f in drive_files(folder, "usb_meas") if f != closed and read(os.path.join(usb, f))[:42] ==
                  whole[:42]]
        assert not others, others
        assert "is in use" not in log, copies
    print("device USB return test passed")


if __name__ == "__main__":
    main()
