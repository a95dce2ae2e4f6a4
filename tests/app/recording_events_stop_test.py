#!/usr/bin/env python3
"""The recording check's rules on what an orderly stop leaves, on planted
logs and files: an event open at the end of the last file of a recording
that stopped in order is named (on each internal drive, m01's and m03's
alike); one closed in a later file of the recording, in a recording that
was killed, or in a file cut at its end is not. A file cut at its end is
named when an orderly stop ended it, not when the process that set it up
was killed, even with its stamps just after the stop before (a slave that
took its master's time again).
Usage: recording_events_stop_test.py
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recording_events_stop  # noqa: E402
import recording_gaps  # noqa: E402

OPEN = 0xFFFFFFFF


class Planted:
    def __init__(self, drive, name, events, rc=0, stamps=None):
        self.drive, self.name, self.where, self.rc = drive, name, "%s/%s" % (drive, name), rc
        self.event_keys = events
        self.meas_idx, self.stamps, self.metas, self.error = 0, stamps or {}, [], "file cut: at its end"


def line(text, n=[0]):
    n[0] += 1
    return "2026-12-10 02:00:%02d x <150> %d rMeas: %s" % (n[0] % 60, n[0] % 60 * 1000, text)


def setup(name):
    return line("VirtualFile::VirtualFile() created with index 0, writers 0x00000003h, %s" % name)


def findings(log, files):
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "log.txt"), "w") as f:
            f.write("\n".join(log) + "\n")
        return recording_events_stop.check(d, files)


def main():
    failures = []

    def expect(what, got, want):
        if sorted(got) != sorted(want):
            failures.append("%s: got %s, want %s" % (what, got, want))

    start = line("startup: application 1, PID 1, x")
    peer, own = (3, 0x02000001, 100, OPEN), (1, 0x01000005, 150, OPEN)
    stopped = [start, line("Start new measurement"), setup("A0101000.001"), setup("B0101000.001"),
               setup("A0101000.002"), line("Stopping measurement"), line("Start new measurement"),
               setup("A0101000.003")]
    files = [Planted("meas", "A0101000.001", [peer, own]),
             Planted("meas", "A0101000.002", [(1, 0x01000005, 150, 900)]),
             Planted("meas2", "B0101000.001", [peer]),
             Planted("meas", "A0101000.003", [(3, 0x02000001, 100, 2000)])]
    expect("left open by a stop, closed only in the next recording", findings(stopped, files), [
        "meas/A0101000.002: event 0x02000001 of PID 0x3 opened at 100 is still open at the end of the last file "
        "of a recording that stopped in order",
        "meas2/B0101000.001: event 0x02000001 of PID 0x3 opened at 100 is still open at the end of the last file "
        "of a recording that stopped in order"])
    files[1].event_keys.append((3, 0x02000001, 100, 800))
    files[2].event_keys.append((3, 0x02000001, 100, 800))
    expect("closed at the stop", findings(stopped, files), [])

    killed = [start, line("Start new measurement"), setup("A0101000.001"), start, line("Start new measurement"),
              setup("A0101000.002"), line("rtpShutdown: orderly shutdown")]
    files = [Planted("meas", "A0101000.001", [peer]), Planted("meas", "A0101000.002", [own])]
    expect("a killed recording, then one ended by the shutdown", findings(killed, files), [
        "meas/A0101000.002: event 0x01000005 of PID 0x1 opened at 150 is still open at the end of the last file "
        "of a recording that stopped in order"])
    files[1].rc = 3
    expect("a file cut at its end", findings(killed, files), [])

    # a stop at stamp 21000 (placed 2 s after the start at 1000), then a
    # process killed after it made its first file, whose records carry
    # stamps 4 s after that stop, its start stamped in its own time before
    # it took its master's time
    stopped_then_killed = [start, line("starting measurement m01 with timestamp: 1000"), setup("A0101000.301"),
                           line("Stopping measurement"), start, line("starting measurement m01 with timestamp: 5000"),
                           setup("A0101000.303")]
    cut_files = [Planted("meas", "A0101000.301", [], 3, {1: [1000, 1010]}),
                 Planted("meas", "A0101000.303", [], 3, {1: [61000, 61010]})]

    def cut_findings(log):
        cover = recording_gaps.LogCover("\n".join(log) + "\n")
        return recording_gaps.unfinished_at_stop(recording_gaps.Gaps("", cut_files, cover, {}))
    expect("cut by an orderly stop, and in a killed process after it", cut_findings(stopped_then_killed), [
        "meas/A0101000.301: an orderly stop left it without its closing status block (measdump: at its end), "
        "and no line names it cut or not finished"])

    for f in failures:
        print("FAIL " + f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
