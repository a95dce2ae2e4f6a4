#!/usr/bin/env python3
"""The device on a disk whose syncs are slow, as a flash card's are.

Every fsync, fdatasync and syncfs of the device takes 30 ms longer (a small
library built here and preloaded). A fresh folder's shell answers within 3 s
of the start; an outing, a lap and a fragment trigger from the shell are each
answered within 1 s and lose no record: `meas` counts none lost to full
logger FIFOs, measdump reads every file whole, and where a trigger split the
files each block goes on one raster period after its last record. The
counters of the last trigger are on the disk after the orderly stop: the
next start goes on from them. With syncs 200 ms slow, a device killed
right when it logs "boot counter N" logs N + 1 at its next start: the count
is on the disk before it is told.
Then, with syncs slowed to a second, a client whose `lof_set` waits for the
disk holds only itself: another client's `lof_get` is answered first; and a
lap trigger that waits for the disk when the stop comes is answered before
its client is closed.
With the NVRAM's syncs at 12 s, and then with every sync at 12 s, the
drives' writers wait for the counters of a lap trigger's files and for
their flushes and stay: none is removed, no file is made again under
another name, and nothing is lost without a line that names it.
With the NVRAM's syncs alone slowed to a second: six clients that trigger
laps every 0.3 s are each answered within 5 s and every lap has its file on
every drive; a stop among them or during the start ends within 5 s, and
names what the NVRAM's disk lacks when it cannot be written.
Two clients that trigger a lap at once, ten times: every lap has its file
on each internal drive, or a line names the one a measurement did not make.
With every sync at 4 s, a USB drive and a stop 4.5 s after two laps, every
file each drive lacks, or lacks the end of, is named by a line of the stop;
with every sync at 20 s from the start, a SIGTERM 5 s in ends the device
within 10 s, and the write it left is named.
With every sync at 6 s, commands stuck on the disk on standard input and on
shell.sock at the SIGTERM: the device ends within 10 s, every file whole or
named, exit 0; with every sync at 8 s and three clients sending triggers, the
end comes within 9.5 s of the SIGTERM in each of several runs. With the
stop's main task held in its first step far beyond the stop's limit, the
guard ends the process with its line and exit 0, and the files the fast stop
never closed are named as not closed at the stop: the folder passes the
recording check.
The stick's syncs hung and the stick pulled while its writer is in one, a
new stick 5 s later and an outing trigger: nothing in the pulled stick's
folder changes after the pull, the new stick holds the files begun since it
came, and every copy said to succeed is whole.
A sanitizer build runs many times slower: its limits are five times longer.
Usage: device_slow_sync_test.py MODE TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER SANITIZE
"""
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import (DeviceRun, connect, drive_files, lag_named, lags, measdump_csv, parse_state,  # noqa: E402
                            read_answer, shell, wait_for)

SLOW_SYNC_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#ifndef SLOW_MS
#define SLOW_MS 30
#endif

/* SLOW_MS, or the milliseconds the file named by SLOW_SYNC_CONTROL holds;
   a word after them slows only the files whose path holds it */
static long delay_ms(int fd) {
    const char* control = getenv("SLOW_SYNC_CONTROL");
    char buf[128] = {0}, link[64], path[512] = {0};
    int cfd = control ? open(control, O_RDONLY | O_CLOEXEC) : -1;
    if (cfd < 0) return SLOW_MS;
    ssize_t n = read(cfd, buf, sizeof buf - 1);
    close(cfd);
    if (n <= 0) return SLOW_MS;
    char* only = buf;
    long ms = strtol(buf, &only, 10);
    only += strspn(only, " ");
    only[strcspn(only, " \n")] = 0;
    if (!*only) return ms;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return readlink(link, path, sizeof path - 1) > 0 && strstr(path, only) ? ms : 0;
}

#ifdef RECHECK
/* the control file is read again every 100 ms: a sync held for good ends
   once it holds fewer milliseconds than the sync has waited */
static void slow(int fd) {
    long waited = 0;
    for (long ms = delay_ms(fd); waited < ms; ms = delay_ms(fd)) {
        long step = ms - waited < 100 ? ms - waited : 100;
        struct timespec t = {0, step * 1000 * 1000};
        while (nanosleep(&t, &t) != 0) {
        }
        waited += step;
    }
}
#else
static void slow(int fd) {
    long ms = delay_ms(fd);
    struct timespec t = {ms / 1000, (ms % 1000) * 1000 * 1000};
    while (nanosleep(&t, &t) != 0) {
    }
}
#endif

#define SLOWED(name)                                              \
    int name(int fd) {                                            \
        static int (*real)(int);                                  \
        if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, #name);  \
        slow(fd);                                                 \
        return real(fd);                                          \
    }

SLOWED(fsync)
SLOWED(fdatasync)
SLOWED(syncfs)

#ifdef HOLD_MAIN_CLOSE
#include <sys/syscall.h>
/* Once the file HOLD_MAIN_CLOSE_FLAG names exists, a close by the
   process's main thread (the one that runs the stop) waits HOLD_MAIN_CLOSE
   ms before it closes: a step of the stop stuck that long. (access() and
   the clock only: the check itself closes nothing.) */
