#!/usr/bin/env python3
"""Kills the running device 60 times (SIGKILL) amid random shell commands.

After every restart the lap, outing and fragment counters must equal the
last acknowledged state or the state of the command that was in flight when
the process died, the absolute lap counter likewise (plus the one lap every
start counts), and the boot counter must have risen by exactly one.
A sanitizer build starts and stops many times slower, the more so on a
loaded host: it runs at most SANITIZER_CYCLES cycles, and any build stops
starting new cycles once BUDGET_S have passed, after MIN_CYCLES at least.
Usage: device_kill_test.py TAV9_BINARY SAMPLE_FOLDER [CYCLES]
"""
import os
import random
import re
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, check_options, connect, make_folder, parse_state, remove_folder  # noqa: E402

SANITIZER_CYCLES = 12
MIN_CYCLES = 6
BUDGET_S = 150.0


def predict(state, command):
    """The counters after a lap-counter command (no measurement files lie on
    the drives, so no file name is in use)."""
    lap, outing, fragment, absolute = state
    words = command.split()
    if words[0] == "lof_set":
        new_lap, new_outing = int(words[1]), int(words[2])
        if (new_lap, new_outing) != (lap, outing):
            return (new_lap, new_outing, 1, (absolute + 1) & 0xFFFF)
        return state
    if words[0] == "lof_laptrig":
        return ((lap + 1) & 0xFFFF, outing, 1, (absolute + 1) & 0xFFFF)
    if words[0] == "lof_outtrig":
        return (lap, (outing + 1) & 0xFFFF, 1, (absolute + 1) & 0xFFFF)
    if words[0] == "lof_fratrig":
        if fragment >= 255:
            return (lap, outing, 1, (absolute + 1) & 0xFFFF)
        return (lap, outing, fragment + 1, absolute)
    return state


def random_command(rng):
    pick = rng.random()
    if pick < 0.25:
        return "lof_set %d %d" % (rng.randint(0, 300), rng.randint(0, 300))
    if pick < 0.45:
        return "lof_laptrig"
    if pick < 0.55:
        return "lof_outtrig"
    if pick < 0.8:
        return "lof_fratrig"
    if pick < 0.9:
        return "setvar display_brightness %d" % rng.randint(0, 255)
    return "getvar n_engine"


def boot_counter(dev):
    boots = re.findall(r"startup: boot counter (\d+)", dev.log())
    assert boots, "no boot counter in the log:\n" + dev.log()
    return int(boots[-1])


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    cycles = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    seed = int(os.environ.get("TAV9_KILL_SEED", str(int(time.time()))))
    rng = random.Random(seed)
    print("seed %d" % seed)
    folder = make_folder(sample, "tav9-kill-")
    # "lof_set" with random numbers may name a lap that was recorded before:
    # the test itself sets the counters back there, at the absolute laps
    # noted here (those of a command in flight too), and laps may come again
    # after them; nowhere else
    set_back = set()
    check_options(folder, set_back=set_back)
    acked = None          # counters as last acknowledged by the device
    in_flight = None      # counters the command sent just before the kill leads to
    last_boot = None
    ran = 0
    started = time.time()
    try:
        for cycle in range(cycles):
            dev = Device(binary, folder)
            try:
                dev.wait_ready()
                if cycle == 0 and "startup: sanitizer build" in dev.log() and cycles > SANITIZER_CYCLES:
                    print("sanitizer build: %d cycles" % SANITIZER_CYCLES)
                    cycles = SANITIZER_CYCLES
                boot = boot_counter(dev)
                assert last_boot is None or boot == last_boot + 1, \
                    "cycle %d: boot counter %d after %d" % (cycle, boot, last_boot)
                last_boot = boot
                state = parse_state(dev.shell("lof_get"))
                if acked is not None:
                    allowed = {acked[:3]} | ({in_flight[:3]} if in_flight else set())
                    assert state[:3] in allowed, "cycle %d: counters %s, expected one of %s" % (
                        cycle, state, sorted(allowed))
                    allowed_abs = {(acked[3] + 1) & 0xFFFF}
                    if in_flight:
                        allowed_abs.add((in_flight[3] + 1) & 0xFFFF)
                    assert state[3] in allowed_abs, "cycle %d: absolute lap %d, expected one of %s" % (
                        cycle, state[3], sorted(allowed_abs))
                acked, in_flight = state, None

                for _ in range(rng.randint(0, 6)):
                    command = random_command(rng)
                    expected = predict(acked, command)
                    if command.startswith("lof_set") and expected != acked:
                        set_back.add(expected[3])
                    answer = dev.shell(command)
                    assert "value = 0" in answer, (command, answer)
                    if command.startswith("lof_"):
                        acked = parse_state(answer)
                        assert acked == expected, (command, acked, expected)

                if rng.random() < 0.7:
                    # a command in flight: sent, and the process killed at once
                    command = random_command(rng)
                    in_flight = predict(acked, command)
                    if command.startswith("lof_set") and in_flight != acked:
                        set_back.add(in_flight[3])
                    s = connect(folder)
                    try:
                        s.sendall((command + "\n").encode())
                        time.sleep(rng.random() * 0.004)
                    finally:
                        dev.kill()
                        s.close()
                else:
                    dev.kill()
                dev.check_clean()
            finally:
                dev.kill()
            ran = cycle + 1
            if ran >= cycles:
                break
            if ran >= MIN_CYCLES and time.time() - started > BUDGET_S:
                print("%.0f s spent: no more cycles after %d" % (time.time() - started, ran))
                break
    except (AssertionError, OSError, socket.timeout):
        print("log of the last run:\n" + dev.log()[-4000:])
        # a sanitizer's report, or whatever else ended the process, is here
        print("output of the last run (exit code %s):\n%s" % (dev.proc.poll(), dev.output()[-6000:]))
        raise
    finally:
        remove_folder(folder)
    print("%d kill cycles passed" % ran)


if __name__ == "__main__":
    main()
