#!/usr/bin/env python3
"""The remote-control client program (measrctrl) against a device that the
test plays: the test makes the device's two queues itself and takes the
commands and sends the replies when it says so, so that a tool can be
interrupted, give up or be killed at the moment that matters.

What must hold: a reply reaches only the tool that asked; a tool says "sent"
or prints a reply only for a command the device took, and one that gives up
takes its command back; a tool interrupted after the device took its command
keeps its turn until it has taken its reply; the reply owed to a tool that
was killed is discarded by the next tool.
Usage: measrctrl_turns_test.py MEASRCTRL_BINARY
"""
import ctypes
import ctypes.util
import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import MqAttr, holds_file, queue_prefix, queued, wait_for  # noqa: E402


RT = ctypes.CDLL(ctypes.util.find_library("rt") or None, use_errno=True)
RT.mq_open.restype = ctypes.c_int
RT.mq_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_uint, ctypes.POINTER(MqAttr)]


class FakeDevice:
    """The device's side of the queues: one command queue and one reply
    queue, one 5-byte message deep each, as the device makes them."""

    def __init__(self, folder):
        self.names = [(queue_prefix(folder) + q).encode() for q in ("MeasAppRCTRL_RX", "MeasAppRCTRL_TX")]
        self.rx = self.tx = -1
        # a running device holds a lock on its folder, and a read lock of it
        # that says so to other programs
        self.folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        fcntl.flock(self.folder_fd, fcntl.LOCK_EX)
        fcntl.fcntl(self.folder_fd, fcntl.F_OFD_SETLK, struct.pack("hhqqi", fcntl.F_RDLCK, os.SEEK_SET, 0, 0, 0))
        self.make()

    def make(self):
        attr = MqAttr(0, 1, 5, 0)
        for name in self.names:
            RT.mq_unlink(name)
        flags = os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_NONBLOCK
        self.rx = RT.mq_open(self.names[0], flags, 0o600, ctypes.byref(attr))
        self.tx = RT.mq_open(self.names[1], flags, 0o600, ctypes.byref(attr))
        assert self.rx >= 0 and self.tx >= 0, os.strerror(ctypes.get_errno())

    def end(self):
        """The device process ends: its folder's lock goes too."""
        self.close()
        os.close(self.folder_fd)

    def close(self):
        """The device goes: its queues are removed."""
        for d in (self.rx, self.tx):
            if d >= 0:
                RT.mq_close(d)
        for name in self.names:
            RT.mq_unlink(name)
        self.rx = self.tx = -1

    def restart(self):
        self.close()
        self.make()

    def commands_waiting(self):
        return queued(RT, self.rx)

    def replies_waiting(self):
        return queued(RT, self.tx)

    def take_command(self):
        """The next command's code, once a tool has sent one."""
        wait_for(lambda: self.commands_waiting() > 0, "a command")
        buf = ctypes.create_string_buffer(5)
        assert RT.mq_receive(self.rx, buf, 5, None) == 5, os.strerror(ctypes.get_errno())
        return buf.raw[0]

    def reply(self, byte):
        msg = bytes([byte, 0, 0, 0, 0])
        assert RT.mq_send(self.tx, msg, 5, 0) == 0, os.strerror(ctypes.get_errno())


