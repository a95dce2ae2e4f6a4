"""Finds the records a device lost without a word (used by recording_check).

A block that records without a condition has a record every period (its
raster times its divider) from the start of its measurement to the stop. A
longer gap in its time stamps, within a file or between consecutive files of
its measurement on one drive, means records were lost; it is reported unless
the device's log.txt names what covers it:
- a start of the measurement ("starting measurement m0N with timestamp: T",
  T in the gap): what lies before it is an earlier start's, however it ended
  (an orderly stop, a kill, a power cut);
- a lag of the base tick ("the base tick lagged N ms behind its clock at time
  stamp S"): the rasters lost the runs of those N ms before S; a data FIFO's
  new error ("New error BLK #.. FullCnt N, TS ErrCnt M, .. CurTs S", logged
  once a second): records refused in the 2 s before S;
- a loss: a line that says records, bytes or a file were lost, dropped, not
  written or cut, or that a write or flush failed, naming the file (it
  covers that file's gaps and those next to it, and those around a file
  missing from the drive) or its drive (it covers the gaps around its own
  moment; a drive named "not available, records are lost until it is back"
  covers them until the line that says it is back). A line of that kind
  that names no file, drive, records, bytes nor measurement is about
  something else (a lost remote control). A log that could not write its
  own lines ("log records could not be written") may have lost such a line:
  it covers every drive around its moment.
A file removed from the middle of a drive shows as a gap between the files
around it. A start that an orderly stop ended ("Stopping measurement",
"rtpShutdown: orderly shutdown") has records on each drive it wrote to
until that stop (within LOG_SLACK, the stop's place on the stamps), unless
its newest file there was cut at its end or the log names a loss.

Which blocks record without a condition the folder's configuration says
(cfg/m01.xml, cfg/m03.xml): none of a measurement with a global start
condition, nor a block with a start condition of its own; a condition on the
device's own stimulus run flag `stim_active`, which holds while the device
runs, counts as none. A block of another device's values records them as
they arrive, and a gap shows that device's absence: only blocks of the
device's own values are checked (their PID, the top byte of each address,
is the one log.txt gives the device; with none or several, nothing is). A
measurement whose files have another block count than its configuration
(the configuration changed since) is not checked.

Log lines carry the wall time; those without a time stamp of their own are
placed on the device's time stamps by the nearest line that has one.
"""
import bisect
import calendar
import os
import re
import stat
import time
import xml.etree.ElementTree as ET

# A gap of more than this many periods of its block is reported.
GAP_PERIODS = 4
# The stimulus's run flag in the signal page: 1 from the first stimulus step
# while the device runs (0 with an empty stimulus, when the measurement never
# starts at all).
STIM_ACTIVE = 0x040029
# Stamps are counted in 100 us.
STAMPS_PER_MS = 10
# How far a line without a time stamp of its own may lie from its moment
# (it is written after what it names, and its place on the stamps is only
# as good as the wall clock's): 5 s.
LOG_SLACK = 5000 * STAMPS_PER_MS

# How far back a data FIFO's error line, logged once a second, covers: 2 s.
FIFO_SPAN = 2000 * STAMPS_PER_MS

MEAS_XML = {0: "m01.xml", 2: "m03.xml"}
DRIVE_OF = {"meas": "meas:", "meas2": "meas2:", "usb_meas": "usb_meas:"}

LOG_LINE = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \S+ <\d+> (\d+) (.*)$")
START = re.compile(r"starting measurement m0(\d) with timestamp: (-?\d+)")
LAG = re.compile(r"the base tick lagged (\d+) ms behind its clock at time stamp (\d+)")
SYNC = re.compile(r"Initial sync: (\d+)")
# a block's data FIFO that was full or got stamps out of turn (logged once a
# second, at the current stamp)
STOP = re.compile(r"^\S+: (?:Stopping measurement|rtpShutdown: orderly shutdown)$")
FIFO_ERROR = re.compile(r"New error BLK #\d+, .*: FullCnt (\d+), TS ErrCnt (\d+), LastTS \d+ CurTs (\d+)")
LOSS = re.compile(r"\b(?:lost|dropped|not written|cut|not made|could not be written)\b|"
                  r"\b(?:fflush|FIOFLUSH|fwrite|write) failed\b")
# what a loss line names: a file, a drive, records, bytes or a measurement
LOSS_OF = re.compile(r"\b[AB][0-9a-f]{7}\.[0-9a-f]{3}\b|(?<!\w)(?:usb_meas|meas2|meas):|\brecords?\b|\bbytes\b|"
                     r"\bm0\d\b")
