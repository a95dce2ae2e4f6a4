"""Finds the records a device lost without a word (used by recording_check).

A block that records without a condition has a record every period (its
raster times its divider) from the start of its measurement to the stop. A
longer gap in its time stamps, within a file or between consecutive files of
its measurement on one drive, means records were lost; it is reported unless
the device's log (log.1.txt, then log.txt) names what covers it:
- a start of the measurement ("starting measurement m0N with timestamp: T",
  T in the gap): what lies before it is an earlier start's, however it ended
  (an orderly stop, a kill, a power cut);
- a lag of the base tick ("the base tick lagged N ms behind its clock at time
  stamp S"): the rasters lost the runs of those N ms before S; runs of one
  raster lost ("raster r1ms: the runs of time stamps X to Y lost"), its task
  too far behind its ticks or not done at a stop: that raster's blocks from
  X to Y; the time stamp moved forward ("time: the time stamp moved
  forward N ms from X to Y"): every block's records from X to Y; a data FIFO's
  new error ("New error BLK #B, Fifo #.., PID 0xP, Raster R: FullCnt N, TS
  ErrCnt M, .. CurTs S", logged once a second): records of its own block
  refused in the 2 s before S (B numbers the blocks of m02, m01 and m03 in
  turn, their conditions after each; one whose number is not a block of
  that PID and raster covers nothing); the records a full one names lost
  ("BLK #B, Fifo #.., PID 0xP, Raster R: N records lost, time stamps X to
  Y"): its own block's from X to Y;
- a loss: a line that says records, bytes or a file were lost, dropped, not
  written, cut or not finished, or that a write or flush failed. One that
  names a file covers that file only (and a file missing from the drive
  whose gap it is), on the drive it names (any drive when it names none);
  one that names only a drive covers that drive; one that names neither
  covers nothing (another device's values, a measurement's records with no
  word of where: it cannot tell which file lost them). It covers the stamps it
  gives ("time stamps X to Y"), else its own moment (within LOG_SLACK);
  a file dropped or no longer written loses its rest too. A drive named
  "not available, records are lost until it is back" is covered until the
  line that says it is back. A line of that kind that names no file, drive,
  records, bytes nor measurement is about something else (a lost remote
  control).
A file removed from the middle of a drive shows as a gap between the files
around it. A start has its first records on each internal drive at its
start line's stamp. A file that no start of the log holds (the start
before the line that set it up, in its process; for a file no line sets up,
the start whose time holds it, to the next start or process), and a start that a shutdown
("rtpShutdown: done") ended with no stop line, cannot be checked: each is a
finding. A start that an orderly stop ended ("Stopping measurement",
"rtpShutdown: orderly shutdown", the guard's "rtpShutdown: the stop did not
end within N ms: the process ends") has records on each drive
the log made its files on until that stop: the stamp the device gives it
("m0N: recording stopped at time stamp S", a record after it is a
finding; the device gives it at every stop, so a stop without it is a
finding too, the guard's end included: it says the stamps before its own
line); without that line its newest record on any drive (not before the
log's wall clock places the stop, less LOG_SLACK). Where a start began as
the process stopped, a note says the end could not be checked. A measurement's first
record logged after a stop line, with no start asked for since, was taken
before that stop, which ends it.

Besides the gaps: the files of a measurement on a drive, in their counters'
order, hold each block's records in rising stamps (within the time of one
start of the log: a restart counts on from its own); every file on an internal drive is one a line of the log
made there; a file the log made on a drive ("opened and checked
'drive:/NAME'"), or set up for its measurement's internal drives in a start
that an orderly stop ended, is on that drive unless a line names it lost
there, the device removed it (old files for room, empty files a cut left)
or saw it go (a drive pulled or emptied); and a file an orderly stop ended
has its closing status block unless a line names it cut or not finished
(or its drive gone). A file's initial time stamp lies not after its
first records, and within a start it is the close time stamp of the file
set up before it, where a lap trigger closed that one (unless the device
names them apart). A log without the device's start line ("startup:
application .., PID P,"; rotated or emptied), or with those of several
PIDs, or of another PID than start.cfg's, cannot tell: that is a finding,
unless the caller says so.

Which blocks record without a condition the folder's configuration says
(cfg/m01.xml, cfg/m03.xml): none of a measurement with a global start
condition, nor a block with a start condition of its own; a condition on the
device's own stimulus run flag `stim_active`, which holds while the device
runs, counts as none. A block of another device's values records them as
they arrive, and a gap shows that device's absence: only blocks of the
device's own values are checked (their PID, the top byte of each address,
is the one log.txt gives the device). A measurement whose files have
another block count than its configuration (the configuration changed
since) is not checked.

Log lines carry the date and its milliseconds; a line with a stamp of its
own moment (a start, a lag, a FIFO error, the time service's "at LocTime",
"Localtime:") is placed there, and the others by the last such line before
them and the date since, never before that line (a date set back after a
stall). A line's own stamp places others only where it agrees with the line
with a stamp before or after it (stamp and date step alike): a lone wrong
stamp moves nothing.
"""
import bisect
import calendar
import collections
import os
import re
import stat
import time
import xml.etree.ElementTree as ET

# A gap of more than this many periods of its block is reported: a block
# records on its raster's grid, so one record missing is a hole.
GAP_PERIODS = 1
# How far the device's time stamp moves without a line: a slave slews back
# by 0.1 ms a gap, and a quicker time message moves it forward by less than
# 1 ms (1 ms or more is named, "time: the time stamp moved forward"). A step of a period
# and that much is such a move, not a record missing; one of whole periods
# is a hole however short.
SILENT_MOVE = 10   # 1 ms in stamps of 100 us
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

# A file's first records may come a moment before its start's line stamp
# (the line gives the first record taken, not the first of every block),
# and a block's first records a moment after it (the blocks begin one after
# the other).
GAP_SLACK_START = 100 * STAMPS_PER_MS

# How far back a data FIFO's error line, logged once a second, covers: 2 s.
FIFO_SPAN = 2000 * STAMPS_PER_MS

MEAS_XML = {0: "m01.xml", 2: "m03.xml"}
DRIVE_OF = {"meas": "meas:", "meas2": "meas2:", "usb_meas": "usb_meas:"}

LOG_LINE = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \S+ <\d+> (\d+) (.*)$")
START = re.compile(r"starting measurement m0(\d) with timestamp: (-?\d+)")
LAG = re.compile(r"the base tick lagged (\d+) ms behind its clock at time stamp (\d+)")
# runs of one sampling raster lost: its blocks' records of those stamps
RUNS_LOST = re.compile(r"\braster (r\d+ms): the runs of time stamps (\d+) to (\d+) lost\b")
# the raster codes of a sampling raster's blocks (r1ms serves the second
# 1 ms raster too)
RASTER_CODES = {"r1ms": (0, 10), "r2ms": (1,), "r5ms": (2,), "r10ms": (3,), "r20ms": (4,), "r50ms": (5,),
                "r100ms": (6,), "r200ms": (7,), "r500ms": (8,), "r1000ms": (9, 12)}