class Tools:
    """The measrctrl processes of one case; every one is ended on leaving."""

    def __init__(self, measrctrl, folder):
        self.measrctrl, self.folder = measrctrl, folder
        self.lock_path = os.path.realpath(os.path.join(folder, "rctrl.lock"))
        self.procs = []

    def start(self, code, *args, wait=30):
        p = subprocess.Popen([self.measrctrl, "-t", str(wait), self.folder, code, *args],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.procs.append(p)
        return p

    def wait_for_turn(self, p, what):
        """Until p waits for its turn (or has ended)."""
        wait_for(lambda: p.poll() is not None or holds_file(p.pid, self.lock_path), what)

    @staticmethod
    def result(p, limit=60):
        out, _ = p.communicate(timeout=limit)
        return p.returncode, out.strip()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
            p.communicate()
        return False


def interrupted_tool_keeps_its_turn(tools, dev):
    """Interrupted after the device took its command, a tool waits on for
    its reply; the next tool's command goes to the device only after that."""
    first = tools.start("e1", "127.0.0.1")
    assert dev.take_command() == 0xE1
    first.send_signal(signal.SIGINT)
    second = tools.start("e2")
    tools.wait_for_turn(second, "the second tool to wait for its turn")
    assert dev.commands_waiting() == 0, "the second tool sent while the first one's reply is owed"
    dev.reply(0x00)
    assert tools.result(first) == (0, "reply 0x00")
    assert dev.take_command() == 0xE2
    dev.reply(0xFF)
    assert tools.result(second) == (1, "reply 0xFF")
    # interrupted again and again, it still takes its reply
    third = tools.start("e0", "127.0.0.1")
    assert dev.take_command() == 0xE0
    for _ in range(3):
        third.send_signal(signal.SIGINT)
        third.send_signal(signal.SIGTERM)
    dev.reply(0x00)
    assert tools.result(third) == (0, "reply 0x00")
    assert dev.replies_waiting() == 0


def tool_takes_back_what_the_device_did_not_take(tools, dev):
    """A tool that gives up, or is interrupted, before the device took its
    command takes it back and says so; nothing is left for the device."""
    for code in (["e1", "127.0.0.1"], ["ee"], ["d3"]):
        assert tools.result(tools.start(*code, wait=0.2)) == (2, "not taken: nothing done"), code
        assert dev.commands_waiting() == 0, code
    p = tools.start("e1", "127.0.0.1")
    wait_for(lambda: dev.commands_waiting() == 1, "the command")
    p.send_signal(signal.SIGINT)
    assert tools.result(p) == (2, "not taken: nothing done")
    assert dev.commands_waiting() == 0
    # a command without reply that the device takes is "sent"
    p = tools.start("ee", wait=30)
    assert dev.take_command() == 0xEE
    assert tools.result(p) == (0, "sent")


def killed_tools_reply_is_discarded(tools, dev):
    """The reply owed to a killed tool is not the next tool's: that one
    waits for it, discards it and only then sends its own command."""
    first = tools.start("e1", "127.0.0.1")
    assert dev.take_command() == 0xE1
    first.kill()
    first.wait()
    second = tools.start("e2")
    tools.wait_for_turn(second, "the second tool to take its turn")
    dev.reply(0x00)   # owed to the killed tool
    assert dev.take_command() == 0xE2
    dev.reply(0xFF)
    assert tools.result(second) == (1, "reply 0xFF")

    # a reply already waiting when the next tool comes is discarded too
    first = tools.start("e1", "127.0.0.1")
    assert dev.take_command() == 0xE1
    first.kill()
    first.wait()
    dev.reply(0xFF)
    second = tools.start("e2")
    assert dev.take_command() == 0xE2
    wait_for(lambda: dev.replies_waiting() == 0, "the orphan reply to be discarded")
    dev.reply(0x00)
    assert tools.result(second) == (0, "reply 0x00")

    # a device that restarted owes nothing: the next tool does not wait
    first = tools.start("e1", "127.0.0.1")
    assert dev.take_command() == 0xE1
    first.kill()
    first.wait()
    dev.restart()
    second = tools.start("e2")
    assert dev.take_command() == 0xE2
    dev.reply(0x00)
    assert tools.result(second) == (0, "reply 0x00")


def tool_killed_before_its_send_owes_nothing(tools, dev):
    """A tool killed while its command has not yet gone out (the command
    queue full) leaves no reply owed: the next tool does not wait for one."""
    full = bytes([0xD2, 0, 0, 0, 0])
    assert RT.mq_send(dev.rx, full, 5, 0) == 0, os.strerror(ctypes.get_errno())
    first = tools.start("e1", "127.0.0.1")
    tools.wait_for_turn(first, "the first tool to take its turn")
    first.kill()
    first.wait()
    assert dev.take_command() == 0xD2   # the queue's own command, not the tool's
    second = tools.start("e2", wait=5)
    assert dev.take_command() == 0xE2, "the next tool waited for a reply that no command asked for"
    dev.reply(0x00)
    assert tools.result(second) == (0, "reply 0x00")


def wrong_arguments_are_named(tools, dev):
    """A wrong argument is named, and nothing is sent: a code the device does
    not act on (naming the codes it knows), a code or address that is no
    number, a connect without the tool's address (the device takes address 0
    for its own shell's request, whose destroy its disconnect cannot undo),
    and a folder that is not there."""
    def refused(*args):
        r = subprocess.run([tools.measrctrl, *args], capture_output=True, text=True, timeout=30)
        assert r.returncode == 3 and r.stdout == "", (args, r.returncode, r.stdout)
        assert dev.commands_waiting() == 0, args
        return r.stderr
    folder = tools.folder
    # a refused code is told the codes --help describes, all of them
    described = re.findall(r"^  ([0-9a-f]{2})  ", subprocess.run([tools.measrctrl, "--help"], capture_output=True,
                                                                 text=True, timeout=30).stdout, re.M)
    assert sorted(described) == "d1 d2 d3 e0 e1 e2 ed ee ef".split(), described
    for code in ("ff", "00", "0xd0", "zz", "1ff", ""):
        err = refused(folder, code)
        words = "unknown code %s" % code if code in ("ff", "00", "0xd0") else "CODE '%s' is no hex byte" % code
        assert err.startswith("measrctrl: " + words), err
        assert "the device knows %s (" % " ".join(described) in err, err
    err = refused(folder, "e1", "1.2.3")
    assert err.startswith("measrctrl: IPV4 '1.2.3' is no IPv4 address"), err
    err = refused("-t", "soon", folder, "e1", "127.0.0.1")
    assert err.startswith("measrctrl: -t 'soon' is no number of seconds"), err
    for code in ("e0", "e1", "d1"):
        for address in ([], ["0.0.0.0"]):
            err = refused(folder, code, *address)
            assert err.startswith("measrctrl: %s needs the tool's IPv4 address" % code), (code, address, err)
    # words in the wrong place, or missing: named, with the short usage
    for args, words in ((["-x", folder, "d2"], "unknown option '-x': the only one is -t SECONDS, before FOLDER"),
                        ([folder, "d2", "-t", "5"], "-t SECONDS goes before FOLDER"),
                        (["-t", "5", "-t", "6", folder, "d2"], "-t is given twice"),
                        (["", "ee"], "FOLDER is empty"),
                        ([folder, "e1", "127.0.0.1", "x"], "one argument too many: 'x' after IPV4"),
                        ([folder], "CODE is missing after FOLDER '%s'" % folder),
                        ([], "FOLDER and CODE are missing"), (["-t"], "-t needs SECONDS")):
        err = refused(*args)
        assert err.startswith("measrctrl: " + words) and "\nusage: measrctrl [-t SECONDS]" in err, (args, err)
        assert len(err.splitlines()) == 2, (args, err)
    missing = os.path.join(folder, "nonexistent")
    err = refused(missing, "e1", "127.0.0.1")
    assert err.startswith("measrctrl: no folder %s: No such file or directory" % missing), err
    err = refused(tools.lock_path, "e1", "127.0.0.1")
    assert err.startswith("measrctrl: %s is no folder" % tools.lock_path), err


def lock_file_in_the_way(tools, dev):
    """Something else at rctrl.lock (a link, a FIFO, a folder) is named
    with what to do, and nothing is sent through it."""
    target = tools.lock_path + ".target"
    if os.path.lexists(tools.lock_path):
        os.remove(tools.lock_path)   # the earlier tools' file
    for make, kind in ((lambda p: os.symlink(target, p), "is a link"), (os.mkfifo, "is a FIFO"),
                       (os.mkdir, "is a folder")):
        make(tools.lock_path)
        try:
            r = subprocess.run([tools.measrctrl, tools.folder, "d2"], capture_output=True, text=True, timeout=30)
            assert r.returncode == 3 and dev.commands_waiting() == 0, (kind, r.returncode, r.stderr)
            assert r.stderr.startswith("measrctrl: %s/rctrl.lock %s" % (tools.folder, kind)), (kind, r.stderr)
            assert "remove it and measrctrl makes the file anew" in r.stderr, r.stderr
            assert not os.path.lexists(target), "the tool followed the link"
        finally:
            (os.rmdir if os.path.isdir(tools.lock_path) and not os.path.islink(tools.lock_path)
             else os.remove)(tools.lock_path)


def no_device_in_the_folder(tools, dev):
    """A folder whose device has ended (its queues left behind, as a killed
    device leaves them) has no device running: the tool says so at once and
    writes nothing into it."""
    other = tempfile.mkdtemp(prefix="tav9-rctrl-none-")
    try:
        attr = MqAttr(0, 1, 5, 0)
        name = (queue_prefix(other) + "MeasAppRCTRL_RX").encode()
        left = RT.mq_open(name, os.O_RDWR | os.O_CREAT, 0o600, ctypes.byref(attr))
        assert left >= 0, os.strerror(ctypes.get_errno())
        try:
            r = subprocess.run([tools.measrctrl, "-t", "30", other, "d2"], capture_output=True, text=True,
                               timeout=30)
            assert r.returncode == 3 and r.stderr.startswith("measrctrl: no device runs in %s" % other), r.stderr
            assert queued(RT, left) == 0 and os.listdir(other) == [], os.listdir(other)
        finally:
            RT.mq_close(left)
            RT.mq_unlink(name)
    finally:
        shutil.rmtree(other, ignore_errors=True)


def device_that_goes_away(tools, dev):
    """A device that goes while a tool waits for its reply owes it nothing
    more: the tool ends without waiting out the time the device may take."""
    p = tools.start("e1", "127.0.0.1")
    assert dev.take_command() == 0xE1
    t0 = time.time()
    dev.close()
    # the device took the command: it may have been carried out, which is
    # not the same as a command never taken
    assert tools.result(p) == (4, "taken, no reply: it may be done")
    assert time.time() - t0 < 20, "the tool waited out the device's time after the device had gone"


def main():
    measrctrl = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="tav9-rctrl-turns-")
    dev = FakeDevice(folder)
    try:
        for case in (interrupted_tool_keeps_its_turn, tool_takes_back_what_the_device_did_not_take,
                     killed_tools_reply_is_discarded, tool_killed_before_its_send_owes_nothing,
                     wrong_arguments_are_named, lock_file_in_the_way, no_device_in_the_folder,
                     device_that_goes_away):
            with Tools(measrctrl, folder) as tools:
                case(tools, dev)
    finally:
        dev.end()
        shutil.rmtree(folder, ignore_errors=True)
    print("measrctrl turns test passed")


if __name__ == "__main__":
    main()
