#!/usr/bin/env python3
"""Logging remote control of a running device through a separate client
program (measrctrl), the way the kernel-side service forwards a desktop
tool's connect and disconnect.

Two tools at once each get their own replies: the clients take turns at the
device's queues (a flock on rctrl.lock in the device folder). A tool
interrupted while it waits still takes its own reply, and one that gives up
before the device took its command takes it back (the test holds the device
still with SIGSTOP to choose the moment).

The device runs in a network namespace of its own with only the loopback
interface up: 127.0.0.1 answers pings, 192.0.2.1 (a documentation address)
has no route there and never answers. Exit 77 (skipped) when no namespace can
be made.
renamed (a fourth argument): the tool and a renamed device folder, in the
host's own network (renamed_folder).
Usage: device_remote_test.py TAV9_BINARY MEASRCTRL_BINARY SAMPLE_FOLDER [renamed]
"""
import ctypes
import ctypes.util
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, check_options, holds_file, queue_prefix, queued, remove_folder, wait_for  # noqa: E402

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


class QueueClient:
    """A remote-control client in the test's hands: it sends a command and
    takes its reply when the test says so."""

    def __init__(self, folder):
        prefix = queue_prefix(folder)
        self.rt = ctypes.CDLL(ctypes.util.find_library("rt") or None, use_errno=True)
        self.rt.mq_open.restype = ctypes.c_int
        self.rx = self.rt.mq_open((prefix + "MeasAppRCTRL_RX").encode(), os.O_WRONLY)
        self.tx = self.rt.mq_open((prefix + "MeasAppRCTRL_TX").encode(), os.O_RDONLY | os.O_NONBLOCK)
        assert self.rx >= 0 and self.tx >= 0, os.strerror(ctypes.get_errno())

    def close(self):
        self.rt.mq_close(self.rx)
        self.rt.mq_close(self.tx)

    def send(self, code):
        cmd = bytes([code, 0, 0, 0, 0])
        assert self.rt.mq_send(self.rx, cmd, len(cmd), 0) == 0, os.strerror(ctypes.get_errno())

    def replies_waiting(self):
        return queued(self.rt, self.tx)

    def commands_waiting(self):
        return queued(self.rt, self.rx)

    def receive(self):
        """The first byte of the reply in the queue, None when there is none."""
        buf = ctypes.create_string_buffer(64)
        n = self.rt.mq_receive(self.tx, buf, len(buf), None)
        return buf.raw[0] if n >= 1 else None


def two_tools_at_once(measrctrl, folder):
    """A second tool starts while the reply to the first one waits in the
    queue: it waits for its turn and leaves that reply alone."""
    lock_path = os.path.realpath(os.path.join(folder, "rctrl.lock"))
    first = QueueClient(folder)
    try:
        with open(lock_path, "a+") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # the first tool's turn, as measrctrl takes it
            first.send(0xE2)
            wait_for(lambda: first.replies_waiting() == 1, "the reply to the first tool")
            second = subprocess.Popen([measrctrl, "-t", "30", folder, "e2"], stdout=subprocess.PIPE, text=True)
            try:
                wait_for(lambda: second.poll() is not None or holds_file(second.pid, lock_path),
                         "the second tool to wait for its turn")
                assert first.receive() == 0, "the second tool took the reply to the first one"
            except BaseException:
                second.kill()
                second.wait()
                raise
        out, _ = second.communicate(timeout=60)
        assert (second.returncode, out.strip()) == (0, "reply 0x00"), (second.returncode, out)
    finally:
        first.close()

    # two tools racing, request after request: each gets a reply of its own
    def requests(_):
        return [client(measrctrl, folder, "e2", "127.0.0.1") for _ in range(15)]
    with ThreadPoolExecutor(2) as pool:
        results = [r for rs in pool.map(requests, range(2)) for r in rs]
    assert results == [(0, "reply 0x00")] * 30, results


