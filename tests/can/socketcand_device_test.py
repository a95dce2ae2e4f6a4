#!/usr/bin/env python3
"""The running device with the sample CAN.xml, driven by python-can.

Starts the device process in a copy of sample/ whose start.cfg serves CAN1
(interface 0) in socketcand raw mode on a free TCP port, then, as an engineer
would with python-can's "socketcand" interface, beside 14 tools that
connected and stay silent: sends frames that the sample CAN.xml decodes and
reads the decoded values with "getvar", and receives the device's output
frames, checking that their counters step and their checksums are right.
With a tool sending a frame every millisecond on the last place, a newcomer
is refused (and the refusal logged) while every silent tool keeps its place;
once one leaves, python-can connects on its place again and again while the
frames flow. Exit code 77 (skipped) when python-can is missing.
Usage: socketcand_device_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app"))
import recording_check  # noqa: E402
from device_harness import measdump_beside, shell, wait_for  # noqa: E402

try:
    import can
except ImportError:
    # Debian's python3-can lives with the system interpreter
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("python-can not installed: skipped")
    sys.exit(77)


def getvar(folder, name):
    m = re.search(re.escape(name) + r" = (\d+)", shell(folder, "getvar " + name))
    return int(m.group(1)) if m else None


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def silent_tools(port, count):
    """Clients that connect, take their greeting and then stay silent, as
    tools that only listen (or a laptop unplugged a moment ago)."""
    socks = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        socks.append(s)
        got = b""
        while b">" not in got:
            chunk = s.recv(64)
            assert chunk, "server closed a client within its place"
            got += chunk
        assert got.strip().startswith(b"< hi >"), got
    return socks


def crc8(data, poly):
    crc = 0xFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = ((crc << 1) ^ poly) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc ^ 0xFF


def check_output(frames):
    by_id = {}
    for m in frames:
        by_id.setdefault(m.arbitration_id, []).append(bytes(m.data))
    fast, slow = by_id.get(0x200, []), by_id.get(0x201, [])
    assert len(fast) >= 20, "too few 0x200 frames: %d" % len(fast)
    assert len(slow) >= 3, "too few 0x201 frames: %d" % len(slow)
    for d in fast:
        assert len(d) == 8 and d[7] == crc8(d[:7], 0x1D), "CRC-8 wrong in %s" % d.hex()
    for a, b in zip(fast, fast[1:]):
        assert (b[6] & 0x0F) == ((a[6] & 0x0F) + 1) % 16, "counter of 0x200 does not step: %s %s" % (a.hex(), b.hex())
    for d in slow:
        x = 0
        for v in d[:7]:
            x ^= v
        assert d[7] == x, "XOR checksum wrong in %s" % d.hex()
        assert d[4] == 0xA5
    for a, b in zip(slow, slow[1:]):
        want = (a[6] & 0x0F) + 1 if (a[6] & 0x0F) < 14 else 1
        assert (b[6] & 0x0F) == want, "counter of 0x201 does not step: %s %s" % (a.hex(), b.hex())
    return slow


def still_connected(s):
    """True while the server has not closed the client's connection."""
    s.setblocking(False)
    try:
        return s.recv(64, socket.MSG_PEEK) != b""
    except BlockingIOError:
        return True
    except OSError:
        return False
    finally:
        s.setblocking(True)


def flood(port, stop):
    """A tool that sends a frame every millisecond until stop is set."""
    sender = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
    try:
        n = 0
        while not stop.is_set():
            sender.send(can.Message(arbitration_id=0x300, is_extended_id=False, data=[n & 0xFF]))
            n += 1
            time.sleep(0.001)
    finally:
        sender.shutdown()