int close(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
    const char* flag = getenv("HOLD_MAIN_CLOSE_FLAG");
    if (flag && syscall(SYS_gettid) == getpid() && access(flag, F_OK) == 0) {
        struct timespec now, end;
        clock_gettime(CLOCK_MONOTONIC, &end);
        end.tv_sec += HOLD_MAIN_CLOSE / 1000;
        do {
            struct timespec t = {0, 50 * 1000 * 1000};
            nanosleep(&t, NULL);
            clock_gettime(CLOCK_MONOTONIC, &now);
        } while (now.tv_sec < end.tv_sec || (now.tv_sec == end.tv_sec && now.tv_nsec < end.tv_nsec));
    }
    return real(fd);
}
#endif
"""


def build_shim(where, ms=30, recheck=False, hold_close_ms=0):
    """The preloaded library: every sync `ms` slower (or as the control file
    says); with hold_close_ms, a close by the main thread held that long
    once the flag file exists."""
    src = os.path.join(where, "slow_sync.c")
    lib = os.path.join(where, "slow_sync_%d%s%s.so" % (ms, "_recheck" if recheck else "",
                                                       "_hold%d" % hold_close_ms if hold_close_ms else ""))
    with open(src, "w") as f:
        f.write(SLOW_SYNC_C)
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-DSLOW_MS=%d" % ms] + (["-DRECHECK"] if recheck else []) +
                   (["-DHOLD_MAIN_CLOSE=%d" % hold_close_ms] if hold_close_ms else []) +
                   ["-o", lib, src, "-ldl"], check=True)
    return lib


def slow_env(lib):
    # the sanitizers' run times want to be first among the libraries loaded:
    # the preloaded one comes before them here, which is harmless
    asan = os.environ.get("ASAN_OPTIONS", "")
    return {"LD_PRELOAD": lib, "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}


def answers_within(folder, limit):
    """True when the shell in folder answers a command before `limit` (a
    time.monotonic() instant)."""
    while time.monotonic() < limit:
        try:
            if "value = " in shell(folder, "lof_get", timeout=max(0.05, limit - time.monotonic())):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def check_files(folder, measdump, spacing):
    """Every file of each drive read whole, and each block's next record one
    raster period after the last of the file before: nothing lost where a
    trigger split the files. (Within a file the records follow the raster
    that samples them, which a loaded host may hold up; a raster that the
    splits held would have filled the logger FIFOs, which `meas` counts.)"""
    for drive, blocks in spacing.items():
        names = drive_files(folder, drive)
        assert len(names) >= 4, (drive, names)
        files = []
        for name in names:
            rc, recs = measdump_csv(measdump, os.path.join(folder, drive, name))
            assert rc == 0, "%s/%s: measdump exit %d" % (drive, name, rc)
            assert recs.get(1), "%s/%s: no records" % (drive, name)
            files.append((recs[1][0][0], name, recs))
        files.sort()
        lagged = lags(folder)   # (a busy host's base tick may skip runs, and names them)
        for (_, before, a), (_, after, b) in zip(files, files[1:]):
            for block, period in blocks.items():
                if a.get(block) and b.get(block):
                    last, first = a[block][-1][0], b[block][0][0]
                    assert first - last == period or lag_named(lagged, last, first, period), \
                        "%s block %d: %d in %s after %d in %s: records lost" % (drive, block, first, after, last, before)


def test_slow_disk_holds_only_its_client(binary, sample, lib, work, scale):
    """Syncs slowed to a second: client A's lof_set waits for the disk, and
    client B's lof_get, sent while A waits, is answered before A's."""
    control = os.path.join(work, "sync_ms")
    env = slow_env(lib)
    env["SLOW_SYNC_CONTROL"] = control
    with DeviceRun(sample, "tav9-slowsync-") as run:
        dev = run.device(binary, env=env).wait_ready()
        with open(control, "w") as f:
            f.write("1000")
        a, b = connect(run.folder, 30.0 * scale), connect(run.folder, 30.0 * scale)
        try:
            a.sendall(b"lof_set 1 1\n")
            time.sleep(0.3)   # A's command runs and waits for its sync
            b.sendall(b"lof_get\n")
            answered = []
            a.setblocking(False)
            b.setblocking(False)
            got = {"A": b"", "B": b""}
            end = time.monotonic() + 30.0 * scale
            while len(answered) < 2 and time.monotonic() < end:
                ready, _, _ = select.select([a, b], [], [], 0.1)
                for s in ready:
                    name = "A" if s is a else "B"
                    chunk = s.recv(65536)
                    got[name] += chunk
                    if b"value = " in got[name] and name not in answered:
                        answered.append(name)
                    if not chunk and name not in answered:
                        raise AssertionError("client %s closed without an answer: %r" % (name, got[name]))
            assert answered == ["B", "A"], "answers in the order %s: %r" % (answered, got)
            assert b"Lap counter: \t\t1\n" in got["A"] and b"value = 0 = 0x0" in got["A"], got["A"]
            assert b"value = 0 = 0x0" in got["B"], got["B"]
        finally:
            a.close()
            b.close()

        # the stop comes while a lap trigger waits for the disk: its client
        # gets the answer before the shell closes it (syncs of half a second
        # keep the wait well within the time the stop gives a command)
        with open(control, "w") as f:
            f.write("500")
        lap = parse_state(dev.shell("lof_get"))[0]
        a = connect(run.folder, 30.0 * scale)
        try:
            a.sendall(b"lof_laptrig\n")
            wait_for(lambda: parse_state(dev.shell("lof_get"))[0] == lap + 1, "the lap trigger to count")
            dev.proc.send_signal(signal.SIGTERM)
            got = read_answer(a)
        finally:
            a.close()
        assert "Lap counter: \t\t%d\n" % (lap + 1) in got and "value = 0 = 0x0" in got, got
        assert dev.proc.wait(timeout=60.0 * scale) == 0, dev.output()
        with open(control, "w") as f:
            f.write("30")
        dev.kill()
        dev.check_clean()
    print("a command waiting for a slow disk held only its own client, and was answered at the stop")


def start_slowed(run, binary, lib, control):
    """A device in the run's folder whose syncs the control file slows,
    ready and logging."""
    with open(control, "w") as f:
        f.write("30")
    env = slow_env(lib)
    env["SLOW_SYNC_CONTROL"] = control
    dev = run.device(binary, env=env).wait_ready()
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
    return dev


def test_writer_waiting_for_counters_stays(binary, sample, lib, work, scale):
    """NVRAM syncs of 12 s, a lap trigger 3 s after logging began: each
    drive's writer waits for the new file's counters through two syncs and
    stays subscribed; no file is made again under another name, no write
    fails."""
    control = os.path.join(work, "sync_ms")
    with DeviceRun(sample, "tav9-nvramwait-") as run:
        dev = start_slowed(run, binary, lib, control)
        with open(control, "w") as f:
            f.write("12000 nvram.bin")
        time.sleep(3.0)
        assert "value = 0" in dev.shell("lof_laptrig", timeout=30.0 * scale)
        # the new lap's files are made once their counters are stored
        wait_for(lambda: all(len(drive_files(run.folder, d)) >= 2 for d in ("meas", "meas2")),
                 "the new lap's files", 60.0 * scale)
        time.sleep(1.0)   # a pass of the back end after the wait
        status = dev.shell("meas", timeout=30.0 * scale)
        with open(control, "w") as f:
            f.write("30")
        log = dev.log()
        for wrong in ("no longer alive", "is in use", "dropped"):
            assert wrong not in log, "%r in the log:\n%s" % (wrong, log)
        # no error but the lags of a busy host's base tick, which name their runs
        errors = [ln for ln in status.splitlines()
                  if ln.startswith("-->") and "runs lost to lags of the base tick" not in ln]
        assert "writes failed" not in status and not errors, status
        assert "no error found" in status or "runs lost to lags" in status, status
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
    print("a writer waiting for its counters stayed")


def test_every_sync_slow_loses_nothing_silently(binary, sample, lib, work, scale):
    """Every sync of 12 s, the data drives' too, for 35 s with a lap trigger
    3 s in: the writers wait in their flushes and stay subscribed, skip no
    file and lose nothing unnamed; `meas` counts what did fail."""
    control = os.path.join(work, "sync_ms")
    with DeviceRun(sample, "tav9-allslow-") as run:
        dev = start_slowed(run, binary, lib, control)
        with open(control, "w") as f:
            f.write("12000")
        time.sleep(3.0)
        # answered once its counters are stored: two syncs of the NVRAM's
        # file and folder, and one that was under way
        sent = time.monotonic()
        assert "value = 0" in dev.shell("lof_laptrig", timeout=90.0 * scale)
        # past the 10 s a writer may go without a pass, twice over
        time.sleep(max(0.0, 32.0 - (time.monotonic() - sent)))
        status = dev.shell("meas", timeout=30.0 * scale)
        with open(control, "w") as f:
            f.write("30")
        log = dev.log()
        for lost in ("no longer alive", "writer not registered", "illegal writer id", "is in use"):
            assert lost not in log, "%r in the log:\n%s" % (lost, log)
        named = re.findall(r"bytes in \d+ blocks[^\n]* not written", log)
        assert not named or "writes failed" in status, status
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
    print("with every sync slow the writers stayed")


def nvram_slow_env(lib, control, ms):
    """The environment of a device whose NVRAM file alone syncs slowly, by
    the milliseconds the control file holds (ms to begin with)."""
    with open(control, "w") as f:
        f.write("%d nvram.bin.tmp" % ms)
    env = slow_env(lib)
    env["SLOW_SYNC_CONTROL"] = control
    return env


def lap_trigger_client(s, phase, period, stop, answers, problems):
    """One client that sends lof_laptrig every `period` s until `stop` is
    set, at `phase` within each period (the next such instant after its
    answer: the clients' laps stay apart, each longer than a raster period);
    notes each answer's lap and how long it took. The device's stop may
    leave a command unanswered."""
    try:
        while not stop.is_set():
            now = time.monotonic()
            slot = phase + period * (int((now - phase) / period) + 1)
            time.sleep(slot - now)
            s.sendall(b"lof_laptrig\n")
            answer = read_answer(s)
            took = time.monotonic() - slot
            if "value = 0 " in answer:
                answers.append((took, parse_state(answer)[0]))
            elif not stop.is_set():
                problems.append("lof_laptrig answered %r" % answer)
    except OSError as e:
        if not stop.is_set():
            problems.append("lof_laptrig not answered: %r" % e)
    finally:
        s.close()


def test_lap_triggers_share_slow_nvram_writes(binary, sample, lib, work, scale):
    """NVRAM syncs of a second and six clients that each trigger a lap every
    0.3 s for 15 s: one write of the NVRAM serves every trigger made before
    it began, so each is answered within 5 s, a SIGTERM among the triggers
    ends the device within 5 s, and every lap answered has its file on every
    drive, the USB drive's included. (A sanitizer build, whose rasters may
    lag by more than the clients' 50 ms apart, triggers five times slower.)"""
    env = nvram_slow_env(lib, os.path.join(work, "laps_sync_ms"), 1000)
    limit = 5.0 * scale
    with DeviceRun(sample, "tav9-slowlaps-") as run:
        os.mkdir(os.path.join(run.folder, "usb_meas"))
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        # laps while both measurements record (a lap before a measurement's
        # first record has none of its records)
        wait_for(lambda: all("starting measurement %s" % m in dev.log() for m in ("m01", "m03")),
                 "both measurements to record", 30.0 * scale)
        answers, problems, stop = [], [], threading.Event()
        # connected one after the other: connect() changes the process's folder for a moment
        sockets = [connect(run.folder, 30.0 * scale) for _ in range(6)]
        start = time.monotonic()
        clients = [threading.Thread(target=lap_trigger_client,
                                    args=(s, start + 0.05 * scale * i, 0.3 * scale, stop, answers, problems))
                   for i, s in enumerate(sockets)]
        for c in clients:
            c.start()
        try:
            time.sleep(15.0)
            stop.set()
            took = stop_within(dev, limit, "among lap triggers")
        finally:
            stop.set()
            for c in clients:
                c.join()
        assert not problems, problems
        slowest = max(took for took, _ in answers)
        print("%d lap triggers, the slowest answered after %.2f s; stopped after %.2f s" % (len(answers), slowest, took))
        assert slowest < limit, "a lap trigger answered after %.1f s" % slowest
        laps = {lap & 0xFF for _, lap in answers}
        for drive, missing in laps_without_file(run.folder, dev.log(), laps, ("meas", "meas2", "usb_meas")):
            assert not missing, "%s: no file of the laps %s and no line says why: %s" % (
                drive, missing, drive_files(run.folder, drive))


# the measurement's letter in its files' names, on the drives it writes
LETTERS = {"meas": "A", "meas2": "B", "usb_meas": "AB"}


def laps_without_file(folder, log, laps, drives):
    """[(drive, the laps (low byte) with no file on it that the log does not
    name as not made: its next trigger came before any of its records of
    that lap were stored)]."""
    named = set()
    for name in re.findall(r"has no file '([AB][0-9a-f]{7}\.[0-9a-f]{3})'", log):
        named.add((name[0], int(name[3:5], 16)))
    out = []
    for drive in drives:
        recorded = {int(name[3:5], 16) for name in drive_files(folder, drive)}
        out.append((drive, sorted(lap for lap in laps if lap not in recorded and
                                  not any((letter, lap) in named for letter in LETTERS[drive]))))
    return out


def test_laps_a_moment_apart_each_have_a_file(binary, sample, lib, work, scale):
    """Two clients trigger a lap at once, ten times: the triggers lie a few ms
    apart, less than m03's raster and the logging raster's drain. Every lap
    answered has its file on each internal drive, or the log names the file
    the measurement did not make (its next trigger came before any of its
    records of that lap were stored)."""
    with DeviceRun(sample, "tav9-twolaps-") as run:
        dev = start_slowed(run, binary, lib, os.path.join(work, "twolaps_ms"))
        # laps while both measurements record (a lap before a measurement's
        # first record has none of its records)
        wait_for(lambda: all("starting measurement %s" % m in dev.log() for m in ("m01", "m03")),
                 "both measurements to record", 30.0 * scale)
        pair = [connect(run.folder, 30.0 * scale) for _ in range(2)]
        laps = set()
        try:
            for _ in range(10):
                for s in pair:
                    s.sendall(b"lof_laptrig\n")
                for s in pair:
                    answer = read_answer(s)
                    assert "value = 0 " in answer, answer
                    laps.add(parse_state(answer)[0] & 0xFF)
                time.sleep(0.4)
        finally:
            for s in pair:
                s.close()
        time.sleep(1.0)
        assert dev.stop(60.0 * scale) == 0, dev.output()
        log = dev.log()
        for drive, missing in laps_without_file(run.folder, log, laps, ("meas", "meas2")):
            assert not missing, "%s: no file of the laps %s and no line says why: %s" % (
                drive, missing, drive_files(run.folder, drive))
        dev.check_clean()
        named = sorted(set(re.findall(r"has no file '([AB][0-9a-f]{7}\.[0-9a-f]{3})'", log)))
    print("%d laps a moment apart: %s named as not made" % (len(laps), named))


def make_folder_at(path):
    """True once a folder is made at path; false while something stands there."""
    try:
        os.mkdir(path)
        return True
    except FileExistsError:
        return False


def stop_within(dev, limit, when):
    """SIGTERM to the device; it ends in order within `limit` seconds."""
    sent = time.monotonic()
    dev.proc.send_signal(signal.SIGTERM)
    dev.wait_clean_end(limit, "SIGTERM " + when)
    return time.monotonic() - sent


def test_stop_with_slow_nvram(binary, sample, lib, work, scale):
    """NVRAM syncs of a second: a SIGTERM during the start, early or at the
    boot counter, ends the device within 5 s; a stop whose NVRAM cannot be
    written names in log.txt what the disk lacks."""
    env = nvram_slow_env(lib, os.path.join(work, "stop_sync_ms"), 1000)
    with DeviceRun(sample, "tav9-slowstop-") as run:
        for mark in ("startup: application", "startup: boot counter", None):
            dev = run.device(binary, env=env)
            if mark:
                wait_for(lambda: mark in dev.log() or dev.proc.poll() is not None, mark, 30.0 * scale)
            else:   # running, and a folder at the NVRAM's temporary name once its own write left it
                dev.wait_ready(60.0 * scale)
                wait_for(lambda: make_folder_at(os.path.join(run.folder, "nvram.bin.tmp")), "nvram.bin.tmp free")
                assert "storing the counters in NVRAM failed" in dev.shell("lof_laptrig", timeout=30.0 * scale)
            took = stop_within(dev, 5.0 * scale, "at '%s'" % mark if mark else "with the NVRAM refused")
            print("stopped %s after %.2f s" % ("at '%s'" % mark if mark else "with the NVRAM refused", took))
        lacks = [line for line in dev.log().splitlines() if "rtpShutdown: NVRAM changes not on the disk" in line]
        assert lacks and "lap counters (id 0" in lacks[0], dev.log()
        os.rmdir(os.path.join(run.folder, "nvram.bin.tmp"))


LOSS_AT_STOP = re.compile(r"BFSWriter: '(\w+):/([AB][0-9a-f]{7}\.[0-9a-f]{3})': (?:\d+ bytes in \d+ blocks"
                          r"(?: \(time stamps \d+ to \d+\))? not written at the stop|not made at the stop)")
# a file the logger's halt found still open (the fast stop had not run): it ends where its writer halted, on
# every drive of its measurement
NOT_CLOSED_AT_STOP = re.compile(r"logging: m0[13]: '([AB][0-9a-f]{7}\.[0-9a-f]{3})' \(from time stamp \d+\) not closed "
                                r"at the stop: the fast stop had not run when the writers halted")


def check_named_at_stop(folder, measdump, log):
    """Every file the run made is on each drive of its measurement whole, or
    a line of the stop names it on that drive; returns the (drive, file)
    pairs named."""
    named = {(m.group(1), m.group(2)) for m in LOSS_AT_STOP.finditer(log)}
    made = set(re.findall(r"VirtualFile::VirtualFile\(\) created with index \d+, writers \S+, (\S+)", log))
    # the drives of m01 (A) and m03 (B): their writers' names say which there are
    drives_of = {"A": ["meas"], "B": ["meas2"]}
    for letter, meas in (("A", 1), ("B", 3)):
        if "writer connected r_USBWriter%d" % meas in log:
            drives_of[letter].append("usb_meas")
    named |= {(drive, m.group(1)) for m in NOT_CLOSED_AT_STOP.finditer(log) for drive in drives_of[m.group(1)[0]]}
    for name in sorted(made):
        for drive in drives_of[name[0]]:
            path = os.path.join(folder, drive, name)
            if (drive, name) in named:
                continue
            assert os.path.exists(path), "%s/%s: not on the drive and not named:\n%s" % (drive, name, log)
            rc, _ = measdump_csv(measdump, path)
            assert rc == 0, "%s/%s: measdump exit %d and not named:\n%s" % (drive, name, rc, log)
    return named


def test_stop_with_slow_drives_names_what_is_left(binary, measdump, sample, lib, work, scale):
    """Every sync of 4 s with a USB drive, two lap triggers, SIGTERM 4.5 s
    after them: the device ends within 10 s, and what its writers could not
    write is named file by file and drive by drive."""
    control = os.path.join(work, "stop_sync_ms")
    with DeviceRun(sample, "tav9-slowdrives-") as run:
        os.mkdir(os.path.join(run.folder, "usb_meas"))
        dev = start_slowed(run, binary, lib, control)
        # the USB drive's writer has its first file under way
        wait_for(lambda: drive_files(run.folder, "usb_meas"), "a file on the USB drive", 30.0 * scale)
        lap = parse_state(dev.shell("lof_get"))[0]
        with open(control, "w") as f:
            f.write("4000")
        clients = [connect(run.folder, 30.0 * scale) for _ in range(2)]
        try:
            for c in clients:   # each answered once its counters are on the slow disk
                c.sendall(b"lof_laptrig\n")
                wait_for(lambda: parse_state(dev.shell("lof_get"))[0] > lap, "the lap trigger to count")
                lap += 1
            time.sleep(4.5)
            sent = time.monotonic()
            dev.proc.send_signal(signal.SIGTERM)
            dev.wait_clean_end(10.0 * scale, "SIGTERM with every sync at 4 s")
            took = time.monotonic() - sent
        finally:
            for c in clients:
                c.close()
        with open(control, "w") as f:
            f.write("30")
        named = check_named_at_stop(run.folder, measdump, dev.log())
        assert named, dev.log()
        print("stopped after %.2f s with every sync at 4 s; named at the stop: %s" % (took, sorted(named)))


def test_stop_at_start_with_stuck_disk(binary, measdump, sample, lib, work, scale):
    """Every sync of 20 s from the start, SIGTERM 5 s in: the device ends
    within 10 s and names the write of the device folder it left."""
    control = os.path.join(work, "stuck_sync_ms")
    with open(control, "w") as f:
        f.write("20000")
    env = slow_env(lib)
    env["SLOW_SYNC_CONTROL"] = control
    with DeviceRun(sample, "tav9-stuckdisk-") as run:
        dev = run.device(binary, env=env)
        time.sleep(5.0)
        sent = time.monotonic()
        dev.proc.send_signal(signal.SIGTERM)
        dev.wait_clean_end(10.0 * scale, "SIGTERM 5 s after a start with every sync at 20 s")
        took = time.monotonic() - sent
        log = dev.log()
        assert re.search(r"the write of \S+ .*left unfinished at the stop", log), log
        check_named_at_stop(run.folder, measdump, log)
        print("stopped after %.2f s with every sync at 20 s" % took)


def ended_after(dev, sent, limit):
    """Waits for the device's process to end, at most `limit` s after `sent`
    (a time.monotonic() instant); returns when it ended, in s after `sent`.
    The end is seen when it comes (a pidfd), not at a poll's next round."""
    fd = os.pidfd_open(dev.proc.pid)
    try:
        ready, _, _ = select.select([fd], [], [], max(0.0, sent + limit - time.monotonic()))
        ended = time.monotonic() - sent
    finally:
        os.close(fd)
    if not ready:
        threads = ""
        try:
            # each thread's name and state (R, S, D: in a disk's wait)
            for tid in sorted(os.listdir("/proc/%d/task" % dev.proc.pid)):
                with open("/proc/%d/task/%s/stat" % (dev.proc.pid, tid)) as f:
                    stat = f.read()
                name, rest = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2:]
                threads += "%s:%s " % (name, rest.split()[0])
        except OSError:
            pass
        raise AssertionError("the device still ran %.1f s after the SIGTERM (threads: %s)\n%s\n%s" % (
            limit, threads, dev.log()[-5000:], dev.output()[-3000:]))
    dev.proc.wait()
    return ended


