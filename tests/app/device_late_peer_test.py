#!/usr/bin/env python3
"""Another device's values in the measurement file when that device comes late.

Two devices in two network namespaces (scripts/netns-pair, root): device A
(PID 3) logs in m01 a block of device B's values (PID 7). B starts only once
A has asked for its values and found it absent; A's m01 file holds B's values
from about B's start on. B is then killed and started again: its values
resume in A's file. Each step waits for what A shows of the one before (its
shell, its log, its file), not for a fixed time. Skipped (exit 77) where
namespaces cannot be made.
Usage: device_late_peer_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER SOURCE_DIR
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_events_test import NsDevice, prepare, wait_logging, SKIP  # noqa: E402
from device_harness import netns_pair_down, netns_pair_up, remove_folder, wait_for  # noqa: E402

PEER_BLOCK = """  <Block name="peer 100ms" idx="3" num_seqs="1" true_div="1" false_div="1" Raster="R100ms">
    <CopySeq align="4" size="4" num="1" idx="0">
      <adr adr="0x07040000" idx="0"/> <!-- n_engine of PID 7 -->
    </CopySeq>
  </Block>
"""
TICKS = 10000  # time stamps in 0.1 ms


def add_peer_block(folder):
    path = os.path.join(folder, "cfg", "m01.xml")
    with open(path) as f:
        text = f.read()
    text = text.replace('num_blocks="3"', 'num_blocks="4"').replace("  <Condition ", PEER_BLOCK + "  <Condition ", 1)
    with open(path, "w") as f:
        f.write(text)


def records(measdump, folder):
    """{block: [time, ...]} of every m01 file of the folder."""
    out = {}
    d = os.path.join(folder, "meas")
    for name in sorted(os.listdir(d)):
        if name.startswith("."):
            continue
        r = subprocess.run([measdump, "--csv", os.path.join(d, name)], capture_output=True, text=True)
        # 3: cut off, as the file still being written is (no closing status
        # block yet); what it holds is listed all the same
        assert r.returncode in (0, 3), "%s: measdump exit %d\n%s" % (name, r.returncode, r.stdout[-2000:])
        for line in r.stdout.splitlines()[1:]:
            block, ts, _ = line.split(",", 2)
            out.setdefault(int(block), []).append(int(ts))
    return out


def peer_times(measdump, folder):
    """(first own time stamp, B's time stamps) in A's files so far; the file
    being written is read as far as it is written."""
    try:
        rec = records(measdump, folder)
    except AssertionError:
        return None, []   # caught in the middle of a write: asked again
    own = rec.get(1, [])
    return (min(own) if own else None), sorted(rec.get(4, []))


def main():
    binary, measdump, sample, source = sys.argv[1:5]
    pair = netns_pair_up(source, "l")
    if not pair:
        return SKIP
    ns_a, ns_b = pair
    folder_a = prepare(sample, "tav9-late-a-", 3, "10.213.0.1", events=False)
    folder_b = prepare(sample, "tav9-late-b-", 7, "10.213.0.2", events=False)
    add_peer_block(folder_a)
    a = b = None
    try:
        a = NsDevice(binary, folder_a, ns_a).wait_ready()
        wait_logging(a)
        wait_for(lambda: "starting measurement m01" in a.log(), "the first data of m01")
        w0 = time.monotonic()
        # B comes late: A has asked for its values and found it absent
        wait_for(lambda: "-->pid 7 [0x7] rate 100ms is offline!" in a.shell("meas"), "device A to miss device B")
        w_b = time.monotonic()
        b = NsDevice(binary, folder_b, ns_b).wait_ready()
        wait_for(lambda: "BC2_UDP_listen add remote_pid 7" in a.log(), "device A to hear device B", 20)
        wait_for(lambda: peer_times(measdump, folder_a)[1], "device B's values in A's file")
        b.kill()
        b.proc.wait()
        wait_for(lambda: "Host PID 0x7 is Offline" in a.log(), "device A to see device B gone", 10)
        w_r = time.monotonic()
        before = len(b.log()) + b.log_start
        b = NsDevice(binary, folder_b, ns_b)
        b.log_start = before   # this run's start-up, not the killed one's
        b.wait_ready()

        def resumed():
            t0, peer = peer_times(measdump, folder_a)
            return t0 is not None and peer and peer[-1] >= t0 + int((w_r - w0) * TICKS)
        wait_for(resumed, "device B's values in A's file after its restart")
        w_end = time.monotonic()
        assert a.stop() == 0
        b.stop()
        log = a.log()
        rec = records(measdump, folder_a)
        own, peer = sorted(rec.get(1, [])), sorted(rec.get(4, []))
        assert own, rec.keys()
        t0 = own[0]

        def at(w):
            return t0 + int((w - w0) * TICKS)

        assert peer, "no value of device B in A's files\n" + log[-3000:]
        # from about B's start on (it needs a moment to announce itself and connect)
        assert at(w_b) - TICKS <= peer[0] <= at(w_b) + 8 * TICKS, (peer[0], at(w_b))
        # and again after its restart, up to about the end
        after = [t for t in peer if t >= at(w_r)]
        assert after, (peer[-5:], at(w_r))
        assert after[0] <= at(w_r) + 8 * TICKS, (after[0], at(w_r))
        assert peer[-1] >= at(w_end) - 4 * TICKS, (peer[-1], at(w_end))
    finally:
        for d in (a, b):
            if d:
                d.kill()
        netns_pair_down(source, pair)
        remove_folder(folder_a)
        remove_folder(folder_b)
    print("late peer test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
