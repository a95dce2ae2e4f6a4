#!/usr/bin/env python3
"""A device folder without meas2/: m01 records on meas/ all the same.

m03 writes to "meas2:". With that folder missing, the device still records
m01 into meas/, log.txt names the missing drive once, and the shell's "meas"
says m03 waits for it. Once the folder is created, m03 starts and records
into it.

Then meas2/ is removed while m03 records (a card pulled): the log names the
drive once, "meas" counts the lost writes, also those of a lap split while
the drive is missing, and m01 goes on recording. Once the folder is there
again, m03 records into a new file. Every file left is readable: measdump
exits 0, or 3 for a file cut off at its end, never 1.

A second device starts without cfg/ and meas/: every measurement waits,
the telemetry too. Once cfg/ is back, m03 records and the telemetry's frames
reach the sample's receiver 127.0.0.1 port 10010; once meas/ is back, m01
records.
Usage: device_missing_drive_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import re
import shutil
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, measdump_csv, wait_for  # noqa: E402

NOT_AVAILABLE = "m03: drive meas2: not available, measurement not started"
GONE = "m03: drive meas2: not available, records are lost until it is back"
BACK = "m03: drive meas2: available, recording goes on in a new file"
TELE_PORT = 10010  # the receiver of sample/cfg/m02.xml


def records(measdump, path, block=1):
    rc, recs = measdump_csv(measdump, path)
    assert rc == 0, "%s: measdump exit %d" % (path, rc)
    return len(recs.get(block, []))


def write_errors(state):
    """m03's failed writes as the shell's "meas" counts them."""
    m = re.search(r"MEASURE FDE  :.*?--> write_errcnt += (\d+)", state, re.S)
    assert m, state
    return int(m.group(1))


def newest_size(folder, drive):
    names = drive_files(folder, drive)
    return os.path.getsize(os.path.join(folder, drive, names[-1])) if names else 0


def removed_while_recording(dev, folder):
    """meas2/ goes while m03 records and comes back."""
    wait_for(lambda: newest_size(folder, "meas2") > 0, "m03 to write its file")
    before = drive_files(folder, "meas2")
    shutil.rmtree(os.path.join(folder, "meas2"))
    wait_for(lambda: GONE in dev.log(), "the log to name the drive gone")
    wait_for(lambda: write_errors(dev.shell("meas")) > 0, "the lost writes in meas")
    # a lap split while the drive is missing: its records are counted as lost too
    dev.shell("lof_laptrig")
    at_split = write_errors(dev.shell("meas"))
    wait_for(lambda: write_errors(dev.shell("meas")) > at_split, "the lost writes of the new lap")
    state = dev.shell("meas")
    assert "-->m03: " in state and "writes failed!" in state, state
    assert "no error found" not in state, state
    # m01 goes on recording meanwhile
    size = newest_size(folder, "meas")
    wait_for(lambda: newest_size(folder, "meas") > size, "m01 to go on recording")

    os.mkdir(os.path.join(folder, "meas2"))
    wait_for(lambda: BACK in dev.log(), "m03 to go on")
    wait_for(lambda: newest_size(folder, "meas2") > 0, "m03's new file on meas2/")
    after = drive_files(folder, "meas2")
    assert [n for n in after if n not in before], (before, after)


def readable(measdump, folder, drive):
    """Every file of the drive may be read; the number of records of block 1."""
    total = 0
    for name in drive_files(folder, drive):
        path = os.path.join(folder, drive, name)
        rc, recs = measdump_csv(measdump, path)
        assert rc in (0, 3), "%s: measdump exit %d" % (path, rc)
        total += len(recs.get(1, []))
    return total


def started(state, name):
    m = re.search(r"%s\s*: loaded = TRUE, configured \(incl\. cond\.\) = \d+, started = (\w+)" % name, state)
    return bool(m) and m.group(1) == "TRUE"


def configuration_late(binary, sample):
    """cfg/ and meas/ missing at the start, cfg/ back first, then meas/."""
    tele = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        tele.bind(("127.0.0.1", TELE_PORT))
        with DeviceRun(sample, "tav9-nocfg-") as run:
            folder = run.folder
            os.rename(os.path.join(folder, "cfg"), os.path.join(folder, "cfg.later"))
            shutil.rmtree(os.path.join(folder, "meas"))
            dev = run.device(binary).wait_ready()
            limit = 60.0 if "startup: sanitizer build" in dev.log() else 20.0
            # each names the first of its drives that is missing
            for m, drive in (("m01", "meas:"), ("m02", "cfg:"), ("m03", "cfg:")):
                line = "%s: drive %s not available, measurement not started" % (m, drive)
                wait_for(lambda: line in dev.log(), "the log line " + line, limit)
            state = dev.shell("meas")
            assert "MEASURE TELE waits for drive cfg:" in state, state

            os.rename(os.path.join(folder, "cfg.later"), os.path.join(folder, "cfg"))
            wait_for(lambda: "m02: drive cfg: available, measurement started" in dev.log(), "the telemetry to start",
                     limit)
            wait_for(lambda: started(dev.shell("meas"), "MEASURE TELE"), "the telemetry in the shell's meas", limit)
            tele.settimeout(limit)
            frame = tele.recv(2048)
            assert len(frame) > 12, frame
            wait_for(lambda: drive_files(folder, "meas2"), "m03's file on meas2/", limit)
            state = dev.shell("meas")
            assert "MEASURE SG waits for drive meas:" in state, state

            os.mkdir(os.path.join(folder, "meas"))
            wait_for(lambda: drive_files(folder, "meas"), "m01's file on meas/", limit)
            assert dev.stop() == 0
            dev.check_clean()
    finally:
        tele.close()


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    configuration_late(binary, sample)
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
        log = dev.log()
        assert log.count(NOT_AVAILABLE) == 1, "the missing drive logged more than once"
        assert "open device 'meas2:' failed" not in log, "the missing drive opened all the same"

        removed_while_recording(dev, folder)
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        assert log.count(GONE) == 1, "the drive gone logged more than once"
        assert log.count(BACK) == 1, log
        for drive in ("meas", "meas2"):
            names = drive_files(folder, drive)
            assert names, drive
            assert records(measdump, os.path.join(folder, drive, names[-1])) > 0, drive
            assert readable(measdump, folder, drive) > 0, drive
    print("device missing drive test passed")


if __name__ == "__main__":
    main()
