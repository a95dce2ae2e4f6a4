#!/usr/bin/env python3
"""Names, refusals and leftovers of a running device's measurement files.

Modes (one per run of this script; 77: skipped where the host cannot make
what the mode needs):
- rounds: five rounds of `meas stop`, 0.6 s, `meas start`, 15 ms, `meas
  stop`, 0.6 s, `meas start` lose no file to its name (no "in use" line,
  no refused write) and records keep coming; then quick rounds of `meas
  stop` and `meas start` 0.05-0.25 s apart: every file on the internal
  drives carries the name its header's counters give.
- readonly: "meas:" made read-only for 4 s (a read-only bind mount over it in
  the device's own mount namespace) with a lap split in that time: log.txt
  names the cause once, and once the drive is writable again m01 records in
  a new file within seconds, without waiting for the next split.
- fullsplits: "meas2:" a full tmpfs across two lap splits: the files whose
  headers found no room are removed at once (no 0-byte file), and the lines
  that drop them say so.
- ext4user: "meas2:" a 2 MiB ext4 image with 5 % reserved, the device run
  as the user nobody, a lap split every 3 s while it is full: no empty
  file is left.
- leftovers: room probes and empty measurement files stamped in the future,
  placed before the start, are gone once logging runs; a file with bytes
  and a folder at a probe's name stay.
- usbfirst: a USB drive that arrives for the first time gets the file its
  split opens, whole; a room probe a cut left on it is removed.
Usage: device_refusals_test.py MODE TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import os
import pwd
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, check_recordings, drive_files, wait_for  # noqa: E402
from device_full_drive_test import (dump_frames, file_size, fill, mount_tmpfs, umount,  # noqa: E402
                                    write_errcnt)

SKIPPED = 77


def skip(why):
    print("device refusals test skipped: " + why)
    return SKIPPED


def recording(dev):
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
    return dev


def newest(folder, drive):
    """The drive's measurement file written last."""
    paths = [os.path.join(folder, drive, n) for n in drive_files(folder, drive)]
    return max(paths, key=lambda p: os.stat(p).st_mtime_ns) if paths else ""


def all_read(dump, folder, drive):
    for name in drive_files(folder, drive):
        rc, frames, out = dump_frames(dump, os.path.join(folder, drive, name))
        assert rc in (0, 3), name + ": " + out


def names_of_headers(dump, folder, drive):
    """The drive's files whose name is not the one their header's counters give."""
    wrong = []
    for name in drive_files(folder, drive):
        r = subprocess.run([dump, os.path.join(folder, drive, name)], capture_output=True, text=True)
        m = re.search(r"^name: (\S+)$", r.stdout, re.M)
        if not m or m.group(1) != name:
            wrong.append("%s/%s (header: %s)" % (drive, name, m.group(1) if m else "none"))
    return wrong


def rounds(binary, dump, sample):
    with DeviceRun(sample, "tav9-rounds-") as run:
        dev = run.start_logging(binary)
        folder = run.folder
        wait_for(lambda: file_size(newest(folder, "meas")) >= 4096, "m01's first file")
        for _ in range(5):
            dev.shell("meas stop")
            time.sleep(0.6)
            dev.shell("meas start")
            time.sleep(0.015)
            dev.shell("meas stop")
            time.sleep(0.6)
            dev.shell("meas start")
        recording(dev)
        # records keep coming, into the newest file
        wait_for(lambda: file_size(newest(folder, "meas")) >= 16384, "m01 recording after the rounds", 20)
        last = newest(folder, "meas")
        size = file_size(last)
        wait_for(lambda: file_size(last) >= size + 16384, "m01's newest file growing", 20)
        answer = dev.shell("meas")
        assert write_errcnt(answer, "MEASURE SG") == 0, answer
        assert write_errcnt(answer, "MEASURE FDE") == 0, answer
        # quick rounds: a block whose records are due only after the others
        # have drained still finds the file of their time open
        for gap in (0.05, 0.25, 0.1, 0.2, 0.15, 0.05, 0.2, 0.1, 0.25, 0.15) * 2:
            dev.shell("meas stop")
            time.sleep(gap)
            dev.shell("meas start")
            time.sleep(0.3 - gap)
        recording(dev)
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        assert "is not made on this drive" not in log, log[-4000:]
        assert "records are lost" not in log, log[-4000:]
        assert "the file is made as" not in log, log[-4000:]
        all_read(dump, folder, "meas")
        all_read(dump, folder, "meas2")
        wrong = names_of_headers(dump, folder, "meas") + names_of_headers(dump, folder, "meas2")
        assert not wrong, wrong
    return 0


def ns_mount(pid, *args):
    return subprocess.run(["nsenter", "-t", str(pid), "-m", "mount", *args], capture_output=True, text=True)