def trigger_client(s, stop, problems):
    """One client that sends lap and outing triggers (each answered once its
    counters are on the slow disk) until `stop` is set or the device closes
    it."""
    try:
        for n in range(1000):
            if stop.is_set():
                break
            s.sendall(b"lof_outtrig\n" if n % 3 == 2 else b"lof_laptrig\n")
            if not read_answer(s):
                break
    except OSError as e:
        if not stop.is_set():
            problems.append("trigger not answered: %r" % e)
    finally:
        s.close()


def triggers_then_sigterm(run, dev, clients_for, stdin_line=None):
    """Three shell.sock clients send triggers for `clients_for` s, then (a
    command stuck on standard input, 0.3 s before) SIGTERM: returns the time
    from the signal to the process's end, its exit code once it ended."""
    stop, problems = threading.Event(), []
    sockets = [connect(run.folder, 60.0) for _ in range(3)]
    clients = [threading.Thread(target=trigger_client, args=(s, stop, problems)) for s in sockets]
    for c in clients:
        c.start()
    try:
        time.sleep(clients_for)
        if stdin_line:
            dev.proc.stdin.write(stdin_line)
            dev.proc.stdin.flush()
            time.sleep(0.3)
        sent = time.monotonic()
        dev.proc.send_signal(signal.SIGTERM)
        took = ended_after(dev, sent, 30.0)
    finally:
        stop.set()
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for c in clients:
            c.join()
    return took, dev.proc.returncode


