#!/usr/bin/env python3
"""The recording check finds what it is there to find.

A device records a lap and an outing and stops in order; copies of its
drives are then changed the way the faults it looks for change them, and the
check must name each fault and nothing else: the device's own files, one cut
at its end and copies on a USB drive (under their own name or a free one,
or one that went on after items its take-back names as lost) pass; a broken header, a file under a name that is not its header's, another
recording under a name in use, an absolute lap given to another lap, a lap
recorded again after a later one, a block's time stamps going back, what a
cut leaves (an empty file, a copy's part, a room probe), records missing
within a file, after the start or before the stop (its newest records on
any drive), a file the log made that is missing (the start's first, one
from the middle, the last before the stop), a file the stop left without
its closing status block, and a log without the device's start line or
with two devices' are reported; a loss line covers only its own file on its
own drive around its own moment (or the stamps it gives), a FIFO's error
only its own block, and a line whose date went back is placed after the
stamped line before it; a lap recorded while the NVRAM refused its counters may
share an absolute lap, laps go on across the wrap of the absolute lap, a lap
may come again after the counters were set back, and missing records are
sound where the log names their cause (a lag, a loss of their file, a start)
or where their block records under a condition or another device's values;
a raster's lost runs cover its own blocks only; the time moving forward
leaves no records between its two stamps.
Stricter still: a loss line that names no file and no drive (a measurement's
records, a failed write, a peer's value, the log's own dropped records) and
a FIFO error whose number is no block of its PID and raster excuse nothing;
a line with a wrong stamp of its own moves no stop; a log of another PID
than start.cfg's, a file no start holds, a shutdown with no stop line and a
folder without a log cannot be checked; a file cut to no whole record, a
frame written again in the next file, another run's file, a repeated stamp
and a hole across a file without the block's records are found; the stop
is the stamp the device gives it (records after it found; without it a
note), the guard's end of a stop is a stop, and other devices' files on a
stick are left out and counted.
Stricter again: a hole of one record, a record off its raster's grid, a
block's records gone from the first or newest file of a start, the first
moments of a start soon after a stop, a loss line whose stamps run
backwards, a file's initial or close time stamp moved, a status block that
names another file or has its lap count raised, a file this device made
with another logger's id, a stop without the device's line of its stamp
(its guard's end too), an event written twice, closed past its
file's close time stamp or without its open are found; the device's words
for a file the halted writers cut ("not closed at the stop") name it; a cut
file excuses an open event only where its process was killed, and the
device's stop stamp bounds a silent file's events.
Events past a file's own time are reported, except where the device writes
them: up to the newest record of the files a stop closed, and, in a file a
trigger closed, in the time of the next file.
Usage: device_recording_check_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER
"""
import calendar
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recording_check  # noqa: E402
import recording_gaps  # noqa: E402
from device_harness import DeviceRun, drive_files  # noqa: E402


def header_crc(header):
    """The header's CRC: CRC-16/CCITT, reflected (0x8408), start 0xFFFF, over
    the 42 bytes with the length prefix, the CRC and the date as zero."""
    crc = 0xFFFF
    for i, b in enumerate(header):
        crc ^= 0 if i in (0, 1, 20, 21) or 34 <= i <= 39 else b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def set_counters(path, outing, lap, fragment, absolute):
    """Writes other counters into a file's header, with its CRC, and the
    name they give into its closing status block (as the device names its
    file there)."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        h = data[:42]
        h[26:32] = lap.to_bytes(2, "big") + outing.to_bytes(2, "big") + fragment.to_bytes(2, "big")
        h[40:42] = absolute.to_bytes(2, "big")
        h[20:22] = header_crc(h).to_bytes(2, "big")
        data[:42] = h
        sb = data.find(b"StateData V\0", 42)
        if sb >= 0:
            at = sb + int.from_bytes(data[sb + 86:sb + 88], "big") + 20 + 448
            letter = data[at:at + 1].decode("ascii", "replace")
            if letter in "AB" and at + 12 <= len(data):
                data[at:at + 12] = recording_check.file_name(0 if letter == "A" else 2, outing, lap, fragment,
                                                             absolute).encode()
        f.seek(0)
        f.write(data)


def swap_frames(measdump, path):
    """Swaps the first two neighbouring frames of block 1: its stamps go back."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    items = [(int(m.group(2)), m.group(1) == "frame" and m.group(3) == "1")
             for m in re.finditer(r"^(frame|meta) @(\d+) (?:block (\d+))?", listing, re.M)]
    with open(path, "rb") as f:
        data = f.read()
    for i in range(len(items) - 2):
        if items[i][1] and items[i + 1][1]:
            a, b, c = items[i][0], items[i + 1][0], items[i + 2][0]
            with open(path, "wb") as f:
                f.write(data[:a] + data[b:c] + data[a:b] + data[c:])
            return
    raise AssertionError("no two neighbouring frames of block 1 in " + path)


def drop_frames(measdump, path, count=3):
    """Removes `count` frames of block 1 from the middle of a file; returns
    the stamps of its records around the gap."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    items = [(int(m.group(2)), m.group(1) == "frame" and m.group(3) == "1")
             for m in re.finditer(r"^(frame|meta) @(\d+) (?:block (\d+))?", listing, re.M)]
    with open(path, "rb") as f:
        data = f.read()
    ends = [o for o, _ in items[1:]] + [len(data)]
    ones = [i for i, (_, one) in enumerate(items) if one]
    assert len(ones) > count + 2, "too few frames of block 1 in " + path
    gone = set(ones[len(ones) // 2:len(ones) // 2 + count])
    with open(path, "wb") as f:
        f.write(data[:items[0][0]] + b"".join(data[o:e] for i, ((o, _), e) in enumerate(zip(items, ends))
                                              if i not in gone))
    stamps = recording_check.MeasFile(os.path.dirname(os.path.dirname(path)), os.path.basename(os.path.dirname(path)),
                                      os.path.basename(path), measdump).stamps[1]
    return next((a, b) for a, b in zip(stamps, stamps[1:]) if b - a > 100)


def drop_last_frames(measdump, path, count=2):
    """Removes the last `count` frames of every block of a file, its
    metadata and closing status block kept: its newest records are missing."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    items = [(int(m.group(2)), m.group(3))
             for m in re.finditer(r"^(frame|meta) @(\d+) (?:block (\d+))?", listing, re.M)]
    with open(path, "rb") as f:
        data = f.read()
    ends = [o for o, _ in items[1:]] + [len(data)]
    last = {}
    for i, (_, block) in enumerate(items):
        if block:
            last.setdefault(block, []).append(i)
    gone = set(i for frames in last.values() for i in frames[-count:])
    with open(path, "wb") as f:
        f.write(data[:items[0][0]] + b"".join(data[o:e] for i, ((o, _), e) in enumerate(zip(items, ends))
                                              if i not in gone))