def port_full_and_churn(folder, port, bus, silent):
    """The port is full: a newcomer is refused and logged, nobody loses a
    place. Then python-can tools connect one after another on a freed place
    while frames flow."""
    stop = threading.Event()
    sender = threading.Thread(target=flood, args=(port, stop))
    sender.start()
    try:
        def heard_sender():
            m = bus.recv(0.2)
            return m is not None and m.arbitration_id == 0x300
        wait_for(heard_sender, "frames of the sending tool")
        try:
            late = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
            late.shutdown()
            raise AssertionError("a newcomer got a place on a full port")
        except can.CanError:
            pass
        wait_for(lambda: "refused" in open(os.path.join(folder, "stderr.txt"), errors="replace").read(),
                 "the refusal logged")
        assert all(still_connected(s) for s in silent), "a silent tool lost its place"
        assert bus.recv(2.0) is not None, "the first tool stopped receiving"

        silent.pop().close()
        failed = 0
        for _ in range(1000):
            try:
                tool = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
            except can.CanError as e:
                failed += 1
                print("connect failed:", e)
                continue
            tool.shutdown()
        assert failed == 0, "%d of 1000 python-can tools failed to connect while frames flowed" % failed
        tool = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
        try:
            assert tool.recv(5.0) is not None, "no frame reached a tool that connected while frames flowed"
        finally:
            tool.shutdown()
    finally:
        stop.set()
        sender.join()


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp(prefix="tav9-socketcand-")
    proc = None
    bus = None
    silent = []
    try:
        shutil.copytree(sample, folder, dirs_exist_ok=True)
        port = free_port()
        cfg = os.path.join(folder, "start.cfg")
        with open(cfg) as f:
            text = f.read()
        text = re.sub(r"(?m)^can0_socketcand_port.*$", "can0_socketcand_port = %d" % port, text)
        text = re.sub(r"(?m)^can1_socketcand_port.*$", "can1_socketcand_port = 0", text)
        if "can0_socketcand_port" not in text:
            text += "\ncan0_socketcand_port = %d\n" % port
        with open(cfg, "w") as f:
            f.write(text)
        with open(os.path.join(folder, "stderr.txt"), "w") as err:
            proc = subprocess.Popen([binary, "1"], cwd=folder, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=err)
        log = os.path.join(folder, "log.txt")
        wait_for(lambda: os.path.exists(os.path.join(folder, "shell.sock")), "shell.sock")
        wait_for(lambda: os.path.exists(log) and "CanOut_Init" in open(log, errors="replace").read(),
                 "CAN configuration")

        silent = silent_tools(port, 14)
        bus = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
        bus.send(can.Message(arbitration_id=0x100, is_extended_id=False,
                             data=[0x34, 0x12, 0xFE, 0x00, 0x12, 0x30, 0x00, 0x00]))
        bus.send(can.Message(arbitration_id=0x18FF0010, is_extended_id=True, data=[1, 0x10, 0x27]))
        wait_for(lambda: getvar(folder, "memory_canin[0]") == 0x1234, "decoded engine speed")
        assert getvar(folder, "memory_canin[2]") == 0x123, "big-endian field"
        wait_for(lambda: getvar(folder, "memory_canin[5]") == 10000, "multiplexed row 1")

        frames = []
        end = time.time() + 1.5
        while time.time() < end:
            m = bus.recv(0.2)
            if m is not None:
                frames.append(m)
        slow = check_output(frames)
        # 0x201 carries the engine speed decoded from the frame sent above
        assert any(d[2] == 0x34 and d[3] == 0x12 for d in slow), "0x201 does not echo memory_canin[0]"
        port_full_and_churn(folder, port, bus, silent)
        bus.shutdown()
        bus = None
        try:
            shell(folder, "reset_voz")
        except OSError:
            pass
        assert proc.wait(timeout=30) == 0
        problems = recording_check.check_folder(folder, measdump_beside(binary))
        assert not problems, "recording check:\n  " + "\n  ".join(problems)
    finally:
        for s in silent:
            s.close()
        if bus is not None:
            bus.shutdown()
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()
        shutil.rmtree(folder, ignore_errors=True)
    print("socketcand device test passed")


if __name__ == "__main__":
    main()