DRIVE_GONE = re.compile(r"m0*(\d): drive (\S+) not available, records are lost until it is back")
DRIVE_BACK = re.compile(r"m0*(\d): drive (\S+?) (?:available|has room for a new file again)")
DRIVE_IN = re.compile(r"(?<!\w)(?:usb_meas|meas2|meas):")
PID = re.compile(r"startup: application \d+, PID (\d+),")
CUT = 3   # measdump's exit code for a file cut at its end
FILE_NAME = re.compile(r"\b([AB][0-9a-f]{7}\.[0-9a-f]{3})\b")


def signed(d):
    """A stamp difference as a signed 32-bit number."""
    d &= 0xFFFFFFFF
    return d - (1 << 32) if d >= 0x80000000 else d


def free_blocks(folder, pid):
    """{meas_idx: (block count, {file block id: True when it records its own
    values without a condition})} of the measurements whose configuration
    can be read, on the device of that PID (an address's top byte is the
    PID of the device whose value it is)."""
    found = {}
    for idx, name in MEAS_XML.items():
        try:
            root = ET.fromstring(read_plain(os.path.join(folder, "cfg", name)))
        except ET.ParseError:
            continue
        try:
            conds = {int(c.get("idx")): int(c.get("adr"), 16) for c in root.iter("Condition")}
            gated = lambda i: i is not None and conds.get(int(i)) != pid << 24 | STIM_ACTIVE   # noqa: E731
            global_gate = any(gated(g.get("idx")) for g in root.iter("GlobStartCond"))
            own = lambda b: all(int(a.get("adr"), 16) >> 24 == pid for a in b.iter("adr"))   # noqa: E731
            blocks = {int(b.get("idx")) + 1: not global_gate and not gated(b.get("cond_id")) and own(b)
                      for b in root.iter("Block")}
        except (TypeError, ValueError):
            continue
        found[idx] = (len(blocks), blocks)
    return found


