#!/usr/bin/env python3
"""Runs the device with a full drive and checks what it says and keeps.

Each drive is a tmpfs filled to the last byte by a filler file (so the test
needs to be root; otherwise it exits 77, skipped).
- "meas/" full before the start: m01 cannot write there, the writer's
  messages name the cause, `meas` counts the refused writes for m01 in
  write_errcnt, and m03 goes on writing "meas2:" - both of its files of a run
  with a lap in the middle are whole.
- "meas2/" fills while m03 writes it and gets room again when the filler is
  deleted: the refused writes are counted, a lap split follows, and every file
  reads to its end (measdump 0, or 3 for a file cut off at its end, never 1),
  with the records written after the room came back.
- "meas2/" is full across a lap split: the new lap's file gets no header and
  is dropped (named once in log.txt), its records are counted as refused
  writes; once the filler is deleted m03 records again in a new file within
  seconds, which measdump reads to its end, and log.txt names the cause of
  that split (room again, not files gone).
- the same with the USB drive "usb_meas/" of m01.
Usage: device_full_drive_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import contextlib
import ctypes
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, check_recordings, drive_files, wait_for  # noqa: E402

SKIPPED = 77
NO_SPACE = os.strerror(28)   # ENOSPC


def mount_tmpfs(path, size):
    libc = ctypes.CDLL(None, use_errno=True)
    return libc.mount(b"tmpfs", path.encode(), b"tmpfs", 0, ("size=%s,mode=0755" % size).encode()) == 0


def umount(path):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.umount2(path.encode(), 0) != 0:
        libc.umount2(path.encode(), 2)   # MNT_DETACH


@contextlib.contextmanager
def tmpfs_drive(sample, prefix, drive, size):
    """A device run (DeviceRun) whose folder `drive` is a tmpfs of `size`:
    yields (the run, the drive's path), or None where no tmpfs can be
    mounted. The tmpfs goes before the run ends its devices and folder (a
    drive still in use is detached)."""
    with DeviceRun(sample, prefix) as run:
        path = os.path.join(run.folder, drive)
        os.makedirs(path, exist_ok=True)   # the sample has no USB drive
        mounted = mount_tmpfs(path, size)
        try:
            yield (run, path) if mounted else None
        finally:
            if mounted:
                try:
                    check_recordings(run.folder)   # while the drive's files are there
                finally:
                    umount(path)


def no_tmpfs():
    print("device full drive test skipped: cannot mount a tmpfs")
    return SKIPPED


def recording(run, binary):
    """The run's device, started and logging."""
    dev = run.device(binary).wait_ready()
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
    return dev


def fill(folder, name="filler"):
    """Takes every byte left on the drive (what is freed later too, when called again)."""
    fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    try:
        while os.write(fd, b"\0" * 1024) > 0:
            pass
    except OSError:
        pass   # no space left
    finally:
        os.close(fd)


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def dump_frames(binary, path):
    """measdump's exit code and the offsets of the frames it read."""
    r = subprocess.run([binary, path], capture_output=True, text=True)
    frames = [int(m) for m in re.findall(r"^frame @(\d+) ", r.stdout, re.M)]
    return r.returncode, frames, r.stdout[-2000:] + r.stderr


def write_errcnt(answer, name):
    m = re.search(re.escape(name) + r" *:.*?--> write_errcnt    = (\d+)", answer, re.S)
    assert m, answer
    return int(m.group(1))


def full_from_start(binary, measdump, sample):
    with tmpfs_drive(sample, "tav9-fulldrive-", "meas", "64k") as mounted:
        if not mounted:
            return no_tmpfs()
        run, meas = mounted
        folder = run.folder
        fill(meas)
        dev = recording(run, binary)
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
    return 0


def room_again(binary, dump, sample):
    with tmpfs_drive(sample, "tav9-roomagain-", "meas2", "2m") as mounted:
        if not mounted:
            return no_tmpfs()
        run, meas2 = mounted
        folder = run.folder
        dev = recording(run, binary)

        def first_file():
            names = [f for f in drive_files(folder, "meas2") if f.startswith("B0101")]
            return os.path.join(meas2, names[0]) if names else ""
        wait_for(lambda: file_size(first_file()) >= 16384, "m03's first file on meas2:")
        first = first_file()
        fill(meas2)
        wait_for(lambda: write_errcnt(dev.shell("meas"), "MEASURE FDE") >= 3, "m03's refused writes in meas")
        assert "writes failed!" in dev.shell("meas")
        os.unlink(os.path.join(meas2, "filler"))
        room = file_size(first)
        wait_for(lambda: file_size(first) >= room + 16384, "m03 writing again")
        assert "value = 0" in dev.shell("lof_laptrig")
        wait_for(lambda: any(file_size(os.path.join(meas2, f)) > 0 for f in drive_files(folder, "meas2")
                             if f.startswith("B0102")), "m03's file of the next lap")
        assert dev.stop() == 0
        dev.check_clean()

        names = sorted(f for f in os.listdir(meas2) if not f.startswith("."))
        assert [n[:5] for n in names] == ["B0101", "B0102"], names
        for name in names:
            rc, frames, out = dump_frames(dump, os.path.join(meas2, name))
            assert rc in (0, 3), name + ": " + out
        # the file of the full drive reads to its closing status block, with
        # the frames written after the room came back
        rc, frames, out = dump_frames(dump, first)
        assert rc == 0, out
        assert frames and frames[-1] >= room, (room, out)
        for name in drive_files(folder, "meas"):
            rc, frames, out = dump_frames(dump, os.path.join(folder, "meas", name))
            assert rc == 0, name + ": " + out
    return 0


def full_at_split(binary, dump, sample, drive="meas2", name="MEASURE FDE", m="m03"):
    with tmpfs_drive(sample, "tav9-fullsplit-", drive, "2m") as mounted:
        if not mounted:
            return no_tmpfs()
        run, path = mounted
        folder = run.folder
        dev = recording(run, binary)
        wait_for(lambda: any(file_size(os.path.join(path, f)) >= 16384 for f in drive_files(folder, drive)),
                 "%s's first file on %s:" % (m, drive))
        fill(path)
        wait_for(lambda: write_errcnt(dev.shell("meas"), name) >= 3, "%s's refused writes in meas" % m)
        assert "value = 0" in dev.shell("lof_laptrig")
        # the records of the new lap are refused too, and counted; what the
        # last lap's file gives back when it is cut back is taken at once, so
        # that the new lap's header finds no room
        at_split = write_errcnt(dev.shell("meas"), name)

        def refused():
            fill(path, "filler2")
            return write_errcnt(dev.shell("meas"), name) >= at_split + 20 and "' dropped:" in dev.log()
        wait_for(refused, "the new lap's file dropped and its refused writes")
        before = set(drive_files(folder, drive))
        for filler in ("filler", "filler2"):
            os.unlink(os.path.join(path, filler))

        def new_file():
            names = [f for f in drive_files(folder, drive) if f not in before]
            return os.path.join(path, names[0]) if names else ""
        # its header and first frames on the drive (the flush timing writes
        # them within a second), without waiting for the next lap
        wait_for(lambda: file_size(new_file()) >= 4096, "%s recording again in a new file" % m, 10)
        latest = new_file()
        assert dev.stop() == 0
        dev.check_clean()

        rc, frames, out = dump_frames(dump, latest)
        assert rc == 0 and frames, latest + ": " + out
        log = dev.log()
        dropped = [l for l in log.splitlines() if "BFSWriter" in l and "' dropped:" in l]
        assert len(dropped) == 1 and "%s:/" % drive in dropped[0], dropped
        # the split that followed names its cause: the drive never went
        assert "%s: drive %s: has room for a new file again" % (m, drive) in log, log
        assert "files gone from drive" not in log, log
        for f in drive_files(folder, drive):
            rc, frames, out = dump_frames(dump, os.path.join(path, f))
            assert rc in (0, 3), f + ": " + out
    return 0


def usb_full_at_split(binary, dump, sample):
    return full_at_split(binary, dump, sample, "usb_meas", "MEASURE SG", "m01")


def main():
    binary, dump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    if os.geteuid() != 0:
        print("device full drive test skipped: needs root to mount a tmpfs")
        return SKIPPED
    for case in (full_from_start, room_again, full_at_split, usb_full_at_split):
        rc = case(binary, dump, sample)
        if rc:
            return rc
    print("device full drive test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
