"""XCP master between two device processes on loopback.

The first device (the master) is calibrated: its XCP master parameters are
written into the working page with "setvar", the page is read back over XCP
and stored as the device's reference page ("calpage.bin"), and the device is
started again. Its XCP master then configures the
XCP slave of the second device, and two class-28 channels travel through the
first device's gateway into a CAN output message that the test captures on
the host CAN bus. When the second device stops, the channel with a time-out
shows its default (in a list copied on its raster; the list fed per DAQ
gets no more data) and the instance reports the failure.
"""
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, make_folder, remove_folder, wait_for  # noqa: E402

CAN_XML = """<?xml version="1.0" encoding="UTF-8"?>
<Can>
  <CanOut>
    <Intf idx="0" rateLimt="0" startDelay="0"/>
    <Intf idx="1" rateLimt="0" startDelay="0"/>
    <CanMb idx="0" intf="0" canDlc="8" canId="0x300" event="R10ms" fdf="false" brs="false"/>
    <CanSignal chIdx="0" msgIdx="0" sBit="0" len="32" bigEndian="false" RCType="SIG" adrType="meas_by_address"
               adr="0x00700000" data_type="UINT32" fact="1" offs="0" signed="false" float="false"/>
    <CanSignal chIdx="1" msgIdx="0" sBit="32" len="32" bigEndian="false" RCType="SIG" adrType="meas_by_address"
               adr="0x00700001" data_type="UINT32" fact="1" offs="0" signed="false" float="false"/>
    <!-- with a value of this device: copied on the raster, not per DAQ -->
    <CanMb idx="1" intf="0" canDlc="8" canId="0x301" event="R10ms" fdf="false" brs="false"/>
    <CanSignal chIdx="2" msgIdx="1" sBit="0" len="32" bigEndian="false" RCType="SIG" adrType="meas_by_address"
               adr="0x00700000" data_type="UINT32" fact="1" offs="0" signed="false" float="false"/>
    <CanSignal chIdx="3" msgIdx="1" sBit="32" len="32" bigEndian="false" RCType="SIG" adrType="meas_by_address"
               adr="0x0004002C" data_type="UINT32" fact="1" offs="0" signed="false" float="false"/>
  </CanOut>
</Can>
"""

WORKING_PAGE = 0x020000
PAGE_SIZE = 0x20000
SIGNAL_PAGE = 0x040000
MEMORY_CANIN = 120      # offset of memory_canin in the signal page
STIM_TICK = 44          # offset of stim_tick