def frames(measdump, path):
    """[(offset, end, block)] of a file's frames."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    items = [(int(m.group(2)), m.group(3)) for m in re.finditer(r"^(frame|meta) @(\d+) (?:block (\d+))?", listing, re.M)]
    ends = [o for o, _ in items[1:]] + [os.path.getsize(path)]
    return [(o, e, int(b)) for (o, b), e in zip(items, ends) if b]


def frame_again(measdump, source, target):
    """Writes the last frame of block 1 of `source` again before the first
    frame of `target`."""
    o, e, _ = [f for f in frames(measdump, source) if f[2] == 1][-1]
    at = frames(measdump, target)[0][0]
    with open(source, "rb") as f:
        frame = f.read()[o:e]
    with open(target, "rb") as f:
        data = f.read()
    with open(target, "wb") as f:
        f.write(data[:at] + frame + data[at:])


def drop_block(measdump, path, block):
    """Removes every frame of a block from a file."""
    gone = [(o, e) for o, e, b in frames(measdump, path) if b == block]
    with open(path, "rb") as f:
        data = f.read()
    for o, e in reversed(gone):
        data = data[:o] + data[e:]
    with open(path, "wb") as f:
        f.write(data)


def set_logger(measdump, path, unit):
    """Writes another logger's unit id into a file's time-master ids."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    at = int(re.search(r"^meta @(\d+) type 7 ", listing, re.M).group(1)) + 6 + 8
    with open(path, "r+b") as f:
        f.seek(at)
        f.write(unit.to_bytes(4, "big"))


def change_status_block(path, name=None, laps=0):
    """Writes another file's name into a file's closing status block, or
    raises its lap stack's count by `laps`."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        sb = data.find(b"StateData V\0", 42)
        assert sb >= 0, path
        if name:
            at = sb + int.from_bytes(data[sb + 86:sb + 88], "big") + 20 + 448
            data[at:at + len(name)] = name.encode()
        lap = sb + int.from_bytes(data[sb + 68:sb + 70], "big") + 20
        data[lap:lap + 2] = (int.from_bytes(data[lap:lap + 2], "big") + laps).to_bytes(2, "big")
        f.seek(0)
        f.write(data)


def set_meta_time(measdump, path, kind, delta=None):
    """Moves the time stamp of a file's metadata block of that type (4: the
    initial, 5: the close time stamp) by `delta` stamps, or removes the
    block (delta None)."""
    listing = subprocess.run([measdump, path], capture_output=True, text=True).stdout
    items = [int(m.group(1)) for m in re.finditer(r"^(?:frame|meta) @(\d+) ", listing, re.M)]
    at = int(re.search(r"^meta @(\d+) type %d " % kind, listing, re.M).group(1))
    with open(path, "rb") as f:
        data = f.read()
    if delta is None:
        end = next((o for o in items if o > at), len(data))
        data = data[:at] + data[end:]
    else:
        t = (int.from_bytes(data[at + 6:at + 10], "big") + delta) & 0xFFFFFFFF
        data = data[:at + 6] + t.to_bytes(4, "big") + data[at + 10:]
    with open(path, "wb") as f:
        f.write(data)


LINE_TIME = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \S+ <\d+> (\d+) ")


def device_line(when, text):
    """A log line as the device writes it, at `when` (a time.time() instant):
    its date and its clock's milliseconds within 100 s."""
    return "%s TAV9_VOZ <148> %05d r_test: %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(when)),
                                                    int(when * 1000) % 100000, text)


