#!/usr/bin/env python3
"""Checks the recordings in a device folder as a user's tools would see them.

What it looks at: the measurement files (named as the device names them,
"%c%02x%02x%03x.%1x%02x": letter, outing, lap, absolute lap, fragment) on
the drives "meas/", "meas2/" and "usb_meas/" of the folder, each read by
measdump. What it reports:

- a file that measdump calls broken or cannot read (one cut at its end, as a
  cut or a kill leaves it, is sound);
- on the internal drives, a file whose name is not the one its header's
  counters give;
- two different recordings under one name, or under one set of header
  counters, on any of the drives (a copy on the USB drive is the same
  recording: the same bytes, or their start for a copy cut at its end, or
  the same header where the log names a gap in it: a gap it goes on after, or
  items a failed write's take-back lost);
- one absolute lap carried by two different laps, and a lap (outing and lap
  number) recorded again once a later one had begun: a start goes on with its
  lap in a new absolute lap, so a lap may span several absolute laps, but
  only one after the other (absolute laps wrap: they are compared on their
  ring);
- within a file, a block's time stamps going back or repeating (compared
  wrap-safe); across the files of a measurement on a drive, in their
  counters' order, the same (recording_gaps.py);
  and, when asked (event_times), an event outside its file's time, one
  that ends after the time of the file a lap trigger closed, one of the
  device's own written twice in a file, or closed without its open where
  it began in a file's time;
- a file this device made (on an internal drive, or one the log made on
  the USB drive) whose header names another logger; (the files on the USB
  drive that another device recorded, by their header's logger id, that no
  line of the log made, are left out and counted in the summary's notes)
- what a cut leaves and a start removes: an empty measurement file, the part
  file of a copy ("<name>.part"), a drive's room probe (".roomcheck-mNN");
- records lost without a word: a gap in a block's records, within a file or
  between consecutive files of a drive (a file missing from its middle), after
  a start or before an orderly stop, that the device's log.txt does not
  explain; a file the log made that is not on its drive; a file an orderly
  stop left without its closing status block; a log that cannot tell
  (recording_gaps.py).

Used by the device tests on their folders at their end (device_harness) and
by hand:  recording_check.py [--measdump PATH] [--event-times] [--no-leftovers] FOLDER
measdump is the one --measdump names, else TAV9_MEASDUMP's, else
build/tools/measdump of this tree, else the one beside the device
TAV9_BINARY names (its build's tools/).
Exit status 0 when nothing was found, 1 with the findings listed (a folder
that does not exist, is no folder or has no log.txt is one), 2 for a usage
error (no measdump).
"""
import argparse
import os
import re
import stat
import subprocess
import sys

import recording_events_stop
import recording_gaps

DRIVES = ("meas", "meas2", "usb_meas")
INTERNAL = ("meas", "meas2")
MEAS_NAME = re.compile(r"^[AB][0-9a-f]{7}\.[0-9a-f]{3}$")
PART_NAME = re.compile(r"^[AB][0-9a-f]{7}\.[0-9a-f]{3}\.part$")
PROBE_NAME = re.compile(r"^\.roomcheck-m\d\d$")

# measdump's listing
HEADER = re.compile(r"^header: .* measurement m0(\d) blocks (\d+)")
COUNTERS = re.compile(r"^counters: outing (\d+) lap (\d+) fragment (\d+) absolute lap (\d+) ")
FRAME = re.compile(r"^frame @\d+ block (\d+) ")
RECORD = re.compile(r"^  record time (\d+) ")
EVENT_META = re.compile(r"^meta @\d+ type 6 \(event\) length \d+: id 0x([0-9A-F]+) time (\d+) duration (\d+) "
                        r"kind \d+ severity \d+ pid 0x([0-9A-F]+) ")
LOGGER = re.compile(r"^meta @\d+ type 7 \(time-master ids\) length \d+: master 0x([0-9A-F]+) boot (\d+) "
                    r"logger 0x([0-9A-F]+)")
META_TIME = re.compile(r"^meta @\d+ type (\d+) \([^)]*\) length \d+: (?:id 0x[0-9A-F]+ )?time (\d+)"
                       r"(?: duration (\d+))?")

MEASDUMP_SOUND, MEASDUMP_BROKEN, MEASDUMP_UNREADABLE, MEASDUMP_CUT = 0, 1, 2, 3