def check_stop_named(folder, measdump, log):
    """What the stop leaves unwritten is named by the logger's halt before any
    end: a guard that ends the process comes after the stop's lines."""
    assert "rtpShutdown: orderly shutdown" in log, log
    guard = log.find("the stop did not end within")
    if guard >= 0:
        assert "what the logger had not written is not named" not in log, log
    return check_named_at_stop(folder, measdump, log)


def test_stop_with_stuck_commands(binary, measdump, sample, lib, work, scale):
    """Every sync at 6 s, three clients sending lap and outing triggers and a
    lap trigger on standard input when the SIGTERM comes: the commands wait
    for the disk, the shell gives them one wait together, and the device
    ends within 10 s of the signal with every file whole or named, exit 0."""
    control = os.path.join(work, "stuck_cmd_sync_ms")
    with open(control, "w") as f:
        f.write("30")
    env = slow_env(lib)
    env["SLOW_SYNC_CONTROL"] = control
    with DeviceRun(sample, "tav9-stuckcmds-") as run:
        dev = run.device(binary, env=env, stdin=subprocess.PIPE).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        time.sleep(1.0)
        with open(control, "w") as f:
            f.write("6000")
        try:
            took, rc = triggers_then_sigterm(run, dev, 4.0, b"lof_laptrig\n")
        finally:
            with open(control, "w") as f:
                f.write("30")
        dev.proc.stdin.close()
        log = dev.log()
        print("stopped %.2f s after the SIGTERM with commands stuck on 6 s syncs, exit %d" % (took, rc))
        assert took < 10.0 * scale, "the device ended %.2f s after the SIGTERM:\n%s\nOUT:\n%s" % (took, log, dev.output()[-4000:])
        named = check_stop_named(run.folder, measdump, log)
        assert rc == 0, "exit %d with everything named %s:\n%s" % (rc, sorted(named), dev.output())
        dev.check_clean()


