#!/usr/bin/env python3
"""Input the device meets at its start, as a user gives it.

A command file on standard input and a socket client that connects while
the device starts: their lines run once the start is done (every command
known, the stimulus running), in order, none lost; after the end of standard
input the device stays up. A shutdown asked for while the device starts
still ends it in order. A start.cfg of many unusable lines names the first
ten and counts the rest, a key given twice is named with both lines (the
later counts), a byte-order mark before the first key is skipped. A
stimulus.cfg with CR line ends drives its signals, a line holding a NUL byte
is refused and named, a byte-order mark is skipped.
Usage: device_start_input_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import re
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, connect, read_answer, run_tests, wait_for  # noqa: E402

BOM = b"\xef\xbb\xbf"


def test_command_file_runs_after_the_start(binary, sample):
    with DeviceRun(sample) as run:
        commands = os.path.join(run.folder + ".cmds")
        with open(commands, "w") as f:
            f.write("display page 1\ngetvar stim_active\ngetvar n_engine\nlof_get\n"
                    "display page 2\ngetvar stim_active\n")
        try:
            with open(commands) as stdin:
                dev = run.device(binary, stdin=stdin)
            # a client that connects while the device starts waits as well
            wait_for(lambda: os.path.exists(os.path.join(run.folder, "shell.sock")) or dev.proc.poll() is not None,
                     "shell.sock")
            s = connect(run.folder, 60.0)
            try:
                s.sendall(b"display page 1\ngetvar stim_active\n")
                answer = read_answer(s, 2)
            finally:
                s.close()
            assert "unknown command" not in answer, answer
            assert "stim_active = 1" in answer, answer
            dev.wait_ready()
            wait_for(lambda: dev.output().count("stim_active") >= 2, "the command file's last line")
            out = dev.output()
            assert "unknown command" not in out, out
            assert "stim_active = 0" not in out and "n_engine = 0\n" not in out, out
            assert out.count("stim_active = 1") == 2, out
            assert "Lap counter" in out, out
            # the end of standard input leaves the device up
            assert "stim_active = 1" in dev.shell("getvar stim_active")
            assert dev.stop() == 0, dev.output()
            dev.check_clean()
        finally:
            os.remove(commands)


def test_shutdown_during_the_start_ends_in_order(binary, sample):
    """SIGTERM as soon as the device has logged its first lines, and reset_voz
    as the first line of its input: both end the device in order."""
    with DeviceRun(sample) as run:
        dev = run.device(binary, stdin=subprocess.PIPE)
        wait_for(lambda: "startup: application" in dev.log() or dev.proc.poll() is not None, "the start")
        dev.proc.send_signal(signal.SIGTERM)
        dev.proc.stdin.close()
        dev.wait_clean_end(60, "SIGTERM")
        wait_for(lambda: "rtpShutdown: done" in dev.log(), "the shutdown's last line")
    with DeviceRun(sample) as run:
        dev = run.device(binary, stdin=subprocess.PIPE)
        dev.proc.stdin.write(b"reset_voz\n")
        dev.proc.stdin.flush()
        dev.wait_clean_end(60, "reset_voz")
        log = dev.log()
        assert "startup: done" in log and log.index("startup: done") < log.index("rtpShutdown: done"), log
        dev.proc.stdin.close()


def write_start_cfg(folder):
    path = os.path.join(folder, "start.cfg")
    with open(path, "rb") as f:
        text = f.read().replace(b"pid = 1\n", b"")
    bad = b"".join(b"junk %d\n" % i for i in range(200000))
    with open(path, "wb") as f:
        # the first line: a key behind a byte-order mark
        f.write(BOM + b"pid = 5\n" + text + b"pid = 6\n" + bad)
    first_repeat = (BOM + b"pid = 5\n" + text).count(b"\n") + 1
    return first_repeat


def write_stimulus_cfg(folder):
    with open(os.path.join(folder, "stimulus.cfg"), "wb") as f:
        f.write(BOM + b"t_oil const 111\r"      # line 1
                b"n_engine sine 8000 4000 6000\r"  # 2
                b"t_air const 33\r"               # 3
                b"t_air\0junk const 44\r"          # 4: the NUL in column 6
                b"p_fuel const 4\r\n"             # 5
                b"gear const 3\n")                # 6


def test_start_files_as_other_editors_write_them(binary, sample):
    with DeviceRun(sample) as run:
        first_repeat = write_start_cfg(run.folder)
        write_stimulus_cfg(run.folder)
        dev = run.device(binary).wait_ready()
        log = dev.log()
        # start.cfg: the later pid counts, the repeat is named with both lines
        assert "startup: application 1, PID 6, 127.0.0.1" in log, log[:4000]
        assert "start.cfg line %d: pid again (first in line 1), the later line counts" % (first_repeat) in log, \
            log[:4000]
        assert "unknown key" not in log, log[:4000]
        named = re.findall(r"start.cfg line (\d+): no '='", log)
        assert len(named) == 10, log[:4000]
        assert [int(n) for n in named] == list(range(first_repeat + 1, first_repeat + 11)), named
        assert "AppMan_init: start.cfg: 199990 more lines not used" in log, log[:4000]
        # stimulus.cfg
        for name, value in (("t_oil", 111), ("t_air", 33), ("p_fuel", 4), ("gear", 3)):
            answer = dev.shell("getvar " + name)
            assert "%s = %d" % (name, value) in answer, answer
        assert "stimulus: NUL byte in line 4 column 6, line ignored" in log, log[:4000]
        assert "stimulus.cfg drives no signal" not in log, log
        assert dev.stop() == 0, dev.output()
        dev.check_clean()


TESTS = [test_command_file_runs_after_the_start, test_shutdown_during_the_start_ends_in_order,
         test_start_files_as_other_editors_write_them]


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    wanted = sys.argv[3:]
    run_tests(TESTS, (binary, sample), wanted)


if __name__ == "__main__":
    main()
