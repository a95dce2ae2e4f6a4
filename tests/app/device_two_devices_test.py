#!/usr/bin/env python3
"""Two devices in two network namespaces (scripts/netns-pair, root): device A
(PID 1 at 10.213.0.1) and device B (PID 2 at 10.213.0.2), both from the
sample, whose dash shows the values of PID 1: B's display takes A's values
online, by UDP to B's port 9852.

moved: B is killed and started again at 10.213.0.5 (its old address gone).
A's online values reach B's new address within 10 s of B's start-up; a
packet socket in B's namespace sees them.

restarts: B is killed and started again 5 times. The lists A serves to B
are those B's current run asked for: A's online data to B after the fifth
restart comes at no more than 1.5 times the rate of B's first run. A closes
the event each ended run of B left open at B's last value before its kill.

relay: a peer (PID 40 at 10.213.0.3, beside B) connects its command channel
to A and sends 200 commands addressed to B; A hands them on to B under PID
40. The last of them reaches B (B logs it as unknown, from PID 40), B says
nothing of "out of step", and neither device establishes the A-B command
channel again.

clocks: B follows A's time (its calibration page has no ECU type) and runs
in a time namespace whose monotonic clock is 1000 s ahead of A's
(`unshare -T --monotonic`); halfclocks: half the stamp's range ahead. A's
m03 records B's values, B records A's. Once B is in sync, both record the
other's values: A's m03 block count grows, B's m01 and m03 too, and from
then on neither refuses a record or a condition value for its time stamp,
and B's file writers live on through the step of its clock.

twounits: a second folder under PID 1 (A2 at 10.213.0.4, beside A) starts
once B follows A and each records the other's values: two units send under
one PID, each a time master. B names the pair once on the device network
and once as time masters, with both ids; it keeps to A, without a reset of
A's channels nor a stop of the lists it serves A, and records A's values at
the rate it did before A2 came. B's dash shows A's values throughout: their
no-data status stays as it is.

nvram: B follows A's time; after its fourth boot it is killed, loses its
nvram.bin and starts again at once, its boot count 1: A serves its lists at
once (no "not served"), and B records A's values again.

Usage: device_two_devices_test.py moved|restarts|relay|clocks|halfclocks|twounits|nvram TAV9_BINARY SAMPLE_FOLDER SOURCE_DIR
Exit 77: skipped (no root or no namespaces here).
"""
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import netpeer  # noqa: E402
import recording_check  # noqa: E402
from device_harness import DeviceRun, measdump_beside, netns_pair_down, netns_pair_up, wait_for  # noqa: E402
from xcp_master_device_test import PAGE_SIZE, WORKING_PAGE, XcpTool  # noqa: E402

SKIP = 77
PID_A, PID_B, PID_PEER = 1, 2, 40
ADDR_A, ADDR_B, ADDR_B_NEW, ADDR_PEER = "10.213.0.1", "10.213.0.2", "10.213.0.5", "10.213.0.3"
ADDR_A2 = "10.213.0.4"
PORT_DK_UDP = 9852
CMD_MARKER = 0x7FF1   # a command no device serves


def prepare(sample, prefix, pid, ip):
    """A device run (DeviceRun) in a folder from the sample with its PID and
    address; its configurations keep naming PID 1's values (A's own, B's
    remote ones)."""
    run = DeviceRun(sample, prefix)
    set_address(run.folder, ip, pid)
    return run


def set_address(folder, ip, pid=None):
    cfg = os.path.join(folder, "start.cfg")
    with open(cfg) as f:
        text = f.read()
    if pid is not None:
        text = re.sub(r"(?m)^pid = .*$", "pid = %d" % pid, text)
    text = re.sub(r"(?m)^ip = .*$", "ip = " + ip, text)
    with open(cfg, "w") as f:
        f.write(text)