class Frozen:
    """The device stopped (SIGSTOP) while in the block: it takes no command
    until the test lets it."""

    def __init__(self, dev):
        self.pid = dev.proc.pid

    def __enter__(self):
        os.kill(self.pid, signal.SIGSTOP)
        # The stop is carried out by each thread when it next runs. Until the
        # remote-control task has stopped it may still sit in its queue wait,
        # and the kernel hands a command straight to a waiting reader: the
        # command would never show in the queue.
        wait_for(self.all_stopped, "the device's threads to stop")
        return self

    def all_stopped(self):
        tasks = "/proc/%d/task" % self.pid
        for tid in os.listdir(tasks):
            try:
                with open("%s/%s/stat" % (tasks, tid)) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
            except (FileNotFoundError, ProcessLookupError):
                continue   # a thread that ended meanwhile
            if state not in ("T", "t"):
                return False
        return True

    def __exit__(self, *exc):
        os.kill(self.pid, signal.SIGCONT)
        return False


def interrupted_tools(dev, measrctrl, folder):
    """Tools interrupted while they wait for the reply to a command the
    device took, one after the other: each still takes its own reply and
    leaves none behind. A tool that gives up before the device took its
    command takes it back and does not say "sent". Then a restart request is
    carried out."""
    queues = QueueClient(folder)
    tools = []
    try:
        for _ in range(2):
            with Frozen(dev):
                tool = subprocess.Popen([measrctrl, "-t", "30", folder, "e1", "127.0.0.1"],
                                        stdout=subprocess.PIPE, text=True)
                tools.append(tool)
                wait_for(lambda: queues.commands_waiting() == 1, "the tool's command")
            # interrupted as soon as the device took the command (its stop takes a while)
            end = time.time() + 30
            while queues.commands_waiting() and time.time() < end:
                pass
            tool.send_signal(signal.SIGINT)
            out, _ = tool.communicate(timeout=60)
            assert (tool.returncode, out.strip()) == (0, "reply 0x00"), (tool.returncode, out)
            assert queues.replies_waiting() == 0
        with Frozen(dev):
            tool = subprocess.Popen([measrctrl, "-t", "0.5", folder, "ee", "127.0.0.1"],
                                    stdout=subprocess.PIPE, text=True)
            tools.append(tool)
            out, _ = tool.communicate(timeout=60)
            assert (tool.returncode, out.strip()) == (2, "not taken: nothing done"), (tool.returncode, out)
            assert queues.commands_waiting() == 0, "the tool left its command behind"
    finally:
        for tool in tools:
            if tool.poll() is None:
                tool.kill()
            tool.communicate()
        queues.close()
    assert not running(dev)
    assert client(measrctrl, folder, "ee", "127.0.0.1") == (0, "sent")
    wait_for(lambda: running(dev), "logging to start after the disconnect")
    assert "sending reply" not in dev.log()


def refused_disconnects_are_logged(dev, measrctrl, folder):
    """The shell's `meas destroy` holds the measurements destroyed: a tool's
    disconnects are refused, each logged with its reason at the level of the
    other remote-control lines, until `meas init` sets them up again. A
    connect without the tool's address is refused by the tool itself (the
    device would take it for its shell's own destroy)."""
    r = subprocess.run([measrctrl, folder, "e0"], capture_output=True, text=True, timeout=30)
    assert r.returncode == 3 and "needs the tool's IPv4 address" in r.stderr, (r.returncode, r.stderr)
    assert running(dev)
    assert "value = 0 = 0x0" in dev.shell("meas destroy")
    wait_for(lambda: re.search(r"meas_app_destroyreq\s+= 0", dev.shell("meas")) and not running(dev),
             "the shell's destroy to be done")
    mark = len(dev.log())
    assert client(measrctrl, folder, "ed", "127.0.0.1") == (0, "sent")
    assert client(measrctrl, folder, "ee", "127.0.0.1") == (0, "sent")
    for why in ("Pelvar disconnect: the shell's meas destroy holds the measurements destroyed, init refused",
                "Velmarix disconnect: no measurement, start refused"):
        line = re.compile(r"<150> \d+ \S+: remotectrl_listenQueue\(\) " + re.escape(why))
        wait_for(lambda: line.search(dev.log()[mark:]), "the refusal logged: " + why)
    assert not running(dev)
    assert "value = 0 = 0x0" in dev.shell("meas init")
    wait_for(lambda: running(dev), "logging to run after the shell's init")