def readonly(binary, dump, sample):
    if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("nsenter"):
        return skip("a mount namespace needs root, unshare and nsenter")
    if subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
        return skip("no mount namespace can be made here")
    with DeviceRun(sample, "tav9-readonly-") as run:
        folder = run.folder
        meas = os.path.join(folder, "meas")
        # the device in a mount namespace of its own: the bind mount is seen by it alone
        dev = run.device(binary, prefix=("unshare", "-m", "--propagation", "private")).wait_ready()
        recording(dev)
        wait_for(lambda: file_size(newest(folder, "meas")) >= 4096, "m01's first file")
        pid = dev.proc.pid
        r = ns_mount(pid, "--bind", meas, meas)
        if r.returncode != 0:
            dev.stop()
            return skip("no bind mount in the device's namespace: " + r.stderr)
        r = ns_mount(pid, "-o", "remount,bind,ro", meas)
        assert r.returncode == 0, r.stderr
        before = drive_files(folder, "meas")
        assert "value = 0" in dev.shell("lof_laptrig")
        time.sleep(4)
        r = ns_mount(pid, "-o", "remount,bind,rw", meas)
        assert r.returncode == 0, r.stderr

        def new_file():
            names = [f for f in drive_files(folder, "meas") if f not in before]
            return os.path.join(meas, names[-1]) if names else ""
        # the next lap's file was refused: a new one follows within seconds
        wait_for(lambda: file_size(new_file()) >= 4096, "m01 recording again in a new file", 15)
        latest = new_file()
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        ro = os.strerror(30)   # EROFS
        told = [l for l in log.splitlines() if "refuses a new file (%s)" % ro in l]
        assert len(told) == 1, log[-4000:]
        assert "m01: drive meas: has room for a new file again" in log, log[-4000:]
        rc, frames, out = dump_frames(dump, latest)
        assert rc == 0 and frames, latest + ": " + out
        all_read(dump, folder, "meas")
    return 0


def empty_files(path):
    return [f for f in os.listdir(path) if not f.startswith(("filler", ".")) and
            os.path.getsize(os.path.join(path, f)) == 0]


def full_across_splits(run, dev, path, laps, every):
    """Fills the drive, then `laps` lap splits `every` s apart, keeping it
    full: returns the empty measurement files seen at any moment after a
    split had its time."""
    wait_for(lambda: any(file_size(os.path.join(path, f)) >= 16384 for f in drive_files(run.folder, "meas2")),
             "m03's first file on meas2:")
    fill(path)
    wait_for(lambda: write_errcnt(dev.shell("meas"), "MEASURE FDE") >= 3, "m03's refused writes")
    seen = set()
    for lap in range(laps):
        assert "value = 0" in dev.shell("lof_laptrig")
        end = time.time() + every
        while time.time() < end:
            fill(path, "filler%d" % lap)   # what the last file gives back is taken at once
            time.sleep(0.1)
        time.sleep(0.5)   # the writer had its time with the new file
        seen.update(empty_files(path))
    return seen


def fullsplits(binary, dump, sample):
    if os.geteuid() != 0:
        return skip("mounting a tmpfs needs root")
    with DeviceRun(sample, "tav9-fullsplits-") as run:
        path = os.path.join(run.folder, "meas2")
        if not mount_tmpfs(path, "2m"):
            return skip("cannot mount a tmpfs")
        try:
            dev = run.start_logging(binary)
            seen = full_across_splits(run, dev, path, 2, 2.0)
            assert not seen, "0-byte files left at the splits: %s" % sorted(seen)
            assert dev.stop() == 0
            dev.check_clean()
            log = dev.log()
            dropped = [l for l in log.splitlines() if "BFSWriter" in l and "' dropped:" in l]
            assert dropped, log[-4000:]
            for line in dropped:
                assert "header did not reach the drive, removed" in line and "0 bytes on the drive" in line, line
            assert not empty_files(path), sorted(empty_files(path))
        finally:
            try:
                check_recordings(run.folder)   # while the drive's files are there
            finally:
                umount(path)
    return 0


def ext4user(binary, dump, sample):
    if os.geteuid() != 0 or not shutil.which("mkfs.ext4"):
        return skip("an ext4 image needs root and mkfs.ext4")
    try:
        nobody = pwd.getpwnam("nobody")
    except KeyError:
        return skip("no user nobody")
    with DeviceRun(sample, "tav9-ext4user-") as run:
        folder = run.folder
        path = os.path.join(folder, "meas2")
        image = folder.rstrip("/") + ".img"
        try:
            subprocess.run(["mkfs.ext4", "-q", "-F", "-m", "5", image, "2M"], check=True, capture_output=True)
            if subprocess.run(["mount", "-o", "loop", image, path], capture_output=True).returncode != 0:
                return skip("no loop device to mount an ext4 image")
            try:
                for root, dirs, names in os.walk(folder):
                    for n in dirs + names:
                        os.lchown(os.path.join(root, n), nobody.pw_uid, nobody.pw_gid)
                os.chown(folder, nobody.pw_uid, nobody.pw_gid)
                # the user reaches the folder through its parents
                os.chmod(os.path.dirname(folder), os.stat(os.path.dirname(folder)).st_mode | 0o011)
                sock = os.path.join(folder, "shell.sock")
                # A network of its own: another user's device on the shared
                # ports would shut the other devices of the suite out of them
                # (ports are shared only among sockets of one user).
                as_nobody = ("setpriv", "--reuid", str(nobody.pw_uid), "--regid", str(nobody.pw_gid),
                             "--clear-groups")
                own_net = ("unshare", "--net", "--", "sh", "-c", 'ip link set lo up && exec "$@"', "sh")
                dev = run.device(binary, prefix=own_net + as_nobody).wait_ready()
                recording(dev)
                assert os.path.exists(sock)
                seen = full_across_splits(run, dev, path, 6, 3.0)
                assert not seen, "empty files left at the splits: %s" % sorted(seen)
                assert dev.stop() == 0
                dev.check_clean()
                assert not empty_files(path), sorted(empty_files(path))
            finally:
                try:
                    check_recordings(folder)   # while the drive's files are there
                finally:
                    subprocess.run(["umount", path], capture_output=True)
        finally:
            if os.path.exists(image):
                os.remove(image)
    return 0


