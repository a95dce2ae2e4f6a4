#!/usr/bin/env python3
"""The shell command "meas" as a user types it, faster than the logging task
carries it out.

"meas start", "meas stop", "meas start" on one connection, 20 times, half of
them sent at once and half paced: after each sequence both measurements
record. Then "meas destroy", "meas start" (no measurement: refused in the
shell and the log, logging stays stopped), "meas init": every measurement
runs again, the telemetry too, whose frames reach the sample's receiver
address 127.0.0.1 port 10010. Every file the run leaves is read by measdump
(exit 0, or 3 for a file cut off at its end; never 1).

readonlytmp: the device in a mount namespace of its own whose /tmp is
read-only (its folder stays writable): a socket client's "getvar" and
"lof_get" get the command's output with their value, and the device stops
cleanly. Exit 77 (skipped) where no mount namespace can be made.
Usage: device_shell_requests_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER [readonlytmp]
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import COUNTER_STATE, DeviceRun, connect, drive_files, read_answer, wait_for  # noqa: E402

SKIPPED = 77
TELE_PORT = 10010  # the receiver of sample/cfg/m02.xml


def started(state, name):
    m = re.search(r"%s\s*: loaded = TRUE, configured \(incl\. cond\.\) = \d+, started = (\w+)" % name, state)
    return bool(m) and m.group(1) == "TRUE"


def all_running(dev, names=("MEASURE SG", "MEASURE FDE")):
    """Logging runs with the measurements named, and no request is pending
    (a stop not yet carried out leaves them running for a while)."""
    state = dev.shell("meas")
    idle = all("%-26s = 0 " % ("meas_app_" + f) in state for f in ("startreq", "stopreq", "blkstopreq"))
    return idle and "%-26s = 1 " % "meas_app_running" in state and all(started(state, n) for n in names)


def sequence(dev, paces):
    """"meas start", "meas stop", "meas start" on one connection; paces: the
    pause before the second and the third line (None: sent with the first)."""
    lines = ["meas start", "meas stop", "meas start"]
    s = connect(dev.folder, 30.0)
    try:
        if paces is None:
            s.sendall(("\n".join(lines) + "\n").encode())
            return read_answer(s, 3)
        out = ""
        for line, pause in zip(lines, (0,) + paces):
            time.sleep(pause)
            s.sendall((line + "\n").encode())
            out += read_answer(s, 1)
        return out
    finally:
        s.close()


def drain(sock):
    sock.setblocking(False)
    try:
        while True:
            sock.recv(2048)
    except BlockingIOError:
        pass
    finally:
        sock.setblocking(True)


# Run by sh in the device's own mount namespace, in its folder: the folder
# stays a writable mount of its own, /tmp above it turns read-only; then the
# device ("$0") is started.
READONLY_TMP = ('mount --bind "$PWD" "$PWD" && mount --rbind /tmp /tmp && mount -o remount,bind,ro /tmp '
                '&& exec "$0" "$@"')


def readonly_tmp(binary, sample):
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("skipped: a mount namespace needs root and unshare")
        return SKIPPED
    probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", READONLY_TMP, "true"],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        print("skipped: no read-only /tmp can be mounted here: " + probe.stderr.strip())
        return SKIPPED
    with DeviceRun(sample, "tav9-rotmp-") as run:
        dev = run.device(binary, prefix=("unshare", "-m", "--propagation", "private", "sh", "-c", READONLY_TMP))
        wait_for(lambda: "startup: done" in dev.log(), "the end of the start-up", 60.0)
        wait_for(lambda: os.path.exists(os.path.join(run.folder, "shell.sock")), "shell.sock", 60.0)
        answer = dev.shell("getvar stim_active")
        assert re.fullmatch(r"stim_active = [01]\nvalue = 0 = 0x0\n", answer), answer
        dev.wait_ready()
        answer = dev.shell("lof_get")
        assert COUNTER_STATE.search(answer) and answer.endswith("value = 0 = 0x0\n"), answer
        assert "could not be captured" not in dev.output() + dev.log()
        assert dev.stop() == 0
        dev.check_clean()
    print("device shell requests test (read-only /tmp) passed")
    return 0


def main():
    binary, measdump, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    if sys.argv[4:] == ["readonlytmp"]:
        sys.exit(readonly_tmp(binary, sample))
    tele = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        tele.bind(("127.0.0.1", TELE_PORT))
        with DeviceRun(sample, "tav9-shellreq-") as run:
            folder = run.folder
            dev = run.start_logging(binary)
            limit = 60.0 if "startup: sanitizer build" in dev.log() else 20.0
            wait_for(lambda: all_running(dev), "both measurements to record", limit)

            for i in range(20):
                # every other one paced 50 to 300 ms apart, as a user types
                paces = None if i % 2 == 0 else (0.05 + 0.025 * (i % 11), 0.3 - 0.025 * (i % 11))
                out = sequence(dev, paces)
                assert "refused" not in out, "sequence %d: %s" % (i, out)
                wait_for(lambda: all_running(dev), "both measurements to record after sequence %d" % i, limit)
            assert "Start refused" not in dev.log()

            # destroy, a start without measurement, init
            assert dev.shell("meas destroy").startswith("value = 0"), "destroy refused"
            # done once the measurement is gone and its request cleared
            def destroyed():
                state = dev.shell("meas")
                return "MEASURE SG not found" in state and re.search(r"meas_app_destroyreq\s+= 0\b", state)
            wait_for(destroyed, "the destroy", limit)
            out = dev.shell("meas start")
            assert "meas start: no measurement" in out, out
            state = dev.shell("meas")
            assert "%-26s = 0 " % "meas_app_running" in state, state
            assert "%-26s = 0 " % "meas_app_startreq" in state, state
            assert "meas start: no measurement" in dev.log()
            drain(tele)
            out = dev.shell("meas init")
            assert "refused" not in out, out
            wait_for(lambda: all_running(dev, ("MEASURE SG", "MEASURE TELE", "MEASURE FDE")),
                     "every measurement, the telemetry too, after the init", limit)
            tele.settimeout(limit)
            frame = tele.recv(2048)
            assert len(frame) > 12, frame
            # a stop keeps the telemetry running, the start after it records
            assert "refused" not in sequence(dev, None)
            wait_for(lambda: all_running(dev, ("MEASURE SG", "MEASURE TELE", "MEASURE FDE")),
                     "every measurement after the last sequence", limit)

            assert dev.stop() == 0
            dev.check_clean()
            checked = 0
            for drive in ("meas", "meas2"):
                for name in drive_files(folder, drive):
                    r = subprocess.run([measdump, os.path.join(folder, drive, name)], capture_output=True, text=True)
                    assert r.returncode in (0, 3), "%s/%s: measdump exit %d\n%s" % (drive, name, r.returncode,
                                                                                  r.stderr[-2000:])
                    checked += 1
            assert checked >= 2, checked
    finally:
        tele.close()
    print("device shell requests test passed")


if __name__ == "__main__":
    main()