def test_stop_within_budget(binary, measdump, sample, lib, work, scale):
    """Every sync at 8 s and three clients sending triggers for 5 s, and
    every sync at 4 s with the clients sending for 12 s (the NVRAM's writer
    then in a sync of the stop's own): in each of several runs the device
    ends within 9.5 s of the SIGTERM, what it leaves is named, exit 0."""
    control = os.path.join(work, "budget_sync_ms")
    longest = 0.0
    rounds = [(8000, 5.0), (4000, 12.0)] * 2
    for n, (sync_ms, clients_for) in enumerate(rounds):
        with DeviceRun(sample, "tav9-budget-") as run:
            dev = start_slowed(run, binary, lib, control)
            time.sleep(1.0)
            with open(control, "w") as f:
                f.write("%d" % sync_ms)
            try:
                took, rc = triggers_then_sigterm(run, dev, clients_for)
            finally:
                with open(control, "w") as f:
                    f.write("30")
            log = dev.log()
            print("run %d: ended %.2f s after the SIGTERM with every sync at %d ms, exit %d" % (
                n + 1, took, sync_ms, rc))
            assert took < 9.5 * scale, "run %d: the device ended %.2f s after the SIGTERM:\n%s" % (n + 1, took, log)
            check_stop_named(run.folder, measdump, log)
            assert rc == 0, dev.output()
            dev.check_clean()
            longest = max(longest, took)
    print("the longest stop of %d runs: %.2f s" % (len(rounds), longest))


GUARD_LINE = re.compile(r"rtpShutdown: the stop did not end within \d+ ms: the process ends[^\n]*")


def test_stop_ended_by_its_guard(binary, measdump, sample, work, scale):
    """Two laps, then the stop's main task held in its first step (the
    shell's stop) far beyond the stop's limit: the guard ends the process
    within 10 s of the SIGTERM with its line and exit 0. The fast stop never
    ran: the files still open are named as not closed at the stop (m01's
    and m03's), every file the run made is whole or named, and the folder
    passes the recording check."""
    lib = build_shim(work, 30, hold_close_ms=int(60000 * scale))
    flag = os.path.join(work, "hold_main_close")
    env = slow_env(lib)
    env["HOLD_MAIN_CLOSE_FLAG"] = flag
    # the guard ends the process with its tasks where they stand: a
    # ThreadSanitizer build would call the threads it never joined leaks
    env["TSAN_OPTIONS"] = (os.environ.get("TSAN_OPTIONS", "") + " report_thread_leaks=0").strip()
    with DeviceRun(sample, "tav9-guard-") as run:
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        for _ in range(2):
            time.sleep(1.0)
            assert "value = 0" in dev.shell("lof_laptrig", timeout=10.0 * scale)
        time.sleep(1.0)
        with open(flag, "w"):
            pass
        sent = time.monotonic()
        dev.proc.send_signal(signal.SIGTERM)
        took = ended_after(dev, sent, 10.0 * scale)
        rc, log = dev.proc.returncode, dev.log()
        ending = "exit %d after %.2f s:\n%s\nOUT:\n%s" % (rc, took, log[-6000:], dev.output()[-2000:])
        guard = GUARD_LINE.search(log)
        assert guard, "the guard did not end the stop: " + ending
        assert "the stop was in the shell's stop" in guard.group(0), ending
        assert "rtpShutdown: done" not in log, ending
        # the logger's halt named what it left, and the log was written out
        assert rc == 0, ending
        open_files = set(NOT_CLOSED_AT_STOP.findall(log))
        assert {n[0] for n in open_files} == {"A", "B"}, "open files named: %s\n%s" % (sorted(open_files), ending)
        named = check_named_at_stop(run.folder, measdump, log)
        dev.check_clean()
        print("%s\nthe guard ended the stop %.2f s after the SIGTERM, exit %d; not closed at the stop: %s; "
              "named: %s" % (guard.group(0), took, rc, sorted(open_files), sorted(named)))


