#!/usr/bin/env python3
"""The device against peers that stop reading or misbehave. The device runs
in one network namespace of a pair made here (scripts/netns-pair, root), the
peer (tests/app/netpeer.py) in the other; both are removed at the end.

pty: "/tyCo/0" is a pty whose buffer is full and that nobody reads; the
telemetry sends its frames there. The JSON status line still reaches the
modem every second, and SIGINT ends the device within 2 s.

closed: a peer (PID 40) opens its command and data channels and then reads
nothing, while it floods the device with bounce requests and the device pings
it every 10 ms. No raster exceeds its watchdog limit, the time messages keep
their 100 ms period, and the device disconnects the peer.

pidchange: a peer that was PID 40 goes silent and comes back from the same
address and ports as PID 45: its channels become PID 45's, and a bounce it
sends is answered.

junk: a peer (PID 40) sends 64 KiB of random bytes on its command channel
and then, as a peer does, a bounce every 0.3 s, connecting again only when
the device ended the connection: a bounce is answered within 3 s.

connloop: 10 s of TCP connections to the command port, each closed at once,
from an address that announces no device: log.txt grows by less than 1 MB
and the shell still answers. Then the same address announces itself as
PID 40 and for 10 s connects both channels from its channel ports and resets
them at once: the log grows by less than 1 MB again, each line of those
connections stops at its limit per address.

shutdown: a device with PID 2 shuts down alone, then beside a peer with
PID 1 that answers its list requests and sends commands to all devices every
2 ms: neither shutdown logs a routing error or a command it could not queue.

flood: presence messages of two PIDs with jumping sequence counters and of
ten PIDs heard once: the log lines stay bounded, and the routes of the PIDs
that went silent are removed.

Usage: device_network_peer_test.py pty|closed|pidchange|junk|connloop|shutdown|flood TAV9_BINARY SAMPLE_FOLDER SOURCE_DIR
Exit 77: skipped (no root or no namespaces here).
"""
import contextlib
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import netpeer  # noqa: E402
from device_harness import DeviceRun, wait_for  # noqa: E402

SKIP = 77
DEVICE_PID = 1


def ns_device(run, binary, ns):
    """The device started in `run`'s folder inside network namespace `ns`
    (`ip netns exec` becomes it); not yet ready."""
    return run.device(binary, prefix=("ip", "netns", "exec", ns))


def configure(folder, serial=None, pid=DEVICE_PID):
    cfg = os.path.join(folder, "start.cfg")
    with open(cfg) as f:
        text = f.read()
    text = re.sub(r"(?m)^pid = .*$", "pid = %d" % pid, text)
    text = re.sub(r"(?m)^ip = .*$", "ip = " + netpeer.DEVICE_ADDR, text)
    text = re.sub(r"(?m)^modem_ip = .*$", "modem_ip = " + netpeer.PEER_ADDR, text)
    if serial:
        text += "serial0 = %s\n" % serial
    with open(cfg, "w") as f:
        f.write(text)
    if serial:
        # the telemetry on the serial line, at its fastest frame rate
        m02 = os.path.join(folder, "cfg", "m02.xml")
        with open(m02) as f:
            text = f.read()
        text = text.replace('TelemetrieMode="ETHERNET"', 'TelemetrieMode="RW37"').replace(
            'baudrate="115200"', 'baudrate="921600"')
        with open(m02, "w") as f:
            f.write(text)


@contextlib.contextmanager
def device_in(ns, binary, sample, pid=DEVICE_PID):
    """The device with PID `pid` in namespace a, ready; ended and its folder
    removed on leaving."""
    with DeviceRun(sample, "tav9-netpeer-") as run:
        configure(run.folder, pid=pid)
        yield ns_device(run, binary, ns.a).wait_ready()


def fill_pty(slave):
    """Writes into the pty until it takes no more: nobody will read it."""
    os.set_blocking(slave, False)
    total = 0
    while True:
        try:
            total += os.write(slave, b"\0" * 4096)
        except BlockingIOError:
            return total


def pty_test(ns, binary, sample):
    master, slave = os.openpty()
    try:
        with DeviceRun(sample, "tav9-netpeer-") as run:
            pty_run(ns, binary, run, slave)
    finally:
        os.close(master)
        os.close(slave)
    print("unread pty test passed")