def leftovers(binary, dump, sample):
    with DeviceRun(sample, "tav9-leftovers-") as run:
        folder = run.folder
        future = time.time() + 30 * 3600
        placed = {
            "meas/.roomcheck-m01": b"\0" * 16384,
            "meas2/.roomcheck-m03": b"",
            "meas/A0e0e000.101": b"",
            "meas2/B0e0e000.101": b"",
        }
        for rel, data in placed.items():
            with open(os.path.join(folder, rel), "wb") as f:
                f.write(data)
        for rel in ("meas/A0e0e000.101", "meas2/B0e0e000.101"):
            os.utime(os.path.join(folder, rel), (future, future))
        with open(os.path.join(folder, "meas/A0e0e000.102"), "wb") as f:
            f.write(b"an earlier recording")
        # a file of another's at a measurement file's name: the device leaves it, and so does the check
        run.check_options(ignore={"meas/A0e0e000.102"})
        os.makedirs(os.path.join(folder, "meas2/.roomcheck-m01"))
        dev = run.start_logging(binary)
        wait_for(lambda: any(file_size(os.path.join(folder, "meas", f)) >= 4096 for f in drive_files(folder, "meas")
                             if not f.startswith("A0e0e")), "m01's first file")
        for rel in placed:
            assert not os.path.lexists(os.path.join(folder, rel)), rel
        assert os.path.isdir(os.path.join(folder, "meas2/.roomcheck-m01"))
        with open(os.path.join(folder, "meas/A0e0e000.102"), "rb") as f:
            assert f.read() == b"an earlier recording"
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        for gone in ("meas:/.roomcheck-m01", "meas2:/.roomcheck-m03", "meas:/A0e0e000.101", "meas2:/B0e0e000.101"):
            assert gone in log, gone + "\n" + log[-4000:]
    return 0


def usbfirst(binary, dump, sample):
    with DeviceRun(sample, "tav9-usbfirst-") as run:
        folder = run.folder
        usb = os.path.join(folder, "usb_meas")
        started = time.time()
        dev = run.start_logging(binary)
        wait_for(lambda: file_size(newest(folder, "meas")) >= 4096, "m01's first file")
        # a writer that joins in the back end's first 25 s reads its queue
        # from the start and joins every file; later it joins only new ones
        time.sleep(max(1.5, 27 - (time.time() - started)))
        first = drive_files(folder, "meas")
        # the drive arrives holding a room probe that a cut left on it
        arriving = os.path.join(folder, "arriving")
        os.mkdir(arriving)
        with open(os.path.join(arriving, ".roomcheck-m01"), "wb") as f:
            f.write(b"\0" * 16384)
        os.rename(arriving, usb)
        wait_for(lambda: len(drive_files(folder, "meas")) == len(first) + 1, "the fragment of the arrival", 15)
        opened = [f for f in drive_files(folder, "meas") if f not in first][0]
        wait_for(lambda: file_size(os.path.join(usb, opened)) >= 16384, "the arrival's file on the USB drive", 15)
        assert not os.path.exists(os.path.join(usb, ".roomcheck-m01"))
        assert dev.stop() == 0
        dev.check_clean()
        assert drive_files(folder, "usb_meas") == [opened], drive_files(folder, "usb_meas")
        rc, frames, out = dump_frames(dump, os.path.join(usb, opened))
        assert rc == 0 and frames, out
        # both drives hold the same records from the split on
        internal = subprocess.run([dump, "--csv", os.path.join(folder, "meas", opened)], capture_output=True,
                                  text=True).stdout
        copy = subprocess.run([dump, "--csv", os.path.join(usb, opened)], capture_output=True, text=True).stdout
        assert internal and internal == copy, (len(internal), len(copy))
    return 0


MODES = {"rounds": rounds, "readonly": readonly, "fullsplits": fullsplits, "ext4user": ext4user,
         "leftovers": leftovers, "usbfirst": usbfirst}


def main():
    mode, binary, dump, sample = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
    rc = MODES[mode](binary, dump, sample)
    if rc == 0:
        print("device refusals test %s passed" % mode)
    return rc


if __name__ == "__main__":
    sys.exit(main())
