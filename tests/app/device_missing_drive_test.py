#!/usr/bin/env python3
"""A device folder without meas2/: m01 records on meas/ all the same.

m03 writes to "meas2:". With that folder missing, the device still records
m01 into meas/, log.txt names the missing drive once, and the shell's "meas"
says m03 waits for it. Once the folder is created, m03 starts and records
into it.
Usage: device_missing_drive_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, measdump_csv, wait_for  # noqa: E402

NOT_AVAILABLE = "m03: drive meas2: not available, measurement not started"


def records(measdump, path, block=1):
    rc, recs = measdump_csv(measdump, path)
    assert rc == 0, "%s: measdump exit %d" % (path, rc)
    return len(recs.get(block, []))


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    with DeviceRun(sample, "tav9-nodrive-") as run:
        folder = run.folder
        shutil.rmtree(os.path.join(folder, "meas2"))
        dev = run.device(binary).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "m01 to run")
        wait_for(lambda: NOT_AVAILABLE in dev.log(), "the log to name the missing drive")
        state = dev.shell("meas")
        assert "MEASURE FDE waits for drive meas2:" in state, state
        assert "MEASURE SG   : loaded = TRUE" in state, state
        wait_for(lambda: drive_files(folder, "meas"), "m01's file on meas/")

        os.mkdir(os.path.join(folder, "meas2"))
        wait_for(lambda: "m03: drive meas2: available, measurement started" in dev.log(), "m03 to start")
        wait_for(lambda: "MEASURE FDE  : loaded = TRUE" in dev.shell("meas"), "m03 in the shell's meas")
        wait_for(lambda: drive_files(folder, "meas2"), "m03's file on meas2/")
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        assert log.count(NOT_AVAILABLE) == 1, "the missing drive logged more than once"
        assert "open device 'meas2:' failed" not in log, "the missing drive opened all the same"
        for drive in ("meas", "meas2"):
            names = drive_files(folder, drive)
            assert names, drive
            assert records(measdump, os.path.join(folder, drive, names[-1])) > 0, drive
    print("device missing drive test passed")


if __name__ == "__main__":
    main()