def pty_run(ns, binary, run, slave):
    """The device with its telemetry on the pty `slave`, the modem in namespace b."""
    configure(run.folder, serial=os.ttyname(slave))
    modem = None
    try:
        filled = fill_pty(slave)
        assert filled > 0
        with netpeer.in_namespace(ns.b):
            modem = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            modem.bind((netpeer.PEER_ADDR, 10001))
        modem.settimeout(0.2)
        dev = ns_device(run, binary, ns.a).wait_ready()
        wait_for(lambda: "Found a valid configuration for KORVA telemetry." in dev.log(), "the telemetry to start")

        # the kernel moves part of what waits into the reader's buffer later:
        # top the pty up until the device's frames find it full
        def full():
            fill_pty(slave)
            return "RW37: could not send data on serial port" in dev.log()
        wait_for(full, "the telemetry to find the line full")
        lines = []
        end = time.monotonic() + 5.0
        while time.monotonic() < end:
            try:
                data = modem.recv(2000)
            except socket.timeout:
                continue
            if data.startswith(b"{"):
                lines.append(time.monotonic())
        assert len(lines) >= 4, "%d JSON lines in 5 s" % len(lines)
        gaps = [b - a for a, b in zip(lines, lines[1:])]
        assert max(gaps) < 1.6, "JSON line gaps %s" % gaps
        start = time.monotonic()
        dev.proc.send_signal(signal.SIGINT)
        try:
            rc = dev.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise AssertionError("the device still ran 30 s after SIGINT")
        took = time.monotonic() - start
        # exit 0: the orderly stop ended within its budget, the full line
        # holding none of it (its guard ends it with 3 and names what held it)
        assert rc == 0, "exit %s after %.2f s" % (rc, took)
        dev.check_clean()
    finally:
        if modem:
            modem.close()


def peer_sockets(ns):
    with netpeer.in_namespace(ns.b):
        return netpeer.multicast_sender(), netpeer.multicast_listener(netpeer.COMMAND_GROUP, netpeer.COMMAND_PORT)


def connect_both(ns, rcvbuf=None):
    with netpeer.in_namespace(ns.b):
        ci = netpeer.connect_channel(netpeer.PORT_CI_ACTIVE, netpeer.PORT_CI, rcvbuf)
        dk = netpeer.connect_channel(netpeer.PORT_DK_ACTIVE, netpeer.PORT_DK, rcvbuf)
    return ci, dk


class Peer:
    """A peer in namespace b beside the device `dev` (of PID `device_pid`):
    its multicast sender and command listener, and what join(), keep() and
    on_close() add, which close() ends."""

    def __init__(self, ns, dev, device_pid=DEVICE_PID):
        self.ns, self.dev, self.device_pid = ns, dev, device_pid
        self._first, self._threads, self._socks, self._after = [], [], [], []
        self.sender, self.listener = self.keep(*peer_sockets(ns))
        self.ann = self.ci = self.dk = None

    def keep(self, *things):
        """Threads (with stop()) and sockets that close() ends; returns the
        one thing, or all of them."""
        for t in things:
            (self._socks if isinstance(t, socket.socket) else self._threads).append(t)
        return things[0] if len(things) == 1 else things

    def on_close(self, end, first=False):
        """`end` runs on close(): before the threads stop (first; e.g. what
        stops a thread that sends on a kept socket) or after the sockets
        closed (e.g. the join of a thread that reads one)."""
        (self._first if first else self._after).append(end)

    def join(self, pid, rcvbuf=None):
        """Announces PID `pid` until the device hears it, then connects both
        channels and waits for the device to establish the command channel."""
        self.ann = self.keep(netpeer.Announcer(self.sender, pid, self.device_pid).start())
        wait_for(lambda: "BC2_UDP_listen add remote_pid %X" % pid in self.dev.log(),
                 "the device to hear PID %d" % pid)
        self.ci, self.dk = self.keep(*connect_both(self.ns, rcvbuf))
        self.ann.connected = True
        wait_for(lambda: "CI channel to PID 0x%X established" % pid in self.dev.log(),
                 "PID %d's command channel" % pid)

    def close(self):
        for end in self._first:
            end()
        for t in self._threads:
            t.stop()
        for s in self._socks:
            s.close()
        for end in self._after:
            end()


@contextlib.contextmanager
def peer_beside(ns, binary, sample, device_pid=DEVICE_PID):
    """The device ready (device_in) and a Peer beside it, which is closed
    before the device ends."""
    with device_in(ns, binary, sample, device_pid) as dev:
        peer = Peer(ns, dev, device_pid)
        try:
            yield dev, peer
        finally:
            peer.close()


