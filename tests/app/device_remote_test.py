#!/usr/bin/env python3
"""Logging remote control of a running device through a separate client
program (measrctrl), the way the kernel-side service forwards a desktop
tool's connect and disconnect.

The device runs in a network namespace of its own with only the loopback
interface up: 127.0.0.1 answers pings, 192.0.2.1 (a documentation address)
has no route there and never answers. Exit 77 (skipped) when no namespace can
be made.
Usage: device_remote_test.py TAV9_BINARY MEASRCTRL_BINARY SAMPLE_FOLDER
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, wait_for  # noqa: E402

UNREACHABLE = "192.0.2.1"


def namespace_prefix():
    unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
    try:
        r = subprocess.run(unshare + ["sh", "-c", "ip link set lo up"], capture_output=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if r.returncode != 0:
        return None
    return unshare + ["sh", "-c", 'ip link set lo up && exec "$0" "$@"']


def client(measrctrl, folder, code, address=None, wait=30):
    args = [measrctrl, "-t", str(wait), folder, code] + ([address] if address else [])
    r = subprocess.run(args, capture_output=True, text=True, timeout=wait + 30)
    return r.returncode, r.stdout.strip()


def running(dev):
    m = re.search(r"meas_app_running\s+= (\d)", dev.shell("meas"))
    return m and m.group(1) == "1"


def main():
    binary, measrctrl, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    r = subprocess.run([measrctrl, "--help"], capture_output=True, text=True, timeout=10)
    assert r.returncode == 0 and r.stdout.startswith("usage: measrctrl"), (r.returncode, r.stdout)
    r = subprocess.run([measrctrl, "nonsense"], capture_output=True, text=True, timeout=10)
    assert r.returncode == 3 and r.stderr.startswith("usage: measrctrl"), (r.returncode, r.stderr)
    prefix = namespace_prefix()
    if prefix is None:
        print("no network namespace available: skipped")
        sys.exit(77)
    with DeviceRun(sample, "tav9-rctrl-") as run:
        folder = run.folder
        dev = run.device(binary, prefix=prefix).wait_ready()
        wait_for(lambda: running(dev), "logging to run")

        # a tool connects: the reply comes once logging has stopped and flushed
        rc, out = client(measrctrl, folder, "e1", "127.0.0.1")
        assert (rc, out) == (0, "reply 0x00"), (rc, out)
        state = dev.shell("meas")
        for name in ("running", "stopreq", "blkstopreq"):
            assert re.search(r"meas_app_%s\s+= 0" % name, state), state
        assert "Measurement stopped" in dev.log()
        # the tool answers pings: logging stays stopped
        time.sleep(3)
        assert not running(dev)
        assert "remote lost" not in dev.log()

        # status commands get no reply
        assert client(measrctrl, folder, "d2", wait=1) == (0, "sent")

        # the tool disconnects: logging starts again
        t0 = time.time()
        assert client(measrctrl, folder, "ee", "127.0.0.1") == (0, "sent")
        assert time.time() - t0 < 5, "the client waited for a reply that never comes"

        wait_for(lambda: running(dev), "logging to start after the disconnect")
        # a tool reconnects after a while, not within the same millisecond:
        # the supervision takes the start's acknowledgement at its next pass
        time.sleep(1)

        # a tool that goes away without a word: the fifth failed ping restarts logging
        mark = len(dev.log())
        rc, out = client(measrctrl, folder, "e1", UNREACHABLE)
        assert (rc, out) == (0, "reply 0x00"), (rc, out)
        wait_for(lambda: "remote lost, do a remotestart" in dev.log()[mark:], "the restart by the supervision", 15)
        wait_for(lambda: running(dev), "logging to run again")
        lost = [line.split(": ", 1)[1] for line in dev.log()[mark:].splitlines() if " r_rCtrlLost: " in line]
        assert lost[:3] == ["remote lost, ping returns errno Network is unreachable(101)",
                            "Last message repeated 3 times.",
                            "remote lost, do a remotestart"], lost

        assert dev.stop() == 0
        dev.check_clean()
        # the queues went with the device
        rc, _ = client(measrctrl, folder, "d2", wait=1)
        assert rc == 3, rc
    print("device remote control test passed")


if __name__ == "__main__":
    main()