# the device's time stamp moved forward (a quicker time message, a step):
# no records lie between the two stamps
MOVED_FORWARD = re.compile(r"\btime: the time stamp moved forward [\d.]+ ms from (\d+) to (\d+)")
SYNC = re.compile(r"Initial sync: (\d+)")
# an orderly stop: a measurement's stop, the process's orderly shutdown, or
# its guard's end of a stop that took too long (its files are the stop's)
STOP = re.compile(r"^\S+: (?:Stopping measurement|rtpShutdown: orderly shutdown)$|"
                  r"^\S+: rtpShutdown: the stop did not end within \d+ ms: the process ends")
# the stamp an orderly stop stopped a measurement's recording at, as the
# device logs it
STOPPED_AT = re.compile(r"\bm0(\d): recording stopped at time stamp (\d+)\b")
# the end of the process's orderly shutdown
# a restart at a step of the time: the new time's first file begins where the
# step was seen, and holds the new time's records taken before that
RESTART_AT_STEP = re.compile(r"timestamp reset detected: restarting measurement")
NOT_RESTARTED = re.compile(r"stop asked before the restart at the time step: measurement not restarted")
# a start of the logging asked for (its measurements' first records follow)
START_ASKED = re.compile(r"^\S+: Start new measurement$")
SHUTDOWN_DONE = re.compile(r"^\S+: rtpShutdown: done$")
# a block's data FIFO that was full or got stamps out of turn (logged once a
# second, at the current stamp)
FIFO_ERROR = re.compile(r"New error BLK #(\d+), Fifo #\d+, PID 0x([0-9A-Fa-f]+), Raster (\d+), .*: FullCnt (\d+), "
                        r"TS ErrCnt (\d+), LastTS \d+ CurTs (\d+)")
# the records of its own block a full data FIFO refused, with their stamps
FIFO_LOST = re.compile(r"\bBLK #(\d+), Fifo #\d+, PID 0x([0-9A-Fa-f]+), Raster (\d+): \d+ records lost, "
                       r"time stamps (\d+) to (\d+)")
# the lines that carry the stamp of their own moment: they place themselves
# and the lines around them on the stamps
OWN_STAMP = ((START, 2), (LAG, 2), (SYNC, 1), (FIFO_ERROR, 6), (STOPPED_AT, 2),
             (re.compile(r"\bsyncState \w+ at LocTime (\d+)"), 1),
             (re.compile(r"\bLocaltime is older than datatime .*Localtime: (\d+),"), 1))
LOSS = re.compile(r"\b(?:lost|dropped|not written|cut|not made|not finished|could not be written)\b|"
                  r"\bwithout its closing\b|\b(?:fflush|FIOFLUSH|fwrite|write) failed\b")
# what a loss line names: a file, a drive, records, bytes or a measurement
LOSS_OF = re.compile(r"\b[AB][0-9a-f]{7}\.[0-9a-f]{3}\b|(?<!\w)(?:usb_meas|meas2|meas):|\brecords?\b|\bbytes\b|"
                     r"\bm0\d\b")
# a loss line that says its file is cut or not finished (not only a gap in it)
UNFINISHED = re.compile(r"\bcut\b|\bnot finished\b|\bnot closed at the stop\b|\bwithout its closing\b|"
                        r"\bclosing blocks not written\b|"
                        r"\bdropped\b|\btaken back\b|\bnothing more is written\b|\bends before them\b")
# the stamps a loss line gives of what was lost
LOST_STAMPS = re.compile(r"\btime stamps (\d+) to (\d+)\b")
# a file whose rest is lost with what the line names
LOST_REST = re.compile(r"\bdropped\b|nothing more is written|\bnot closed at the stop\b")
# the stamp a file began at, as a line that names it lost from there on gives it
FROM_STAMP = re.compile(r"\(from time stamp (\d+)\)")
DRIVE_GONE = re.compile(r"m0*(\d): drive (\S+) not available, records are lost until it is back")
DRIVE_BACK = re.compile(r"m0*(\d): drive (\S+?) (?:available|has room for a new file again)")
DRIVE_IN = re.compile(r"(?<!\w)(?:usb_meas|meas2|meas):")
PID = re.compile(r"startup: application \d+, PID (\d+),")
CUT = 3   # measdump's exit code for a file cut at its end
FILE_NAME = re.compile(r"\b([AB][0-9a-f]{7}\.[0-9a-f]{3})\b")
# a file made on a drive, and one set up for the drives of its measurement
MADE = re.compile(r"opened and checked '((?:usb_meas|meas2|meas):)/([AB][0-9a-f]{7}\.[0-9a-f]{3})'")
# a file's close time stamp that its successor's initial one is not
STAMPS_APART = re.compile(r"close_timestamp > init_timestamp \[\d+ > \d+\] \[([AB][0-9a-f]{7}\.[0-9a-f]{3}), "
                          r"([AB][0-9a-f]{7}\.[0-9a-f]{3})\]")
# a measurement file copied to the USB drive (m03's copy), under the name it got
COPIED = re.compile(r"copy success from '[^']*' to '(usb_meas:)/([AB][0-9a-f]{7}\.[0-9a-f]{3})'")
VIRTUAL = re.compile(r"VirtualFile::VirtualFile\(\) created with index \d+, writers \S+, "
                     r"([AB][0-9a-f]{7}\.[0-9a-f]{3})")
# a file the device removed itself: an old one for room, an empty one a cut left
REMOVED = re.compile(r"\bDeleting\b|\bempty measurement file\b.*\bremoved\b")
# files the device saw go from a drive (a drive pulled, or emptied under it)
FILE_GONE = re.compile(r"\bfile '([^']+)' is gone from the drive\b")
FILES_GONE = re.compile(r"\bfiles gone from drive (\S+?),")
# a drive gone with its files (a USB drive pulled): the file open then is named
MEDIA_GONE = re.compile(r"'((?:usb_meas|meas2|meas):)/[^']*' dropped due to media absence")
# the period of a block's raster in ms (the sync and lap rasters have none)
RASTER_MS = {"R1ms": 1, "R2ms": 2, "R5ms": 5, "R10ms": 10, "R20ms": 20, "R50ms": 50, "R100ms": 100, "R200ms": 200,
             "R500ms": 500, "R1s": 1000}
RASTERS = {"R1ms": 0, "R2ms": 1, "R5ms": 2, "R10ms": 3, "R20ms": 4, "R50ms": 5, "R100ms": 6, "R200ms": 7,
           "R500ms": 8, "R1s": 9, "RSYNC": 10, "RLAP": 11}


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
            periods = {int(b.get("idx")) + 1: RASTER_MS[b.get("Raster")] * STAMPS_PER_MS * int(b.get("true_div", "1"))
                       for b in root.iter("Block") if b.get("Raster") in RASTER_MS}
        except (TypeError, ValueError):
            continue
        found[idx] = (len(blocks), blocks, periods)
    return found


Window = collections.namedtuple("Window", "lo hi drive names blocks")
Window.__doc__ = """A stretch of stamps (lo to hi) whose records a line explains:
on one drive ("meas:"; None: every drive), of the named files only (empty:
any file), of some blocks only ({(measurement index, block)}; None: every
block)."""

FOREVER = 0x7FFFFFFF   # as far ahead as stamps compare