def working_page_active(ns):
    """Switches the device to its working calibration page, as a calibration
    tool does over XCP (CONNECT, SET_CAL_PAGE), so that setvar takes effect."""
    with netpeer.in_namespace(ns.a):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(2.0)
    try:
        for ctr, packet in enumerate(([0xFF, 0x00], [0xEB, 0x03, 0x00, 0x01])):
            s.sendto(struct.pack("<HH", len(packet), ctr) + bytes(packet), (netpeer.DEVICE_ADDR, 5555))
            answer = s.recv(2048)
            assert answer[4] == 0xFF, answer
    finally:
        s.close()


def closed_test(ns, binary, sample):
    with peer_beside(ns, binary, sample) as (dev, peer):
        watch = peer.keep(netpeer.TimeWatch(peer.listener).start())
        peer.join(40, rcvbuf=2048)
        ci = peer.ci
        wait_for(lambda: "DK channel to PID 0x28 established" in dev.log(), "PID 40's data channel")
        working_page_active(ns)
        for name, value in (("VIRARI_DBG_PING_FREQ", 2), ("VIRARI_DBG_PING_PID", 40)):
            dev.shell("setvar %s %d" % (name, value))
            wait_for(lambda: "%s = %d" % (name, value) in dev.shell("getvar " + name), name, 10)
        # a flood of bounce requests (20 a millisecond); the answers are never read
        start = time.monotonic()
        ci.settimeout(0.5)
        bounce = netpeer.command(netpeer.CMD_BOUNCE, 40, DEVICE_PID, bytes(8), magic=0x11, listid=0x22)
        sent = 0
        while time.monotonic() < start + 4.0:
            try:
                ci.sendall(bounce * 20)
                sent += 20
                time.sleep(0.001)
            except (socket.timeout, OSError):
                time.sleep(0.01)
        time.sleep(1.0)
        end = time.monotonic()
        # the peer was disconnected: reading what it holds ends in a closed connection
        ci.settimeout(2.0)
        closed = False
        try:
            while ci.recv(65536):
                pass
            closed = True
        except ConnectionResetError:
            closed = True
        except socket.timeout:
            pass
        assert closed, "the device kept the connection of a peer that reads nothing"
        assert dev.proc.poll() is None, "the device ended:\n" + dev.output()[-6000:]
        times = watch.between(start, end)
        gaps = [b - a for a, b in zip(times, times[1:])]
        assert len(times) >= 0.7 * (end - start) * 10, "%d time messages in %.1f s:\n%s" % (
            len(times), end - start, "\n".join(dev.log().splitlines()[-60:]))
        assert max(gaps) < 0.5, "time message gap of %.3f s" % max(gaps)
        dev.shell("setvar VIRARI_DBG_PING_PID 0")
        log = dev.log()
        # the pings leave on the 10 ms raster (a loaded host may delay the 1 ms one anyway)
        assert "raster r10ms exceeds its watchdog limit" not in log, [ln for ln in log.splitlines() if "watchdog" in ln]
        assert sent > 0
        assert dev.stop() == 0
        dev.check_clean()
    print("closed-window peer test passed")


def pidchange_test(ns, binary, sample):
    with peer_beside(ns, binary, sample) as (dev, peer):
        peer.join(40)
        # PID 40 goes away
        peer.ann.stop()
        peer.ci.close()
        peer.dk.close()
        wait_for(lambda: "Host PID 0x28 is Offline" in dev.log(), "PID 40 to time out")
        # the same device comes back as PID 45, from the same address and ports
        peer.join(45)
        ci = peer.ci
        assert dev.log().count("CI channel to PID 0x28 established") == 1, "PID 45 was taken for PID 40"
        ci.sendall(netpeer.command(netpeer.CMD_BOUNCE, 45, DEVICE_PID, b"ping4500", magic=0xABCD, listid=0x1234))
        ci.settimeout(3.0)
        while True:
            cmd, src, dst, magic, listid, payload = netpeer.read_command(ci)
            if cmd == netpeer.CMD_BOUNCE_RETURN:
                break
        assert (src, dst, magic, listid, payload) == (DEVICE_PID, 45, 0x1234, 0xABCD, b"ping4500")
        assert dev.stop() == 0
        dev.check_clean()
    print("PID change test passed")


def bounce(ci, tag, limit):
    """Sends a bounce and reads until its answer ("answered"), the end of the
    connection ("closed") or `limit` seconds ("silent")."""
    ci.settimeout(limit)
    try:
        ci.sendall(netpeer.command(netpeer.CMD_BOUNCE, 40, DEVICE_PID, tag, magic=0xABCD, listid=0x1234))
        while True:
            cmd, _, _, _, _, payload = netpeer.read_command(ci)
            if cmd == netpeer.CMD_BOUNCE_RETURN and payload == tag:
                return "answered"
    except socket.timeout:
        return "silent"
    except (OSError, ConnectionError):
        return "closed"


