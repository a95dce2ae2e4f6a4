#!/usr/bin/env python3
"""Runs the device in a copy of sample/ and checks the measurement files.

A run records m01 on "meas:" and m03 on "meas2:"; "lof_laptrig" from the shell
starts the next lap's file; an orderly stop leaves files that measdump reads
without error, with the records of every block one raster period apart (a gap
only where a lag line of the busy host names it) and no
gap between the lap's two files. A device killed with SIGKILL leaves files
whose complete frames measdump reads (a cut tail reported as such), and the
next run logs into a new file.
Usage: device_logging_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, check_spacing, drive_files, lags, measdump_csv  # noqa: E402


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    with DeviceRun(sample, "tav9-logging-") as run:
        folder = run.folder
        # an orderly run with a lap in the middle
        dev = run.start_logging(binary)
        time.sleep(1.5)
        assert "value = 0" in dev.shell("lof_laptrig")
        time.sleep(1.5)
        assert dev.stop() == 0
        dev.check_clean()
        spacing01 = {1: 10, 2: 100, 3: 1000}
        for drive, letter, spacing in (("meas", "A", spacing01), ("meas2", "B", {1: 20, 2: 500})):
            names = drive_files(folder, drive)
            assert [n[:5] for n in names] == [letter + "0101", letter + "0102"], names
            joined = {}
            for name in names:
                rc, recs = measdump_csv(measdump, os.path.join(folder, drive, name))
                assert rc == 0, name
                assert len(recs.get(1, [])) > 300, name
                for block, rs in recs.items():
                    joined.setdefault(block, []).extend(rs)
            check_spacing(joined, spacing, drive, lags(folder))

        # killed in the middle of a measurement
        before = set(drive_files(folder, "meas"))
        dev = run.start_logging(binary)
        time.sleep(1.5)
        dev.kill()
        killed = sorted(set(drive_files(folder, "meas")) - before)
        assert len(killed) == 1, killed
        rc, recs = measdump_csv(measdump, os.path.join(folder, "meas", killed[0]))
        assert rc in (0, 3), "killed file: measdump exit %d" % rc
        assert len(recs.get(1, [])) > 100
        check_spacing(recs, spacing01, "killed file", lags(folder))

        # the next run goes on in a new file
        before = set(drive_files(folder, "meas"))
        dev = run.start_logging(binary)
        time.sleep(1.0)
        assert dev.stop() == 0
        dev.check_clean()
        new = sorted(set(drive_files(folder, "meas")) - before)
        assert len(new) == 1, new
        rc, recs = measdump_csv(measdump, os.path.join(folder, "meas", new[0]))
        assert rc == 0 and recs.get(1)
    print("device logging test passed")


if __name__ == "__main__":
    main()