def check_boot_counter_cut(binary, sample, env, scale):
    """Killed the moment it logs "boot counter N", the device logs N + 1 at
    its next start, three times over."""
    with DeviceRun(sample, "tav9-bootcut-") as run:
        last = None
        for _ in range(3):
            sock = os.path.join(run.folder, "shell.sock")
            if os.path.exists(sock):
                os.remove(sock)
            dev = run.device(binary, env=env)
            end = time.monotonic() + 30.0 * scale
            try:
                while True:
                    boots = re.findall(r"startup: boot counter (\d+)", dev.log())
                    if boots:
                        break
                    assert dev.proc.poll() is None, dev.output()
                    assert time.monotonic() < end, "no boot counter logged:\n" + dev.log()
                    time.sleep(0.001)
            finally:
                dev.kill()
            boot = int(boots[-1])
            assert last is None or boot == last + 1, "boot counter %d after %d: the cut lost it" % (boot, last)
            last = boot


RECORDING_STOPPED = re.compile(r": (m\d\d): recording stopped at time stamp (\d+)$", re.M)


def check_recording_stops(folder, measdump, log):
    """The orderly stop logs once per recording measurement the stamp of its
    last record: that of the newest record in its files (m01's on meas:,
    m03's on meas2:)."""
    said = RECORDING_STOPPED.findall(log)
    assert sorted(m for m, _ in said) == ["m01", "m03"], "the stop's recording lines: %s\n%s" % (said, log)
    for meas, stamp in said:
        drive = {"m01": "meas", "m03": "meas2"}[meas]
        newest = max(ts for name in drive_files(folder, drive)
                     for recs in [measdump_csv(measdump, os.path.join(folder, drive, name))[1]]
                     for block in recs.values() for ts, _ in block)
        assert int(stamp) == newest, "%s: recording stopped at %s, its newest record on %s: %d" % (
            meas, stamp, drive, newest)


def test_triggers_and_counters(binary, measdump, sample, lib, work, scale):
    """A fresh folder's shell soon up, triggers answered at once with no
    record lost, the counters written by the orderly stop; then a client
    waiting for the disk holds only itself, and the boot counter is on the
    disk before it is told."""
    env = slow_env(lib)
    with DeviceRun(sample, "tav9-slowsync-") as run:
        folder = run.folder
        assert not os.path.exists(os.path.join(folder, "nvram.bin"))

        # a fresh folder: the shell answers soon after the start
        start = time.monotonic()
        dev = run.device(binary, env=env)
        wait_for(lambda: os.path.exists(os.path.join(folder, "shell.sock")) or dev.proc.poll() is not None,
                 "shell.sock", 3.0 * scale)
        assert answers_within(folder, start + 3.0 * scale), \
            "the shell of a fresh folder did not answer within %.0f s of the start" % (3.0 * scale)
        print("the shell answered %.3f s after the start" % (time.monotonic() - start))
        dev.wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")

        time.sleep(1.0)
        for trigger in ("lof_outtrig", "lof_laptrig", "lof_fratrig"):
            sent = time.monotonic()
            answer = dev.shell(trigger, timeout=1.0 * scale)
            took = time.monotonic() - sent
            assert "value = 0" in answer, (trigger, answer)
            assert took < 1.0 * scale, "%s answered after %.2f s" % (trigger, took)
            print("%s answered after %.3f s" % (trigger, took))
            time.sleep(1.0)
        status = dev.shell("meas")
        assert "records lost to full logger FIFOs" not in status, status
        lap, outing, _, _ = parse_state(dev.shell("lof_get"))
        assert dev.stop() == 0, dev.output()
        dev.check_clean()
        check_files(folder, measdump, {"meas": {1: 10, 2: 100, 3: 1000}, "meas2": {1: 20, 2: 500}})
        check_recording_stops(folder, measdump, dev.log())

        # what the triggers changed was written by the orderly stop
        dev = run.device(binary).wait_ready()
        assert parse_state(dev.shell("lof_get"))[:2] == (lap, outing)
        assert dev.stop() == 0, dev.output()
        dev.check_clean()
    test_slow_disk_holds_only_its_client(binary, sample, lib, work, scale)
    check_boot_counter_cut(binary, sample, slow_env(build_shim(work, 200)), scale)


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1))


GIVES_UP = re.compile(r"writer r_USBWriter1 \(\d\) fell behind, \d+ files of m01 live: it gives up '([^']*)'")
FELL_BEHIND = re.compile(r"BFSWriter: 'usb_meas:/([AB][0-9a-f]{7}\.[0-9a-f]{3})': \d+ bytes in \d+ blocks[^\n]* "
                         r"not written as the drive fell behind the others: ")


def stick_sync_env(work, first):
    """The device's environment with the slow-sync library, whose sync times
    (ms, and the drive they hold) the file it returns controls, `first` in
    it from the start."""
    control = os.path.join(work, "stick_sync_ms")
    with open(control, "w") as f:
        f.write(first)
    env = slow_env(build_shim(work, 30, recheck=True))
    env["SLOW_SYNC_CONTROL"] = control
    return control, env


def test_slow_stick_gives_up_its_oldest_files(binary, measdump, sample, work, scale):
    """Only the USB drive's syncs (its files' and its folder's) slowed to
    20 s and a lap every half second: the stick's writers fall behind by
    more files than the measurements have virtual-file slots. Each gives up
    its oldest files on the stick alone, naming each with what it lacks (the
    file after each begins after a gap there, named too); the internal
    drives keep every lap's file and every record. Then the stick's
    syncs are held for good: the device's memory stays flat while the laps go
    on. Let go, the stick's writers go on and the device stops in order."""
    control, env = stick_sync_env(work, "20000 usb_meas")
    period = 0.5 * min(scale, 2.0)   # a sanitizer build keeps up with a lap a second
    with DeviceRun(sample, "tav9-slowstick-") as run:
        os.mkdir(os.path.join(run.folder, "usb_meas"))
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        started = time.monotonic()
        laps = [0]
        client = connect(run.folder, 30.0 * scale)

        def lap_until(done, most):
            while laps[0] < most and not done():
                sent = time.monotonic()
                client.sendall(b"lof_laptrig\n")
                assert "value = 0 " in read_answer(client)
                laps[0] += 1
                time.sleep(max(0.0, period - (time.monotonic() - sent)))

        def given_up(count):
            """The stick's writer (m01's) gave up `count` files."""
            return len(GIVES_UP.findall(dev.log())) >= count

        try:
            # the stick falls behind by a round of slots and a few files more
            lap_until(lambda: given_up(4), 80)
            filled = laps[0]
            # held for good: the laps go on, the memory stays as it is
            with open(control, "w") as f:
                f.write("100000000 usb_meas")
            lap_until(lambda: False, laps[0] + 10)
            before = rss_kb(dev.proc.pid)
            lap_until(lambda: False, laps[0] + 40)
            after = rss_kb(dev.proc.pid)
            with open(control, "w") as f:
                f.write("30")
            lap_until(lambda: False, laps[0] + 4)
        finally:
            client.close()

        def closed_before_last(drive):
            """The files before the newest closed whole (what a stop right
            after a lap does with them is not this test's)."""
            names = drive_files(run.folder, drive)
            return len(names) > 1 and measdump_csv(measdump, os.path.join(run.folder, drive, names[-2]))[0] == 0
        wait_for(lambda: closed_before_last("meas") and closed_before_last("meas2"), "the laps' files closed",
                 30.0 * scale)
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
        print("%d laps, the slots full after %d; RSS %d kB to %d kB over the last 40 laps held; %.0f s" % (
            laps[0], filled, before, after, time.monotonic() - started))
        log = dev.log()
        assert "failed to open virtual file" not in log and "file slots full" not in log, log
        assert given_up(4), "the stick's writers gave up no files:\n" + log
        given = GIVES_UP.findall(log)
        named = set(FELL_BEHIND.findall(log))
        assert set(given) <= named, "given up without a word: %s" % sorted(set(given) - named)
        for drive in ("meas", "meas2"):
            files = drive_files(run.folder, drive)
            # every lap's file (the file before the first lap holds records
            # only when its measurement had data before it; the recording
            # check finds a file the log made that is not on its drive)
            assert len(files) >= laps[0], "%s: %d files for %d laps: %s" % (drive, len(files), laps[0], files)
        # (a sanitizer keeps freed memory aside for a while: its RSS says nothing)
        assert scale > 1.0 or after - before < 1024, "RSS grew from %d kB to %d kB with the stick held" % (
            before, after)
        check_files(run.folder, measdump, {"meas": {1: 10, 2: 100, 3: 1000}, "meas2": {1: 20, 2: 500}})
    print("a slow stick gave up its oldest files, the internal drives kept every record")