def ns_device(binary, run, ns):
    """A device started in `run`'s folder inside namespace `ns` (a shell.sock
    left by a killed one goes first); not yet ready."""
    sock = os.path.join(run.folder, "shell.sock")
    if os.path.exists(sock):
        os.remove(sock)   # left by a killed run
    return run.device(binary, prefix=("ip", "netns", "exec", ns))


def ip(ns, *args):
    subprocess.run(["ip", "-n", ns, *args], check=True, capture_output=True)


class DataWatch:
    """Counts, per destination address, the UDP datagrams from `src` (A) to
    `port` (9852) that pass eth0 of the namespace `ns` (a packet socket
    there), and their bytes; with `carrying`, only those that hold those
    bytes."""

    def __init__(self, ns, src=ADDR_A, port=PORT_DK_UDP, carrying=b""):
        self.count = {}
        self.bytes = {}
        self._port, self._carrying = port, carrying
        self._lock = threading.Lock()
        self._sniffer = netpeer.UdpSniffer(ns, src, self._seen)

    def _seen(self, dst, port, payload):
        if port != self._port or self._carrying not in payload:
            return
        with self._lock:
            self.count[dst] = self.count.get(dst, 0) + 1
            self.bytes[dst] = self.bytes.get(dst, 0) + len(payload)

    def to(self, addr):
        with self._lock:
            return self.count.get(addr, 0)

    def bytes_to(self, addr):
        with self._lock:
            return self.bytes.get(addr, 0)

    def rate_to(self, addr, seconds):
        """Bytes per second to addr, counted over the next `seconds`."""
        start, before = time.monotonic(), self.bytes_to(addr)
        time.sleep(seconds)
        return (self.bytes_to(addr) - before) / (time.monotonic() - start)

    def close(self):
        self._sniffer.stop()