def junk_test(ns, binary, sample):
    with peer_beside(ns, binary, sample) as (dev, peer):
        peer.join(40)
        ci = peer.ci
        assert bounce(ci, b"before00", 3.0) == "answered", "no answer before the junk"
        try:
            ci.sendall(os.urandom(65536))
        except OSError:
            pass   # the device may end the connection while the junk still goes
        start = time.monotonic()
        result = None
        n = 0
        while result != "answered" and time.monotonic() < start + 3.0:
            n += 1
            result = bounce(ci, b"after%03d" % n, 0.3)
            if result == "closed":
                ci.close()
                try:
                    with netpeer.in_namespace(ns.b):
                        ci = peer.keep(netpeer.connect_channel(netpeer.PORT_CI_ACTIVE, netpeer.PORT_CI,
                                                               refused_for=0))
                except OSError:
                    time.sleep(0.05)
        took = time.monotonic() - start
        assert result == "answered", "no bounce answered in 3 s after the junk:\n" + "\n".join(
            dev.log().splitlines()[-40:])
        wait_for(lambda: "CI channel - PID 0x28 out of step" in dev.log(), "the out-of-step line", 5.0)
        print("answered again %.2f s after the junk, bounce %d" % (took, n))
        assert dev.stop() == 0
        dev.check_clean()
    print("junk on the command channel test passed")


def log_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, name)) for name in ("log.txt", "log.1.txt")
               if os.path.exists(os.path.join(folder, name)))


def connloop_test(ns, binary, sample):
    with device_in(ns, binary, sample) as dev:
        folder = dev.folder
        before = log_bytes(folder)
        end = time.monotonic() + 10.0
        n = 0
        with netpeer.in_namespace(ns.b):
            while time.monotonic() < end:
                s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                s.settimeout(1.0)
                try:
                    s.connect((netpeer.DEVICE_ADDR, netpeer.PORT_CI))
                    n += 1
                except OSError:
                    pass
                finally:
                    s.close()
        assert "stim_active = 1" in dev.shell("getvar stim_active")
        grown = log_bytes(folder) - before
        print("%d connections in 10 s grew the log by %d bytes" % (n, grown))
        # a sanitizer build makes far fewer connections in the 10 s: what
        # matters is that each line of a connection stops at the flood limit
        # (13 and the notice), however many connections came
        assert n > 100, "only %d connections" % n
        assert grown < 1000000, "%d connections grew the log by %d bytes" % (n, grown)
        log = dev.log()
        for line in ("BC2_connect_passive, port", "matches no host, closed", "bcSocket::close_socket("):
            assert log.count(line) <= 14, "%d lines with %r after %d connections" % (log.count(line), line, n)
        announced_peer_loop(ns, dev)
        assert dev.stop() == 0
        dev.check_clean()
    print("connection loop test passed")


def announced_peer_loop(ns, dev):
    """PID 40, announced and heard, connects both channels and resets them
    for 10 s: every line of those connections is limited per address."""
    folder = dev.folder
    with netpeer.in_namespace(ns.b):
        sender = netpeer.multicast_sender()
    ann = netpeer.Announcer(sender, 40, DEVICE_PID).start()
    try:
        wait_for(lambda: "BC2_UDP_listen add remote_pid 28" in dev.log(), "the device to hear PID 40")
        before = log_bytes(folder)
        end = time.monotonic() + 10.0
        cycles = 0
        with netpeer.in_namespace(ns.b):
            while time.monotonic() < end:
                for local, remote in ((netpeer.PORT_CI_ACTIVE, netpeer.PORT_CI),
                                      (netpeer.PORT_DK_ACTIVE, netpeer.PORT_DK)):
                    try:
                        netpeer.connect_channel(local, remote, refused_for=0).close()   # SO_LINGER 0: a reset
                    except OSError:
                        pass
                cycles += 1
        grown = log_bytes(folder) - before
    finally:
        ann.stop()
        sender.close()
    print("%d connect-and-reset cycles of PID 40 in 10 s grew the log by %d bytes" % (cycles, grown))
    assert cycles > 100, "only %d cycles" % cycles
    assert grown < 1000000, "%d cycles grew the log by %d bytes" % (cycles, grown)
    log = dev.log()
    # 13 a minute and address; a slow run may reach a second minute
    for line in ("channel to PID 0x28 established", "bcSocket::close_socket(", "receiving serial network header",
                 "somebody created a UDP DK Tx socket here before", "BC2_connect_passive, port"):
        assert 1 <= log.count(line) <= 2 * 13 + 1, "%d lines with %r after %d cycles" % (log.count(line), line, cycles)
    assert "are held back for up to a minute" in log