CREATED = re.compile(r"VirtualFile::VirtualFile\(\) created with index (\d+), writers 0x[0-9A-Fa-f]+h, "
                     r"(?:meas:/)?(A[0-9a-f]{7}\.[0-9a-f]{3})")
STICK_LOSS = re.compile(r"BFSWriter: 'usb_meas:/(A[0-9a-f]{7}\.[0-9a-f]{3})': \d+ bytes in \d+ blocks "
                        r"\(time stamps \d+ to \d+\) not written ")


def test_stick_pulled_while_its_writer_is_in_a_sync(binary, measdump, sample, work, scale):
    """The USB drive's syncs take 20 s, laps every 0.5 s from two clients:
    the stick is plugged in, and pulled while its writer is inside a sync;
    the sync ends 5 s later and the stick comes back after that. Every m01
    file made from the stick's first file until its writer found the stick
    gone is on the stick or named on `usb_meas:` by its name with its stamps;
    no file is named by a slot number alone. The internal drives keep every
    lap's file."""
    control, env = stick_sync_env(work, "20000 usb_meas")
    period = 0.5 * min(scale, 2.0)
    with DeviceRun(sample, "tav9-stickpull-") as run:
        usb, away = os.path.join(run.folder, "usb_meas"), os.path.join(run.folder, "usb_away")
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        clients = [connect(run.folder, 30.0 * scale) for _ in range(2)]
        laps = [0]

        def lap_for(seconds):
            end = time.monotonic() + seconds * scale
            while time.monotonic() < end:
                sent = time.monotonic()
                c = clients[laps[0] % 2]
                c.sendall(b"lof_laptrig\n")
                assert "value = 0 " in read_answer(c)
                laps[0] += 1
                time.sleep(max(0.0, period - (time.monotonic() - sent)))
        try:
            lap_for(2)
            os.mkdir(usb)
            # the stick's writer makes its first file, and its first sync holds it
            wait_for(lambda: any(n.startswith("A") for n in drive_files(run.folder, "usb_meas")),
                     "m01's file on the stick", 30.0 * scale)
            lap_for(4)
            os.rename(usb, away)
            lap_for(5)
            with open(control, "w") as f:
                f.write("30")
            wait_for(lambda: "due to media absence" in dev.log(), "the stick's writer to find it gone", 30.0 * scale)
            lap_for(3)
            os.rename(away, usb)
            lap_for(6)
        finally:
            for c in clients:
                c.close()
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
        log = dev.log()
        assert "failed to open virtual file" not in log, log
        first_on_stick = min(n for n in os.listdir(usb) if n.startswith("A"))
        gone_at = log.index("due to media absence")
        made = [name for at, name in ((m.start(), m.group(2)) for m in CREATED.finditer(log)) if at < gone_at]
        lacking = [n for n in made[made.index(first_on_stick):]
                   if not os.path.exists(os.path.join(usb, n))]
        named = set(STICK_LOSS.findall(log))
        assert lacking, "no file made while the stick's writer was in its sync"
        assert set(lacking) <= named, "files the stick lacks named by no line: %s\n%s" % (
            sorted(set(lacking) - named), "\n".join(l for l in log.splitlines() if "usb_meas" in l))
        assert "(file " not in log, "a file named by its slot alone"
        for drive in ("meas", "meas2"):
            files = drive_files(run.folder, drive)
            assert len(files) >= laps[0] + 1, "%s: %d files for %d laps" % (drive, len(files), laps[0])
        print("%d laps, %d files the stick lacks, each named" % (laps[0], len(lacking)))


def test_hung_stick_holds_what_it_says(binary, sample, work, scale):
    """The stick's syncs hang from the start, one long file (no laps): the
    device's memory grows by no more than what the stop names as not
    written on the stick (its bytes, and the upkeep of its blocks), within a
    small margin. (A sanitizer keeps freed memory aside: it is not measured.)"""
    control, env = stick_sync_env(work, "100000000 usb_meas")
    with DeviceRun(sample, "tav9-stickhung-") as run:
        os.mkdir(os.path.join(run.folder, "usb_meas"))
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        wait_for(lambda: any(n.startswith("A") for n in drive_files(run.folder, "usb_meas")),
                 "m01's file on the stick", 30.0 * scale)
        time.sleep(10.0)
        before = rss_kb(dev.proc.pid)
        time.sleep(75.0)
        after = rss_kb(dev.proc.pid)
        # let go for the stop: what the stick still lacks is named at the stop
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
        log = dev.log()
        held = re.findall(r"BFSWriter: 'usb_meas:/A[0-9a-f]{7}\.[0-9a-f]{3}': (\d+) bytes in (\d+) blocks", log)
        assert held, "the stop names nothing the stick lacks:\n" + log
        named, blocks = sum(int(b) for b, _ in held), sum(int(n) for _, n in held)
        limit_kb = (named + blocks * 160) // 1024 + 300
        print("RSS %d kB to %d kB over 75 s; the stop names %d bytes in %d blocks (limit %d kB)" % (
            before, after, named, blocks, limit_kb))
        assert scale > 1.0 or after - before <= limit_kb, \
            "RSS grew %d kB with the stick hung, more than the %d bytes in %d blocks it holds" % (
                after - before, named, blocks)


def thread_in_sync(pid, name):
    """True when the task `name` sleeps in the shim's hold of a sync (a
    nanosleep: the USB writer sleeps there for nothing else), seen twice
    200 ms apart."""
    def sleeping():
        for tid in os.listdir("/proc/%d/task" % pid):
            base = "/proc/%d/task/%s/" % (pid, tid)
            try:
                with open(base + "comm") as f:
                    if f.read().strip() != name:
                        continue
                with open(base + "syscall") as f:
                    # clock_nanosleep, nanosleep (x86-64; 101 and 115 on arm64)
                    if f.read().split()[0] in ("230", "35", "101", "115"):
                        return True
            except OSError:
                pass
        return False
    if not sleeping():
        return False
    time.sleep(0.2)
    return sleeping()