def free_port(kind=socket.SOCK_DGRAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def device_folder(sample, pid, xcp_port, offset, can0, can1):
    folder = make_folder(sample, prefix="tav9-xcpmr-%d-" % pid)
    with open(os.path.join(folder, "start.cfg"), "a") as f:
        f.write("pid = %d\nxcp_port = %d\nport_offset = %d\ncan0_port = %d\ncan1_port = %d\n"
                "can0_socketcand_port = 0\ncan1_socketcand_port = 0\n" % (pid, xcp_port, offset, can0, can1))
    return folder


class XcpTool:
    """The few XCP-on-UDP commands the test needs of a calibration tool."""

    def __init__(self, port):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.settimeout(2.0)
        self.addr = ("127.0.0.1", port)
        self.ctr = 0

    def command(self, packet):
        self.s.sendto(struct.pack("<HH", len(packet), self.ctr) + bytes(packet), self.addr)
        self.ctr += 1
        while True:
            data = self.s.recv(2048)
            n = struct.unpack_from("<H", data)[0]
            answer = data[4:4 + n]
            if answer and answer[0] in (0xFF, 0xFE):
                return answer
            self.unasked(answer)

    def unasked(self, packet):
        """A packet that answers no command (an event, a service request):
        passed over."""

    def upload(self, address, length):
        """Bytes of the device's memory from the address (PID in bits 24-31)."""
        answer = self.command([0xF6, 0, 0, 0] + list(struct.pack("<I", address)))
        assert answer == b"\xff", answer
        out = b""
        while len(out) < length:
            n = min(252, length - len(out))
            answer = self.command([0xF5, n])
            assert answer[0] == 0xFF and len(answer) == n + 1, answer[:4]
            out += answer[1:]
        return out

    def close(self):
        self.s.close()


def setvars(dev, values):
    for name, value in values:
        answer = dev.shell("setvar %s %d" % (name, value))
        assert "%s = " % name in answer, answer


class CanCapture:
    """Frames a device sends on its first CAN interface (host UDP bus)."""

    def __init__(self, can0_port):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.bind(("127.0.0.1", can0_port + 1000))
        self.s.setblocking(False)

    def latest(self, can_id, limit=2.0):
        """The payload of the newest frame with the id received so far (waiting
        up to limit seconds for one)."""
        end = time.time() + limit
        while True:
            found = None
            while True:
                try:
                    data = self.s.recv(128)
                except BlockingIOError:
                    break
                cid, n = struct.unpack_from("<IB", data)
                if cid & 0x1FFFFFFF == can_id:
                    found = data[8:8 + n]
            if found is not None or time.time() > end:
                return found
            time.sleep(0.02)

    def values(self, can_id=0x300):
        frame = self.latest(can_id)
        return struct.unpack_from("<II", frame) if frame and len(frame) >= 8 else (None, None)

    def close(self):
        self.s.close()


def wait_values(cap, cond, what, can_id=0x300, limit=15.0):
    last = [None]

    def check():
        last[0] = cap.values(can_id)
        return last[0][0] is not None and cond(*last[0])
    try:
        wait_for(check, what, limit)
    except AssertionError:
        raise AssertionError("%s; last frame values %r" % (what, last[0]))
    return last[0]


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    slave_port, master_port = free_port(), free_port()
    slave_folder = device_folder(sample, 2, slave_port, 200, free_port(), free_port())
    can0 = free_port()
    master_folder = device_folder(sample, 1, master_port, 300, can0, free_port())
    with open(os.path.join(master_folder, "cfg", "CAN.xml"), "w") as f:
        f.write(CAN_XML)
    slave = master = None
    cap = CanCapture(can0)
    try:
        slave = Device(binary, slave_folder).wait_ready()

        # calibrate the master device: two channels of one 10 ms DAQ of the slave
        master = Device(binary, master_folder).wait_ready()
        setvars(master, [
            ("CfgMat_XcpMr_ACTIVE[0]", 1), ("CfgMat_XcpMr_TransportLayer[0]", 0),
            ("CfgMat_XcpMr_UDP_ADDRESS[0]", 0x7F000001), ("CfgMat_XcpMr_UDP_PORT[0]", slave_port),
            ("CfgMat_XcpMr_DAQ_MRID[0]", 0), ("CfgMat_XcpMr_DAQ_ODT_NUM[0]", 1), ("CfgMat_XcpMr_DAQ_EVT_CHAN[0]", 1),
            ("CfgMat_XcpMr_CHAN_DAQ[0]", 0), ("CfgMat_XcpMr_CHAN_SIZE[0]", 4),
            ("CfgMat_XcpMr_CHAN_ADR[0]", 2 << 24 | SIGNAL_PAGE + MEMORY_CANIN + 4 * 10),
            ("CfgMat_XcpMr_CHAN_DEFAULT[0]", 0xDEAD), ("CfgMat_XcpMr_CHAN_TIMEOUT[0]", 300),
            ("CfgMat_XcpMr_CHAN_DAQ[1]", 0), ("CfgMat_XcpMr_CHAN_SIZE[1]", 4),
            ("CfgMat_XcpMr_CHAN_ADR[1]", 2 << 24 | SIGNAL_PAGE + STIM_TICK),
        ])
        # the working page becomes the stored reference page of the next start
        tool = XcpTool(master_port)
        try:
            assert tool.command([0xFF, 0x00])[0] == 0xFF
            page = tool.upload(1 << 24 | WORKING_PAGE, PAGE_SIZE)
        finally:
            tool.close()
        assert master.stop() == 0
        master.check_clean()
        with open(os.path.join(master_folder, "calpage.bin"), "wb") as f:
            f.write(page)

        master = Device(binary, master_folder).wait_ready()
        assert "XCPMR: starting instance 0, 1 DAQs." in master.log(), master.log()[-3000:]
        slave.shell("setvar memory_canin[10] 305419896")
        wait_for(lambda: "xcpmr_status[0] = 5" in master.shell("getvar xcpmr_status[0]"), "a running instance", 15)
        wait_values(cap, lambda a, b: a == 0x12345678, "the slave's value in the master's CAN frame")
        wait_values(cap, lambda a, b: a == 0x12345678, "the slave's value beside a local one", 0x301)
        slave.shell("setvar memory_canin[10] 4242")
        _, tick1 = wait_values(cap, lambda a, b: a == 4242, "the changed value")
        time.sleep(0.5)
        _, tick2 = cap.values(0x300)
        assert tick2 > tick1, (tick1, tick2)    # the slave's stimulus tick goes on
        assert "xcpmr_measdata[0] = 4242" in master.shell("getvar xcpmr_measdata[0]")

        # the slave stops answering: default value and the time-out status
        slave.stop()
        slave.check_clean()
        # the list of the DAQ gets no more data; the list copied on its raster shows the default
        wait_values(cap, lambda a, b: a == 0xDEAD, "the configured default after the time-out", 0x301)
        assert "xcpmr_measdata[0] = 57005" in master.shell("getvar xcpmr_measdata[0]")
        wait_for(lambda: "xcpmr_status[0] = 6" in master.shell("getvar xcpmr_status[0]"), "the failed status", 15)
        assert master.stop() == 0
        master.check_clean()
    except AssertionError:
        if master:
            print("master log:\n" + master.log()[-6000:])
        raise
    finally:
        cap.close()
        for dev in (master, slave):
            if dev:
                dev.kill()
        remove_folder(master_folder)
        remove_folder(slave_folder)
    print("xcp master device test passed")


if __name__ == "__main__":
    main()