class LogCover:
    """What the log names, on the device's time stamps: the starts of each
    measurement, and windows (first, last stamp, covering file names or
    drive) of lags and losses."""

    def __init__(self, text):
        self.starts = {}     # meas_idx -> [stamp]
        self.windows = []    # (first, last, drive or None, file names)
        lines = []           # (wall ms, stamp or None, message)
        seconds = {}         # wall time text -> ms
        for line in text.splitlines():
            m = LOG_LINE.match(line)
            if not m:
                continue
            if m.group(1) not in seconds:
                seconds[m.group(1)] = calendar.timegm(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S")) * 1000
            wall = seconds[m.group(1)]
            ms = int(m.group(2))
            if ms // 1000 == wall // 1000 % 60:
                wall += ms % 1000
            msg = m.group(3)
            stamp = None
            for pattern, group in ((START, 2), (LAG, 2), (SYNC, 1), (FIFO_ERROR, 3)):
                s = pattern.search(msg)
                if s:
                    stamp = int(s.group(group)) & 0xFFFFFFFF
                    break
            lines.append((wall, stamp, msg))
        anchors = [(i, wall, stamp) for i, (wall, stamp, _) in enumerate(lines) if stamp is not None]
        gone = {}   # (meas number, drive) -> stamp since which records are lost
        self.runs = {}       # meas_idx -> [(start stamp, stamp of the stop that ended it)]
        running = {}         # meas_idx -> start stamp of a start no stop has ended yet
        for i, (wall, stamp, msg) in enumerate(lines):
            m = START.search(msg)
            if m:
                self.starts.setdefault(int(m.group(1)) - 1, []).append(stamp)
                running[int(m.group(1)) - 1] = stamp   # a start without a stop before it: not checked
                continue
            if STOP.search(msg):
                at = self._place(anchors, i, wall)
                for idx, since in running.items():
                    if at is not None:
                        self.runs.setdefault(idx, []).append((since, at))
                running = {}
                continue
            m = LAG.search(msg)
            if m:
                lagged = int(m.group(1)) * STAMPS_PER_MS
                self.windows.append(((stamp - lagged) & 0xFFFFFFFF, stamp, None, ()))
                continue
            m = FIFO_ERROR.search(msg)
            if m:
                if int(m.group(1)) or int(m.group(2)):
                    self.windows.append(((stamp - FIFO_SPAN) & 0xFFFFFFFF, stamp, None, ()))
                continue
            gone_m, back_m = DRIVE_GONE.search(msg), DRIVE_BACK.search(msg)
            loss_m = LOSS.search(msg) and LOSS_OF.search(msg)
            if not (gone_m or back_m or loss_m):
                continue
            at = self._place(anchors, i, wall)
            if at is None:   # a named loss covers its file without a moment
                if loss_m and FILE_NAME.search(msg):
                    self.windows.append((None, None, None, tuple(FILE_NAME.findall(msg))))
                continue
            m = gone_m
            if m:
                gone.setdefault((m.group(1), m.group(2)), at)
                continue
            m = back_m
            if m and (m.group(1), m.group(2)) in gone:
                since = gone.pop((m.group(1), m.group(2)))
                self.windows.append(((since - LOG_SLACK) & 0xFFFFFFFF, (at + LOG_SLACK) & 0xFFFFFFFF,
                                     m.group(2), ()))
                continue
            if loss_m:
                d = DRIVE_IN.search(msg)
                drive = d.group(0) if d else None
                self.windows.append(((at - LOG_SLACK) & 0xFFFFFFFF, (at + LOG_SLACK) & 0xFFFFFFFF, drive,
                                     tuple(FILE_NAME.findall(msg))))
        for (_, drive), since in gone.items():   # never back: lost until the end
            self.windows.append(((since - LOG_SLACK) & 0xFFFFFFFF, (since + 0x7FFFFFFF) & 0xFFFFFFFF, drive, ()))

    @staticmethod
    def _place(anchors, i, wall):
        """The stamp of log line i by the last line before it with a stamp
        (the first after it when none is before)."""
        if not anchors:
            return None
        at = bisect.bisect_right(anchors, (i, float("inf")))
        anchor = anchors[at - 1] if at else anchors[0]
        return (anchor[2] + (wall - anchor[1]) * STAMPS_PER_MS) & 0xFFFFFFFF

    def started_in(self, meas_idx, first, last, slack):
        """A start of the measurement after `first` and up to `last` + slack."""
        return any(0 < signed(s - first) and signed(s - last) <= slack for s in self.starts.get(meas_idx, ()))

    def uncovered(self, first, last, drive, named, slack):
        """The longest part of the gap (first, last) that no lag or loss
        window covers (windows widened by slack): 0 when all is covered.
        named(name): true for a file whose loss covers the gap whenever it
        was logged."""
        pieces = []
        for lo, hi, w_drive, w_names in self.windows:
            if any(named(n) for n in w_names):
                return 0
            if lo is None or w_drive is not None and w_drive != drive:
                continue
            pieces.append((signed(lo - first) - slack, signed(hi - first) + slack))
        end, longest = 0, 0
        span = signed(last - first)
        for lo, hi in sorted(pieces):
            if hi <= end:
                continue
            if lo > end:
                longest = max(longest, min(lo, span) - end)
            end = max(end, hi)
            if end >= span:
                break
        return max(longest, span - end)


def name_key(name):
    """(absolute lap, fragment) of a file name."""
    return int(name[5:8] + name[9], 16), int(name[10:12], 16)


def named_between(f, g, on_drive):
    """named() of a gap between files f and g of a drive: their own names,
    and a file of their measurement missing from the drive whose counters
    lie between theirs (absolute laps compared wrap-safe)."""
    base = name_key(f.name)[0]
    key = lambda name: ((name_key(name)[0] - base) & 0xFFFF, name_key(name)[1])  # noqa: E731

    def named(name):
        if name in (f.name, g.name):
            return True
        return name[0] == f.name[0] and name not in on_drive and key(f.name) < key(name) < key(g.name)
    return named


def block_periods(files):
    """{(meas_idx, block): period}, the smallest step between its stamps in
    any file."""
    periods = {}
    for f in files:
        for block, stamps in f.stamps.items():
            steps = [signed(b - a) for a, b in zip(stamps, stamps[1:])]
            steps = [d for d in steps if d > 0]
            if steps:
                key = (f.meas_idx, block)
                periods[key] = min(steps + ([periods[key]] if key in periods else []))
    return periods


def file_order(files):
    """The files sorted by their first stamp, wrap-safe (all of a folder's
    stamps lie within half the 32-bit range of the first file's)."""
    def first(f):
        starts = [s[0] for s in f.stamps.values() if s]
        return min(starts, key=lambda t: signed(t - starts[0]))

    firsts = [(first(f), f) for f in files if any(f.stamps.values())]
    if not firsts:
        return []
    ref = firsts[0][0]
    return [f for _, f in sorted(firsts, key=lambda p: signed(p[0] - ref))]


def read_plain(path):
    """A file's text; "" when it is missing or no plain file (a test may put
    a FIFO or a device in its place: it is never waited on)."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError:
        return ""
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return ""
        with os.fdopen(os.dup(fd), errors="replace") as f:
            return f.read()
    finally:
        os.close(fd)


def check_gaps(folder, files, log_text=None):
    """The gaps in the records of the blocks that record without a condition
    that the log does not cover (see above)."""
    if log_text is None:
        log_text = read_plain(os.path.join(folder, "log.txt"))
    pids = set(PID.findall(log_text))
    if len(pids) != 1:   # whose values are whose is not known
        return []
    config = free_blocks(folder, int(pids.pop()))
    cover = LogCover(log_text)
    periods = block_periods(files)
    problems = []

    def report(where, f, block, a, b, drive, named):
        period = periods.get((f.meas_idx, block))
        if not period or signed(b - a) <= GAP_PERIODS * period:   # no two records: no period known
            return
        slack = max(3 * period, 10 * STAMPS_PER_MS)
        if cover.started_in(f.meas_idx, a, b, slack):
            return
        if cover.uncovered(a, b, drive, named, slack) <= GAP_PERIODS * period:
            return
        problems.append("%s: block %d has no records from %d to %d (%.1f ms, its period %.1f ms), and the log "
                        "names no start, lag or loss there" % (where, block, a, b, signed(b - a) / STAMPS_PER_MS,
                                                               period / STAMPS_PER_MS))

    def free(f):
        c = config.get(f.meas_idx)
        if not c or f.block_count != c[0]:
            return []
        return [b for b, ok in sorted(c[1].items()) if ok and f.stamps.get(b)]

    seen = set()
    for f in files:
        if f.data in seen:   # a copy of a recording checked already
            continue
        seen.add(f.data)
        drive = DRIVE_OF.get(f.drive)
        for block in free(f):
            stamps = f.stamps[block]
            for a, b in zip(stamps, stamps[1:]):
                report(f.where, f, block, a, b, drive, lambda name: name == f.name)
    for drive_dir in sorted(set(f.drive for f in files)):
        for meas_idx in sorted(config):
            on_drive = file_order([f for f in files if f.drive == drive_dir and f.meas_idx == meas_idx])
            names = set(f.name for f in on_drive)
            for f, g in zip(on_drive, on_drive[1:]):
                for block in free(f):
                    if g.stamps.get(block) and block in free(g):
                        report("%s and %s" % (f.where, g.name), f, block, f.stamps[block][-1],
                               g.stamps[block][0], DRIVE_OF.get(drive_dir), named_between(f, g, names))
    for drive_dir in sorted(set(f.drive for f in files)):
        for meas_idx in sorted(config):
            problems += ended_early(cover, periods, free, [f for f in files if f.drive == drive_dir and
                                                          f.meas_idx == meas_idx], DRIVE_OF.get(drive_dir))
    return problems


def ended_early(cover, periods, free, files, drive):
    """The records missing before an orderly stop on one drive of one
    measurement: each start that a stop ended has its newest file there run
    until the stop (placed on the stamps by the wall clock: within
    LOG_SLACK), unless the log covers the time between (a file cut at its
    end lost its newest records with the cut)."""
    problems = []
    for start, stop in cover.runs.get(files[0].meas_idx if files else None, ()):
        ran = [f for f in files if any(f.stamps.values()) and
               0 <= signed(min(s[0] for s in f.stamps.values() if s) - start) <= signed(stop - start)]
        if not ran:
            continue
        newest = max(ran, key=lambda f: signed(max(s[-1] for s in f.stamps.values() if s) - start))
        if newest.rc == CUT:
            continue
        for block in free(newest):
            last = newest.stamps[block][-1]
            until = (stop - LOG_SLACK) & 0xFFFFFFFF
            period = periods.get((newest.meas_idx, block))
            if not period or signed(until - last) <= GAP_PERIODS * period:
                continue
            slack = max(3 * period, 10 * STAMPS_PER_MS)
            if cover.uncovered(last, until, drive, lambda name: name == newest.name, slack) > GAP_PERIODS * period:
                problems.append("%s: block %d has no records from %d until the stop at about %d (%.1f s later), "
                                "and the log names no loss there" % (newest.where, block, last, stop,
                                                                     signed(stop - last) / STAMPS_PER_MS / 1000))
    return problems
