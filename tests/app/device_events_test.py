#!/usr/bin/env python3
"""Events of the running device in its measurement files.

one: the device in a copy of sample/ whose p_fuel is not driven by the
stimulus and whose "cfg/eventcfg.xml" watches it: "setvar p_fuel" makes a
rising edge and a later fall; measdump finds the rising event and the open
and closing events of the both-edges event (with its duration, its input's
address written in decimal) in the m01 file, named "TAV9_SAMPLE" from
"cfg/apps.xml", while an event with an unknown type is refused alone.
The both-edges event open at `meas stop` closes in that recording's files at
the stop, on both drives; its fall after `meas start` closes nothing in the
next recording's files.
Without "cfg/apps.xml" the device says once why it writes no events.

two: two devices in two network namespaces (scripts/netns-pair, root): the
event raised on device A (PID 3) is written into the measurement file of
device B (PID 7), named "TAV9_DEV_A". Skipped (exit 77) where namespaces
cannot be made.
Usage: device_events_test.py one|two TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER SOURCE_DIR
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, make_folder, netns_pair_down, netns_pair_up, remove_folder, wait_for  # noqa: E402

SKIP = 77

EVENTCFG = """<?xml version="1.0" encoding="UTF-8"?>
<EventList>
  <Event name="FuelOn" text="fuel pressure up" severity="Warning" triggerEdge="rising" idx="0">
    <triggerInput type="FLOAT" adr="0x{pid:02X}04001C" mask="0" a="0" b="1" c="0" d="0" e="0" f="1"
                  name="p_fuel" vtab=""/>
  </Event>
  <Event name="FuelWindow" text="fuel pressure on" severity="Info" triggerEdge="both" idx="1">
    <triggerInput type="FLOAT" adr="{adr_dec}" mask="0" a="0" b="1" c="0" d="0" e="0" f="1"
                  name="p_fuel" vtab=""/>
  </Event>
  <Event name="Typo" text="a type word nobody knows" severity="Info" triggerEdge="rising" idx="2">
    <triggerInput type="FLOAT32" adr="{adr_dec}" mask="0" a="0" b="1" c="0" d="0" e="0" f="1"
                  name="p_fuel" vtab=""/>
  </Event>