def moved(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        a = b = watch = None
        try:
            watch = DataWatch(ns_b)
            a = ns_device(binary, run_a, ns_a).wait_ready()
            b = ns_device(binary, run_b, ns_b).wait_ready()
            wait_for(lambda: watch.to(ADDR_B) > 10, "A's online values at B's address")

            # B goes, and comes back at another address
            b.kill()
            ip(ns_b, "addr", "del", ADDR_B + "/24", "dev", "eth0")
            ip(ns_b, "addr", "add", ADDR_B_NEW + "/24", "dev", "eth0")
            ip(ns_b, "route", "replace", "224.0.0.0/4", "dev", "eth0")   # gone with the last address
            set_address(run_b.folder, ADDR_B_NEW)
            b = ns_device(binary, run_b, ns_b).wait_ready()
            start, old = time.monotonic(), watch.to(ADDR_B)
            try:
                wait_for(lambda: watch.to(ADDR_B_NEW) > 10, "A's online values at B's new address", 10)
            except AssertionError:
                raise AssertionError("%d datagrams to B's new address, %d to its old one in %.1f s since B's start-up;"
                                     " A's log ends:\n%s" % (watch.to(ADDR_B_NEW), watch.to(ADDR_B) - old,
                                                             time.monotonic() - start, a.log()[-3000:]))
            print("A's values at B's new address %.1f s after its start-up" % (time.monotonic() - start))
            assert a.stop() == 0
            assert b.stop() == 0
            a.check_clean()
            b.check_clean()
        finally:
            if watch:
                watch.close()
    print("moved device test passed")


CLOSED_FOR = re.compile(r"eventlogging: PID 0x([0-9A-F]+) (?:runs anew|fell silent): its event 0x([0-9A-F]+) "
                        r"opened at (\d+) closed at (\d+)")


def closed_for(log, pid, event_id, runs):
    """(the starts of `event_id` a device closed for the ended runs of the
    device of pid, the closes of them of a run that had not ended): an event
    of the run that ended closes at that run's last value, after it began
    (one closed at its start began there or later, in the device's new run);
    of `runs` runs that each opened `event_id` once, all but the last
    ended."""
    closes = [m for m in CLOSED_FOR.finditer(log) if int(m.group(1), 16) == pid]
    wrong = [m.group(0) for m in closes if m.group(3) == m.group(4)]
    starts = sorted(set(int(m.group(3)) for m in closes if int(m.group(2), 16) == event_id))
    if len(starts) > runs - 1:
        wrong.append("event 0x%08X closed for %d runs of %d, the last still running: opened at %s" % (
            event_id, len(starts), runs, ", ".join(str(s) for s in starts)))
    return starts, wrong


# A line of the device's log with its own stamp: the log's field before the
# task is the host's clock, the milliseconds of its last 100 s.
STAMPED_AT = re.compile(r"<\d+> (\d{5}) \S+: meas_app_saveblock\(\): starting measurement m01 with timestamp: (\d+)")


def stamp_at(log, wall):
    """The device's stamp (0.1 ms) at the host's clock `wall` (time.time()),
    told by its first stamped log line (within 100 s before it)."""
    m = STAMPED_AT.search(log)
    assert m, "no stamped start line in the log"
    since_ms = (int(wall * 1000) - int(m.group(1))) % 100000
    return (int(m.group(2)) + since_ms * 10) & 0xFFFFFFFF


def closes_far_from_kills(log, pid, kills):
    """The closes the device wrote for pid's ended runs that lie more than
    0.5 s before every kill of it (its last value comes before its kill) or
    more than 0.1 s after it (the log's clock and the stamp are read apart
    by a busy host's delay)."""
    far = []
    for m in CLOSED_FOR.finditer(log):
        if int(m.group(1), 16) != pid:
            continue
        closed = int(m.group(4))
        if not any(-1000 <= (kill - closed + 2**31) % 2**32 - 2**31 <= 5000 for kill in kills):
            far.append(m.group(0))
    return far


def events_recorded(folder, binary, pid, event_id):
    """The starts of the events `event_id` of pid the device's files hold."""
    files = recording_check.read_files(folder, measdump_beside(binary), ())
    return sorted(set(t for f in files for p, ident, t, _ in f.event_keys if p == pid and ident == event_id))


RESTARTS = 5


def restarts(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        a = b = watch = events = None
        offline = "Host PID 0x%X is Offline" % PID_B
        try:
            watch = DataWatch(ns_b)
            # the commands B sends to every device that carry its telemetry
            # event: a B killed before its event service sent the event never sends it
            events = DataWatch(ns_a, ADDR_B, netpeer.COMMAND_PORT, struct.pack(">I", 0x010001E3))
            a = ns_device(binary, run_a, ns_a).wait_ready()
            sent = events.to(netpeer.COMMAND_GROUP)
            b = ns_device(binary, run_b, ns_b).wait_ready()
            wait_for(lambda: watch.to(ADDR_B) > 10, "A's online values at B's address")
            time.sleep(3)   # every list B asks for is served
            first = watch.rate_to(ADDR_B, 5)
            assert first > 0
            kills = []   # the host's clock at each kill of B
            for n in range(RESTARTS):
                wait_for(lambda: events.to(netpeer.COMMAND_GROUP) > sent,
                         "B's telemetry event of run %d sent" % (n + 1))
                kills.append(time.time())
                b.kill()
                gone = a.log().count(offline)
                wait_for(lambda: a.log().count(offline) > gone, "A to notice B gone")
                sent = events.to(netpeer.COMMAND_GROUP)
                b = ns_device(binary, run_b, ns_b).wait_ready()
                seen = watch.to(ADDR_B)
                wait_for(lambda: watch.to(ADDR_B) > seen + 10, "A's online values at B after restart %d" % (n + 1))
            time.sleep(3)   # the lists of B's earlier runs are stopped within a second
            last = watch.rate_to(ADDR_B, 5)
            print("A's online data to B: %.0f bytes/s in its first run, %.0f after 5 restarts" % (first, last))
            assert last <= 1.5 * first, "%.0f bytes/s after 5 restarts, %.0f in the first run; A's log ends:\n%s" % (
                last, first, a.log()[-3000:])
            assert "served to PID 0x%X stopped" % PID_B in a.log()
            assert a.stop() == 0
            assert b.stop() == 0
            # each run of B opens its telemetry's error event at its start
            # (again at its step onto A's time, closing the first itself): A
            # closes the one open of each of B's runs that ended, each one
            # it recorded
            closed, wrong = closed_for(a.log(), PID_B, 0x010001E3, RESTARTS + 1)
            recorded = events_recorded(run_a.folder, binary, PID_B, 0x010001E3)
            print("A closed %d events of B's ended runs" % len(closed))
            assert not wrong, "A closed events of B's runs that had not ended:\n" + "\n".join(wrong)
            assert len(closed) >= RESTARTS and set(closed) <= set(recorded), (closed, recorded)
            # each close lies at B's last value before its kill, not where A noticed the kill
            far = closes_far_from_kills(a.log(), PID_B, [stamp_at(a.log(), k) for k in kills])
            assert not far, "closes not within 0.5 s before a kill of B:\n" + "\n".join(far)
            a.check_clean()
            b.check_clean()
        finally:
            for w in (watch, events):
                if w:
                    w.close()
    print("restarted device test passed")


def announce(sock, stop, connected):
    """The peer's presence every 200 ms, from its own address."""
    seq = 0
    bit = 1 << PID_A
    while not stop.is_set():
        seq += 1
        mask = bit if connected.is_set() else 0
        sock.sendto(netpeer.presence(PID_PEER, seq, detect=bit, ci=mask, addr=ADDR_PEER),
                    (netpeer.PRESENCE_GROUP, netpeer.PRESENCE_PORT))
        stop.wait(0.2)


def relay(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        ip(ns_b, "addr", "add", ADDR_PEER + "/24", "dev", "eth0")
        a = b = sender = ci = announcer = None
        stop, connected = threading.Event(), threading.Event()
        established_a = "CI channel to PID 0x%X established" % PID_B
        established_b = "CI channel to PID 0x%X established" % PID_A
        try:
            a = ns_device(binary, run_a, ns_a).wait_ready()
            b = ns_device(binary, run_b, ns_b).wait_ready()
            wait_for(lambda: established_a in a.log() and established_b in b.log(), "the A-B command channel")

            # the peer beside B announces itself to A and connects its command channel
            with netpeer.in_namespace(ns_b):
                sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ADDR_PEER))
                sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
            announcer = threading.Thread(target=announce, args=(sender, stop, connected), daemon=True)
            announcer.start()
            wait_for(lambda: "BC2_UDP_listen add remote_pid %X" % PID_PEER in a.log(), "A to hear the peer")
            with netpeer.in_namespace(ns_b):
                ci = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                ci.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                ci.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                ci.bind((ADDR_PEER, netpeer.PORT_CI_ACTIVE))
                ci.settimeout(5)
                ci.connect((ADDR_A, netpeer.PORT_CI))
            connected.set()
            wait_for(lambda: "CI channel to PID 0x%X established" % PID_PEER in a.log(), "the peer's command channel")

            # 200 commands for B through A, under the peer's PID: 199 answers to
            # nobody's request (B drops them quietly), then one B does not know,
            # which it logs with its source: it comes last on the A-B channel
            before_a, before_b = a.log().count(established_a), b.log().count(established_b)
            for n in range(199):
                ci.sendall(netpeer.command(netpeer.CMD_BOUNCE_RETURN, PID_PEER, PID_B, struct.pack(">I", n)))
                time.sleep(0.002)
            ci.sendall(netpeer.command(CMD_MARKER, PID_PEER, PID_B))
            marker = "unknown command 0x%04x from PID %d" % (CMD_MARKER, PID_PEER)
            try:
                wait_for(lambda: marker in b.log(), "the last command at B", 10)
            except AssertionError:
                raise AssertionError("the last command did not reach B; B's log ends:\n" + b.log()[-3000:])
            log_a, log_b = a.log(), b.log()
            assert "out of step" not in log_b, [ln for ln in log_b.splitlines() if "out of step" in ln][:5]
            assert log_a.count(established_a) == before_a, "A established its command channel to B again"
            assert log_b.count(established_b) == before_b, "B established its command channel to A again"
            stop.set()
            announcer.join()
            ci.close()
            assert a.stop() == 0
            assert b.stop() == 0
            a.check_clean()
            b.check_clean()
        finally:
            stop.set()
            if announcer:
                announcer.join()
            for s in (ci, sender):
                if s:
                    s.close()
    print("relayed commands test passed")


XCP_PORT = 5555                 # sample/start.cfg
HALF_RANGE_S = (1 << 31) // 10000   # time stamps in 0.1 ms, 32 bits


def make_follower(binary, run, ns, pid):
    """Stores in the run's folder a calibration page without an ECU type, so
    that the device follows the time master: the working page, changed by
    "setvar", read back over XCP inside the namespace."""
    dev = ns_device(binary, run, ns).wait_ready()
    try:
        answer = dev.shell("setvar ECU_TYPE 0")
        assert "ECU_TYPE written to the working page" in answer, answer
        with netpeer.in_namespace(ns):
            tool = XcpTool(XCP_PORT)
        try:
            assert tool.command([0xFF, 0x00])[0] == 0xFF
            page = tool.upload(pid << 24 | WORKING_PAGE, PAGE_SIZE)
        finally:
            tool.close()
        assert dev.stop() == 0
    finally:
        dev.kill()
    with open(os.path.join(run.folder, "calpage.bin"), "wb") as f:
        f.write(page)


def each_records_the_other(binary, run_a, run_b, ns_b):
    """A's m03 takes B's values (B's measurements name A's, PID 1, already),
    and B follows A's time."""
    m03 = os.path.join(run_a.folder, "cfg", "m03.xml")
    with open(m03) as f:
        text = f.read()
    with open(m03, "w") as f:
        f.write(text.replace('adr="0x01', 'adr="0x%02X' % PID_B))
    make_follower(binary, run_b, ns_b, PID_B)


def stop_both(a, b):
    """Ends A, then B, each in order with exit 0, and checks both logs."""
    assert a.stop() == 0
    assert b.stop() == 0
    a.check_clean()
    b.check_clean()


def print_log_ends(a, b):
    """What a failed two-device test shows of each device's log."""
    print("A's log ends:\n%s\nB's log ends:\n%s" % (a.log()[-3000:], b.log()[-3000:]))


def blkcount(dev, name):
    """The block count "meas" shows for the measurement (MEASURE SG, FDE)."""
    m = re.search(r"MEASURE %s\s*:.*?blkcount\s+= (\d+)" % name, dev.shell("meas"), re.S)
    return int(m.group(1)) if m else 0


TS_ERRORS = re.compile(r"New error BLK #(\d+), Fifo #(\d+), .*TS ErrCnt (\d+)")


def refused_later(log):
    """{(block, fifo): (first, last)} of the data FIFOs whose time-stamp error
    count grew after the first of their error lines in `log`."""
    first, last = {}, {}
    for m in TS_ERRORS.finditer(log):
        key = (int(m.group(1)), int(m.group(2)))
        first.setdefault(key, int(m.group(3)))
        last[key] = int(m.group(3))
    return {k: (first[k], last[k]) for k in last if last[k] > first[k]}


def clocks(binary, sample, ns_a, ns_b, ahead_s):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        each_records_the_other(binary, run_a, run_b, ns_b)
        a = run_a.device(binary, prefix=("ip", "netns", "exec", ns_a)).wait_ready()
        b = run_b.device(binary, prefix=("ip", "netns", "exec", ns_b, "unshare", "-T", "--monotonic",
                                         str(ahead_s))).wait_ready()
        try:
            wait_for(lambda: "Sync on timemaster systemtime" in b.log(), "B to follow A's time", 60)
            wait_for(lambda: blkcount(a, "FDE") > 0, "B's values in A's m03", 60)
            wait_for(lambda: blkcount(b, "SG") > 0 and blkcount(b, "FDE") > 0, "A's values in B's files", 60)
            # From here on no record is refused for its time. The data FIFOs
            # report their errors once a second: the first report after the
            # mark may still hold what came before it, later ones hold nothing
            # new. Three seconds of 2 ms records are looked at.
            mark_a, mark_b = len(a.log()), len(b.log())
            before = (blkcount(a, "FDE"), blkcount(b, "FDE"))
            wait_for(lambda: blkcount(a, "FDE") > before[0] + 1500 and blkcount(b, "FDE") > before[1] + 1500,
                     "three seconds of records")
            log_a, log_b = a.log(), b.log()
            for name, log, mark in (("A", log_a, mark_a), ("B", log_b, mark_b)):
                grown = refused_later(log[mark:])
                assert not grown, "%s refused records for their time stamps: %s\n%s" % (name, grown, log[mark:][-3000:])
            illegal = [ln for ln in log_b[mark_b:].splitlines() if "Illegal condition timestamp" in ln]
            assert not illegal, illegal[:5]
            # B's clock went back 1000 s when it took A's time: its writers go on
            for name, log in (("A", log_a), ("B", log_b)):
                assert "no longer alive" not in log, name + ": " + log[log.find("no longer alive") - 200:][:400]
            stop_both(a, b)
        except AssertionError:
            print_log_ends(a, b)
            raise
    print("devices with clocks %d s apart test passed" % ahead_s)


UNIT_ID = re.compile(r"startup: unit id (0x[0-9A-F]{8})")


def records_per_second(dev, seconds=5):
    """B's m01 records a second (A's 1, 10 and 100 ms blocks), counted over
    the next `seconds`."""
    start, before = time.monotonic(), blkcount(dev, "SG")
    time.sleep(seconds)
    return (blkcount(dev, "SG") - before) / (time.monotonic() - start)


def two_units(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-c-", PID_A, ADDR_A2) as run_a2, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        # A2 shares A's namespace: ports of its own where it binds any address
        cfg = os.path.join(run_a2.folder, "start.cfg")
        with open(cfg) as f:
            text = f.read()
        for key, port in (("xcp_port", 5565), ("can0_port", 29636), ("can1_port", 29637),
                          ("can0_socketcand_port", 29640), ("can1_socketcand_port", 29641)):
            text = re.sub(r"(?m)^%s = .*$" % key, "%s = %d" % (key, port), text)
        with open(cfg, "w") as f:
            f.write(text)
        ip(ns_a, "addr", "add", ADDR_A2 + "/24", "dev", "eth0")
        each_records_the_other(binary, run_a, run_b, ns_b)
        a = a2 = b = None
        try:
            a = ns_device(binary, run_a, ns_a).wait_ready()
            b = ns_device(binary, run_b, ns_b).wait_ready()
            wait_for(lambda: "Sync on timemaster systemtime" in b.log(), "B to follow A's time", 60)
            wait_for(lambda: blkcount(b, "SG") > 1000, "A's values in B's files", 60)
            wait_for(lambda: blkcount(a, "FDE") > 0, "B's values in A's m03", 60)
            steady = len(b.log())
            alone = records_per_second(b)
            mark = len(b.log())
            # B shows A's values on its dash: at their rate, their no-data
            # status stays as it is
            flips = b.log()[steady:mark].count("Display: timeout status change")
            print("B's display status changes in %.0f s of A's values: %d" % (5, flips))
            assert flips <= 4, b.log()[steady:mark][-3000:]
            a2 = ns_device(binary, run_a2, ns_a).wait_ready()
            id_a, id_a2 = UNIT_ID.findall(a.log()), UNIT_ID.findall(a2.log())
            assert len(id_a) == 1 and len(id_a2) == 1 and id_a != id_a2, (id_a, id_a2)
            id_a, id_a2 = id_a[0], id_a2[0]
            network = "Diradir2: two units send as PID 0x%X: id %s at %s and id %s at %s" % (PID_A, id_a, ADDR_A,
                                                                                            id_a2, ADDR_A2)
            timing = "two units send as time master PID 0x%02X: id %s" % (PID_A, id_a)
            wait_for(lambda: network in b.log()[mark:] and timing in b.log()[mark:], "B to name the two units", 30)
            named = len(b.log())
            both = records_per_second(b, 10)
            log_b = b.log()[mark:]
            flips = b.log()[named:].count("Display: timeout status change")
            print("B's display status changes in 10 s with two units: %d" % flips)
            assert flips <= 4, b.log()[named:][-3000:]
            print("B's m01 records a second: %.0f with A alone, %.0f with two units under PID 1" % (alone, both))
            assert log_b.count("two units send as PID") == 1, log_b.count("two units send as PID")
            assert log_b.count("two units send as time master") == 1, log_b.count("two units send as time master")
            assert id_a2 in log_b[log_b.find(timing):].splitlines()[0], log_b[log_b.find(timing):][:300]
            resets = [ln for ln in log_b.splitlines() if "Reset detected on PID 0x%X" % PID_A in ln]
            assert not resets, resets[:5]
            stopped = [ln for ln in log_b.splitlines() if "served to PID 0x%X stopped" % PID_A in ln]
            assert not stopped, stopped[:5]
            assert both >= 0.8 * alone, "B recorded %.0f records a second with two units, %.0f before" % (both, alone)
            for dev in (a2, a, b):
                assert dev.stop() == 0
                dev.check_clean()
        except Exception:
            for name, dev in (("A", a), ("A2", a2), ("B", b)):
                if dev:
                    print("%s's log ends:\n%s" % (name, dev.log()[-3000:]))
            raise
    print("two units under one PID test passed")


def lost_nvram(binary, sample, ns_a, ns_b):
    with prepare(sample, "tav9-two-a-", PID_A, ADDR_A) as run_a, \
            prepare(sample, "tav9-two-b-", PID_B, ADDR_B) as run_b:
        make_follower(binary, run_b, ns_b, PID_B)   # B's first boot
        a = ns_device(binary, run_a, ns_a).wait_ready()
        b = None
        try:
            for boot in range(2, 5):
                b = ns_device(binary, run_b, ns_b).wait_ready()
                wait_for(lambda: blkcount(b, "SG") > 100, "A's values in B's files (boot %d)" % boot, 60)
                if boot < 4:
                    assert b.stop() == 0
            # B loses its NVRAM and starts again at once: its boot count starts over
            b.kill()
            os.remove(os.path.join(run_b.folder, "nvram.bin"))
            mark = len(a.log())
            b = ns_device(binary, run_b, ns_b).wait_ready()
            wait_for(lambda: blkcount(b, "SG") > 1000, "A's values in B's files after B lost its NVRAM", 30)
            refused = [ln for ln in a.log()[mark:].splitlines() if "not served" in ln]
            assert not refused, refused[:3]
            # the counters started over with the NVRAM: B's laps come again
            run_b.check_options(lap_order=False)
            stop_both(a, b)
        except Exception:
            if b:
                print_log_ends(a, b)
            raise
    print("slave that lost its NVRAM after four boots test passed")


def main():
    mode, binary, sample, source = sys.argv[1:5]
    pair = netns_pair_up(source, mode[0])
    if not pair:
        return SKIP
    try:
        if mode == "clocks":
            clocks(binary, sample, *pair, 1000)
        elif mode == "halfclocks":
            clocks(binary, sample, *pair, HALF_RANGE_S)
        else:
            {"moved": moved, "restarts": restarts, "relay": relay, "twounits": two_units,
             "nvram": lost_nvram}[mode](binary, sample, *pair)
    finally:
        netns_pair_down(source, pair)
    return 0


if __name__ == "__main__":
    sys.exit(main())