def line_time(line):
    """The instant a device's log line gives."""
    m = LINE_TIME.match(line)
    return calendar.timegm(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S")) + int(m.group(2)) % 1000 / 1000.0


def log_line(folder, text, after=None, shift=0.0):
    """Puts a line into the device's log as the device writes it: at its
    end, now; or after the first line that `after` (a pattern) finds, at
    that line's time plus `shift` seconds."""
    path = os.path.join(folder, "log.txt")
    with open(path) as f:
        lines = f.read().splitlines(True)
    if after is None:
        lines.append(device_line(time.time() + shift, text))
    else:
        i = next(i for i, line in enumerate(lines) if re.search(after, line))
        lines.insert(i + 1, device_line(line_time(lines[i]) + shift, text))
    with open(path, "w") as f:
        f.writelines(lines)


# the device's line of the stamp its orderly stop stopped a measurement at
STOP_STAMP_LINE = re.compile(r"m0\d: recording stopped at time stamp (\d+)$")


def without_stop_stamps(d):
    """Takes the device's lines of its stop's stamps out of the log."""
    path = os.path.join(d, "log.txt")
    with open(path) as f:
        lines = f.read().splitlines(True)
    with open(path, "w") as f:
        f.writelines(line for line in lines if not STOP_STAMP_LINE.search(line.rstrip("\n")))


def cases(folder, measdump):
    """(what, change of a copy of the folder, words each finding must hold)."""
    meas = drive_files(folder, "meas")
    first, second, last = meas[0], meas[1], meas[-1]
    absolutes = [int(n[5:8] + n[9], 16) for n in meas]
    other_run = recording_check.file_name(0, 9, 9, 1, max(absolutes) + 5)

    def path(drive, name):
        return lambda d: os.path.join(d, drive, name)

    def cut(d):
        p = path("meas", last)(d)
        os.truncate(p, os.path.getsize(p) // 2)

    def cut_log_dropped(d):
        cut(d)
        log_line(d, "syslogx: 12 log records dropped, the log queue was full", after="orderly shutdown")

    def usb_copies(d):
        os.mkdir(os.path.join(d, "usb_meas"))
        shutil.copy(path("meas", first)(d), path("usb_meas", first)(d))
        with open(path("meas", second)(d), "rb") as f:
            data = f.read()
        with open(path("usb_meas", second[:-1] + "f")(d), "wb") as f:   # cut, under a free name
            f.write(data[:len(data) // 2])
        log_line(d, "meas_app_copyLastFile() copy success from 'meas:/%s' to 'usb_meas:/%s'" % (second, second[:-1] + "f"),
                 after="orderly shutdown")
        log_line(d, "BFSWriter: 'usb_meas:/%s' taken back to its last whole item at byte %d (No space left on "
                 "device), 3 items lost" % (second[:-1] + "f", len(data) // 2), after="orderly shutdown")

    def usb_file_unmade(d):
        # this device's file on the USB drive under a name no line made
        os.mkdir(os.path.join(d, "usb_meas"))
        shutil.copy(path("meas", second)(d), path("usb_meas", second[:-1] + "e")(d))

    def usb_copy_gapped(named):
        # a copy on the USB drive that lost records in its middle and went on,
        # the write that failed there named by its take-back or not
        def change(d):
            os.mkdir(os.path.join(d, "usb_meas"))
            shutil.copy(path("meas", first)(d), path("usb_meas", first)(d))
            a, b = drop_frames(measdump, path("usb_meas", first)(d))
            if named:
                log_line(d, "BFSWriter: 'usb_meas:/%s' taken back to its last whole item at byte 4096 (No space left "
                         "on device), 3 items lost" % first, after="starting measurement m03")
                log_line(d, "syncState FULLSYNC at LocTime %d, q signal 1 signal 1 q sync 1" % b,
                         after="starting measurement m03")
        return change

    def broken(d):
        with open(path("meas", first)(d), "r+b") as f:
            f.seek(2)
            f.write(b"X")

    def made_as(d, names):
        # the log says the device made the files under their new names {old: new}
        with open(os.path.join(d, "log.txt")) as f:
            text = f.read()
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.write(re.sub(r"\b[AB][0-9a-f]{7}\.[0-9a-f]{3}\b", lambda m: names.get(m.group(0), m.group(0)), text))

    def rename(d, drive, old, new):
        os.rename(path(drive, old)(d), path(drive, new)(d))
        made_as(d, {old: new})

    def renamed(d):
        rename(d, "meas", first, first[:-1] + "f")

    def other_under_name(d):
        os.mkdir(os.path.join(d, "usb_meas"))
        shutil.copy(path("meas", second)(d), path("usb_meas", first)(d))

    def absolute_reused(d):
        # the second lap's file carries the first lap's absolute lap
        o, l, f = int(second[1:3], 16), int(second[3:5], 16), int(second[10:12], 16)
        set_counters(path("meas", second)(d), o, l, f, absolutes[0])
        rename(d, "meas", second, recording_check.file_name(0, o, l, f, absolutes[0]))

    def lap_again(d):
        # the first lap once more, after the later ones
        o, l = int(first[1:3], 16), int(first[3:5], 16)
        a = max(absolutes) + 1
        set_counters(path("meas", last)(d), o, l, 1, a)
        rename(d, "meas", last, recording_check.file_name(0, o, l, 1, a))

    def stamps_back(d):
        swap_frames(measdump, path("meas", first)(d))

    def removed(d):
        os.remove(path("meas", second)(d))

    def removed_named(d):
        removed(d)
        log_line(d, "BFSWriter: 'meas:/%s' dropped due to media absence: 0 bytes of it reached the drive" % second,
                 after="opened and checked 'meas:/%s'" % second)

    def removed_at_start(d):
        removed(d)
        first_stamp = min(s[0] for s in recording_check.MeasFile(d, "meas", last, measdump).stamps.values())
        log_line(d, "meas_app_saveblock(): starting measurement m01 with timestamp: %d" % first_stamp)

    def removed_with_cfg(old, new):
        # the same removal where m01's blocks are not checked
        def change(d):
            removed(d)
            with open(os.path.join(d, "cfg", "m01.xml")) as f:
                text = f.read()
            assert old in text, (old, text)
            with open(os.path.join(d, "cfg", "m01.xml"), "w") as f:
                f.write(text.replace(old, new))
        return change

    def gap(d):
        return drop_frames(measdump, path("meas", first)(d))

    def gap_lagged(d):
        a, b = gap(d)
        log_line(d, "raster: the base tick lagged %d ms behind its clock at time stamp %d and skipped as many "
                 "ticks; runs lost: r1ms %d" % ((b - a) // 10, b, (b - a) // 10))

    def gap_runs_lost(raster):
        # a raster's runs of the gap's stamps lost (its task behind its ticks)
        def change(d):
            a, b = gap(d)
            log_line(d, "raster %s: the runs of time stamps %d to %d lost: its task lagged %d runs behind its ticks"
                     % (raster, a + 1, b - 1, (b - a) // 10 - 1))
        return change

    def gap_moved_forward(d):
        a, b = gap(d)
        log_line(d, "time: the time stamp moved forward %d.0 ms from %d to %d" % ((b - a) // 10, a, b))

    def gap_named(d):
        gap(d)
        log_line(d, "Backend: 190 records of 'meas:/%s' lost" % first, after="starting measurement m03")

    def stop_later(d):
        # the orderly stop 10 s after the newest records, the device's lines of its stamps too
        with open(os.path.join(d, "log.txt")) as f:
            lines = f.read().splitlines(True)
        for i, line in enumerate(lines):
            m = STOP_STAMP_LINE.search(line)
            if m:
                lines[i] = line[:m.start(1)] + str(int(m.group(1)) + 10 * 10000) + line[m.end(1):]
            m = re.match(r"^(\S+ \S+) (\S+ <\d+>) (\d+) (\S+: rtpShutdown: orderly shutdown\n)$", line)
            if m:
                t = time.mktime(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S")) + 10
                lines[i] = "%s %s %05d %s" % (time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t)), m.group(2),
                                              (int(m.group(3)) + 10000) % 100000, m.group(4))
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.writelines(lines)

    def stop_later_named(d):
        stop_later(d)
        for drive in ("meas", "meas2"):
            name = drive_files(d, drive)[-1]
            newest = max(s[-1] for s in stamps_of(d, drive, name).values())
            log_line(d, "BFSWriter: '%s:/%s': 800000 bytes in 400 blocks (time stamps %d to %d) not written at the "
                     "stop: the file ends before them"
                     % (drive, name, newest, newest + 100000), after="orderly shutdown")

    def stamps_of(d, drive, name):
        return recording_check.MeasFile(d, drive, name, measdump).stamps

    def first_cut_away(stamps, kept):
        # the first stamp a cut took, of any block (a block it took wholly too)
        return min(s[len(kept.get(b, ()))] for b, s in stamps.items() if len(s) > len(kept.get(b, ())))

    def cut_named(drive, first_lost):
        # the stop's line names what the cut lost of the last file, on `drive`, from `first_lost`
        def change(d):
            stamps = stamps_of(d, "meas", last)
            cut(d)
            kept = stamps_of(d, "meas", last)
            lost_from = first_cut_away(stamps, kept) if first_lost == "all" else \
                max(s[-1] for s in stamps.values()) - 10
            log_line(d, "BFSWriter: '%s:/%s': 4000 bytes in 9 blocks (time stamps %d to %d) not written at the "
                     "stop: the file ends before them"
                     % (drive, last, lost_from, max(s[-1] for s in stamps.values())), after="orderly shutdown")
        return change

    def cut_gap_named(d):
        # what the cut lost is named as a gap the file goes on after: its end is not
        stamps = stamps_of(d, "meas", last)
        cut(d)
        kept = stamps_of(d, "meas", last)
        log_line(d, "BFSWriter: 'meas:/%s': 4000 bytes in 9 blocks (time stamps %d to %d) not written while the "
                 "writer was removed from the back end: the file goes on after the gap"
                 % (last, first_cut_away(stamps, kept), max(s[-1] for s in stamps.values())),
                 after="orderly shutdown")

    def gap_named_where(line, after=None, shift=0.0):
        def change(d):
            a, b = gap(d)
            log_line(d, line.format(first=first, a=a, b=b), after=after, shift=shift)
        return change

    def gap_fifo(number, pid, raster):
        def change(d):
            a, b = gap(d)
            log_line(d, "New error BLK #%d, Fifo #0, PID 0x%X, Raster %d, type 'NO_LATENCY': FullCnt 12, TS ErrCnt 0, "
                     "LastTS %d CurTs %d" % (number, pid, raster, a, b + 50), after="starting measurement m03")
        return change

    def gap_fifo_lost(number, pid, raster):
        # named long after the gap, at the stop: only its stamps place it
        return gap_named_where("BLK #%d, Fifo #0, PID 0x%X, Raster %d: 120 records lost, time stamps {a} to {b}: "
                               "the FIFO was full" % (number, pid, raster), after="orderly shutdown", shift=29)

    def gap_named_wall_back(d):
        # an anchor at the gap's end, then a loss line whose wall clock went back 10 s
        a, b = gap(d)
        log_line(d, "Backend: 190 records of 'meas:/%s' lost" % first, after="starting measurement m03", shift=-10)
        log_line(d, "syncState FULLSYNC at LocTime %d, q signal 1 signal 1 q sync 1" % b,
                 after="starting measurement m03")

    def end_missing(d):
        drop_last_frames(measdump, path("meas", last)(d))

    def end_missing_wrong_stamp(d):
        # a line before the stop whose own stamp is 40 s early
        end_missing(d)
        newest = max(s[-1] for s in stamps_of(d, "meas2", drive_files(d, "meas2")[-1]).values())
        log_line(d, "syncState FULLSYNC at LocTime %d, q signal 1 signal 1 q sync 1" % (newest - 400000),
                 after="orderly shutdown", shift=-0.001)
        with open(os.path.join(d, "log.txt")) as f:
            lines = f.read().splitlines(True)
        i = next(i for i, line in enumerate(lines) if "orderly shutdown" in line)
        lines[i], lines[i + 1] = lines[i + 1], lines[i]   # just before the stop
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.writelines(lines)

    def cut_to_no_record(size):
        # the middle file cut inside its header's metadata or its first frame,
        # the time of its records covered by a lag
        def change(d):
            before, after = stamps_of(d, "meas", first), stamps_of(d, "meas", meas[2])
            a, b = max(s[-1] for s in before.values()), min(s[0] for s in after.values())
            with open(path("meas", second)(d), "r+b") as f:
                f.truncate(size)
            log_line(d, "raster: the base tick lagged %d ms behind its clock at time stamp %d and skipped as many "
                     "ticks; runs lost: r1ms %d" % ((b - a) // 10 + 20, b, (b - a) // 10))
        return change

    def written_twice(d):
        frame_again(measdump, path("meas", first)(d), path("meas", second)(d))

    def another_runs_file(d):
        shutil.copy(path("meas", second)(d), path("meas", other_run)(d))
        set_counters(path("meas", other_run)(d), 9, 9, 1, max(absolutes) + 5)

    def log_edit(d, pattern, repl):
        with open(os.path.join(d, "log.txt")) as f:
            text = f.read()
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.write(re.sub(pattern, repl, text))

    def start_line_lost(d):
        log_edit(d, r"(?m)^.*starting measurement m01 .*\n", "")

    def stop_line_lost(d):
        log_edit(d, r"(?m)^.*rtpShutdown: orderly shutdown\n", "")

    def guard_ended(d):
        # the guard ended the stop: its line, and no end of the shutdown
        end_missing(d)
        log_edit(d, r"rtpShutdown: orderly shutdown", "rtpShutdown: the stop did not end within 8500 ms: the process "
                 "ends (no write of the device folder under way)")
        log_edit(d, r"(?m)^.*rtpShutdown: done\n", "")

    def block_dropped(d):
        drop_block(measdump, path("meas", second)(d), 1)

    def other_devices_stick(d):
        # a stick that went round other devices: their files under names and counters of this one's
        os.mkdir(os.path.join(d, "usb_meas"))
        for n, name in enumerate((first, second)):
            shutil.copy(path("meas", meas[2 - n])(d), path("usb_meas", name)(d))
            set_logger(measdump, path("usb_meas", name)(d), 0x11223344 + n)
            o, l, f, a = (int(x, 16) for x in (name[1:3], name[3:5], name[10:12], name[5:8] + name[9]))
            set_counters(path("usb_meas", name)(d), o, l, f, a)

    def newest(d, drive):
        return max(s[-1] for s in stamps_of(d, drive, drive_files(d, drive)[-1]).values())

    def stopped_at(d, m01, m03):
        # the device's lines of the stamps its orderly stop stopped each measurement at, in place of its own
        without_stop_stamps(d)
        for meas_name, at in (("m01", m01), ("m03", m03)):
            log_line(d, "%s: recording stopped at time stamp %d" % (meas_name, at), after="orderly shutdown")

    def stop_said(d):
        stopped_at(d, newest(d, "meas"), newest(d, "meas2"))

    def end_lost_on_both(d):
        # the last records before the stop missing on both drives: only the device's stop shows it
        stop_said(d)
        drop_last_frames(measdump, path("meas", last)(d))
        drop_last_frames(measdump, path("meas2", drive_files(d, "meas2")[-1])(d))

    def records_after_stop(d):
        stopped_at(d, newest(d, "meas") - 2000, newest(d, "meas2"))

    def first_removed(d):
        os.remove(path("meas", first)(d))

    def last_removed(d):
        os.remove(path("meas2", drive_files(d, "meas2")[-1])(d))

    def without_start_line(d):
        with open(os.path.join(d, "log.txt")) as f:
            text = f.read()
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.write(re.sub(r"(?m)^.*startup: application .*\n", "", text))

    def rotated(d):
        with open(os.path.join(d, "log.txt")) as f:
            lines = f.read().splitlines(True)
        with open(os.path.join(d, "log.1.txt"), "w") as f:
            f.writelines(lines[:len(lines) // 2])
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.writelines(lines[len(lines) // 2:])

    def two_devices(d):
        log_line(d, "startup: application 1, PID 2, 127.0.0.1", after="startup: application")

    def other_pid(d):
        with open(os.path.join(d, "start.cfg")) as f:
            text = f.read()
        with open(os.path.join(d, "start.cfg"), "w") as f:
            f.write(re.sub(r"(?m)^pid = \d+", "pid = 7", text))

    def laps_wrap(d):
        # the absolute laps run over the wrap, the first lap across it
        names_now = {}
        for drive in ("meas", "meas2"):
            names = drive_files(d, drive)
            counters = [recording_check.MeasFile(d, drive, name, measdump).counters for name in names]
            counters[1] = counters[0]
            for name, (o, l, f, _), absolute in zip(names, counters, (0xFFFF, 0, 1)):
                set_counters(path(drive, name)(d), o, l, f, absolute)
                names_now[name] = recording_check.file_name(0 if drive == "meas" else 2, o, l, f, absolute)
                os.rename(path(drive, name)(d), path(drive, names_now[name])(d))
        made_as(d, names_now)

    def block_gone(name, block=1):
        # every record of a block taken out of a file
        return lambda d: drop_block(measdump, path("meas", name)(d), block)

    def loss_backwards(d):
        # a loss line of the file whose stamps run backwards, from just before the gap
        a, b = gap(d)
        log_line(d, "BFSWriter: 'meas:/%s': 4000 bytes in 9 blocks (time stamps %d to %d) not written while the "
                 "writer was removed from the back end: the file goes on after the gap" % (first, a - 10, a - 20),
                 after="starting measurement m03")

    def stamp_moved(name, kind, delta):
        return lambda d: set_meta_time(measdump, path("meas", name)(d), kind, delta)

    def foreign_internal(d):
        set_logger(measdump, path("meas", first)(d), 0x11223344)

    def foreign_copy(d):
        # a copy this device made on the stick, its header naming another logger
        os.mkdir(os.path.join(d, "usb_meas"))
        shutil.copy(path("meas", first)(d), path("usb_meas", first)(d))
        log_line(d, "meas_app_copyLastFile() copy success from 'meas:/%s' to 'usb_meas:/%s'" % (first, first),
                 after="orderly shutdown")
        set_logger(measdump, path("usb_meas", first)(d), 0x11223344)

    def cut_at_halt(d):
        # the guard ended the stop before the fast stop ran: the device names the file it cut
        cut(d)
        log_line(d, "logging: m01: '%s' (from time stamp %d) not closed at the stop: the fast stop had not run when "
                 "the writers halted, its last records and its closing status block are not written"
                 % (last, min(s[0] for s in stamps_of(d, "meas", last).values() if s)), after="orderly shutdown")

    def leftovers(d):
        open(path("meas", "A0f0f000.001")(d), "w").close()
        with open(path("meas2", "B0f0f000.001.part")(d), "wb") as f:
            f.write(b"\0" * 100)
        with open(path("meas", ".roomcheck-m01")(d), "wb") as f:
            f.write(b"\0" * 100)

    return [
        ("the device's files", lambda d: None, []),
        # an orderly stop: the file is finished, or a line names it cut or not finished (and what the cut lost)
        ("a file cut at its end", cut, ["meas/%s: an orderly stop left it without its closing status block" % last,
                                        "meas/%s: block " % last]),
        # the log's own records dropped at the stop (a full log queue) excuse no recording's loss
        ("a file cut at its end, log records dropped at the stop", cut_log_dropped,
         ["meas/%s: an orderly stop left it without its closing status block" % last, "meas/%s: block " % last]),
        ("a file cut at its end, named", cut_named("meas", "all"), []),
        ("a file cut at its end, named on another drive", cut_named("meas2", "all"),
         ["meas/%s: an orderly stop left it without its closing status block" % last, "meas/%s: block " % last]),
        ("a file cut at its end, only its last records named", cut_named("meas", "last"), ["meas/%s: block " % last]),
        ("a file cut at its end, only a gap in it named", cut_gap_named, ["meas/%s: an orderly stop left it" % last]),
        ("copies on a USB drive", usb_copies, []),
        ("a file of this device on the USB drive no line made", usb_file_unmade,
         ["usb_meas/%s: no line of the log made it" % (second[:-1] + "e")]),
        ("other devices' files on a USB drive", other_devices_stick, []),
        ("a USB copy that goes on after a take-back", usb_copy_gapped(True), []),
        ("a USB copy with a gap nothing names", usb_copy_gapped(False),
         ["two different recordings under the", "usb_meas/%s: block 1 has no records" % first]),
        # what a broken file held is missing after the start
        ("a broken header", broken, ["meas/%s: measdump exit 1" % first,
                                     "meas/%s: block " % second]),
        ("a file under another name", renamed, ["give the name %s" % first]),
        ("another recording under a name in use", other_under_name,
         ["two different recordings under the name %s" % first]),
        ("an absolute lap given to another lap", absolute_reused, ["absolute lap %d carried by different laps"
                                                                  % absolutes[0]]),
        ("a lap recorded again", lap_again, ["recorded again"]),
        # the frames swapped leave a gap where the first of them was
        ("stamps going back", stamps_back, ["block 1's time stamp goes back", "block 1 has no records"]),
        ("a file removed from the middle of a drive", removed, ["meas/%s and %s: block " % (first, meas[2]),
                                                                 "meas/%s: the log made it" % second]),
        ("a file cut to its header", cut_to_no_record(145),
         ["meas/%s: an orderly stop left it with no whole record" % second]),
        ("a file cut inside its first frame", cut_to_no_record(160),
         ["meas/%s: an orderly stop left it with no whole record" % second]),
        # the files of a drive follow each other, each one the log made
        ("a frame written again in the next file", written_twice,
         ["meas/%s: block 1's first record at" % second]),
        ("another run's file on a drive", another_runs_file,
         ["meas/%s: no line of the log made it" % other_run, "meas/%s: block " % other_run]),
        ("the first file of a start removed", first_removed, ["meas/%s: the log made it" % first,
                                                              "meas/%s: block " % second]),
        ("the last file before the stop removed", last_removed,
         ["meas2/%s: the log made it" % drive_files(folder, "meas2")[-1],
          "meas2/%s: block " % drive_files(folder, "meas2")[-2]]),
        ("a file removed, its loss named", removed_named, []),
        ("a file without the records of a block", block_dropped, ["meas/%s and %s: block 1 " % (first, meas[2])]),
        # a file the log made is missing, whatever the gaps say
        ("a file removed before a start", removed_at_start, ["meas/%s: the log made it" % second]),
        ("a file removed of a measurement with a condition", removed_with_cfg('adr="0x01040029"', 'adr="0x01040028"'),
         ["meas/%s: the log made it" % second]),
        ("a file removed of another device's values", removed_with_cfg('adr="0x0104', 'adr="0x0204'),
         ["meas/%s: the log made it" % second]),
        ("records missing within a file", gap, ["meas/%s: block 1 has no records" % first]),
        ("records missing in a lag", gap_lagged, []),
        ("records missing, their raster's runs lost", gap_runs_lost("r1ms"), []),
        ("records missing, another raster's runs lost", gap_runs_lost("r10ms"),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing, the time moved forward over them", gap_moved_forward, []),
        ("records missing, their loss named", gap_named, []),
        # a loss line covers its own file on its own drive around its own moment
        ("records missing, a loss of the name on another drive", gap_named_where(
            "BFSWriter: 'usb_meas:/{first}': 4000 bytes in 9 blocks (time stamps {a} to {b}) not written while the "
            "writer was removed from the back end: the file goes on after the gap"),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing, their file's loss named 29 s later", gap_named_where(
            "Backend: 190 records of 'meas:/{first}' lost", after="orderly shutdown", shift=29),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing, their loss named with their stamps at the stop", gap_named_where(
            "BFSWriter: 'meas:/{first}': 4000 bytes in 9 blocks (time stamps {a} to {b}) not written at the stop: "
            "the file goes on after the gap", after="orderly shutdown", shift=29), []),
        ("records missing, their loss named with the wall clock set back", gap_named_wall_back, []),
        # a data FIFO's error covers its own block (m01's block 1 is the device's 4th: m02's three come first)
        ("records missing, their FIFO's error", gap_fifo(3, 1, 0), []),
        ("records missing, another FIFO's error", gap_fifo(4, 1, 3), ["meas/%s: block 1 has no records" % first]),
        ("records missing, a FIFO's error numbered otherwise", gap_fifo(40, 1, 0),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing, their full FIFO's loss with their stamps", gap_fifo_lost(3, 1, 0), []),
        ("records missing, another full FIFO's loss with their stamps", gap_fifo_lost(4, 1, 3),
         ["meas/%s: block 1 has no records" % first]),
        # a loss line that names no file and no drive excuses nothing
        ("records missing, a measurement's loss with no word of where", gap_named_where(
            "m01: 900 records lost", after="starting measurement m03"), ["meas/%s: block 1 has no records" % first]),
        ("records missing, a write failed with no word of where", gap_named_where(
            "Backend: write failed, 40 bytes", after="starting measurement m03"),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing, a peer's value dropped", gap_named_where(
            "Diradir2: DK channel - FIFO of magic 0x21 full, record dropped", after="starting measurement m03"),
         ["meas/%s: block 1 has no records" % first]),
        ("records missing before the stop", stop_later, ["meas/%s: block 1 has no records from" % last,
                                                         "until the stop"]),
        ("records missing before the stop, their loss named", stop_later_named, []),
        # the stop is where its newest record is, on any drive
        ("the newest records missing before the stop", end_missing, ["meas/%s: block 1 has no records from" % last,
                                                                     "until the stop"]),
        # the stop is the stamp the device gives it
        ("the stop's stamps given", stop_said, []),
        ("the newest records missing on both drives, the stop's stamps given", end_lost_on_both,
         ["meas/%s: block 1 has no records from" % last, "meas2/%s: block 1 has no records from"
          % drive_files(folder, "meas2")[-1], "until the stop"]),
        ("records after the stop's stamp", records_after_stop,
         ["meas/%s: block 1 has records after the stop" % last, "has records after the stop"]),
        ("the newest records missing, a wrong stamp before the stop", end_missing_wrong_stamp,
         ["meas/%s: block 1 has no records from" % last, "until the stop"]),
        ("the newest records missing, the guard ended the stop", guard_ended,
         ["meas/%s: block 1 has no records from" % last, "until the stop"]),
        # a log that cannot tell is no silence
        ("a log without a start line of m01", start_line_lost, ["no start of m01 in the log holds its time"]),
        ("a log without the orderly stop's line", stop_line_lost,
         ["ended in a shutdown the log has no stop line of: its end cannot be checked"]),
        ("a log without the device's start line", without_start_line, ["the gaps cannot be checked"]),
        ("a log of two devices", two_devices, ["the gaps cannot be checked"]),
        ("a log rotated", rotated, []),
        ("a log of another PID than the start parameters'", other_pid, ["the gaps cannot be checked"]),
        ("laps over the wrap of the absolute lap", laps_wrap, []),
        # all records of a block gone from the newest or the first file of a start
        ("a block's records gone from the newest file", block_gone(last),
         ["meas/%s: block 1 has no records from" % last]),
        ("a block's records gone from the first file", block_gone(first),
         ["meas/%s: block 1 has no records from the start" % first]),
        # stamps that run backwards name no stretch of the ring
        ("records missing, a loss line's stamps running backwards", loss_backwards,
         ["meas/%s: block 1 has no records" % first]),
        # a file's initial time stamp is its predecessor's close time stamp, and not after its records
        ("an initial time stamp 10 s early", stamp_moved(second, 4, -100000),
         ["meas/%s: its initial time stamp" % second]),
        ("an initial time stamp 2 s late", stamp_moved(second, 4, 20000),
         ["meas/%s: its initial time stamp" % second]),
        ("the first file's initial time stamp 10 s late", stamp_moved(first, 4, 100000),
         ["meas/%s: its initial time stamp" % first]),
        ("an initial time stamp removed", stamp_moved(second, 4, None),
         ["meas/%s: measdump exit 1" % second, "meas/%s and %s: block " % (first, meas[2])]),
        ("a close time stamp 2 s late", stamp_moved(first, 5, 20000),
         ["meas/%s: its initial time stamp" % second]),
        ("a close time stamp 10 s early", stamp_moved(first, 5, -100000),
         ["meas/%s: its initial time stamp" % second]),
        # a status block tells of its own file (measdump says when it does not)
        ("a status block naming another file", lambda d: change_status_block(path("meas", second)(d), name=first),
         ["meas/%s: measdump exit 1" % second]),
        ("a status block with its lap count raised", lambda d: change_status_block(path("meas", second)(d), laps=2),
         ["meas/%s: measdump exit 1" % second]),
        # a file this device made carries its logger id
        ("an internal file with another logger's id", foreign_internal, ["meas/%s: its header's logger id" % first]),
        ("a copy the log made with another logger's id", foreign_copy,
         ["usb_meas/%s: its header's logger id" % first, "two different recordings under the"]),
        # the device's words for a file the halted writers cut
        ("a file cut at its end, named by the halt", cut_at_halt, []),
        ("what a cut leaves", leftovers, ["A0f0f000.001: an empty measurement file left",
                                          "B0f0f000.001.part: the part of a copy left",
                                          ".roomcheck-m01: a room probe left"]),
    ]


class Listed:
    """A file as measdump lists it, made up: measurement, counters, its
    initial time stamp and metadata, one block's records and its events."""

    def __init__(self, where, meas_idx, counters, stamps, events, metas=()):
        self.where, self.meas_idx, self.counters = where, meas_idx, counters
        self.drive = where.split("/")[0]
        self.name = self.header_name = where.split("/")[1]
        self.rc = recording_check.MEASDUMP_SOUND
        self.block_count, self.data, self.error = 1, where.encode(), ""
        self.metas = [(4, stamps[0])] + list(metas) + [(6, t) for t, _ in events]
        self.stamps = {1: list(stamps)}
        self.events = list(events)
        self.event_keys = []

    def absolute(self):
        return self.counters[3]


def planted_log(*lines):
    """A log of (seconds, text) lines as the device writes them."""
    return "".join(device_line(1.8e9 + at, text) for at, text in lines)


def run_lines(at, start, name, stop):
    """The log lines of a start of m01 at stamp `start` that sets up and
    makes file `name` and stops at stamp `stop`, `at` seconds on."""
    return [(at, "meas_app_saveblock(): starting measurement m01 with timestamp: %d" % start),
            (at, "VirtualFile::VirtualFile() created with index 0, writers 0x00010001h, %s" % name),
            (at, "BFSWriter: opened and checked 'meas:/%s'" % name),
            (at + (stop - start) / 10000.0, "Stopping measurement"),
            (at + (stop - start) / 10000.0, "m01: recording stopped at time stamp %d" % stop)]


def grid_findings(files, log):
    """What the gap rules find in files of one 1 ms block of m01 on meas/."""
    gaps = recording_gaps.Gaps(None, files, recording_gaps.LogCover(log), {0: (1, {1: True}, {1: 10})})
    return (recording_gaps.gaps_within_files(gaps) + recording_gaps.gaps_between_files(gaps) +
            recording_gaps.ended_early(gaps) + recording_gaps.started_late(gaps))


def grid_cases():
    """A block records on its raster's grid from its start to its stop:
    one record missing, one off the grid, and the first records of a start
    soon after a stop missing are found; [] when each case gave what it
    should."""
    name, again = "A0101000.001", "A0102000.101"
    log = planted_log(*run_lines(0, 10000, name, 30000))
    records = list(range(10000, 30001, 10))
    wrong = []
    for what, stamps, words in (("none missing", records, None),
                                ("1 record missing", [t for t in records if t != 15000],
                                 "has no records from 14990 to 15010"),
                                ("3 records missing", [t for t in records if t not in (15000, 15010, 15020)],
                                 "has no records from 14990 to 15030"),
                                ("a record 0.5 ms late", [t + 5 * (t == 15000) for t in records],
                                 "off its raster's grid"),
                                ("a record 0.3 ms early", [t - 3 * (t == 15000) for t in records],
                                 "off its raster's grid")):
        found = grid_findings([Listed("meas/" + name, 0, (1, 1, 1, 0), stamps, [])], log)
        if (words is None and found) or (words is not None and not any(words in p for p in found)):
            wrong.append("%s: %s" % (what, found or "not reported"))
    # a quick stop and start: the second start's first 0.5 s missing
    log = planted_log(*(run_lines(0, 10000, name, 20000) + run_lines(1.05, 20500, again, 30500)))
    files = [Listed("meas/" + name, 0, (1, 1, 1, 0), range(10000, 20001, 10), []),
             Listed("meas/" + again, 0, (1, 2, 1, 1), range(25500, 30501, 10), [])]
    found = grid_findings(files, log)
    if not any("meas/%s: block 1 has no records from the start at 20500" % again in p for p in found):
        wrong.append("the first 0.5 s of a start just after a stop: %s" % (found or "not reported"))
    return wrong


def event_write_cases():
    """An event written twice, a close past its file's close time stamp,
    and a close without its open are found; [] when each case gave what it
    should."""
    opened, brake = recording_check.OPEN_EVENT, 0x02000000
    wrong = []
    for what, keys, reported in (("once", [(1, brake, 15000, 0)], False),
                                 ("twice", [(1, brake, 15000, 0)] * 2, True)):
        f = Listed("meas/A1", 0, (1, 1, 1, 0), range(10000, 20001, 10), [])
        f.event_keys = keys
        if bool(recording_check.check_events_reopened([f], 1)) != reported:
            wrong.append("a zero-length event written %s" % what)
    # a lap trigger at 13000 closes the first file
    for what, duration, reported in (("just after the trigger", 113, False), ("after the next file began", 1000, True)):
        files = [Listed("meas/A1", 0, (1, 1, 1, 0), range(10000, 12991, 10), [(12900, duration)], [(5, 13000)]),
                 Listed("meas/A2", 0, (1, 2, 1, 1), range(13000, 16001, 10), [])]
        found = recording_check.check_event_times(files[0], recording_check.event_ends(files).get(id(files[0])))
        if bool(found) != reported:
            wrong.append("an event closed %s in the file before: %s" % (what, found or "not reported"))
    for what, keys, reported in (("with its open", [(1, 0x010001E3, 11000, opened), (1, 0x010001E3, 11000, 500)],
                                  False),
                                 ("without its open", [(1, 0x010001E3, 11000, 500)], True)):
        f = Listed("meas/A1", 0, (1, 1, 1, 0), range(10000, 20001, 10), [])
        f.event_keys = keys
        if bool(recording_check.check_events_opened([f], 1)) != reported:
            wrong.append("an event closed %s" % what)
    return wrong


def step_event_cases():
    """Findings for an event of a step back's moment, written into the new
    time's first file a few ms before its first record; [] when each case
    gave what it should."""
    new = lambda at: Listed("meas/A2", 0, (1, 1, 1, 1), range(50000, 50301, 10), [(at, 0)])
    after_step = Listed("meas/A1", 0, (1, 1, 1, 0), range(100000, 100301, 10), [])
    no_step = Listed("meas/A1", 0, (1, 1, 1, 0), range(40000, 40301, 10), [])
    wrong = []
    for what, before, at, reported in (("3.5 ms before the new time's file", after_step, 49965, False),
                                       ("60 ms before the new time's file", after_step, 49400, True),
                                       ("3.5 ms before a file of the same time", no_step, 49965, True)):
        files = [before, new(at)]
        slack = recording_check.STEP_SLACK if id(files[1]) in recording_check.files_after_a_step_back(files) else 0
        found = recording_check.check_event_times(files[1], None, slack)
        if bool(found) != reported:
            wrong.append("an event %s: %s" % (what, found or "not reported"))
    return wrong


def event_end_cases():
    """Findings for events past a file's own time, where the device may
    write them; [] when each case gave what it should.
    A stop: an m03 file of another device's values, 2.5 ms behind an event
    of the stop's moment, beside the m01 file of that moment.
    A lap trigger at 1300: an event 1.3 ms after it, written into the file
    before its blocks took the trigger.
    A file whose other device fell silent before the stop: an event of the
    silence, before the log's stop line and after it."""
    lap, next_lap = (1, 1, 1, 0), (1, 2, 1, 1)
    opened = recording_check.OPEN_EVENT
    m03 = lambda at: Listed("meas2/B", 2, lap, range(1000, 1201, 20), [(at, opened)])
    m01 = lambda counters, metas=(): Listed("meas/A", 0, counters, range(1000, 1301, 10), [], metas)
    closed = lambda at: Listed("meas/A1", 0, lap, range(1000, 1291, 10), [(at, 0)], [(5, 1300)])
    following = lambda idx: Listed("meas/A2", idx, next_lap, range(1300, 1601, 10), [], [(5, 1600)])
    wrong = []
    for what, files, reported in (
            ("alone at a stop", [m03(1225)], True),
            ("beside the stop's m01 file", [m03(1225), m01(lap)], False),
            ("after the stop's newest record", [m03(1315), m01(lap)], True),
            ("beside another lap's file", [m03(1225), m01(next_lap)], True),
            ("beside a file a lap trigger closed", [m03(1225), m01(lap, [(5, 1300)])], True),
            ("just after the trigger, in the next file's time", [closed(1313), following(0)], False),
            ("after the trigger, with no file after it", [closed(1313)], True),
            ("after the next file's time", [closed(1613), following(0)], True),
            ("after the trigger, beside another measurement's file", [closed(1313), following(2)], True)):
        ends = recording_check.event_ends(files)
        found = recording_check.check_event_times(files[0], ends.get(id(files[0])))
        if bool(found) != reported:
            wrong.append("an event %s: %s" % (what, found or "not reported"))
        # where its file's time may hold it, it began in that time too
        for f in files:
            f.event_keys = [(3, 0x02000000, t, d) for t, d in f.events]
        started = [p for p in recording_check.check_event_starts(files, ends) if p.startswith(files[0].where + ":")]
        if started and not reported:
            wrong.append("an event %s: %s" % (what, started))
    # m03's other device fell silent at 1200, the log's stop line is at 1400:
    # the file is open until then
    # (and an older run that held these stamps too, in a time before a step back)
    runs = {2: [recording_gaps.Run(500, 5000, 2), recording_gaps.Run(900, 1400, 2)]}
    for what, at, reported in (("of the silence before the stop", 1225, False),
                               ("of the silence, after the stop", 1425, True)):
        files = [m03(at)]
        found = recording_check.check_event_times(files[0], recording_check.event_ends(files, runs).get(id(files[0])))
        if bool(found) != reported:
            wrong.append("an event %s: %s" % (what, found or "not reported"))
    # the device said it stopped at 1250: the wall clock's stop at 1400 stretches nothing
    runs = {2: [recording_gaps.Run(900, 1400, 2, device_stop=1250)]}
    files = [m03(1300)]
    if not recording_check.check_event_times(files[0], recording_check.event_ends(files, runs).get(id(files[0]))):
        wrong.append("an event after the device's stop stamp, before the wall clock's stop: not reported")
    return wrong


def repeated_stamp_cases():
    """A record repeated with its stamp in a file is found; [] when it is."""
    found = recording_check.check_file(Listed("meas/A1", 0, (1, 1, 1, 0), (100, 110, 110, 120), []), False)
    return [] if any("block 1's time stamp 110 repeats" in p for p in found) else ["a repeated stamp: %s" % found]


def block_chain_cases():
    """Files of laps a moment apart follow each other in the order of each
    block's records, though the third's slow block holds a record stamped
    before the second began, and the second's initial time stamp is a lap
    trigger's from long before; [] when they do."""
    laps = [Listed("meas/A%d" % n, 0, (1, n, 1, n), range(first, first + 31, 10), [])
            for n, first in ((1, 100), (2, 250), (3, 290))]
    laps[2].stamps[3] = [160, 1160]
    laps[1].metas[0] = (4, 20)
    wrong = []
    for block, wanted in ((1, ["meas/A1", "meas/A2", "meas/A3"]), (3, ["meas/A3"])):
        order = [f.where for f in recording_gaps.block_chain(list(reversed(laps)), block)]
        if order != wanted:
            wrong.append("block %d of files of laps a moment apart: %s" % (block, order))
    return wrong


def killed_event_cases():
    """An event opened in one file and never closed, the time going back in
    a later file: a finding, unless a file between them is cut short (its
    device was killed with the event open); [] when each case gave what it
    should."""
    wrong = []
    for what, cut, killed, reported in (("step", False, (), True), ("kill", True, ("A2",), False),
                                        ("cut the log shows no kill of", True, (), True)):
        files = [Listed("meas/A%d" % n, 0, (1, n, 1, n), range(first, first + 31, 10), [])
                 for n, first in ((1, 1000), (2, 1040), (3, 500))]
        files[0].event_keys = [(3, 0x010001E3, 1010, recording_check.OPEN_EVENT)]
        if cut:
            files[1].rc = recording_check.MEASDUMP_CUT
        found = recording_check.check_events_closed(files, 3, killed)
        if bool(found) != reported:
            wrong.append("an event open at a %s: %s" % (what, found or "not reported"))
    return wrong


def main():
    binary, measdump, sample = sys.argv[1:4]
    wrong = event_end_cases() + step_event_cases() + repeated_stamp_cases() + block_chain_cases() + killed_event_cases()
    wrong += grid_cases() + event_write_cases()
    assert not wrong, wrong
    scratch = tempfile.mkdtemp(prefix="tav9-reccheck-")
    try:
        with DeviceRun(sample, "tav9-reccheck-") as run:
            dev = run.start_logging(binary)
            for trigger in ("lof_laptrig", "lof_outtrig"):
                time.sleep(1.0)
                assert "value = 0" in dev.shell(trigger)
            time.sleep(1.0)
            assert dev.stop() == 0
            dev.check_clean()
            sound = os.path.join(scratch, "sound")
            os.mkdir(sound)
            for drive in ("meas", "meas2", "cfg"):
                shutil.copytree(os.path.join(run.folder, drive), os.path.join(sound, drive))
            for name in ("log.txt", "start.cfg"):
                shutil.copy(os.path.join(run.folder, name), sound)
        assert len(drive_files(sound, "meas")) >= 3, drive_files(sound, "meas")
        failed = []
        for what, change, expected in cases(sound, measdump):
            d = os.path.join(scratch, "case")
            shutil.copytree(sound, d)
            try:
                change(d)
                found = recording_check.check_folder(d, measdump)
            finally:
                shutil.rmtree(d)
            missing = [words for words in expected if not any(words in p for p in found)]
            extra = [p for p in found if not any(words in p for words in expected)]
            if missing or extra:
                failed.append("%s: not found %s; found besides %s" % (what, missing, extra))
        # the device gives the stamp of every stop, its guard's end too: a stop without its line is a
        # finding
        def guard_unstamped(d):
            without_stop_stamps(d)
            log_line(d, "rtpShutdown: the stop did not end within 8500 ms: the process ends (no write of the "
                     "device folder under way)", after="orderly shutdown")
        for what, change, finding, note in (("without", without_stop_stamps, True, False),
                                            ("with", [c for c in cases(sound, measdump)
                                                      if c[0] == "the stop's stamps given"][0][1], False, False),
                                            ("ended by the guard without", guard_unstamped, True, False)):
            d = os.path.join(scratch, "case")
            shutil.copytree(sound, d)
            notes = []
            try:
                change(d)
                found = recording_check.check_folder(d, measdump, notes=notes)
            finally:
                shutil.rmtree(d)
            unchecked = lambda lines: any("m01: the end of the start at" in n and "could not be checked" in n
                                          for n in lines)  # noqa: E731
            if unchecked(found) != finding or unchecked(notes) != note:
                failed.append("an orderly stop %s the line of its stamp: found %s, notes %s" % (what, found, notes))
        # other devices' files are counted in the notes
        d = os.path.join(scratch, "case")
        shutil.copytree(sound, d)
        notes = []
        try:
            [c for c in cases(d, measdump) if c[0] == "other devices' files on a USB drive"][0][1](d)
            recording_check.check_folder(d, measdump, notes=notes)
        finally:
            shutil.rmtree(d)
        if not any("usb_meas: 2 files of other devices left out" in n for n in notes):
            failed.append("other devices' files not counted: %s" % notes)
        # a folder that cannot be checked is no sound one: a line that says what it is and a nonzero exit
        for what, make, words in (("no folder", lambda d: None, "no such folder"),
                                  ("an empty folder", os.mkdir, "no log.txt"),
                                  ("a folder without its log", lambda d: (shutil.copytree(sound, d),
                                                                          os.remove(os.path.join(d, "log.txt"))),
                                   "no log.txt"),
                                  ("a plain file", lambda d: open(d, "w").close(), "a plain file, not a folder")):
            d = os.path.join(scratch, "case")
            make(d)
            try:
                r = subprocess.run([sys.executable, recording_check.__file__, "--measdump", measdump, d],
                                   capture_output=True, text=True)
            finally:
                if os.path.isdir(d):
                    shutil.rmtree(d)
                elif os.path.lexists(d):
                    os.remove(d)
            if r.returncode != 1 or "recordings sound" in r.stdout or "cannot be checked" not in r.stdout or \
                    words not in r.stdout:
                failed.append("%s: exit %d, %r" % (what, r.returncode, r.stdout))
        # a clone without build/ checks a folder with the measdump beside the device TAV9_BINARY names
        clone = os.path.join(scratch, "clone", "tests", "app")
        os.makedirs(clone)
        for name in ("recording_check.py", "recording_gaps.py", "recording_events_stop.py"):
            shutil.copy(os.path.join(os.path.dirname(os.path.abspath(recording_check.__file__)), name), clone)
        # (as scripts/run takes it: a relative one from the working folder, a link to the build's device);
        # --measdump wins, and without any the places looked at are named
        link = os.path.join(scratch, "clone", "tav9")
        os.symlink(os.path.abspath(binary), link)
        build = os.path.dirname(os.path.dirname(os.path.abspath(binary)))
        tree = os.path.join(scratch, "clone", "build", "tools", "measdump")
        for what, device, cwd, args, rc, words in (
                ("TAV9_BINARY set", binary, None, [], 0, "recordings sound"),
                ("a relative TAV9_BINARY", os.path.join("app", "tav9"), build, [], 0, "recordings sound"),
                ("TAV9_BINARY a link", link, None, [], 0, "recordings sound"),
                ("--measdump that is not there", binary, None, ["--measdump", tree], 2,
                 "no measdump at %s (--measdump PATH names one)" % tree),
                ("no TAV9_BINARY", None, None, [], 2, "no measdump at %s (--measdump PATH names one)" % tree)):
            env = dict((k, v) for k, v in os.environ.items() if k not in ("TAV9_MEASDUMP", "TAV9_BINARY"))
            if device:
                env["TAV9_BINARY"] = device
            r = subprocess.run([sys.executable, os.path.join(clone, "recording_check.py")] + args + [sound],
                               capture_output=True, text=True, env=env, cwd=cwd)
            if r.returncode != rc or words not in r.stdout + r.stderr:
                failed.append("a clone without build/, %s: exit %d, %r %r" % (what, r.returncode, r.stdout, r.stderr))
        # what is newer than a given moment is the running device's, not left by a cut
        d = os.path.join(scratch, "case")
        shutil.copytree(sound, d)
        cases(d, measdump)[-1][1](d)
        found = recording_check.check_folder(d, measdump, leftovers_before=time.time() - 60)
        if found:
            failed.append("files newer than the last start taken as leftovers: %s" % found)
        # a lap whose counters the NVRAM refused may share its absolute lap;
        # the other laps are still checked
        second = drive_files(sound, "meas")[1]
        unstored = (int(second[1:3], 16), int(second[3:5], 16))
        for laps, expected in (({unstored}, False), ({(0xf0, 0xf0)}, True)):
            d = os.path.join(scratch, "unstored")
            shutil.copytree(sound, d)
            try:
                [c for c in cases(d, measdump) if c[0] == "an absolute lap given to another lap"][0][1](d)
                found = recording_check.check_folder(d, measdump, unstored_laps=laps)
            finally:
                shutil.rmtree(d)
            if any("carried by different laps" in p for p in found) != expected:
                failed.append("unstored laps %s: %s" % (laps, found))
        # a lap may come again after the counters were set back before it,
        # not when they were set back before its earlier recording
        absolutes = [int(n[5:8] + n[9], 16) for n in drive_files(sound, "meas")]
        for set_back, expected in (({max(absolutes) + 1}, False), ({absolutes[0]}, True)):
            d = os.path.join(scratch, "set_back")
            shutil.copytree(sound, d)
            try:
                [c for c in cases(d, measdump) if c[0] == "a lap recorded again"][0][1](d)
                found = recording_check.check_folder(d, measdump, set_back=set_back)
            finally:
                shutil.rmtree(d)
            if any("recorded again" in p for p in found) != expected:
                failed.append("counters set back at %s: %s" % (set_back, found))
        assert not failed, "\n".join(failed)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("recording check test passed")


if __name__ == "__main__":
    main()