</EventList>
"""

EVENT_LINE = re.compile(r'type 6 \(event\) length \d+: id 0x([0-9A-F]{8}) time (\d+) duration (\d+) kind (\d+) '
                        r'severity (\d+) pid 0x([0-9A-F]{2}) "([^"]*)" "([^"]*)" app "([^"]*)"')


def prepare(sample, prefix, pid=None, ip=None, events=True):
    """A device folder: p_fuel left to the shell, the event channels on it."""
    folder = make_folder(sample, prefix)
    stim = os.path.join(folder, "stimulus.cfg")
    with open(stim) as f:
        lines = [ln for ln in f if not ln.startswith("p_fuel")]
    with open(stim, "w") as f:
        f.writelines(lines)
    if pid is not None:
        cfg = os.path.join(folder, "start.cfg")
        with open(cfg) as f:
            text = f.read()
        text = re.sub(r"(?m)^pid = .*$", "pid = %d" % pid, text)
        text = re.sub(r"(?m)^ip = .*$", "ip = %s" % ip, text)
        with open(cfg, "w") as f:
            f.write(text)
        # the configurations name this device's own values by its PID
        cfgdir = os.path.join(folder, "cfg")
        for name in os.listdir(cfgdir):
            if name.endswith(".xml"):
                path = os.path.join(cfgdir, name)
                with open(path) as f:
                    text = f.read()
                with open(path, "w") as f:
                    f.write(re.sub(r"0x01([0-9A-Fa-f]{6})", lambda m: "0x%02X%s" % (pid, m.group(1)), text))
    ev = os.path.join(folder, "cfg", "eventcfg.xml")
    if events:
        with open(ev, "w") as f:
            own = pid if pid is not None else 1
            # one input's address in hexadecimal, one in decimal (as tools write it)
            f.write(EVENTCFG.format(pid=own, adr_dec=(own << 24) | 0x04001C))
    elif os.path.exists(ev):
        os.remove(ev)
    return folder


def events_of(measdump, folder, drive="meas", names=None):
    """Every event block of the drive's files (those named, when given):
    (id, time, duration, pid, name, app)."""
    out = []
    d = os.path.join(folder, drive)
    for name in sorted(os.listdir(d)):
        if name.startswith(".") or (names is not None and name not in names):
            continue
        r = subprocess.run([measdump, os.path.join(d, name)], capture_output=True, text=True)
        assert r.returncode == 0, "%s: measdump exit %d\n%s" % (name, r.returncode, r.stdout[-2000:])
        for m in EVENT_LINE.finditer(r.stdout):
            out.append((int(m.group(1), 16), int(m.group(2)), int(m.group(3)), int(m.group(6), 16), m.group(7),
                        m.group(9)))
    return out


def wait_logging(dev):
    """Until logging runs and its first file is open (events need a file)."""
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
    meas = os.path.join(dev.folder, "meas")
    wait_for(lambda: any(not n.startswith(".") for n in os.listdir(meas)), "the first measurement file")


def toggle_fuel(dev):
    """A rise and, 400 ms later, a fall of p_fuel."""
    assert "p_fuel = 0" in dev.shell("setvar p_fuel 0")
    time.sleep(0.3)
    dev.shell("setvar p_fuel 3")
    time.sleep(0.4)
    dev.shell("setvar p_fuel 0")
    time.sleep(0.5)


def stop_while_open(dev):
    """p_fuel up, `meas stop`, `meas start` and p_fuel down in the next
    recording: the names of the files of the first recording."""
    dev.shell("setvar p_fuel 3")
    time.sleep(0.5)
    dev.shell("meas stop")
    wait_for(lambda: "meas_app_running           = 0" in dev.shell("meas"), "logging to stop")
    meas = os.path.join(dev.folder, "meas")
    first = set(n for n in os.listdir(meas) if not n.startswith("."))
    dev.shell("meas start")
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run again")
    wait_for(lambda: set(n for n in os.listdir(meas) if not n.startswith(".")) - first, "a file of the next start")
    dev.shell("setvar p_fuel 0")
    time.sleep(1.0)
    return set(n.replace("A", "B", 1) for n in first) | first


def one(binary, measdump, sample):
    folder = prepare(sample, "tav9-events-")
    dev = None
    try:
        dev = Device(binary, folder).wait_ready()
        wait_logging(dev)
        toggle_fuel(dev)
        opened = stop_while_open(dev)
        assert dev.stop() == 0
        dev.check_clean()
        log = dev.log()
        assert "Eventlogging channel setup with 2/50 events" in log, log[-3000:]
        assert "Eventlogging logger setup for m01" in log
        assert "Eventlogging service started." in log
        # the event with the unknown type is refused alone
        assert "eventChannelsInitTask(): unsupported type (type) in line 12 " in log, [l for l in log.splitlines() if "eventCh" in l]
        assert log.count("eventChannelsInitTask()") == 1, log[-3000:]
        for bad in ("eventLoggerInit()", "eventlogging_send()"):
            assert bad not in log, bad + " logged:\n" + log[-3000:]
        evs = [e for e in events_of(measdump, folder) if e[0] >> 24 == 2]
        on = [e for e in evs if e[4] == "FuelOn"]
        window = [e for e in evs if e[4] == "FuelWindow"]
        assert len(on) == 2 and on[0][2] == 0, evs   # the toggle's rise and the one before the stop
        assert on[0][3] == 1 and on[0][5] == "TAV9_SAMPLE", on
        assert len(window) == 4, evs
        assert window[0][2] == 0xFFFFFFFF and window[0][1] == window[1][1], window
        assert 3000 <= window[1][2] <= 8000, "duration %d (0.1 ms) for 400 ms" % window[1][2]
        for drive in ("meas", "meas2"):
            before = [e for e in events_of(measdump, folder, drive, opened) if e[4] == "FuelWindow"]
            after = [e for e in events_of(measdump, folder, drive) if e[4] == "FuelWindow" and e not in before]
            assert len(before) == 4 and before[2][2] == 0xFFFFFFFF and before[3][1] == before[2][1], (drive, before)
            assert before[3][2] != 0xFFFFFFFF, (drive, before)
            assert after == [], "the next recording holds %s (%s)" % (after, drive)

        # without the application names no logger is made, and that is said once
        os.remove(os.path.join(folder, "cfg", "apps.xml"))
        dev = Device(binary, folder).wait_ready()
        wait_logging(dev)
        assert dev.stop() == 0
        log = dev.log()
        assert log.count("eventLoggerInit(): File not found : cfg:/apps.xml") == 1, log
        assert "no events are written" not in log, log
    finally:
        if dev:
            dev.kill()
        remove_folder(folder)
    print("device events test passed")


class NsDevice(Device):
    """A device process inside a network namespace (`ip netns exec` becomes it)."""

    def __init__(self, binary, folder, ns):
        self.binary = os.path.abspath(binary)
        self.folder = folder
        self.output_path = folder.rstrip("/") + ".out"
        self.log_start = 0
        self._out = open(self.output_path, "ab")
        self.proc = subprocess.Popen(["ip", "netns", "exec", ns, self.binary, "1"], cwd=folder,
                                     stdin=subprocess.DEVNULL, stdout=self._out, stderr=subprocess.STDOUT)
        self.note_start()


def two(binary, measdump, sample, source):
    pair = netns_pair_up(source, "e")
    if not pair:
        return SKIP
    ns_a, ns_b = pair
    folder_a = prepare(sample, "tav9-events-a-", 3, "10.213.0.1")
    folder_b = prepare(sample, "tav9-events-b-", 7, "10.213.0.2", events=False)
    a = b = None
    try:
        b = NsDevice(binary, folder_b, ns_b).wait_ready()
        a = NsDevice(binary, folder_a, ns_a).wait_ready()
        wait_logging(a)
        wait_logging(b)
        # each hears the other's presence
        wait_for(lambda: "BC2_UDP_listen add remote_pid 3" in b.log(), "device B to hear device A")
        time.sleep(0.5)
        toggle_fuel(a)
        assert a.stop() == 0
        assert b.stop() == 0
        a.check_clean()
        b.check_clean()
        evs = [e for e in events_of(measdump, folder_b) if e[0] >> 24 == 2]
        from_a = [e for e in evs if e[3] == 3]
        assert sorted(e[4] for e in from_a) == ["FuelOn", "FuelWindow", "FuelWindow"], evs
        assert all(e[5] == "TAV9_DEV_A" for e in from_a), from_a
        # and A wrote its own events too
        assert len([e for e in events_of(measdump, folder_a) if e[3] == 3 and e[0] >> 24 == 2]) == 3
    finally:
        for d in (a, b):
            if d:
                d.kill()
        netns_pair_down(source, pair)
        remove_folder(folder_a)
        remove_folder(folder_b)
    print("two-device events test passed")
    return 0


def main():
    mode, binary, measdump, sample = sys.argv[1:5]
    if mode == "one":
        one(binary, measdump, sample)
        return 0
    return two(binary, measdump, sample, sys.argv[5])


if __name__ == "__main__":
    sys.exit(main())
