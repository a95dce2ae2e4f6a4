"""Finds the events a recording that stopped in order left open (used by
recording_check).

A recording runs from a start of the logging ("Start new measurement") to
the next start, and stopped in order when a stop ("Stopping measurement",
"rtpShutdown: orderly shutdown") came before it in the same process; its
files are those the log set up meanwhile ("VirtualFile::VirtualFile()
created with index .., NAME"). The stop closes every event still open in
the recording's files at its stamp, in the newest of them: an event opened
in those files on a drive and closed in none of them is reported. A
recording that no stop ended (the device was killed, or lost its power) is
not checked, nor a drive whose newest file of the recording was cut at its
end (what the cut took may hold the closes) or is missing (named by the
gap check).
"""
import re

import recording_gaps

START = re.compile(r"^\S+: Start new measurement$")
SETUP = re.compile(r"VirtualFile::VirtualFile\(\) created with index \d+, writers \S+, ([AB][0-9a-f]{7}\.[0-9a-f]{3})")
OPEN_EVENT = 0xFFFFFFFF
INTERNAL = ("meas", "meas2")


def stopped_recordings(text):
    """[[file name, ...]] of the recordings the log shows stopped in order,
    each in the order the device set its files up."""
    done, files, stopped = [], None, False
    for line in text.splitlines():
        m = recording_gaps.LOG_LINE.match(line)
        if not m:
            continue
        msg = m.group(3)
        if recording_gaps.PID.search(msg) or START.search(msg):
            if files and stopped:
                done.append(files)
            files, stopped = ([] if START.search(msg) else None), False
            continue
        if files is None:
            continue
        if recording_gaps.STOP.search(msg):
            stopped = True
            continue
        s = SETUP.search(msg)
        if s and s.group(1) not in files:
            files.append(s.group(1))
    if files and stopped:
        done.append(files)
    return done


def check(folder, files):
    """The findings: events left open by a recording that stopped in order."""
    text = recording_gaps.read_log(folder)
    by_name = {(f.drive, f.name): f for f in files}
    problems = []
    for names in stopped_recordings(text):
        for drive in INTERNAL:
            for letter in "AB":
                ran = [n for n in names if n[0] == letter]
                if not ran or (drive, ran[-1]) not in by_name:
                    continue
                last = by_name[(drive, ran[-1])]
                if last.rc == recording_gaps.CUT:
                    continue
                keys = [k for n in ran if (drive, n) in by_name for k in by_name[(drive, n)].event_keys]
                closed = set((pid, ident, t) for pid, ident, t, d in keys if d != OPEN_EVENT)
                left = []
                for pid, ident, t, d in keys:
                    if d == OPEN_EVENT and (pid, ident, t) not in closed and (pid, ident, t) not in left:
                        left.append((pid, ident, t))
                for pid, ident, t in left:
                    problems.append("%s: event 0x%08X of PID 0x%X opened at %d is still open at the end of the last "
                                    "file of a recording that stopped in order" % (last.where, ident, pid, t))
    return problems
