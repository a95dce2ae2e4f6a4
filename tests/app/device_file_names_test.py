#!/usr/bin/env python3
"""Measurement files are made anew, never over what stands at their name.

- nvram: a run with a lap, an emptied nvram.bin, a run with a lap again: the
  counters lead to the names of the first run's files, yet every one of them
  keeps its bytes; the second run's lap goes to a free name, and log.txt
  names the one in use.
- fifo: FIFOs at the next lap's names on both drives: the lap goes to a free
  name on each drive, a line names the FIFO, the writers never block (the
  orderly stop ends in time, no writer is given up).
- cut: a SIGKILL 0.25 s after a lap split leaves no empty file (the new files
  hold their header from the start); an empty measurement file left by an
  earlier cut is named and removed at the next start.
Usage: device_file_names_test.py MODE TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import stat
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, measdump_csv, parse_state  # noqa: E402

DRIVES = (("meas", "A", "meas:"), ("meas2", "B", "meas2:"))
def file_name(letter, lap, outing, fragment, absolute):
    return "%c%02x%02x%03x.%1x%02x" % (letter, outing & 0xFF, lap & 0xFF, (absolute >> 4) & 0xFFF, absolute & 0xF,
                                       fragment & 0xFF)


def contents(folder):
    """{(drive, name): bytes} of every measurement file."""
    out = {}
    for drive, _, _ in DRIVES:
        for name in drive_files(folder, drive):
            path = os.path.join(folder, drive, name)
            if stat.S_ISREG(os.lstat(path).st_mode):
                with open(path, "rb") as f:
                    out[(drive, name)] = f.read()
    return out


def run_with_lap(run, binary):
    """A run that records, splits a lap and stops in order; the counters
    after the lap."""
    dev = run.start_logging(binary)
    time.sleep(1.0)
    answer = dev.shell("lof_laptrig")
    assert "value = 0" in answer, answer
    time.sleep(1.5)
    assert dev.stop() == 0
    dev.check_clean()
    return dev, parse_state(answer)


def check_readable(measdump, folder, keys):
    for drive, name in keys:
        rc, recs = measdump_csv(measdump, os.path.join(folder, drive, name))
        assert rc == 0 and recs.get(1), "%s/%s: measdump exit %d" % (drive, name, rc)


def nvram_reset(binary, measdump, sample):
    with DeviceRun(sample, "tav9-names-") as run:
        folder = run.folder
        run_with_lap(run, binary)
        earlier = contents(folder)
        assert len(earlier) == 4, sorted(earlier)
        # the NVRAM loses its counters (a flat backup battery)
        open(os.path.join(folder, "nvram.bin"), "w").close()
        dev, (lap, outing, fragment, absolute) = run_with_lap(run, binary)
        now = contents(folder)
        for key, data in earlier.items():
            assert now.get(key) == data, "%s/%s changed" % key
        assert fragment > 1, "the lap's first name was free: the test shows nothing"
        new = sorted(set(now) - set(earlier))
        assert len(new) == 4, new
        check_readable(measdump, folder, new)
        taken = file_name("A", lap, outing, 1, absolute)
        assert ("meas", taken) in earlier, (taken, sorted(earlier))
        assert "'meas:/%s' is in use (a file)" % taken in dev.log(), dev.log()[-3000:]
        for drive, letter, _ in DRIVES:
            assert (drive, file_name(letter, lap, outing, fragment, absolute)) in new, new


def fifo_at_next_name(binary, measdump, sample):
    with DeviceRun(sample, "tav9-names-") as run:
        folder = run.folder
        dev = run.start_logging(binary)
        time.sleep(1.0)
        lap, outing, _, absolute = parse_state(dev.shell("lof_get"))
        fifos = []
        for drive, letter, _ in DRIVES:
            fifos.append(os.path.join(folder, drive, file_name(letter, lap + 1, outing, 1, absolute + 1)))
            os.mkfifo(fifos[-1])
        answer = dev.shell("lof_laptrig")
        assert "value = 0" in answer, answer
        lap, outing, fragment, absolute = parse_state(answer)
        assert fragment == 2, answer
        time.sleep(1.5)
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        assert "'meas:/%s' is in use (a FIFO)" % os.path.basename(fifos[0]) in log, log[-3000:]
        assert "no longer alive" not in log, log[-3000:]
        for path in fifos:
            assert stat.S_ISFIFO(os.lstat(path).st_mode), path
        lap_files = [(drive, file_name(letter, lap, outing, fragment, absolute)) for drive, letter, _ in DRIVES]
        check_readable(measdump, folder, lap_files)


def cut_after_lap(binary, measdump, sample):
    with DeviceRun(sample, "tav9-names-") as run:
        folder = run.folder
        dev = run.start_logging(binary)
        time.sleep(1.0)
        before = contents(folder)
        answer = dev.shell("lof_laptrig")
        assert "value = 0" in answer, answer
        time.sleep(0.25)
        dev.kill()
        dev.check_clean()
        after = contents(folder)
        print("files after the kill: %s" % sorted("%s/%s %d" % (k + (len(v),)) for k, v in after.items()))
        empty = sorted(k for k, v in after.items() if not v)
        assert not empty, "empty files after the kill: %s" % empty
        assert len(after) > len(before), "no new file at the kill: the test shows nothing"

        # empty measurement files as an earlier cut left them, beside a file
        # of another name that is no measurement file
        left = [("meas", "A0f0f000.001"), ("meas2", "B0f0f000.001")]
        for drive, name in left + [("meas", "notes.txt")]:
            open(os.path.join(folder, drive, name), "w").close()
        dev = run.start_logging(binary)
        log = dev.log()
        for drive, name in left:
            assert not os.path.exists(os.path.join(folder, drive, name)), name
            assert "empty measurement file '%s:/%s'" % (drive, name) in log, log[-3000:]
        assert os.path.exists(os.path.join(folder, "meas", "notes.txt"))
        assert dev.stop() == 0
        dev.check_clean()


def main():
    mode, binary, measdump, sample = sys.argv[1:5]
    {"nvram": nvram_reset, "fifo": fifo_at_next_name, "cut": cut_after_lap}[mode](binary, measdump, sample)
    print("device file names test (%s) passed" % mode)


if __name__ == "__main__":
    main()
