#!/usr/bin/env python3
"""A calibration tool stores the working page while the store cannot be
written, then again once it can.

The store fails either on a folder where calpage.bin is written aside
("folder") or on a full device folder, a tmpfs filled to the last byte
("full"; needs root to mount it, otherwise exits 77, skipped). After the
failed store the log names the cause, the device stays up and ends no
session, a tool connects again and uploads the working page as it wrote it;
a store that can be written then ends the process in order, with the page in
calpage.bin.
Usage: device_calibration_store_test.py folder|full TAV9_BINARY SAMPLE_FOLDER
"""
import os
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_full_drive_test import fill, mount_tmpfs, umount  # noqa: E402
from device_harness import Device, check_recordings, remove_folder, wait_for  # noqa: E402
from xcp_master_device_test import XcpTool, free_port  # noqa: E402

SKIPPED = 77
PID_BITS = 1 << 24            # the sample's pid = 1
WORKING_PAGE = 0x020000
PAGE_SIZE = 0x20000
SPARE = 0x400                 # inside the calibration page's spare area
PATTERN = bytes((0x21 + 7 * i) & 0xFF for i in range(64))


class Tool(XcpTool):
    """An XCP tool that also keeps the event packets the device sends."""

    def __init__(self, port):
        super().__init__(port)
        self.events = []

    def unasked(self, packet):
        if packet and packet[0] == 0xFD:
            self.events.append(packet)

    def connect(self):
        answer = self.command([0xFF, 0x00])
        assert answer[:1] == b"\xff" and len(answer) == 8, answer

    def short_download(self, address, data):
        answer = self.command([0xED, len(data), 0, 0] + list(struct.pack("<I", address)) + list(data))
        assert answer == b"\xff", answer

    def store(self, config_id):
        # segment 0 in FREEZE mode, then SET_REQUEST STORE_CAL_REQ
        assert self.command([0xE6, 1, 0]) == b"\xff"
        assert self.command([0xF9, 1, config_id & 0xFF, config_id >> 8]) == b"\xff"


def started(binary, folder, port):
    with open(os.path.join(folder, "start.cfg"), "a") as f:
        f.write("xcp_port = %d\n" % port)
    return Device(binary, folder).wait_ready()


def failed_store(dev, port, cause):
    """Calibrates the working page and stores it while the store fails with
    `cause`; checks what the device does then. Returns the tool, connected."""
    tool = Tool(port)
    tool.connect()
    assert tool.command([0xEB, 0x83, 0, 1]) == b"\xff"   # the ECU runs on the working page
    tool.short_download(PID_BITS | SPARE, PATTERN)
    tool.store(0x1234)
    # a full folder's log.txt takes no line now: the cause is on stderr too,
    # the store's answer only in the log, which keeps it until it has room
    where = lambda: dev.log() + dev.output()  # noqa: E731
    wait_for(lambda: "cannot write calpage.bin: " + cause in where(), "the cause of the failed store", 30)
    # a good store ends the process one second after its callback: this one does not
    time.sleep(3)
    assert dev.proc.poll() is None, dev.output()
    # no store pending; the session goes on and has not ended
    assert tool.command([0xFD]) == bytes([0xFF, 0, 0, 0, 0x34, 0x12])
    assert tool.events == [], tool.events
    assert tool.upload(PID_BITS | WORKING_PAGE + SPARE, len(PATTERN)) == PATTERN
    # a tool that connects anew is answered and finds the working page as it was written
    assert tool.command([0xFE]) == b"\xff"
    tool.close()
    tool = Tool(port)
    tool.connect()
    assert tool.upload(PID_BITS | WORKING_PAGE + SPARE, len(PATTERN)) == PATTERN
    return tool


def good_store(dev, tool, folder):
    """A store that can be written ends the process in order, with the page stored."""
    tool.store(0x5678)
    dev.wait_clean_end(60, "a good store")
    with open(os.path.join(folder, "calpage.bin"), "rb") as f:
        page = f.read()
    assert len(page) == PAGE_SIZE and page[SPARE:SPARE + len(PATTERN)] == PATTERN


def stores(binary, folder, cause, block, unblock):
    """The failed store while block() keeps the store from being written
    (with `cause`), then a good one once unblock() has run. The tool and the
    device end however it goes."""
    dev = tool = None
    try:
        port = free_port()
        dev = started(binary, folder, port)
        block()
        tool = failed_store(dev, port, cause)
        unblock()
        good_store(dev, tool, folder)
        # the failed store's answer reached the log, whether or not it had room then
        assert "xcpStoreCalReqCallback called, result is 0x00000000" in dev.log(), dev.log()[-3000:]
    finally:
        if tool:
            tool.close()
        if dev:
            dev.kill()


def folder_in_the_way(binary, sample):
    folder = tempfile.mkdtemp(prefix="tav9-calstore-")
    shutil.copytree(sample, folder, dirs_exist_ok=True)
    aside = os.path.join(folder, "calpage.bin.tmp")

    def clear_the_way():
        assert not os.path.exists(os.path.join(folder, "calpage.bin"))
        os.rmdir(aside)
    try:
        stores(binary, folder, os.strerror(21), lambda: os.mkdir(aside), clear_the_way)   # EISDIR
    finally:
        remove_folder(folder)
    return 0


def full_folder(binary, sample):
    if os.geteuid() != 0:
        print("device calibration store test (full) skipped: needs root to mount a tmpfs")
        return SKIPPED
    folder = tempfile.mkdtemp(prefix="tav9-calfull-")
    if not mount_tmpfs(folder, "16m"):
        os.rmdir(folder)
        print("device calibration store test (full) skipped: cannot mount a tmpfs")
        return SKIPPED
    try:
        shutil.copytree(sample, folder, dirs_exist_ok=True)
        stores(binary, folder, os.strerror(28), lambda: fill(folder),   # ENOSPC
               lambda: os.unlink(os.path.join(folder, "filler")))
    finally:
        try:
            check_recordings(folder)   # while the folder's files are there
        finally:
            umount(folder)
            remove_folder(folder)
    return 0


def main():
    mode, binary, sample = sys.argv[1], sys.argv[2], sys.argv[3]
    rc = {"folder": folder_in_the_way, "full": full_folder}[mode](binary, sample)
    if rc == 0:
        print("device calibration store test (%s) passed" % mode)
    return rc


if __name__ == "__main__":
    sys.exit(main())
