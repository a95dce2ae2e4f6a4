"""An independent device-network peer for device tests, written from the
wire formats alone: presence messages, command-channel connections and
command messages, the command multicast group, the modem's JSON port.

The device runs in one network namespace of a pair (scripts/netns-pair), the
peer's sockets are made in the other (`in_namespace`), so that the device's
multicast reaches the peer and the other way round.
"""
import contextlib
import ctypes
import os
import socket
import struct
import subprocess
import threading
import time

CLONE_NEWNET = 0x40000000
PRESENCE_GROUP, PRESENCE_PORT = "239.239.239.200", 9850
COMMAND_GROUP, COMMAND_PORT = "239.239.239.201", 9870
PORT_CI, PORT_DK, PORT_CI_ACTIVE, PORT_DK_ACTIVE = 9860, 9861, 9862, 9863
VERSION = 0x0204
CMD_BOUNCE, CMD_BOUNCE_RETURN, CMD_TIME = 0x0105, 0x0106, 0x0600
DEVICE_ADDR, PEER_ADDR = "10.213.0.1", "10.213.0.2"

_libc = ctypes.CDLL(None, use_errno=True)


class Namespaces:
    """Two namespaces named after this process, made and removed here."""

    def __init__(self, source, tag):
        self.pair = os.path.join(source, "scripts", "netns-pair")
        self.a = "tv9p%d%sa" % (os.getpid(), tag)
        self.b = "tv9p%d%sb" % (os.getpid(), tag)
        self.up = False

    def make(self):
        r = subprocess.run([self.pair, "up", self.a, self.b], capture_output=True, text=True)
        self.up = r.returncode == 0
        return self.up, (r.stderr.strip() or r.stdout.strip())

    def remove(self):
        if self.up:
            subprocess.run([self.pair, "down", self.a, self.b], capture_output=True)
            self.up = False


@contextlib.contextmanager
def in_namespace(name):
    """Sockets made inside this block belong to the namespace `name`."""
    own = os.open("/proc/self/ns/net", os.O_RDONLY)
    target = os.open("/var/run/netns/" + name, os.O_RDONLY)
    try:
        if _libc.setns(target, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns " + name)
        yield
    finally:
        _libc.setns(own, CLONE_NEWNET)
        os.close(own)
        os.close(target)


class UdpSniffer:
    """Sees every UDP datagram that leaves `src` (dotted) on eth0 of the
    namespace `ns` and hands on_datagram(destination address, destination
    port, payload) each, on a thread of its own, until stop()."""

    def __init__(self, ns, src, on_datagram):
        with in_namespace(ns):
            self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
            self.sock.bind(("eth0", 0))
        self.sock.settimeout(0.1)
        self._src = socket.inet_aton(src)
        self._on = on_datagram
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            try:
                frame = self.sock.recv(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            ip_hdr = frame[14:]
            if len(ip_hdr) < 28 or ip_hdr[9] != 17 or ip_hdr[12:16] != self._src:
                continue
            ihl = (ip_hdr[0] & 0x0F) * 4
            udp = ip_hdr[ihl:]
            if len(udp) < 8:
                continue
            length = struct.unpack(">H", udp[4:6])[0]
            self._on(socket.inet_ntoa(ip_hdr[16:20]), struct.unpack(">H", udp[2:4])[0], udp[8:max(8, length)])

    def stop(self):
        self._stop.set()
        self._thread.join()
        self.sock.close()


def presence(pid, seq, detect=0, ci=0, dk=0, addr=PEER_ADDR, offset=0):
    """The 60-byte presence message; the sender's own bit is in both connect masks."""
    own = 1 << pid
    return (socket.inet_aton(addr) + bytes(6) + struct.pack(">HI", pid, 1000) + bytes(8) +
            struct.pack(">QQQIIHH", detect, ci | own, dk | own, 200, seq, VERSION, offset))


def command(cmd, src, dst, payload=b"", magic=0, listid=0):
    """A command message: the 20-byte header and its payload."""
    hdr = struct.pack(">HHHHIIHH", 0, len(payload), src, dst, magic, listid, cmd, 0)
    return hdr + payload


def parse_command(data):
    """(cmd, src, dst, magic, listid, payload) of one whole message."""
    _, length, src, dst, magic, listid, cmd, _ = struct.unpack(">HHHHIIHH", data[:20])
    return cmd, src, dst, magic, listid, data[20:20 + length]


def recv_exact(sock, n):
    out = b""
    while len(out) < n:
        chunk = sock.recv(n - len(out))
        if not chunk:
            raise ConnectionError("closed")
        out += chunk
    return out


def read_command(sock):
    hdr = recv_exact(sock, 20)
    length = struct.unpack(">H", hdr[2:4])[0]
    return parse_command(hdr + recv_exact(sock, length))


def multicast_sender():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(PEER_ADDR))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    return s


def multicast_listener(group, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", port))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(group) + socket.inet_aton(PEER_ADDR))
    return s


def connect_channel(local_port, remote_port, rcvbuf=None, refused_for=30.0):
    """A TCP connection from the peer's channel port to the device's listen port.
    As a peer does, it tries again while the device refuses (a device on a busy
    host may open its listen port a while after it heard the peer), for
    `refused_for` seconds at most."""
    end = time.monotonic() + refused_for
    while True:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))   # no TIME_WAIT after
        if rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        s.bind((PEER_ADDR, local_port))
        s.settimeout(5)
        try:
            s.connect((DEVICE_ADDR, remote_port))
            return s
        except ConnectionRefusedError:
            s.close()
            if time.monotonic() >= end:
                raise
            time.sleep(0.05)
        except BaseException:
            s.close()
            raise


class Announcer:
    """Sends the peer's presence every 200 ms on its own thread until stopped."""

    def __init__(self, sock, pid, device_pid):
        self.sock, self.pid, self.device_pid = sock, pid, device_pid
        self.seq = 0
        self.connected = False
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def _run(self):
        while not self._stop.is_set():
            self.seq += 1
            bit = 1 << self.device_pid
            mask = bit if self.connected else 0
            self.sock.sendto(presence(self.pid, self.seq, detect=bit, ci=mask, dk=mask),
                             (PRESENCE_GROUP, PRESENCE_PORT))
            self._stop.wait(0.2)

    def stop(self):
        self._stop.set()
        if self._thread.is_alive():
            self._thread.join()


class TimeWatch:
    """Collects the arrival times of the time messages to all devices."""

    def __init__(self, sock):
        self.sock = sock
        self.times = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self.sock.settimeout(0.1)
        self._thread.start()
        return self

    def _run(self):
        while not self._stop.is_set():
            try:
                data = self.sock.recv(600)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(data) >= 20 and parse_command(data)[0] == CMD_TIME:
                self.times.append(time.monotonic())

    def stop(self):
        self._stop.set()
        if self._thread.is_alive():
            self._thread.join()

    def between(self, start, end):
        return [t for t in self.times if start <= t <= end]