def widened(lo, hi, slack=LOG_SLACK):
    return (lo - slack) & 0xFFFFFFFF, (hi + slack) & 0xFFFFFFFF


def own_stamp(msg):
    """The stamp a line carries of its own moment, None without one."""
    for pattern, group in OWN_STAMP:
        s = pattern.search(msg)
        if s:
            return int(s.group(group)) & 0xFFFFFFFF
    return None


def loss_window(msg, at):
    """The window of a line that names a loss (None for another line): the
    stamps it gives of what was lost, else its own moment (within
    LOG_SLACK); a file dropped or no longer written loses its rest too. It
    covers only the files it names, on the drive it names."""
    if not (LOSS.search(msg) and LOSS_OF.search(msg)):
        return None
    d = DRIVE_IN.search(msg)
    names = tuple(FILE_NAME.findall(msg))
    if not d and not names:   # it says nothing of where: it excuses nothing
        return None
    s = LOST_STAMPS.search(msg)
    begun = FROM_STAMP.search(msg)
    if s:
        lo, hi = int(s.group(1)) & 0xFFFFFFFF, int(s.group(2)) & 0xFFFFFFFF
    elif begun and names and LOST_REST.search(msg):   # what it lost lies somewhere after the file began
        lo = hi = int(begun.group(1)) & 0xFFFFFFFF
    elif at is None:
        return None
    else:
        lo, hi = widened(at, at)
    if names and LOST_REST.search(msg):
        hi = (lo + FOREVER) & 0xFFFFFFFF
    return Window(lo, hi, d.group(0) if d else None, names, None)


def runs_window(msg, blocks):
    """A sampling raster's lost runs: the records of its blocks (blocks:
    block_numbers()) between the stamps the line gives."""
    m = RUNS_LOST.search(msg)
    if not m:
        return None
    codes = RASTER_CODES.get(m.group(1), ())
    which = set(b[:2] for b in blocks.values() if b[3] in codes)
    return Window(int(m.group(2)) & 0xFFFFFFFF, int(m.group(3)) & 0xFFFFFFFF, None, (), which)


def fifo_window(msg, stamp, blocks):
    """A data FIFO's new error: the records of its own block refused in
    the FIFO_SPAN before its stamp; or those it names lost with their
    stamps (blocks: block_numbers())."""
    lost = FIFO_LOST.search(msg)
    m = lost or FIFO_ERROR.search(msg)
    if not m or not (lost or int(m.group(4)) or int(m.group(5))):
        return None
    number, pid, raster = int(m.group(1)), int(m.group(2), 16), int(m.group(3))
    own = blocks.get(number)
    if not own or own[2:] != (pid, raster):   # numbered otherwise than the configuration says: no block of it known
        return None
    which = {own[:2]}
    if lost:
        return Window(int(lost.group(4)) & 0xFFFFFFFF, int(lost.group(5)) & 0xFFFFFFFF, None, (), which)
    return Window((stamp - FIFO_SPAN) & 0xFFFFFFFF, stamp, None, (), which)


class Run:
    """A start of a measurement (its index) that an orderly stop ended: its
    start stamp, the stop placed on the stamps by the log (wall-clock-placed),
    the last stamp a record of it may have (the next start, or the stop
    with LOG_SLACK), and the stamp the device says it stopped at (None
    where the log has no such line)."""

    def __init__(self, start, stop, idx=None, device_stop=None):
        self.start, self.stop, self.idx, self.device_stop = start, stop, idx, device_stop
        self.until = (stop + LOG_SLACK) & 0xFFFFFFFF
        self.stop_stamp = None   # the device's stop, else its newest record (stop_stamp())
        # the device owes the stamp of its stop (its guard's end too): not for
        # a start begun as the process stopped
        self.stamp_owed = idx is not None

    def holds(self, stamp, slack=0):
        return -slack <= signed(stamp - self.start) <= signed(self.until - self.start)


