#!/usr/bin/env python3
"""Starts the device process twice in a copy of sample/ and talks to it.

Checks what an engineer relies on when running the device: it starts, the
shell socket answers getvar/setvar and the lap-counter commands, values of the
stimulus change, the screen image appears, "reset_voz" shuts it down in order
with every raster counted in the log, and the boot counter survives a restart.
Usage: device_smoke_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from device_shell import shell, wait_for


def run_once(binary, folder):
    proc = subprocess.Popen([binary, "1"], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        wait_for(lambda: os.path.exists(os.path.join(folder, "shell.sock")), "shell.sock")
        first = shell(folder, "getvar n_engine")
        time.sleep(0.3)
        second = shell(folder, "getvar n_engine")
        assert "n_engine" in first, first
        assert first != second, "stimulus values do not change: %r" % first
        answer = shell(folder, "setvar display_brightness 3")
        assert "value = 0" in answer or "display_brightness" in answer, answer
        assert re.search(r"\b3\b", shell(folder, "getvar display_brightness")), "setvar did not land"
        assert "lap" in shell(folder, "lof_get").lower()
        assert "unknown" in shell(folder, "no_such_command").lower()
        wait_for(lambda: os.path.exists(os.path.join(folder, "screen.png")), "screen.png")
        with open(os.path.join(folder, "screen.png"), "rb") as f:
            assert f.read(8) == b"\x89PNG\r\n\x1a\n"
        try:
            shell(folder, "reset_voz")
        except OSError:
            pass  # the process may close the socket while it goes down
        rc = proc.wait(timeout=30)
        assert rc == 0, "exit code %d" % rc
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    with open(os.path.join(folder, "log.txt"), errors="replace") as f:
        log = f.read()
    for raster in ("r1ms", "r10ms", "r100ms", "r1000ms", "rMeas", "WATCHDOG"):
        assert re.search(r"raster %s: \d+ ticks" % raster, log), "no tick count of " + raster
    boots = re.findall(r"boot counter (\d+)", log)
    assert boots, "no boot counter line"
    return int(boots[-1])


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp(prefix="tav9-smoke-")
    try:
        shutil.copytree(sample, folder, dirs_exist_ok=True)
        first = run_once(binary, folder)
        second = run_once(binary, folder)
        assert second == first + 1, "boot counter %d then %d" % (first, second)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("device smoke test passed")


if __name__ == "__main__":
    main()
