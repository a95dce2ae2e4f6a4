#!/usr/bin/env python3
"""The device's start and its end, as a new user meets them.

usage:     a call without its application number, with a bad one or with
           --help says the usage and what the number is, on stderr, and
           makes no file in the folder it was called in.
early_signal: SIGTERM while the device starts, and SIGTERM right after
           "startup: done" (the GUI may still be starting): each ends in the
           orderly shutdown, exit code 0.
xcp_port:  an XCP port that another program holds is named in log.txt with
           its port and its start.cfg key, and the device runs on.
Usage: device_start_end_test.py TAV9_BINARY SAMPLE_FOLDER [CASE ...]
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, run_tests, wait_for  # noqa: E402


def exit_limit(dev):
    """Generous for a loaded machine; a sanitizer build is many times slower."""
    return 30.0 if "startup: sanitizer build" in dev.log() else 10.0


def test_usage(binary, sample):
    with tempfile.TemporaryDirectory(prefix="tav9-usage-") as folder:
        for args, rc in ((["--help"], 0), ([], 2), (["x"], 2), (["256"], 2), (["1", "2"], 2)):
            r = subprocess.run([os.path.abspath(binary)] + args, cwd=folder, capture_output=True, text=True,
                               timeout=30)
            assert r.returncode == rc, (args, r.returncode, r.stderr)
            # asked for, the usage goes to stdout, as the tools print theirs; a wrong call's to stderr
            said, other = (r.stdout, r.stderr) if args == ["--help"] else (r.stderr, r.stdout)
            assert "usage:" in said and "APPLICATION_NUMBER (0 to 255)" in said, (args, said)
            assert other == "", (args, other)
            assert os.listdir(folder) == [], (args, os.listdir(folder))


def ended_in_order(dev, limit):
    rc = dev.proc.wait(timeout=limit)
    assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
    assert "rtpShutdown: done" in dev.log(), dev.log()[-3000:]
    dev.check_clean()


def test_early_signal(binary, sample):
    # while the start runs: the signal waits until the device can end in order
    with DeviceRun(sample) as run:
        dev = run.device(binary)
        wait_for(lambda: "startup: application" in dev.log(), "the start to begin")
        dev.proc.send_signal(signal.SIGTERM)
        ended_in_order(dev, 60)
    # right after the start: the GUI task may not have finished its own
    with DeviceRun(sample) as run:
        dev = run.device(binary)
        wait_for(lambda: "startup: done" in dev.log(), "the end of the start-up")
        dev.proc.send_signal(signal.SIGTERM)
        ended_in_order(dev, exit_limit(dev))
        assert "given up" not in dev.log(), dev.log()[-3000:]


def test_xcp_port(binary, sample):
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        holder.bind(("0.0.0.0", 0))
        port = holder.getsockname()[1]
        with DeviceRun(sample) as run:
            path = os.path.join(run.folder, "start.cfg")
            with open(path) as f:
                text = re.sub(r"(?m)^xcp_port = .*$", "xcp_port = %d" % port, f.read())
            with open(path, "w") as f:
                f.write(text)
            dev = run.device(binary).wait_ready()
            line = "UDP port %d (xcp_port of start.cfg) cannot be used" % port
            wait_for(lambda: line in dev.log(), "the XCP port to be named")
            assert "without its XCP slave" in dev.log()
            assert "value = " in dev.shell("lof_get")
            assert dev.stop() == 0
    finally:
        holder.close()


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    run_tests([test_usage, test_early_signal, test_xcp_port], (binary, sample), sys.argv[3:])


if __name__ == "__main__":
    main()