def shutdown_errors(dev):
    log = dev.log()
    after = log[log.find("rtpShutdown: orderly shutdown"):]
    return [ln for ln in after.splitlines() if "routing error" in ln or "cannot queue" in ln]


class ListOwner:
    """PID 1 on its command channel: answers every list request as started
    (or stopped) and reads whatever else comes."""

    def __init__(self, ci):
        self.ci = ci
        self.answered = 0
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self.ci.settimeout(None)
        self._thread.start()
        return self

    def _run(self):
        try:
            while True:
                cmd, src, _, magic, listid, payload = netpeer.read_command(self.ci)
                if cmd in (0x0500, 0x0510) and len(payload) >= 2:
                    op = struct.unpack(">H", payload[:2])[0]
                    self.ci.sendall(netpeer.command(0x0501, 1, src, struct.pack(">HH", 0, op), magic=magic,
                                                    listid=listid))
                    self.answered += 1
        except (OSError, ConnectionError):
            return

    def join(self):
        self._thread.join(5.0)


def shutdown_test(ns, binary, sample):
    own = 2
    # alone: the lists of PID 1 were never started, nothing to stop there
    with device_in(ns, binary, sample, own) as dev:
        assert dev.stop() == 0
        assert not shutdown_errors(dev), "\n".join(shutdown_errors(dev))
        dev.check_clean()

    # beside PID 1, which answers the lists' requests and keeps sending
    stop = threading.Event()
    with peer_beside(ns, binary, sample, own) as (dev, peer):
        peer.on_close(stop.set, first=True)
        peer.join(1)
        sender = peer.sender
        owner = ListOwner(peer.ci).start()
        peer.on_close(owner.join)
        wait_for(lambda: owner.answered > 0, "a list request of the device")

        def to_all():
            bounce = netpeer.command(netpeer.CMD_BOUNCE, 1, 0xFFFE, bytes(8))
            while not stop.is_set():
                sender.sendto(bounce, (netpeer.COMMAND_GROUP, netpeer.COMMAND_PORT))
                stop.wait(0.002)
        spray = threading.Thread(target=to_all, daemon=True)
        spray.start()
        assert dev.stop() == 0
        stop.set()
        spray.join()
        assert not shutdown_errors(dev), "\n".join(shutdown_errors(dev))
        dev.check_clean()
    print("shutdown test passed")


def flood_test(ns, binary, sample):
    with peer_beside(ns, binary, sample) as (dev, peer):
        sender = peer.sender
        before = len(dev.log().splitlines())
        group = (netpeer.PRESENCE_GROUP, netpeer.PRESENCE_PORT)
        for pid in range(20, 30):   # heard once each
            sender.sendto(netpeer.presence(pid, 1), group)
        end = time.monotonic() + 4.0
        n = 0
        while time.monotonic() < end:
            seq = 1000 if n % 4 < 2 else 10   # every other message of each PID goes back
            sender.sendto(netpeer.presence(50 + n % 2, seq), group)
            n += 1
        sender.close()
        wait_for(lambda: "Host PID 0x33 is Offline" in dev.log(), "the flooding PIDs to time out")
        time.sleep(0.5)
        log = dev.log()
        lines = log.splitlines()[before:]
        resets = [ln for ln in lines if "Reset detected on PID" in ln]
        assert n > 1000, "only %d messages sent" % n
        assert len(resets) <= 2 * 13, "%d reset lines" % len(resets)   # flood-limited per PID
        assert len(lines) < 200, "%d log lines for %d presence messages" % (len(lines), n)
        for pid in range(20, 30):
            assert "UDP_send: remove remote_pid %X" % pid in log, "route of PID %d kept" % pid
        assert dev.stop() == 0
        dev.check_clean()
    print("presence flood test passed")


def main():
    mode, binary, sample, source = sys.argv[1:5]
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return SKIP
    ns = netpeer.Namespaces(source, mode[:2])
    ok, why = ns.make()
    if not ok:
        print("skipped: scripts/netns-pair cannot make namespaces here: " + why)
        return SKIP
    try:
        {"pty": pty_test, "closed": closed_test, "pidchange": pidchange_test, "junk": junk_test,
         "connloop": connloop_test,
         "shutdown": shutdown_test, "flood": flood_test}[mode](
            ns, binary, sample)
    finally:
        ns.remove()
    return 0


if __name__ == "__main__":
    sys.exit(main())