class LogCover:
    """What the log says, on the device's time stamps: the starts of each
    measurement and the runs an orderly stop ended, the windows of lags and
    losses, the files it made on each drive, and the files it names as
    lost, cut or not finished."""

    def __init__(self, text, blocks=None):
        self.starts = {}     # meas_idx -> [stamp]
        self.windows = []    # [Window]
        self.runs = {}       # meas_idx -> [Run]
        self.made = {}       # (drive, name) -> stamp of the line that made the file on that drive
        self.copied = set()  # (drive, name) of the copies the log made
        self.virtual = {}    # name -> stamp of the line that set the file up for its drives
        self.virtual_stopped = set()  # names set up in a start that an orderly stop ended
        self.named = []      # (drive or None, name) of the files a loss line names
        self.unfinished = []  # (drive or None, name) of those it names cut or not finished
        self.removed = set()  # (drive or None, name) of the files the device removed
        self.stamps_apart = set()  # (name, next name): a file's close time stamp not its successor's initial
        self.step_spans = set()    # indexes in spans of the starts a restart at a step of the time made
        step_restart = set()       # meas_idx whose next start is that restart's
        self.emptied = []    # (drive, stamp) of the lines that saw a drive's files gone
        self.start_lines = 0  # the device's start lines ("startup: application ...")
        self.spans = []      # [meas_idx, start stamp, end stamp or None (the log's end)] of each start
        self.unstopped = []  # (meas_idx, start stamp) of starts a shutdown ended with no stop line
        self.file_span = {}  # name -> index in spans of the start it was set up in (None: none of its process)
        current = {}         # meas_idx -> index in spans of the process's latest start of it
        lines = self._read(text)
        anchors = self._agreeing([(i, wall, stamp) for i, (wall, stamp, _) in enumerate(lines) if stamp is not None])
        gone = {}   # (meas number, drive) -> stamp since which records are lost
        running = {}         # meas_idx -> start stamp of a start no stop has ended yet
        shutting_down = False  # the process's orderly shutdown has begun
        stopped = []         # the runs of the last stop, until the next start
        after_stop = False   # a stop line came, and no start was asked for since
        late_starts = set()  # meas_idx of the starts whose first record was logged as that stop ran
        stops_said = {}      # meas_idx -> the stamp a stop line to come stopped it at
        set_up = []          # names set up since the process's last stop: a kill takes them unwritten
        for i, (wall, stamp, msg) in enumerate(lines):
            at = stamp if stamp is not None else self._place(anchors, i, wall)
            if PID.search(msg):
                self.start_lines += 1
                for span in self.spans:   # a new process: the last one's starts ended before it
                    if span[2] is None:
                        span[2] = at if at is not None else span[1]
                running = {}          # what the last process started and no stop ended: killed, not checked
                stops_said = {}
                set_up = []
                current = {}
                shutting_down = after_stop = False
                late_starts, step_restart = set(), set()
                continue
            if RESTART_AT_STEP.search(msg):
                step_restart = set(MEAS_XML)
            if NOT_RESTARTED.search(msg):   # a stop came first: no restart follows
                step_restart = set()
            if START_ASKED.search(msg):
                after_stop = False
            m = START.search(msg)
            if m:
                # a measurement's first record logged after a stop line, with no start asked
                # for since: taken before that stop, which ends it (its own line is late)
                late = after_stop and not shutting_down
                self.starts.setdefault(int(m.group(1)) - 1, []).append(stamp)
                for span in self.spans:
                    if span[0] == int(m.group(1)) - 1 and span[2] is None:
                        span[2] = stamp
                self.spans.append([int(m.group(1)) - 1, stamp, None])
                if int(m.group(1)) - 1 in step_restart:
                    step_restart.discard(int(m.group(1)) - 1)
                    self.step_spans.add(len(self.spans) - 1)
                current[int(m.group(1)) - 1] = len(self.spans) - 1
                for run in stopped if not late else ():   # what follows is the next start's
                    if 0 <= signed(stamp - run.stop) < signed(run.until - run.stop):
                        run.until = (stamp - 1) & 0xFFFFFFFF
                if shutting_down:     # begun as the process stopped: that stop's fast stop ends it
                    run = Run(stamp, stamp, int(m.group(1)) - 1)
                    run.stamp_owed = False
                    self.runs.setdefault(int(m.group(1)) - 1, []).append(run)
                    stopped.append(run)
                    continue
                running[int(m.group(1)) - 1] = stamp   # a start without a stop before it: not checked
                if late:
                    late_starts.add(int(m.group(1)) - 1)
                else:
                    stopped = []
                continue
            if SHUTDOWN_DONE.search(msg):   # a shutdown the log has no stop line of
                self.unstopped += sorted(running.items())
                running = {}
                continue
            if STOP.search(msg):
                after_stop, late_starts = True, set()
                shutting_down = shutting_down or "rtpShutdown" in msg
                self.virtual_stopped.update(set_up)
                set_up = []
                if at is not None:
                    for idx, since in running.items():
                        run = Run(since, at, idx, stops_said.pop(idx, None))
                        self.runs.setdefault(idx, []).append(run)
                        stopped.append(run)
                running = {}
                continue
            m = STOPPED_AT.search(msg)
            if m:
                idx, at_stop = int(m.group(1)) - 1, int(m.group(2)) & 0xFFFFFFFF
                run = next((r for r in reversed(stopped) if r.idx == idx and r.device_stop is None), None)
                if run is not None:
                    run.device_stop = at_stop
                elif idx in late_starts and idx in running:   # a late start's: that stop ended it
                    run = Run(running.pop(idx), at if at is not None else at_stop, idx, at_stop)
                    self.runs.setdefault(idx, []).append(run)
                    stopped.append(run)
                    late_starts.discard(idx)
                elif idx in running:   # said before the stop's own line
                    stops_said[idx] = at_stop
                continue
            self._note_files(msg, at)
            m = VIRTUAL.search(msg)
            if m:   # the start it is set up in comes before it in the log, whatever the stamps did
                self.file_span.setdefault(m.group(1), current.get(0 if m.group(1)[0] == "A" else 2))
                if shutting_down:   # begun as the process stopped: its fast stop ends it
                    self.virtual_stopped.add(m.group(1))
                else:
                    set_up.append(m.group(1))
            m = LAG.search(msg)
            if m:
                lagged = int(m.group(1)) * STAMPS_PER_MS
                self.windows.append(Window((stamp - lagged) & 0xFFFFFFFF, stamp, None, (), None))
                continue
            m = MOVED_FORWARD.search(msg)
            if m:
                self.windows.append(Window(int(m.group(1)), int(m.group(2)), None, (), None))
                continue
            w = runs_window(msg, blocks or {})
            if w:
                self.windows.append(w)
                continue
            if FIFO_ERROR.search(msg) or FIFO_LOST.search(msg):
                w = fifo_window(msg, stamp, blocks or {})
                if w:
                    self.windows.append(w)
                continue
            gone_m, back_m = DRIVE_GONE.search(msg), DRIVE_BACK.search(msg)
            if gone_m:
                if at is not None:
                    gone.setdefault((gone_m.group(1), gone_m.group(2)), at)
                continue
            if back_m and (back_m.group(1), back_m.group(2)) in gone:
                since = gone.pop((back_m.group(1), back_m.group(2)))
                if at is not None:
                    self.windows.append(Window(*widened(since, at), back_m.group(2), (), None))
                continue
            w = loss_window(msg, at)
            if w:
                self.windows.append(w)
                self.named += [(w.drive, n) for n in w.names]
                if UNFINISHED.search(msg):
                    self.unfinished += [(w.drive, n) for n in w.names]
        for (_, drive), since in gone.items():   # never back: lost until the end (as far ahead as stamps compare)
            self.windows.append(Window((since - LOG_SLACK) & 0xFFFFFFFF, (since - LOG_SLACK + FOREVER) & 0xFFFFFFFF,
                                       drive, (), None))

    @staticmethod
    def _read(text):
        """[(wall ms, own stamp or None, message)] of the log's lines."""
        lines = []
        seconds = {}         # wall time text -> ms
        for line in text.splitlines():
            m = LOG_LINE.match(line)
            if not m:
                continue
            if m.group(1) not in seconds:
                seconds[m.group(1)] = calendar.timegm(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S")) * 1000
            wall = seconds[m.group(1)]
            ms = int(m.group(2))   # the same clock's milliseconds, within 100 s
            if ms // 1000 == wall // 1000 % 100:
                wall += ms % 1000
            msg = m.group(3)
            lines.append((wall, own_stamp(msg), msg))
        return lines

    def _note_files(self, msg, at):
        """The files the line says the device made, set up or removed."""
        m = MADE.search(msg)
        if m:
            self.made[(m.group(1), m.group(2))] = at
        m = COPIED.search(msg)
        if m:
            self.copied.add((m.group(1), m.group(2)))
        m = STAMPS_APART.search(msg)
        if m:
            self.stamps_apart.add(m.groups())
        m = VIRTUAL.search(msg)
        if m:
            self.virtual.setdefault(m.group(1), at)
        m = FILE_GONE.search(msg)
        if m:
            d = DRIVE_IN.search(m.group(1))
            self.removed.update((d.group(0) if d else None, n) for n in FILE_NAME.findall(m.group(1)))
        m = FILES_GONE.search(msg) or MEDIA_GONE.search(msg)
        if m and at is not None:
            self.emptied.append((m.group(1), at))
        if REMOVED.search(msg):
            d = DRIVE_IN.search(msg)
            self.removed.update((d.group(0) if d else None, n) for n in FILE_NAME.findall(msg))

    @staticmethod
    def _agreeing(anchors):
        """The lines with a stamp of their own that agree with a neighbour
        (the one before or after: their stamps and dates step alike, within
        LOG_SLACK): a lone wrong stamp places no line. A step of the time
        shows in the lines after it too; a lone anchor is kept."""
        if len(anchors) < 2:
            return anchors

        def agree(a, b):
            return abs(signed(b[2] - a[2]) - (b[1] - a[1]) * STAMPS_PER_MS) <= LOG_SLACK
        return [a for k, a in enumerate(anchors)
                if (k and agree(anchors[k - 1], a)) or (k + 1 < len(anchors) and agree(a, anchors[k + 1]))]

    @staticmethod
    def _place(anchors, i, wall):
        """The stamp of log line i by the last line before it with a stamp
        (the first after it when none is before). A wall clock set back
        since that line does not place it before that line's stamp."""
        if not anchors:
            return None
        at = bisect.bisect_right(anchors, (i, float("inf")))
        anchor = anchors[at - 1] if at else anchors[0]
        ahead = (wall - anchor[1]) * STAMPS_PER_MS
        return (anchor[2] + (max(ahead, 0) if at else ahead)) & 0xFFFFFFFF

    def wrote_to(self, drive, letter, run):
        """The log made a file of the measurement (its letter) on the drive
        during the run: the drive was written as the run went (a copy is
        made later, of what another drive has)."""
        return any(d == drive and name[0] == letter and at is not None and run.holds(at, LOG_SLACK)
                   for (d, name), at in self.made.items())

    def drive_lost(self, drive, at):
        """A line names the drive's records lost (the drive gone, or a loss
        of the drive that names no file) around that stamp."""
        return any(w.drive == drive and not w.names and w.blocks is None and
                   0 <= signed(at - w.lo) <= signed(w.hi - w.lo) for w in self.windows)

    def names_lost(self, drive, name):
        """A loss line names the file on that drive (or with no drive)."""
        return (drive, name) in self.named or (None, name) in self.named

    def names_unfinished(self, drive, name):
        """A loss line names the file cut or not finished on that drive (or
        with no drive)."""
        return (drive, name) in self.unfinished or (None, name) in self.unfinished

    def started_in(self, meas_idx, first, last, slack):
        """A start of the measurement after `first` and up to `last` + slack."""
        return any(0 < signed(s - first) and signed(s - last) <= slack for s in self.starts.get(meas_idx, ()))

    def uncovered(self, first, last, drive, named, slack, block=None):
        """The longest part of the gap (first, last) on the drive that no
        window covers (windows widened by slack): 0 when all is covered.
        named(name): true for a file whose gap this is (a window that names
        files covers only theirs); block: (measurement index, block)."""
        pieces = []
        for w in self.windows:
            if w.drive is not None and w.drive != drive:
                continue
            if signed(w.hi - w.lo) < 0:   # stamps that run backwards name no stretch (and never the whole ring)
                continue
            if w.names and not any(named(n) for n in w.names):
                continue
            if w.blocks is not None and block not in w.blocks:
                continue
            lo = signed(w.lo - first)
            pieces.append((lo - slack, lo + ((w.hi - w.lo) & 0xFFFFFFFF) + slack))
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


def named_between(f, g):
    """named() of a gap between files f and g of a drive: their own names,
    and a file of their measurement whose counters lie between theirs
    (absolute laps compared wrap-safe): missing from the drive, or there
    without records of the block (g is the next file that has them), which
    a line may name cut short."""
    base = name_key(f.name)[0]
    key = lambda name: ((name_key(name)[0] - base) & 0xFFFF, name_key(name)[1])  # noqa: E731

    def named(name):
        if name in (f.name, g.name):
            return True
        return name[0] == f.name[0] and key(f.name) < key(name) < key(g.name)
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


def block_chain(files, block):
    """The files that hold records of the block, in the order of their first
    record of it, wrap-safe (all of a folder's stamps lie within half the
    32-bit range of the first file's). Each block goes by its own records:
    a slow block's record stamped before a lap trigger but stored after the
    file before has closed begins the next file, and a file's initial time
    stamp may be a lap trigger's from long before its first record."""
    held = [f for f in files if f.stamps.get(block)]
    if not held:
        return []
    ref = held[0].stamps[block][0]
    return sorted(held, key=lambda f: signed(f.stamps[block][0] - ref))


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


def block_numbers(folder):
    """{number: (meas_idx, file block, PID, raster code)} of the data
    blocks as the device numbers them across its measurements (m02, m01,
    m03, each its blocks and then its conditions): a data FIFO's error names
    its block so."""
    numbers, n = {}, 0
    for idx in (1, 0, 2):
        try:
            root = ET.fromstring(read_plain(os.path.join(folder, "cfg", "m%02d.xml" % (idx + 1))))
        except ET.ParseError:
            continue
        for b in root.iter("Block"):
            adrs = [int(a.get("adr"), 16) for a in b.iter("adr")]
            try:
                numbers[n] = (idx, int(b.get("idx")) + 1, adrs[0] >> 24 if adrs else None,
                              RASTERS.get(b.get("Raster")))
            except (TypeError, ValueError):
                pass
            n += 1
        n += len(list(root.iter("Condition")))
    return numbers


class Gaps:
    """What the gap rules share: the log's cover, the blocks' periods and
    which blocks are checked."""

    def __init__(self, folder, files, cover, config):
        self.folder, self.files, self.cover, self.config = folder, files, cover, config
        # a block's raster gives its period; its records only where the
        # configuration names no raster (a record off the grid would make a
        # short step that hides the holes)
        self.periods = block_periods(files)
        for idx, c in config.items():
            self.periods.update(((idx, block), period) for block, period in c[2].items())

    def free(self, f):
        """The file's blocks that record without a condition, with records."""
        return [b for b in self.checked(f.meas_idx, (f,)) if f.stamps.get(b)]

    def checked(self, meas_idx, files):
        """The blocks of the measurement that record without a condition,
        with a known period, whether the files hold records of them or not
        ([] when a file has another block count than the configuration)."""
        c = self.config.get(meas_idx)
        if not c or not files or any(f.block_count != c[0] for f in files):
            return []
        return [b for b, ok in sorted(c[1].items()) if ok and self.periods.get((meas_idx, b))]

    def off_grid(self, where, f, block, a, b, c, drive, named):
        """A record at b off its raster's grid: its step from a is no whole
        number of periods, while the next record, at c, is back on a's grid
        (a move of the time shifts the records after it too), unless a
        start or a step of the time (a line that covers the stamps between)
        lies there."""
        period = self.periods.get((f.meas_idx, block))
        if not period or signed(b - a) <= 0 or signed(b - a) % period == 0 or signed(c - a) % period:
            return []
        if self.cover.started_in(f.meas_idx, a, b, GAP_SLACK_START + period):
            return []
        if not self.cover.uncovered(a, b, drive, named, max(3 * period, 10 * STAMPS_PER_MS), (f.meas_idx, block)):
            return []
        return ["%s: block %d's record at %d lies off its raster's grid of %.1f ms (%d before it, %d after it), "
                "and the log names no start or step of the time there"
                % (where, block, b, period / STAMPS_PER_MS, a, c)]

    def groups(self):
        """[(drive, [files of one measurement on it])]."""
        return [(drive_dir, [f for f in self.files if f.drive == drive_dir and f.meas_idx == meas_idx])
                for drive_dir in sorted(set(f.drive for f in self.files)) for meas_idx in sorted(self.config)]

    def hole(self, f, block, a, b, drive, named, periods=GAP_PERIODS):
        """True when the records of f's block from a to b are missing (more
        than `periods` of its periods) and the log names neither a start nor
        a lag or loss there."""
        period = self.periods.get((f.meas_idx, block))
        if not period or signed(b - a) <= periods * period:   # no two records: no period known
            return False
        if signed(b - a) <= periods * period + SILENT_MOVE and signed(b - a) % period:
            return False   # the time moved on by a moment, no record is missing
        slack = max(3 * period, 10 * STAMPS_PER_MS)
        # a start's line gives the first record it took: another block's
        # first records may come before it (GAP_SLACK_START)
        if self.cover.started_in(f.meas_idx, a, b, GAP_SLACK_START + periods * period):
            return False
        return self.cover.uncovered(a, b, drive, named, slack, (f.meas_idx, block)) > periods * period

    def report(self, where, f, block, a, b, drive, named):
        if not self.hole(f, block, a, b, drive, named):
            return []
        period = self.periods[(f.meas_idx, block)]
        return ["%s: block %d has no records from %d to %d (%.1f ms, its period %.1f ms), and the log names no "
                "start, lag or loss there" % (where, block, a, b, signed(b - a) / STAMPS_PER_MS,
                                              period / STAMPS_PER_MS)]


START_CFG_PID = re.compile(r"(?m)^pid = (\d+)")


def log_unusable(cover, pids, cfg_text=""):
    """Why the log cannot tell whose the records are or where a start
    was (None when it can): no start line of the device (a log rotated
    or emptied), starts of different devices, or a start of another PID
    than the device's start parameters (cfg_text: start.cfg) give."""
    if not cover.start_lines:
        return "the log has no start line of the device (rotated or emptied?)"
    if len(pids) != 1:
        return "the log has start lines of %d devices (PIDs %s)" % (len(pids), ", ".join(sorted(pids)))
    m = START_CFG_PID.search(cfg_text)
    if m and int(m.group(1)) != int(next(iter(pids))):
        return "the log's start line gives PID %s, start.cfg PID %s" % (next(iter(pids)), m.group(1))
    return None


def records_after_stop(gaps):
    """The records of a run's files stamped after the stamp the device says
    the run stopped at."""
    problems = []
    for idx, runs in sorted(gaps.cover.runs.items()):
        for run in runs:
            if run.device_stop is None:
                continue
            for f in gaps.files:
                # the start a file belongs to, the log tells: its first records may be stamped before
                # that start (a slow block's), inside the time of the start before
                held = holding_start(gaps, f) if f.meas_idx == idx else None
                if held is None or gaps.cover.spans[held][1] != run.start:
                    continue
                for block, stamps in sorted(f.stamps.items()):
                    after = [t for t in stamps if signed(t - run.device_stop) > 0]
                    if after:
                        problems.append("%s: block %d has records after the stop at %d (%d of them, to %d)"
                                        % (f.where, block, run.device_stop, len(after), after[-1]))
    return problems


def ends_unchecked(cover, owed):
    """The runs an orderly stop ended whose stop the log does not give:
    their end cannot be checked. The device gives the stamp of every stop:
    its line missing is a finding (owed: True), whether the stop or its
    guard ended the process; the runs begun as the process stopped are the
    notes (owed: False)."""
    return ["m%02d: the end of the start at %d could not be checked: the log has no line of the stamp its "
            "orderly stop stopped it at" % (idx + 1, run.start)
            for idx, runs in sorted(cover.runs.items()) for run in runs
            if run.device_stop is None and run.stamp_owed == owed]


def read_log(folder):
    """The device's log, its rotated part first."""
    return read_plain(os.path.join(folder, "log.1.txt")) + read_plain(os.path.join(folder, "log.txt"))


def ungated(folder):
    """The indexes of the measurements with a block that records its own
    values without a condition (none under a global start condition)."""
    pids = set(PID.findall(read_log(folder)))
    if len(pids) != 1:
        return set()
    return {idx for idx, c in free_blocks(folder, int(pids.pop())).items() if any(c[1].values())}


def killed_files(folder):
    """The names of the files the log set up in a process that ended
    without a stop (killed, or its power cut)."""
    cover = LogCover(read_log(folder), block_numbers(folder))
    return set(cover.virtual) - cover.virtual_stopped


def orderly_runs(folder):
    """{meas_idx: [Run]}: the runs an orderly stop of the log ended."""
    return LogCover(read_log(folder), block_numbers(folder)).runs


def check_gaps(folder, files, log_text=None, told=False, notes=None):
    """The gaps in the records of the blocks that record without a condition
    that the log does not cover, the files the log made or set up that are
    missing, and those an orderly stop left unfinished (see above). A log
    that cannot tell is a finding, unless told (the caller knows: then
    nothing is checked). notes: a list that takes the notes of what could
    not be checked without being a finding."""
    if log_text is None:
        log_text = read_log(folder)
    pids = set(PID.findall(log_text))
    cover = LogCover(log_text, block_numbers(folder))
    why = log_unusable(cover, pids, read_plain(os.path.join(folder, "start.cfg")))
    if why:
        return [] if told or not files else ["the gaps cannot be checked: %s" % why]
    gaps = Gaps(folder, files, cover, free_blocks(folder, int(pids.pop())))
    if notes is not None:
        notes += ends_unchecked(cover, False)
    return (ends_unchecked(cover, True) + gaps_within_files(gaps) + gaps_between_files(gaps) + ended_early(gaps) +
            started_late(gaps) + unfinished_at_stop(gaps) + files_missing(gaps) + overlaps(gaps) + files_unmade(gaps) +
            files_unheld(gaps) + starts_unstopped(gaps) + records_after_stop(gaps) + file_stamps_wrong(gaps))


def files_unheld(gaps):
    """A file whose time no start of the log holds (a start line lost, a
    log rotated past it): what it should hold cannot be checked."""
    problems = []
    for f in gaps.files:
        if f.meas_idx is None:   # no header to tell: measdump's finding
            continue
        at = file_begun(gaps, f)
        if at is None:
            problems.append("%s: neither its records nor the log tell its time: it cannot be checked" % f.where)
            continue
        if holding_start(gaps, f) is None:
            problems.append("%s: no start of m%02d in the log holds its time (%d): it cannot be checked"
                            % (f.where, f.meas_idx + 1, at))
    return problems


def starts_unstopped(gaps):
    """A start that a shutdown ended with no stop line in the log: its end
    cannot be checked."""
    return ["m%02d: the start at %d ended in a shutdown the log has no stop line of: its end cannot be checked"
            % (idx + 1, start) for idx, start in gaps.cover.unstopped]


def counters_order(group):
    """The files of a measurement on a drive in the order the device made
    them: their absolute lap (16 bits, on its ring: from the one after the
    widest stretch none of them holds), then their fragment."""
    used = sorted(set(f.counters[3] & 0xFFFF for f in group))
    first = 0
    if len(used) > 1:
        first = max(((b - a) & 0xFFFF, b) for a, b in zip(used[-1:] + used[:-1], used))[1]
    return sorted(group, key=lambda f: ((f.counters[3] - first) & 0xFFFF, f.counters[2]))


def overlaps(gaps):
    """Within a measurement on a drive, its files in their counters' order
    make one rising sequence of stamps per block: a file's first record of
    a block after the last one of the file before (a frame written twice, a
    file shifted back, another run's file); the stamps go back only across
    a start the log names at the later file's first record."""
    problems = []
    for drive_dir, group in gaps.groups():
        by_start = {}   # the start whose time holds a file -> its files (each start counts on from its own)
        for f in group:
            span = holding_start(gaps, f)
            if f.counters and span is not None:
                by_start.setdefault(span, []).append(f)
        for files in by_start.values():
            prev = {}   # block -> (last stamp, file)
            for f in counters_order(files):
                for block, stamps in sorted(f.stamps.items()):
                    if not stamps:
                        continue
                    if block in prev and signed(stamps[0] - prev[block][0]) <= 0:
                        last, g = prev[block]
                        problems.append("%s: block %d's first record at %d is not after the last one of %s at %d "
                                        "(the files of a start on a drive follow each other in their counters' "
                                        "order)" % (f.where, block, stamps[0], g.where, last))
                    prev[block] = (stamps[-1], f)
    return problems


def file_stamps_wrong(gaps):
    """A file's initial and close time stamps on an internal drive (measdump
    finds a file without an initial time stamp): its initial time stamp not
    after its first records (GAP_SLACK_START: the blocks begin one after the
    other; but a restart at a step of the time begins its first file where
    the step was seen, after the new time's first records); within a start, a file set up right after one a lap trigger
    closed (the log's order) begins at that file's close time stamp, unless
    the device named the two stamps apart ("close_timestamp >
    init_timestamp")."""
    problems = []
    for drive_dir, group in gaps.groups():
        if drive_dir not in ("meas", "meas2"):
            continue
        by_start = {}
        for f in group:
            span = holding_start(gaps, f)
            if f.counters and span is not None:
                by_start.setdefault(span, []).append(f)
        set_up = list(gaps.cover.virtual)   # the names in the order the log set them up
        for span, files in by_start.items():
            by_name = {f.name: f for f in files}
            for f in files:
                init = [t for kind, t in f.metas if kind == 4]
                if not init:
                    continue
                if any(f.stamps.values()) and signed(init[0] - first_stamp(f)) > GAP_SLACK_START and \
                        span not in gaps.cover.step_spans:
                    problems.append("%s: its initial time stamp %d lies after its first record at %d"
                                    % (f.where, init[0], first_stamp(f)))
                    continue
                ahead = [n for n in set_up[:set_up.index(f.name)] if n[0] == f.name[0]] if f.name in set_up else []
                before = by_name.get(ahead[-1]) if ahead else None
                closes = [t for kind, t in before.metas if kind == 5] if before else []
                if closes and init[0] != closes[-1] and (before.name, f.name) not in gaps.cover.stamps_apart:
                    problems.append("%s: its initial time stamp %d is not the close time stamp %d of %s before it"
                                    % (f.where, init[0], closes[-1], before.name))
    return problems


def holding_start(gaps, f):
    """The index in cover.spans of the start that holds the file: the one
    before the line that set it up in the log (in its process); for a file
    no line sets up, the one whose time holds it (from its start line to the
    next start or process). None for none."""
    if f.name in gaps.cover.file_span:
        return gaps.cover.file_span[f.name]
    at = file_begun(gaps, f)
    if at is None or f.meas_idx is None:
        return None
    held = [(signed(at - start), i) for i, (idx, start, end) in enumerate(gaps.cover.spans)
            if idx == f.meas_idx and signed(at - start) >= -GAP_SLACK_START and
            (end is None or signed(at - end) <= LOG_SLACK)]
    return min(held)[1] if held else None   # the latest start before it (a span's end is only placed)


def files_unmade(gaps):
    """A file of this device that no line of the log made on its drive (or
    copied there), nor set up for its measurement's drives (a kill may take
    the line of the file's opening, never the one before it that set it
    up). Another device's files on the USB drive are left out before."""
    made = set(gaps.cover.made) | gaps.cover.copied
    return ["%s: no line of the log made it on its drive" % f.where for f in gaps.files
            if f.drive in DRIVE_OF and (DRIVE_OF[f.drive], f.name) not in made and
            f.name not in gaps.cover.virtual]


def gaps_within_files(gaps):
    """Records missing inside a file (a copy checked once)."""
    problems, seen = [], set()
    for f in gaps.files:
        if f.data in seen:   # a copy of a recording checked already
            continue
        seen.add(f.data)
        drive = DRIVE_OF.get(f.drive)
        for block in gaps.free(f):
            stamps = f.stamps[block]
            for a, b in zip(stamps, stamps[1:]):
                problems += gaps.report(f.where, f, block, a, b, drive, lambda name, f=f: name == f.name)
            for a, b, c in zip(stamps, stamps[1:], stamps[2:]):
                problems += gaps.off_grid(f.where, f, block, a, b, c, drive, lambda name, f=f: name == f.name)
    return problems


def gaps_between_files(gaps):
    """Records missing between consecutive files of a measurement on a
    drive (a file missing from its middle): each block's first record in a
    file against its last one in the file before that holds it (a file
    without records of the block in between compares nothing)."""
    problems = []
    for drive_dir, group in gaps.groups():
        # a file without records of a block between two that have some is passed over
        for block in sorted(set(b for g in group for b in gaps.free(g))):
            chain = block_chain([g for g in group if block in gaps.free(g)], block)
            for f, g in zip(chain, chain[1:]):
                problems += gaps.report("%s and %s" % (f.where, g.name), f, block, f.stamps[block][-1],
                                        g.stamps[block][0], DRIVE_OF.get(drive_dir), named_between(f, g))
    return problems


def stamp_span(f):
    """(first, last) stamp of a file's records, wrap-safe (kept with it)."""
    span = getattr(f, "stamp_span", None)
    if span is None:
        firsts = [s[0] for s in f.stamps.values() if s]
        lasts = [s[-1] for s in f.stamps.values() if s]
        span = (min(firsts, key=lambda t: signed(t - firsts[0])), max(lasts, key=lambda t: signed(t - lasts[0])))
        f.stamp_span = span
    return span


def first_stamp(f):
    return stamp_span(f)[0]


def last_stamp(f):
    return stamp_span(f)[1]


# How far before the stop's newest record the other blocks may end: the
# measurements stop one after the other, and a stop asked for stops their
# blocks one after the other too: a block may end up to STOP_PERIODS of its
# periods more before it (the first blocks stopped on a busy host).
STOP_SLACK = 50 * STAMPS_PER_MS
STOP_PERIODS = 4


def stop_stamp(gaps, run):
    """The stop of a run on the stamps: the stamp the device says it stopped
    the measurement at; without that line, its newest record on any drive,
    of any measurement (not before the stop the log's wall clock places,
    less LOG_SLACK): its end cannot be checked then (ends_unchecked)."""
    if getattr(run, "device_stop", None) is not None:
        return run.device_stop
    if getattr(run, "stop_stamp", None) is None:
        at = (run.stop - LOG_SLACK) & 0xFFFFFFFF
        for f in gaps.files:
            if any(f.stamps.values()) and run.holds(first_stamp(f)) and run.holds(last_stamp(f)):
                if signed(last_stamp(f) - at) > 0:
                    at = last_stamp(f)
        run.stop_stamp = at
    return run.stop_stamp


def run_of(gaps, f, run):
    """The file belongs to the run: the start that holds it is the run's."""
    held = holding_start(gaps, f)
    return held is not None and gaps.cover.spans[held][0] == run.idx and gaps.cover.spans[held][1] == run.start


def ended_early(gaps):
    """The records missing before an orderly stop on one drive of one
    measurement: each start that a stop ended has its newest file on each
    drive the log made its files on during the start run
    until the stop (its newest record on any drive, see stop_stamp),
    unless the log covers the time between. A file cut at its end is
    checked too: what its cut lost is named, or missing."""
    problems = []
    for drive_dir, group in gaps.groups():
        drive = DRIVE_OF.get(drive_dir)
        for run in gaps.cover.runs.get(group[0].meas_idx if group else None, ()):
            # the run's files: those the log set up in its start (a file of a start logged late,
            # as a stop ran, may lie in the stamps the run's stop was placed around)
            ran = [f for f in group if any(f.stamps.values()) and run_of(gaps, f, run)]
            if not ran or not gaps.cover.wrote_to(drive, ran[0].name[0], run):
                continue
            newest = max(ran, key=lambda f: signed(last_stamp(f) - run.start))
            stop = stop_stamp(gaps, run)
            # every block the configuration has, whether the newest file holds it or not: its
            # last record in the run's files, or the run's start when none holds one
            for block in gaps.checked(newest.meas_idx, ran):
                held = [f for f in ran if f.stamps.get(block)]
                holder = max(held, key=lambda f: signed(f.stamps[block][-1] - run.start)) if held else None
                last = holder.stamps[block][-1] if holder else run.start
                until = (stop - STOP_SLACK) & 0xFFFFFFFF
                if gaps.hole(newest, block, last, until, drive, named_from(holder or ran[0], group), STOP_PERIODS):
                    problems.append("%s: block %d has no records from %d until the stop at %d (%.1f s later), "
                                    "and the log names no loss there" % (newest.where, block, last, stop,
                                                                         signed(stop - last) / STAMPS_PER_MS / 1000))
    return problems


def started_late(gaps):
    """The records missing after a start on an internal drive: the first
    records of each block come with the start's stamp (the log's "starting
    measurement" line), in the first file the start made there."""
    problems = []
    for drive_dir, group in gaps.groups():
        if drive_dir not in ("meas", "meas2") or not group:
            continue
        drive = DRIVE_OF.get(drive_dir)
        held = {}   # the start (its index in the log's spans) that holds each file with records
        for f in group:
            span = holding_start(gaps, f) if any(f.stamps.values()) else None
            if span is not None:
                held.setdefault(span, []).append(f)
        for span, ran in sorted(held.items()):
            start = gaps.cover.spans[span][1]
            first = min(ran, key=lambda f: signed(first_stamp(f) - start))
            # every block the configuration has: its first record in the start's files (one that
            # none holds is missing until the stop: ended_early's; a kill takes what a block holds)
            for block in gaps.checked(first.meas_idx, ran):
                holders = [f for f in ran if f.stamps.get(block)]
                if not holders:
                    continue
                b = min((f.stamps[block][0] for f in holders), key=lambda t: signed(t - start))
                begun = (start + GAP_SLACK_START) & 0xFFFFFFFF   # the blocks begin one after the other
                if signed(b - begun) > 0 and gaps.hole(first, block, begun, b, drive,
                                                       named_before(first, group)):
                    problems.append("%s: block %d has no records from the start at %d to %d (%.1f s), and the log "
                                    "names no loss there" % (first.where, block, start, b,
                                                             signed(b - start) / STAMPS_PER_MS / 1000))
    return problems


def named_before(f, group):
    """named() of a gap before the first file f of a start on a drive: its
    own name, and a file of its measurement missing from the drive made
    before it."""
    names = set(g.name for g in group)
    return lambda name: name == f.name or (name[0] == f.name[0] and name not in names and
                                           name_key(name) < name_key(f.name))


def named_from(f, group):
    """named() of a gap from a record of file f to the end of its start on
    a drive: its own name, and a file of its measurement made after it."""
    return lambda name: name == f.name or (name[0] == f.name[0] and name_key(name) > name_key(f.name))


def unfinished_at_stop(gaps):
    """A file an orderly stop ended without its closing status block (cut
    at its end, or cut before its first whole record), that no line names
    as lost, cut or not finished on its drive, and whose drive the log did
    not name as gone then. A file the log set up is the stop's only when it
    was set up in a start that stop ended."""
    problems = []
    for f in gaps.files:
        if f.rc != CUT:
            continue
        # set up by a process that was killed: its stamps may lie in the time
        # after the stop before it (a slave that took its master's time again)
        if f.name in gaps.cover.file_span and f.name not in gaps.cover.virtual_stopped:
            continue
        at = file_begun(gaps, f)
        if at is None or not any(run.holds(at, GAP_SLACK_START) for run in gaps.cover.runs.get(f.meas_idx, ())):
            continue
        drive = DRIVE_OF.get(f.drive)
        if gaps.cover.names_unfinished(drive, f.name):
            continue
        if gaps.cover.drive_lost(drive, last_stamp(f) if any(f.stamps.values()) else at):
            continue
        how = f.error.splitlines()[-1].split("file cut: ")[-1] if f.error else "cut"
        what = "without its closing status block" if any(f.stamps.values()) else "with no whole record"
        problems.append("%s: an orderly stop left it %s (measdump: %s), and no line names it cut or not finished"
                        % (f.where, what, how))
    return problems


def file_begun(gaps, f):
    """The stamp a file began at: its first record, else its initial time
    stamp (a file cut before its first whole record), else the log's line
    that made it on its drive; None when nothing tells."""
    if any(f.stamps.values()):
        return first_stamp(f)
    init = [t for kind, t in getattr(f, "metas", ()) if kind == 4]
    if init:
        return init[0]
    return gaps.cover.made.get((DRIVE_OF.get(f.drive), f.name))



def files_missing(gaps):
    """A file the log made on a drive, or set up for the internal drives
    its measurement writes in a start that an orderly stop ended, that is
    not there, and that no line names
    lost on that drive (nor the device removed or saw go, nor the drive
    was gone then)."""
    problems = []
    cover = gaps.cover
    present = lambda drive_dir, name: os.path.lexists(os.path.join(gaps.folder, drive_dir, name))  # noqa: E731
    dirs = dict((v, k) for k, v in DRIVE_OF.items())
    expected = dict(cover.made)
    for name, at in cover.virtual.items():
        # a kill takes what was not written yet: only a start an orderly stop ended makes them all.
        # Which process set a file up, the log's order tells: after a kill the next process's
        # stamps may go on from where the killed one's stopped.
        if name not in cover.virtual_stopped:
            continue
        for drive, made_name in cover.made:
            if made_name[0] == name[0] and dirs.get(drive) in ("meas", "meas2"):
                expected.setdefault((drive, name), at)
    for (drive, name), at in sorted(expected.items(), key=lambda item: item[0]):
        drive_dir = dirs.get(drive)
        if drive_dir is None or present(drive_dir, name):
            continue
        if cover.names_lost(drive, name) or (drive, name) in cover.removed or (None, name) in cover.removed:
            continue
        if at is not None and any(d == drive and signed(gone - at) >= 0 for d, gone in cover.emptied):
            continue
        if at is not None and cover.drive_lost(drive, at):
            continue
        problems.append("%s/%s: the log %s it, it is not on the drive, and no line names it lost"
                        % (drive_dir, name, "made" if (drive, name) in cover.made else "set up the file for"))
    return problems