def renamed_folder(binary, measrctrl, sample):
    """The tool reaches the device that runs in FOLDER, whatever the folder
    was named at its start: a device's folder renamed while it runs, an
    empty folder made at the old name (no device runs there: said, nothing
    written into it), a second device started there and its folder removed
    under it (it says so in one line) before it is stopped: the first device
    keeps its remote control throughout, at its new name only."""
    def tool(folder, code):
        r = subprocess.run([measrctrl, "-t", "10", folder, code], capture_output=True, text=True, timeout=60)
        return r.returncode, r.stdout.strip(), r.stderr

    def reached(dev, folder):
        mark = len(dev.log())
        assert tool(folder, "e2")[:2] == (0, "reply 0x00")
        wait_for(lambda: "RaziDereravuZiri connected" in dev.log()[mark:], "the read-out request in %s" % folder)
        assert tool(folder, "ef")[:2] == (0, "sent")

    def nobody_in(folder):
        rc, out, err = tool(folder, "e2")
        assert rc == 3 and err.startswith("measrctrl: no device runs in %s" % folder), (rc, out, err)

    with DeviceRun(sample, "tav9-rctrl-") as run:
        folder = run.folder
        moved = folder + ".moved"
        first = run.device(binary).wait_ready()
        try:
            os.rename(folder, moved)
            first.moved_to(moved)
            os.mkdir(folder)
            nobody_in(folder)
            assert os.listdir(folder) == [], os.listdir(folder)
            reached(first, moved)

            shutil.rmtree(folder)
            shutil.copytree(sample, folder, ignore=shutil.ignore_patterns("unit.id"))
            second = run.device(binary).wait_ready()
            mark = len(first.log())
            reached(second, folder)
            assert "RaziDereravuZiri" not in first.log()[mark:], "the tool at the old name reached the first device"
            # the device goes on writing in it while it is removed: what it
            # makes meanwhile goes in the next round, until the folder is gone
            for _ in range(50):
                shutil.rmtree(folder, ignore_errors=True)
                if not os.path.lexists(folder):
                    break
            assert not os.path.lexists(folder), os.listdir(folder)
            second.folder_removed()
            gone = "tav9: the device folder %s is gone (removed, or moved to another file system): the device " \
                   "runs on without it" % folder
            wait_for(lambda: gone in second.output(), "the second device to say its folder is gone")
            second.proc.send_signal(signal.SIGTERM)
            assert second.proc.wait(timeout=30) == 0, second.output()
            second.check_clean()
            assert second.output().count("is gone") == 1, second.output()

            os.mkdir(folder)
            # made again at the old name: no device's log or recordings are in it
            check_options(folder, log_unusable=True)
            nobody_in(folder)
            reached(first, moved)
            assert first.stop() == 0
            first.check_clean()
        finally:
            first.kill()
            remove_folder(moved)


def running(dev):
    m = re.search(r"meas_app_running\s+= (\d)", dev.shell("meas"))
    return m and m.group(1) == "1"


def main():
    binary, measrctrl, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    if sys.argv[4:] == ["renamed"]:
        renamed_folder(binary, measrctrl, sample)
        print("device remote control test (renamed) passed")
        return
    r = subprocess.run([measrctrl, "--help"], capture_output=True, text=True, timeout=10)
    assert r.returncode == 0 and r.stdout.startswith("usage: measrctrl"), (r.returncode, r.stdout)
    r = subprocess.run([measrctrl, "nonsense"], capture_output=True, text=True, timeout=10)
    assert r.returncode == 3 and r.stderr.startswith("measrctrl: CODE is missing after FOLDER 'nonsense'\n"
                                                      "usage: measrctrl"), (r.returncode, r.stderr)
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

        two_tools_at_once(measrctrl, folder)
        assert not running(dev)

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

        interrupted_tools(dev, measrctrl, folder)
        refused_disconnects_are_logged(dev, measrctrl, folder)

        assert dev.stop() == 0
        dev.check_clean()
        # the queues went with the device
        rc, _ = client(measrctrl, folder, "d2", wait=1)
        assert rc == 3, rc
    print("device remote control test passed")


if __name__ == "__main__":
    main()
