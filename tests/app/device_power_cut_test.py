#!/usr/bin/env python3
"""Power cuts right after a lap or outing trigger, with the NVRAM slow to sync.

Every sync of the NVRAM's file takes 100 ms longer (a small library built
here and preloaded: it slows fsync and fdatasync of "nvram.bin.tmp" only, so
the counters reach the disk late while the measurement files do not wait).
Each round sends "lof_laptrig" or "lof_outtrig" over the shell, kills the
device with SIGKILL a random 0-250 ms later (the cut) and starts it again;
once it records, the recordings of the folder are checked
(recording_check.py): a file that carries an absolute lap or a lap's numbers
must not see them given to another lap after the cut, every file is sound
or cut at its end, its name is its header's, and the start removed what the
cut left. The random seed is printed (TAV9_POWER_CUT_SEED repeats a run).
A sanitizer build runs many times slower: it runs fewer rounds, and any
build stops starting new rounds once BUDGET_S have passed.
Usage: device_power_cut_test.py TAV9_BINARY MEASDUMP_BINARY SAMPLE_FOLDER SANITIZE
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recording_check  # noqa: E402
from device_harness import DeviceRun, connect, wait_for  # noqa: E402

ROUNDS = 60
SANITIZER_ROUNDS = 10
MIN_ROUNDS = 6
BUDGET_S = 90.0
SYNC_DELAY_MS = 100

SLOW_NVRAM_SYNC_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Only the NVRAM's file: its temporary name while it is written. */
static int is_nvram(int fd) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    static const char tail[] = "/nvram.bin.tmp";
    return (size_t)n >= sizeof tail - 1 && strcmp(path + n - (sizeof tail - 1), tail) == 0;
}

static void slow(void) {
    struct timespec t = {0, DELAY_MS * 1000L * 1000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

#define SLOWED(name)                                              \
    int name(int fd) {                                            \
        static int (*real)(int);                                  \
        if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, #name);  \
        if (is_nvram(fd)) slow();                                 \
        return real(fd);                                          \
    }

SLOWED(fsync)
SLOWED(fdatasync)
"""


def build_shim(where):
    src = os.path.join(where, "slow_nvram_sync.c")
    lib = os.path.join(where, "slow_nvram_sync.so")
    with open(src, "w") as f:
        f.write(SLOW_NVRAM_SYNC_C)
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-DDELAY_MS=%d" % SYNC_DELAY_MS, "-o", lib, src, "-ldl"],
                   check=True)
    return lib


def slow_env(lib):
    # the sanitizers' run times want to be first among the libraries loaded:
    # the preloaded one comes before them here, which is harmless
    asan = os.environ.get("ASAN_OPTIONS", "")
    return {"LD_PRELOAD": lib, "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}


def start(run, binary, env):
    """The device started again in the run's folder, recording."""
    sock = os.path.join(run.folder, "shell.sock")
    if os.path.exists(sock):
        os.remove(sock)
    dev = run.device(binary, env=env).wait_ready()
    wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
    return dev


def open_files(pid):
    """The paths process pid holds open."""
    paths = []
    fd_dir = "/proc/%d/fd" % pid
    try:
        fds = os.listdir(fd_dir)
    except OSError:
        return paths
    for fd in fds:
        try:
            paths.append(os.readlink(os.path.join(fd_dir, fd)))
        except OSError:
            pass
    return paths


def check(folder, measdump, dev, what):
    """The recordings after a restart: what the cut left is gone (all that
    is older than this start); files the device has open are in the making."""
    problems = recording_check.check_folder(folder, measdump, leftovers_before=dev.started_at,
                                            open_paths=open_files(dev.proc.pid))
    assert not problems, "%s:\n  %s\nlog of this start:\n%s" % (what, "\n  ".join(problems), dev.log()[-3000:])


def main():
    binary, measdump, sample, sanitize = sys.argv[1:5]
    sanitized = sanitize.upper() not in ("", "OFF", "0", "FALSE", "NO")
    rounds = SANITIZER_ROUNDS if sanitized else ROUNDS
    seed = int(os.environ.get("TAV9_POWER_CUT_SEED", str(int(time.time()))))
    rng = random.Random(seed)
    print("seed %d" % seed)
    work = tempfile.mkdtemp(prefix="tav9-powercut-shim-")
    started = time.time()
    ran = 0
    try:
        env = slow_env(build_shim(work))
        with DeviceRun(sample, "tav9-powercut-") as run:
            folder = run.folder
            dev = start(run, binary, env)
            for n in range(rounds):
                time.sleep(rng.uniform(0.3, 0.8))   # the lap before holds records
                trigger = rng.choice(("lof_laptrig", "lof_outtrig"))
                delay = rng.uniform(0.0, 0.25)
                s = connect(folder)
                try:
                    s.sendall((trigger + "\n").encode())
                    time.sleep(delay)
                finally:
                    dev.kill()
                    s.close()
                dev.check_clean()
                dev = start(run, binary, env)
                ran = n + 1
                check(folder, measdump, dev, "round %d: %s, cut after %.0f ms" % (ran, trigger, delay * 1000))
                if ran >= MIN_ROUNDS and time.time() - started > BUDGET_S:
                    print("%.0f s spent: no more rounds after %d" % (time.time() - started, ran))
                    break
            assert dev.stop() == 0, dev.output()
            dev.check_clean()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d power-cut rounds passed" % ran)


if __name__ == "__main__":
    main()