def file_name(meas_idx, outing, lap, fragment, absolute):
    """The name the counters give a file of measurement index 0 (m01) or 2 (m03)."""
    return "%c%02x%02x%03x.%1x%02x" % (chr(ord("A") + meas_idx // 2), outing & 0xFF, lap & 0xFF,
                                       (absolute >> 4) & 0xFFF, absolute & 0xF, fragment & 0xFF)


def later(a, b):
    """True when stamp b lies before stamp a (32-bit stamps that wrap)."""
    return 0 < (a - b) & 0xFFFFFFFF < 0x80000000


class MeasFile:
    """One measurement file as measdump reads it."""

    def __init__(self, folder, drive, name, measdump):
        self.drive, self.name = drive, name
        self.where = "%s/%s" % (drive, name)
        self.path = os.path.join(folder, drive, name)
        r = subprocess.run([measdump, self.path], capture_output=True, text=True, errors="replace")
        self.rc, self.error = r.returncode, r.stderr.strip()
        self.meas_idx = self.counters = self.block_count = None
        self.logger = None        # the unit id of the device that recorded it (its header's time-master ids)
        self.master_run = None    # (time master id, its boot count) the file was made in (the same ids)
        self.stamps = {}          # block -> [time stamps in file order]
        self.metas = []           # (type, time) of the metadata blocks that carry one
        self.events = []          # (time, duration) of the events
        self.event_keys = []      # (source PID, id, time, duration) of the events
        block = None
        for line in r.stdout.splitlines():
            m = RECORD.match(line)
            if m:
                self.stamps.setdefault(block, []).append(int(m.group(1)))
                continue
            m = FRAME.match(line)
            if m:
                block = int(m.group(1))
                continue
            m = LOGGER.match(line)
            if m:
                self.master_run = (int(m.group(1), 16), int(m.group(2)))
                self.logger = int(m.group(3), 16)
                continue
            m = EVENT_META.match(line)
            if m:   # (source PID, id, time, duration)
                self.event_keys.append((int(m.group(4), 16), int(m.group(1), 16), int(m.group(2)), int(m.group(3))))
            m = META_TIME.match(line)
            if m:
                self.metas.append((int(m.group(1)), int(m.group(2))))
                if m.group(3) is not None:
                    self.events.append((int(m.group(2)), int(m.group(3))))
                continue
            m = HEADER.match(line)
            if m:
                self.meas_idx = int(m.group(1)) - 1
                self.block_count = int(m.group(2))
                continue
            m = COUNTERS.match(line)
            if m:
                outing, lap, fragment, absolute = (int(x) for x in m.groups())
                self.counters = (outing, lap, fragment, absolute)
        self.header_name = None
        if self.counters and self.meas_idx in (0, 2):
            outing, lap, fragment, absolute = self.counters
            self.header_name = file_name(self.meas_idx, outing, lap, fragment, absolute)
        with open(self.path, "rb") as f:
            self.data = f.read()

    def lap(self):
        """(outing, lap) of the header."""
        return self.counters[:2]

    def absolute(self):
        return self.counters[3]


def same_recording(a, b, gapped=()):
    """The same recording: the same bytes, or one the start of the other (a
    copy cut at its end), with a whole header; or the same header when the
    log names a gap in one of them (gapped: "drive/name" entries)."""
    if len(a.data) < 42 or len(b.data) < 42:
        return False
    if (a.where in gapped or b.where in gapped) and a.data[:42] == b.data[:42]:
        return True
    short, long_ = (a.data, b.data) if len(a.data) <= len(b.data) else (b.data, a.data)
    return long_.startswith(short)


# A writer's file with records missing in its middle, named in the log: a
# gap it goes on after, or items lost where a failed write took it back to
# its last whole item (what it writes later follows the cut).
GAPPED = re.compile(r"BFSWriter: '(\w+):/([AB][0-9a-f]{7}\.[0-9a-f]{3})'(?:: \d+ bytes in \d+ blocks.* not written .*: "
                    r"the file (?:goes on|is made) after the gap| taken back to its last whole item at byte \d+ "
                    r"\(.*\), [1-9]\d* items lost)")


def gapped_files(folder):
    """The "drive/name" entries of the files the log names a gap in."""
    return {"%s/%s" % m.groups() for m in GAPPED.finditer(recording_gaps.read_plain(os.path.join(folder, "log.txt")))}


def leftover_kind(name, size):
    if PART_NAME.match(name):
        return "the part of a copy"
    if PROBE_NAME.match(name):
        return "a room probe"
    if MEAS_NAME.match(name) and size == 0:
        return "an empty measurement file"
    return None


def find_leftovers(folder, before=None, open_paths=(), ignore=()):
    """Leftovers on the drives: those modified before `before` (a time.time()
    instant; None: all) and not held open by a running device (open_paths:
    real paths)."""
    found = []
    held = set(os.path.realpath(p) for p in open_paths)
    for drive in DRIVES:
        d = os.path.join(folder, drive)
        if not os.path.isdir(d):
            continue
        for name in sorted(os.listdir(d)):
            where = "%s/%s" % (drive, name)
            if where in ignore:
                continue
            try:
                st = os.lstat(os.path.join(d, name))
            except OSError:
                continue   # gone again: a probe removed at once
            if not stat.S_ISREG(st.st_mode):
                continue
            kind = leftover_kind(name, st.st_size)
            if not kind or (before is not None and st.st_mtime >= before):
                continue
            if os.path.realpath(os.path.join(d, name)) in held:
                continue
            found.append("%s: %s left (%d bytes)" % (where, kind, st.st_size))
    return found


def read_files(folder, measdump, ignore):
    files = []
    for drive in DRIVES:
        d = os.path.join(folder, drive)
        if not os.path.isdir(d):
            continue
        for name in sorted(os.listdir(d)):
            if not MEAS_NAME.match(name) or "%s/%s" % (drive, name) in ignore:
                continue
            try:
                st = os.lstat(os.path.join(d, name))
            except OSError:
                continue
            # an empty file holds no recording (its own check is the leftovers')
            if stat.S_ISREG(st.st_mode) and st.st_size > 0:
                files.append(MeasFile(folder, drive, name, measdump))
    return files


UNIT_ID = re.compile(r"startup: unit id 0x([0-9A-Fa-f]+)")


def own_units(folder):
    """The unit ids the log gives this device (empty: it tells none)."""
    return set(int(u, 16) for u in UNIT_ID.findall(recording_gaps.read_log(folder)))


def made_here(folder):
    """The "drive/name" entries of the files the log made or copied."""
    text = recording_gaps.read_log(folder)
    return {"%s/%s" % (drive.rstrip(":"), name) for pattern in (recording_gaps.MADE, recording_gaps.COPIED)
            for drive, name in pattern.findall(text)}


def other_devices_files(folder, files):
    """The files on the USB drive that another device recorded (a stick
    carried between devices): their header's logger is not one of the unit
    ids the log gives this device, and no line of the log made them. None
    are told without a unit id."""
    own, made = own_units(folder), made_here(folder)
    if not own:
        return []
    return [f for f in files if f.drive == "usb_meas" and f.logger is not None and f.logger not in own and
            f.where not in made]


def foreign_loggers(folder, files):
    """A file this device made (one on an internal drive, or one the log
    made on the USB drive) whose header names another logger."""
    own = own_units(folder)
    if not own:
        return []
    return ["%s: its header's logger id 0x%08X is not this device's (%s)"
            % (f.where, f.logger, ", ".join("0x%08X" % u for u in sorted(own)))
            for f in files if f.logger is not None and f.logger not in own]


def check_file(f, event_times, events_end=None, step_slack=0):
    problems = []
    if f.rc not in (MEASDUMP_SOUND, MEASDUMP_CUT):
        problems.append("%s: measdump exit %d: %s" % (f.where, f.rc, f.error))
    if f.drive in INTERNAL and f.counters and f.header_name != f.name:
        problems.append("%s: its header's counters (outing %d lap %d fragment %d absolute lap %d) give the name %s"
                        % ((f.where,) + f.counters + (f.header_name,)))
    for block, stamps in sorted(f.stamps.items()):
        for a, b in zip(stamps, stamps[1:]):
            if later(a, b):
                problems.append("%s: block %d's time stamp goes back from %d to %d" % (f.where, block, a, b))
                break
            if a == b:
                problems.append("%s: block %d's time stamp %d repeats" % (f.where, block, a))
                break
    if event_times:
        problems += check_event_times(f, events_end, step_slack)
    return problems


OPEN_EVENT = 0xFFFFFFFF   # the duration of an event that has not ended
# How long after its close time stamp a file a lap trigger closed takes the
# events that end then: until its first block passes the trigger (50 ms).
CLOSE_SLACK = 500


def newest_block_period(f, last):
    """The record period (the smallest step between its stamps) of the
    block whose last record is at `last`; the shortest of several, 0 when
    none shows one."""
    periods = []
    for stamps in f.stamps.values():
        if stamps and stamps[-1] == last:
            steps = [(b - a) & 0xFFFFFFFF for a, b in zip(stamps, stamps[1:])]
            steps = [d for d in steps if 0 < d < 0x80000000]
            if steps:
                periods.append(min(steps))
    return min(periods) if periods else 0


def file_time(f):
    """(start, last, closed_by_stop) of a file's time, None without an
    initial time stamp. It runs from the initial time stamp to the last stamp
    (its close time stamp or its last record). A file closed without a close
    time stamp (a stop) runs until the next record of its newest block was
    due: its own records show no later moment of the stop."""
    init = [t for kind, t in f.metas if kind == 4]
    if not init:
        return None
    start = init[0]
    last = start
    # the events themselves are what is checked: they do not widen the file's time
    for t in [t for kind, t in f.metas if kind in (4, 5)] + [t for s in f.stamps.values() for t in s]:
        if later(t, last):
            last = t
    by_stop = not any(kind == 5 for kind, t in f.metas)
    if by_stop:
        period = newest_block_period(f, last)
        if period:
            last = (last + period - 1) & 0xFFFFFFFF
    return start, last, by_stop


def event_ends(files, runs=None):
    """{id(file): stamp} of the files whose events may lie past their own
    time, up to that stamp, as the device writes them:
    - A stop ends all of a device's measurements at once, and their files of
      that moment carry the same counters: each ran until the newest record
      of any of them. A measurement of another device's values records them
      as they arrive, behind the events of the same moment.
    - A file whose records end before the stop (another device's values,
      and that device fell silent) is open until the stop all the same, and
      takes this device's events until then: it runs until the stop line of
      the run that holds its newest record (runs: {meas_idx: [Run]}, the
      orderly stops of the log, see recording_gaps.LogCover).
    - A file takes events until the first of its blocks passes the trigger
      that ends it (its close time stamp is set then): an event of the
      moments just after the trigger may go into it. It lies in the time of
      the file that follows (the same measurement's, starting at the close
      time stamp)."""
    times = {id(f): file_time(f) for f in files}
    stops, starts = {}, {}
    for f in files:
        t = times[id(f)]
        if not t:
            continue
        starts.setdefault((f.meas_idx, t[0]), f)
        if t[2] and f.counters and f.rc != MEASDUMP_CUT:
            if f.counters not in stops or later(t[1], stops[f.counters]):
                stops[f.counters] = t[1]
    ends = {}
    for f in files:
        t = times[id(f)]
        if not t:
            continue
        if t[2]:
            end = stops.get(f.counters)
            # the latest start that holds it: after a step back an older run
            # may hold the stamps of the new time too
            held = [r for r in (runs or {}).get(f.meas_idx, ()) if r.holds(t[1])]
            run = max(held, key=lambda r: recording_gaps.signed(r.start - t[1])) if held else None
            # the stamp the device stopped at where it gives one, else the stop the wall clock places
            stop = run and (run.stop if run.device_stop is None else run.device_stop)
            if run is not None and (end is None or later(stop, end)):
                end = stop
        else:
            closes = [c for kind, c in f.metas if kind == 5]
            following = starts.get((f.meas_idx, closes[-1]))
            end = times[id(following)][1] if following is not None and following is not f else None
        if end is not None:
            ends[id(f)] = end
    return ends


def check_event_times(f, events_end=None, step_slack=0):
    """Every event has a duration that does not go back, and lies in the
    file's time (file_time; or until events_end when that is later, see
    event_ends): an event that began before the file and ended in it
    (written at its end) lies in it too. A file cut short (the device ended
    without closing it) lost its newest records with the cut: its time runs
    on past its last stamp, to an unknown end. A file's time begins at its
    first record when that is before its initial time stamp. The first file of a time that
    began with a step back holds the events of the step's moment too: its
    time begins step_slack before its first record."""
    t = file_time(f)
    if not t:
        return []
    start, last, by_stop = t
    # the records a start's blocks took a moment before its initial time
    # stamp are in the file: so is that moment
    for stamps in f.stamps.values():
        if stamps and later(start, stamps[0]):
            start = stamps[0]
    start = (start - step_slack) & 0xFFFFFFFF
    # a closed event is written at its end, into the file whose time holds
    # it: a file a lap trigger closed takes those until its first block
    # passes the trigger (a moment after its close time stamp). (A stop
    # closes the events at the moment it ends them, which a step of the
    # time may place after the old time's newest record.)
    ends_by = None if by_stop else (last + CLOSE_SLACK) & 0xFFFFFFFF
    if events_end is not None and later(events_end, last):
        last = events_end
    problems = []
    for t, duration in f.events:
        if duration != OPEN_EVENT and duration >= 0x80000000:
            problems.append("%s: an event at %d has a negative duration (%d)" % (f.where, t, duration - (1 << 32)))
            continue
        if duration not in (0, OPEN_EVENT) and ends_by is not None and later((t + duration) & 0xFFFFFFFF, ends_by):
            problems.append("%s: an event at %d (duration %d) ends at %d, after the file's time %d to %d"
                            % (f.where, t, duration, (t + duration) & 0xFFFFFFFF, start, ends_by))
            continue
        # an event still open when the file was written lasts into it
        if duration != OPEN_EVENT and later(start, (t + duration) & 0xFFFFFFFF) or \
                (f.rc != MEASDUMP_CUT and later(t, last)):
            problems.append("%s: an event at %d (duration %d) lies outside the file's time %d to %d"
                            % (f.where, t, duration, start, last))
    return problems


def lap_ring_order(absolutes):
    """A sort key for absolute laps, which count in 16 bits and wrap: the
    laps run from the one after the widest stretch of the ring that none
    of them holds."""
    used = sorted(set(a & 0xFFFF for a in absolutes))
    if not used:
        return lambda a: a & 0xFFFF
    gaps = [((b - a) & 0xFFFF, b) for a, b in zip(used[-1:] + used[:-1], used)]
    first = max(gaps)[1] if len(used) > 1 else used[0]
    return lambda a: (a - first) & 0xFFFF


def check_recordings(files, unstored_laps=(), set_back=(), gapped=()):
    """One name, one set of counters and one absolute lap for each recording;
    no lap recorded again once a later one had begun (absolute laps compared
    wrap-safe). The laps in unstored_laps ((outing, lap) pairs) were recorded
    while the NVRAM refused to store their counters: a restart gives their
    absolute laps again, and they are left out of the absolute-lap checks.
    set_back: the absolute laps at which the counters were set back to
    numbers of the caller's choice: a lap may be recorded again after one of
    them."""
    problems = []
    for key, what in ((lambda f: f.name, "name"), (lambda f: f.header_name, "header counters")):
        groups = {}
        for f in files:
            if key(f):
                groups.setdefault(key(f), []).append(f)
        for value, group in sorted(groups.items()):
            for i, a in enumerate(group):
                other = next((b for b in group[i + 1:] if not same_recording(a, b, gapped)), None)
                if other:
                    problems.append("%s and %s: two different recordings under the %s %s"
                                    % (a.where, other.where, what, value))
                    break
    laps = {}   # absolute lap -> {(outing, lap): [file]}
    for f in files:
        if f.counters and f.lap() not in unstored_laps:
            laps.setdefault(f.absolute(), {}).setdefault(f.lap(), []).append(f)
    order = lap_ring_order(laps)
    in_order = sorted(laps.items(), key=lambda item: order(item[0]))
    for absolute, pairs in in_order:
        if len(pairs) > 1:
            problems.append("absolute lap %d carried by different laps: %s" % (absolute, "; ".join(
                "outing %d lap %d in %s" % (o, l, ", ".join(f.where for f in fs)) for (o, l), fs in sorted(pairs.items()))))
    done = {}   # (outing, lap) of laps that a later one followed -> its last absolute lap
    current = None
    for absolute, pairs in in_order:
        if len(pairs) != 1:
            continue
        pair, fs = next(iter(pairs.items()))
        if pair == current:
            continue
        if pair in done and not any(order(done[pair]) < order(s) <= order(absolute) for s in set_back):
            problems.append("outing %d lap %d recorded again at absolute lap %d (%s) after outing %d lap %d had begun "
                            "(it was last recorded at absolute lap %d)"
                            % (pair + (absolute, fs[0].where) + current + (done[pair],)))
        if current is not None:
            done[current] = last_absolute
        current = pair
        last_absolute = absolute
    return problems


EVENT_START_SLACK = 600000   # 60 s: from a device's start to its first file


def measurement_groups(files):
    """{(drive, measurement index): [file, ...]} of the files with counters,
    each list in the order the device made them (absolute lap, fragment)."""
    groups = {}
    for f in files:
        if f.counters and f.meas_idx is not None:
            groups.setdefault((f.drive, f.meas_idx), []).append(f)
    for group in groups.values():
        group.sort(key=lambda f: (f.absolute(), f.counters[2]))
    return groups


STEP_SLACK = 500   # 50 ms: the events at a step back wait for the new time's first file


def files_after_a_step_back(files):
    """The ids of the files that begin before the file made before them in
    their measurement on the drive: the first files of a time that began
    with a step back."""
    stepped = set()
    for group in measurement_groups(files).values():
        for before, f in zip(group, group[1:]):
            a, b = file_time(before), file_time(f)
            if a and b and later(a[0], b[0]):
                stepped.add(id(f))
    return stepped


def check_event_starts(files, ends=None):
    """An event that began before its file began in the time of another
    file of its measurement on the drive, or in the moments before one (a
    start before its first file): a start found in no file's time is of
    another time base (the device's own before it took its master's, or
    that of a source before its restart), and its duration spans two. A
    file's time runs on to where its events may lie (ends: event_ends)."""
    ends = ends or {}
    problems = []
    for group in measurement_groups(files).values():
        spans = []
        for g in group:
            t = file_time(g)
            if not t:
                continue
            last = t[1]
            if g.rc == MEASDUMP_CUT:   # a cut file's time runs on to an unknown end
                last = (t[0] + 0x7FFFFFFF) & 0xFFFFFFFF
            elif id(g) in ends and later(ends[id(g)], last):
                last = ends[id(g)]
            spans.append((t[0], last))
        for f in group:
            for pid, ident, t, duration in f.event_keys:
                if not any(not later((start - EVENT_START_SLACK) & 0xFFFFFFFF, t) and not later(t, last)
                           for start, last in spans):
                    problems.append("%s: event 0x%08X of PID 0x%X at %d (duration %d) began in no file's time "
                                    "of its measurement" % (f.where, ident, pid, t, duration))
    return problems


def own_pid(folder):
    """The PID the folder's device runs as (its start.cfg), None unknown."""
    path = os.path.join(folder, "start.cfg")
    try:
        if not stat.S_ISREG(os.lstat(path).st_mode):   # a FIFO there is never waited on
            return None
        with open(path, errors="replace") as f:
            m = re.search(r"(?m)^pid = (\d+)", f.read())
    except OSError:
        return None
    return int(m.group(1)) if m else None


def check_events_closed(files, pid_self=None, killed=()):
    """An event opened is closed in some file of its measurement on the
    drive before the time goes back (a file made after its file begins
    before it): the step that ended the old time closed it there. An event
    open in a file cut short may stay open (its device ended).
    The step opened it again in the new time: an event of the device itself
    (PID pid_self) closed in a time that began with a step back, and opened
    before that time's first file, has its open in a file of that time (at
    or before its close's file). Another device's events follow that
    device's own time: one opened before the file is not recorded. An
    event open when its device ended (a later file cut short before the
    step, in a process the log shows ended without a stop: killed, names)
    stays open too."""
    problems = []
    for group in measurement_groups(files).values():
        closed = set((pid, ident, t) for f in group for pid, ident, t, d in f.event_keys if d != OPEN_EVENT)
        starts = [(g, file_time(g)) for g in group]
        opened = set()   # (pid, id, time) of the opens in the files of the current time so far
        time_start = None   # the first start of the current time; None for the time before any step back
        for i, f in enumerate(group):
            ft = starts[i][1]
            if ft and i and starts[i - 1][1] and later(starts[i - 1][1][0], ft[0]):
                opened, time_start = set(), ft[0]
            opened.update((pid, ident, t) for pid, ident, t, d in f.event_keys if d == OPEN_EVENT)
            for pid, ident, t, duration in f.event_keys:
                if duration in (0, OPEN_EVENT) or pid != pid_self or time_start is None or not later(time_start, t):
                    continue
                if (pid, ident, t) not in opened:
                    problems.append("%s: event 0x%08X of PID 0x%X closed at %d (duration %d) has no open in the "
                                    "files of its time, which began with a step back (its first file at %d)"
                                    % (f.where, ident, pid, t, duration, time_start))
            if f.rc == MEASDUMP_CUT:
                continue
            for pid, ident, t, duration in f.event_keys:
                if duration != OPEN_EVENT or (pid, ident, t) in closed:
                    continue
                after = starts[i + 1:]
                at = next((k for k, (g, gt) in enumerate(after) if gt and later(t, gt[0])), None)
                # a file cut short before the step, by a process that ended without a stop (killed):
                # its device ended with the event open
                ended = at is not None and any(g.rc == MEASDUMP_CUT and g.name in killed for g, _ in after[:at])
                back = after[at][0] if at is not None and not ended else None
                if back:
                    problems.append("%s: event 0x%08X of PID 0x%X opened at %d was never closed, though the time "
                                    "went back after it (%s begins at %d)"
                                    % (f.where, ident, pid, t, back.where, file_time(back)[0]))
    return problems


def check_events_opened(files, pid_self, ungated=None):
    """An event of the device's own (PID pid_self) closed with a duration
    whose begin lies in the time of a file of its measurement on the drive,
    at or before its close's file, has its open written there too (an event
    is sent when it begins, with an open duration). Not where the events
    overflowed (an overload event, id 0, stands for those discarded), nor
    where that file is cut (the cut may have taken the open). On the
    internal drives: the USB drive holds only some of the files (a stick
    pulled, full, or carried between devices). Only for the measurements
    in ungated (indexes; None: all): one under a start condition keeps what
    comes before its trigger in a ring and drops what the ring gives up,
    events too.
    """
    problems = []
    for (drive, idx), group in measurement_groups(files).items():
        if drive not in INTERNAL or (ungated is not None and idx not in ungated) or \
                any(ident == 0 for f in group for _, ident, _, _ in f.event_keys):
            continue
        opened = set()
        spans = []   # (start, last, cut) of the files so far
        for f in group:
            t_f = file_time(f)
            if t_f:
                spans.append((t_f[0], t_f[1], f.rc == MEASDUMP_CUT))
            opened.update((pid, ident, t) for pid, ident, t, d in f.event_keys if d == OPEN_EVENT)
            for pid, ident, t, duration in f.event_keys:
                if pid != pid_self or duration in (0, OPEN_EVENT) or (pid, ident, t) in opened:
                    continue
                holds = [cut for start, last, cut in spans if not later(start, t) and not later(t, last)]
                if holds and not any(holds):
                    problems.append("%s: event 0x%08X of PID 0x%X closed at %d (duration %d) has no open, though "
                                    "it began in the time of a file of its measurement"
                                    % (f.where, ident, pid, t, duration))
    return problems


def check_events_reopened(files, own):
    """Within one file, an event of the device's own (PID own) that begins
    before the end of the one of the same id written before it: closed at a
    step of the time and opened again in the time it stepped back to (a lag
    taken for a step). Events still open when written are left out; another
    PID's may be two units' under one PID."""
    problems = []
    for f in files:
        ends, seen = {}, set()
        for pid, ident, t, duration in f.event_keys:
            if pid == own and (pid, ident, t, duration) in seen:
                problems.append("%s: event 0x%08X of PID 0x%X at %d (duration %d) is written twice"
                                % (f.where, ident, pid, t, duration))
            seen.add((pid, ident, t, duration))
            if duration == OPEN_EVENT or pid != own:
                continue
            end = ends.get((pid, ident))
            if end is not None and later(end, t):
                problems.append("%s: event 0x%08X of PID 0x%X closed at %d, opened again at %d"
                                % (f.where, ident, pid, end, t))
            ends[(pid, ident)] = (t + duration) & 0xFFFFFFFF
    return problems


def what_is(path):
    """What a path that is no folder is, in a user's words."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        return "no such folder" if not os.path.islink(path) else "a link to nothing, not a folder"
    except OSError as e:
        return "not readable (%s)" % e.strerror
    kinds = ((stat.S_ISREG, "a plain file"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a character device"),
             (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket"))
    return next((name for test, name in kinds if test(mode)), "something else") + ", not a folder"


def check_folder(folder, measdump, event_times=True, leftovers=True, leftovers_before=None, open_paths=(),
                 ignore=(), lap_order=True, unstored_laps=(), set_back=(), log_unusable=False, notes=None):
    """The findings in the folder, [] when there are none.
    leftovers: look for what a cut leaves (only once a start is done);
    leftovers_before: only those modified before this time.time() instant;
    open_paths: files a running device holds open (in the making);
    ignore: "drive/name" entries a test planted there on purpose;
    lap_order: off leaves laps recorded again unreported (set_back rather
    names where a test set the counters back);
    unstored_laps: (outing, lap) pairs recorded while the test kept the NVRAM
    from storing their counters; set_back: absolute laps at which the test
    set the counters back (check_recordings); log_unusable: the test made
    the log unable to tell (removed or rotated it): no gaps are checked
    then, where otherwise that is a finding; notes: a list that takes what
    was left out or could not be checked without being a finding (the
    summary's lines)."""
    notes = [] if notes is None else notes
    if not os.path.isdir(folder):
        return ["%s: %s: the recordings cannot be checked" % (folder, what_is(folder))]
    if not log_unusable and not any(os.path.isfile(os.path.join(folder, name)) for name in ("log.txt", "log.1.txt")):
        return ["%s: no log.txt: the recordings cannot be checked" % folder]
    ignore = set(ignore)
    files = read_files(folder, measdump, ignore)
    others = other_devices_files(folder, files)
    if others:
        notes.append("usb_meas: %d files of other devices left out (%s)" % (len(others), ", ".join(
            "0x%08X" % u for u in sorted(set(f.logger for f in others)))))
        files = [f for f in files if f not in others]
    problems = []
    ends = event_ends(files, recording_gaps.orderly_runs(folder)) if event_times else {}
    stepped = files_after_a_step_back(files)
    for f in files:
        problems += check_file(f, event_times, ends.get(id(f)), STEP_SLACK if id(f) in stepped else 0)
    if event_times:
        # the order the files were made in is the order of their counters
        pid = own_pid(folder)
        problems += check_event_starts(files, ends) + check_events_reopened(files, pid)
        problems += check_events_opened(files, pid, recording_gaps.ungated(folder))
        problems += check_events_closed(files, pid, recording_gaps.killed_files(folder)) if lap_order else []
        problems += recording_events_stop.check(folder, files)
    problems += foreign_loggers(folder, files)
    found = check_recordings(files, set(unstored_laps), set(set_back), gapped_files(folder))
    problems += found if lap_order else [p for p in found if "recorded again" not in p]
    problems += recording_gaps.check_gaps(folder, files, told=log_unusable, notes=notes)
    if leftovers:
        problems += find_leftovers(folder, leftovers_before, open_paths, ignore)
    return problems


def measdump_places():
    """Where measdump is looked for without --measdump, in this order: the one
    TAV9_MEASDUMP names (taken as it is); else this tree's
    build/tools/measdump; else the one beside the device TAV9_BINARY names, as
    the build puts them (BUILD/app/tav9, BUILD/tools/measdump), a relative
    TAV9_BINARY read from the working folder as scripts/run reads it, a link
    followed to the build it leads into."""
    if os.environ.get("TAV9_MEASDUMP"):
        return [os.environ["TAV9_MEASDUMP"]]
    here = os.path.dirname(os.path.abspath(__file__))
    places = [os.path.normpath(os.path.join(here, "..", "..", "build", "tools", "measdump"))]
    binary = os.environ.get("TAV9_BINARY")
    if binary:
        for device in (os.path.abspath(binary), os.path.realpath(binary)):
            beside = os.path.join(os.path.dirname(os.path.dirname(device)), "tools", "measdump")
            if beside not in places:
                places.append(beside)
    return places


def main(argv):
    p = argparse.ArgumentParser(description="Checks the recordings in a device folder.")
    p.add_argument("folder")
    p.add_argument("--measdump", help="the measdump tool (default: the one TAV9_MEASDUMP names, else "
                   "build/tools/measdump of this tree, else the one beside TAV9_BINARY's build: "
                   "BUILD/tools/measdump for BUILD/app/tav9)")
    p.add_argument("--event-times", action="store_true", help="also check that every event lies in its file's time")
    p.add_argument("--no-leftovers", action="store_true", help="do not look for empty, part and probe files")
    args = p.parse_args(argv)
    places = [args.measdump] if args.measdump is not None else measdump_places()
    measdump = next((path for path in places if os.path.isfile(path) and os.access(path, os.X_OK)), None)
    if measdump is None:
        p.error("no measdump at %s (--measdump PATH names one)" % ", nor at ".join(places))
    notes = []
    problems = check_folder(args.folder, measdump, event_times=args.event_times,
                            leftovers=not args.no_leftovers, notes=notes)
    for line in problems:
        print(line)
    for line in notes:
        print("note: " + line)
    print("%s: %s" % (args.folder, "%d findings" % len(problems) if problems else "recordings sound"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