def folder_state(folder):
    """{name: content} of the files in the folder."""
    state = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            state[name] = f.read()
    return state


COPIED_TO_STICK = re.compile(r"copy success from '[^']*' to 'usb_meas:/([AB][0-9a-f]{7}\.[0-9a-f]{3})'")


def test_new_stick_after_a_pull_in_a_hung_sync(binary, measdump, sample, work, scale):
    """The stick's syncs of m01's files hang; the stick is pulled while m01's
    writer sits in such a sync (laps before leave it files open beside the
    one it syncs), a new empty stick comes 5 s later with an outing trigger
    as it is plugged in, then 15 s more and the stop. Nothing in the pulled
    stick's folder changes after the pull (not even at the stop); the new
    stick holds every file begun since it was plugged in; every copy said to
    succeed is a whole file."""
    control, env = stick_sync_env(work, "0")
    with DeviceRun(sample, "tav9-newstick-") as run:
        usb, pulled = os.path.join(run.folder, "usb_meas"), os.path.join(run.folder, "pulled_usb_meas")
        dev = run.device(binary, env=env).wait_ready(60.0 * scale)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=30.0 * scale), "logging to run")
        wait_for(lambda: drive_files(run.folder, "meas"), "m01's first file", 30.0 * scale)
        # m01's files of this outing on the stick: their syncs hang (also
        # in the pulled stick's folder, whose path still holds the words)
        outing = drive_files(run.folder, "meas")[-1][:3]
        with open(control, "w") as f:
            f.write("100000000 usb_meas/" + outing)
        os.mkdir(usb)
        wait_for(lambda: any(n.startswith(outing) for n in drive_files(run.folder, "usb_meas")),
                 "m01's file on the stick", 30.0 * scale)
        # laps every 0.25 s: the writer holds the next files' streams, written
        # to, as its flush of the file before hangs in the sync
        for _ in range(6):
            assert "value = 0" in dev.shell("lof_laptrig", timeout=30.0 * scale)
            time.sleep(0.25)
        wait_for(lambda: thread_in_sync(dev.proc.pid, "r_USBWriter1"), "m01's stick writer in a sync", 30.0 * scale)
        os.rename(usb, pulled)
        at_pull = folder_state(pulled)
        pull_mark = len(dev.log())
        # from now on only the pulled stick's syncs hang: the new one's are quick
        with open(control, "w") as f:
            f.write("100000000 pulled_usb_meas/")
        time.sleep(5.0)
        before = drive_files(run.folder, "meas")
        os.mkdir(usb)
        # the outing's file begins as the device notices the stick (it looks
        # once a second): the split at the arrival closes it soon after
        assert "value = 0" in dev.shell("lof_outtrig", timeout=30.0 * scale)
        wait_for(lambda: len(drive_files(run.folder, "meas")) > len(before) + 1,
                 "the split at the new stick's arrival", 30.0 * scale)
        time.sleep(15.0)
        assert dev.stop(60.0 * scale) == 0, dev.output()
        dev.check_clean()
        log = dev.log()

        problems = []
        changed = {n: (len(at_pull.get(n, b"")), len(now)) for n, now in folder_state(pulled).items()
                   if at_pull.get(n) != now}
        if changed:
            problems.append("the pulled stick's files changed after the pull (bytes then, now): %s" % changed)
        # (m01 alone records onto the stick: m03 keeps to its own drive)
        begun = [n for n in drive_files(run.folder, "meas") if n not in before]
        on_stick = drive_files(run.folder, "usb_meas")
        assert len(begun) >= 2, begun
        missing = [n for n in begun if n not in on_stick]
        if missing:
            problems.append("files begun after the new stick came that it lacks: %s (it holds %s)" % (
                missing, on_stick))
        for m in COPIED_TO_STICK.finditer(log):
            # a copy logged before the pull went onto the pulled stick
            rc, _ = measdump_csv(measdump, os.path.join(pulled if m.start() < pull_mark else usb, m.group(1)))
            if rc != 0:
                problems.append("%s: said copied, measdump exit %d" % (m.group(0), rc))
        assert not problems, "\n".join(problems + [l for l in log.splitlines() if "usb_meas" in l])
        print("%d files in the pulled folder unchanged; the new stick holds the %d begun after it came; %d copies" % (
            len(at_pull), len(begun), len(COPIED_TO_STICK.findall(log))))


MODES = {
    "base": lambda b, m, s, lib, w, sc: test_triggers_and_counters(b, m, s, lib, w, sc),
    "writers": lambda b, m, s, lib, w, sc: (test_writer_waiting_for_counters_stays(b, s, lib, w, sc),
                                            test_every_sync_slow_loses_nothing_silently(b, s, lib, w, sc)),
    "nvram": lambda b, m, s, lib, w, sc: (test_lap_triggers_share_slow_nvram_writes(b, s, lib, w, sc),
                                          test_stop_with_slow_nvram(b, s, lib, w, sc)),
    "stop": lambda b, m, s, lib, w, sc: (test_stop_with_slow_drives_names_what_is_left(b, m, s, lib, w, sc),
                                         test_stop_at_start_with_stuck_disk(b, m, s, lib, w, sc)),
    "stick": lambda b, m, s, lib, w, sc: test_slow_stick_gives_up_its_oldest_files(b, m, s, w, sc),
    "pulled": lambda b, m, s, lib, w, sc: test_stick_pulled_while_its_writer_is_in_a_sync(b, m, s, w, sc),
    "hung": lambda b, m, s, lib, w, sc: test_hung_stick_holds_what_it_says(b, s, w, sc),
    "newstick": lambda b, m, s, lib, w, sc: test_new_stick_after_a_pull_in_a_hung_sync(b, m, s, w, sc),
    "twolaps": lambda b, m, s, lib, w, sc: test_laps_a_moment_apart_each_have_a_file(b, s, lib, w, sc),
    "stuckcmds": lambda b, m, s, lib, w, sc: test_stop_with_stuck_commands(b, m, s, lib, w, sc),
    "budget": lambda b, m, s, lib, w, sc: test_stop_within_budget(b, m, s, lib, w, sc),
    "guard": lambda b, m, s, lib, w, sc: test_stop_ended_by_its_guard(b, m, s, w, sc),
}


def main():
    mode, binary, measdump, sample, sanitize = sys.argv[1:6]
    scale = 1.0 if sanitize.upper() in ("", "OFF", "0", "FALSE", "NO") else 5.0
    work = tempfile.mkdtemp(prefix="tav9-slowsync-")
    try:
        MODES[mode](binary, measdump, sample, build_shim(work), work, scale)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("device slow sync test (%s) passed" % mode)


if __name__ == "__main__":
    try:
        main()
    except socket.timeout as e:
        raise AssertionError("a shell command was not answered in time") from e
