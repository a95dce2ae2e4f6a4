#!/usr/bin/env python3
"""The orderly shutdown and the device's inputs when they misbehave.

flood:  SIGINT and SIGTERM while clients flood shell.sock with commands: the
        shell stops before the shutdown's first line, every line of the
        shutdown reaches log.txt, and the process ends promptly.
fifo:   log.txt is a FIFO, without a reader and with one that never reads:
        the device names it on stderr, runs, and ends on SIGINT.
stdin:  standard input that never ends (`yes lof_get`, /dev/zero,
        /dev/urandom): shell.sock answers, SIGINT ends the device, and no raw
        byte reaches the terminal as it came.
hangup: SIGHUP (a closed terminal) and SIGQUIT while the device records:
        the orderly shutdown runs to its end, shell.sock goes, and measdump
        reads every measurement file to its end; a device started under
        nohup (SIGHUP ignored) stays up after a SIGHUP.
logfile: log.txt removed while the device runs: a new log.txt begins, says
        so, and gets the shutdown's last line; log.txt replaced by a FIFO
        (with a reader that never reads): named on stderr, never waited on,
        and once the FIFO goes a new log.txt begins again; a link at log.txt,
        at the start or put there later, is named and never written through.
triggers: SIGTERM 1 s after two lap triggers, and 1 s after an outing
        trigger, while "FullThrottle" is on: the files still waiting to
        close and the open ones all end with their closing status block
        (measdump exit 0), and the open event is closed in its file.
burst:  three clients send lap and outing triggers every 0.3-1 s, then
        SIGTERM: every file ends with its closing status block.
busy [PRIORITIES]: busy loops on both host CPUs of the device's two
        cores, one on each CPU for each real-time priority of the list
        ("1" by default: below every task of the device, above every
        ordinary thread; "49,98": amid its tasks and beside its base tick),
        where the host permits it, then SIGTERM: the process ends within 10 s
        of the signal, in order with loops below its tasks; with loops above
        them its tasks run at normal priority for the stop (the share the
        kernel's throttling leaves), which ends in order or by its guard; a
        stop its guard ended says why in log.txt or on standard error.
lapload: three clients trigger a lap every 0.5 s for 40 s while a busy loop
        holds the first CPU of the device's pair (at real-time priority above
        its base tick where the host permits it, so that the tick lags again
        and again and the files wait to close until their slots are full):
        every hole in every file is named by a lag or loss line with its
        stamps (the recording check calls it sound), and SIGTERM ends the
        device.
Usage: device_shutdown_test.py MODE TAV9_BINARY SAMPLE_FOLDER [MEASDUMP_BINARY [PRIORITIES]]
"""
import os
import re
import select
import signal
import subprocess
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, connect, drive_files, measdump_csv, read_text, shell, wait_for  # noqa: E402

SHELL_LINE = re.compile(r"\d{5} r_shell(?:Sock|Stdin): ")
FLOOD = b"meas init\nmeas start\n" * 20


def exit_limit(dev):
    """Generous for a loaded machine; the device aims at well under a second.
    A sanitizer build runs everything many times slower."""
    return 20.0 if "startup: sanitizer build" in dev.log() else 5.0


def flood_shell(s, stop):
    """One client that sends command lines as fast as the device takes them
    and reads its answers, until stop is set or the device closes it."""
    s.setblocking(False)
    pending = b""
    try:
        while not stop.is_set():
            r, w, _ = select.select([s], [s], [], 0.1)
            if r and not s.recv(65536):
                break
            if w:
                pending = pending or FLOOD
                pending = pending[s.send(pending):]
    except OSError:
        pass   # the device closed the connection
    finally:
        s.close()


def ready_without_log(dev, limit=60.0):
    """Ready as far as the shell tells (for a device whose log.txt cannot be read)."""
    def answers():
        if dev.proc.poll() is not None:
            raise AssertionError("device ended (%d):\n%s" % (dev.proc.returncode, dev.output()))
        try:
            return "stim_active = 1" in dev.shell("getvar stim_active", timeout=10.0)
        except OSError:
            return False
    wait_for(answers, "the shell to answer", limit)


def end_by_signal(dev, sig, limit):
    start = time.time()
    dev.proc.send_signal(sig)
    try:
        rc = dev.proc.wait(timeout=limit)
    except subprocess.TimeoutExpired:
        raise AssertionError("no exit %.0f s after signal %d\n%s" % (limit, sig, dev.output()[-3000:]))
    return rc, time.time() - start


def test_signal_during_shell_flood(binary, sample, sig):
    with DeviceRun(sample) as run:
        dev = run.device(binary).wait_ready()
        stop = threading.Event()
        # connected here: connect() changes the working folder for a moment
        clients = [threading.Thread(target=flood_shell, args=(connect(run.folder), stop)) for _ in range(3)]
        for c in clients:
            c.start()
        try:
            wait_for(lambda: len(SHELL_LINE.findall(dev.log())) > 200, "the flood's shell lines in log.txt")
            rc, took = end_by_signal(dev, sig, 30.0)
        finally:
            stop.set()
            for c in clients:
                c.join()
        log = dev.log()
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        assert took < exit_limit(dev), "the exit took %.1f s" % took
        head, sep, shutdown = log.partition("rtpShutdown: orderly shutdown")
        assert sep, "no shutdown line in log.txt:\n" + log[-3000:]
        # the shell stopped before the shutdown's first line
        late = [line for line in shutdown.splitlines() if SHELL_LINE.search(line)]
        assert not late, "%d shell lines after the shutdown began, e.g. %s" % (len(late), late[:3])
        # every line of the shutdown is there, the last one included
        rasters = re.findall(r"raster \S+: \d+ ticks", shutdown)
        assert len(rasters) >= 10, "raster lines missing:\n" + shutdown[-3000:]
        assert "rtpShutdown: done" in shutdown, "no 'rtpShutdown: done':\n" + shutdown[-3000:]
        dev.check_clean()
        print("signal %d during a shell flood: exit after %.2f s, %d raster lines" % (sig, took, len(rasters)))


def test_flood(binary, sample):
    for sig in (signal.SIGINT, signal.SIGTERM):
        test_signal_during_shell_flood(binary, sample, sig)


def test_log_fifo(binary, sample, with_reader):
    with DeviceRun(sample) as run:
        run.check_options(log_unusable=True)   # its log.txt is not the device's whole log, on purpose
        path = os.path.join(run.folder, "log.txt")
        os.mkfifo(path)
        # a reader that opens the FIFO and never reads: a writer that opened
        # it would fill it and then wait for good
        reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK) if with_reader else None
        try:
            dev = run.device(binary)
            ready_without_log(dev)
            rc, took = end_by_signal(dev, signal.SIGINT, 30.0)
            assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
            assert "log.txt is a FIFO" in dev.output(), "log.txt not named on stderr:\n" + dev.output()[-3000:]
            assert os.path.exists(path) and not os.path.isfile(path), "the FIFO was replaced"
            dev.check_clean()
            print("log.txt a FIFO (%s reader): named, exit after %.2f s" % ("with a" if with_reader else "no", took))
        finally:
            if reader is not None:
                os.close(reader)


def test_fifo(binary, sample):
    test_log_fifo(binary, sample, with_reader=False)
    test_log_fifo(binary, sample, with_reader=True)


def test_endless_stdin(binary, sample, name, source):
    with DeviceRun(sample) as run:
        feeder = None
        if source == "yes":
            feeder = subprocess.Popen(["yes", "lof_get"], stdout=subprocess.PIPE)
            stdin = feeder.stdout
        else:
            stdin = open(source, "rb")
        try:
            dev = run.device(binary, stdin=stdin)
            dev.wait_ready()
            if source == "yes":
                wait_for(lambda: dev.output().count("Lap counter") > 100, "the piped lines to run")
            # the socket shell answers beside the endless input, again and again
            for _ in range(5):
                assert "Lap counter" in dev.shell("lof_get"), dev.output()[-2000:]
            rc, took = end_by_signal(dev, signal.SIGINT, 30.0)
            assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
            assert took < exit_limit(dev), "the exit took %.1f s" % took
            with open(dev.output_path, "rb") as f:
                out = f.read()
            # raw bytes are written as escapes, never as they came
            assert b"\x1b" not in out and b"\x00" not in out, "raw bytes in the output"
            assert "rtpShutdown: done" in dev.log()
            dev.check_clean()
            print("stdin %s: shell answered, exit after %.2f s, %d bytes of output, %d lof_get answers" %
                  (name, took, len(out), out.count(b"Lap counter")))
        finally:
            if feeder:
                feeder.kill()
                feeder.wait()
                feeder.stdout.close()
            else:
                stdin.close()


def test_stdin(binary, sample):
    test_endless_stdin(binary, sample, "yes lof_get", "yes")
    test_endless_stdin(binary, sample, "/dev/zero", "/dev/zero")
    test_endless_stdin(binary, sample, "/dev/urandom", "/dev/urandom")


def ignored_signals(pid):
    """The mask of the signals process pid ignores (bit n - 1 for signal n)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("SigIgn:"):
                return int(line.split()[1], 16)
    raise AssertionError("no SigIgn in /proc/%d/status" % pid)


def test_hangup(binary, sample, measdump):
    for sig in (signal.SIGHUP, signal.SIGQUIT):
        with DeviceRun(sample) as run:
            dev = run.start_logging(binary)
            wait_for(lambda: all(drive_files(run.folder, d) for d in ("meas", "meas2")), "the measurement files")
            rc, took = end_by_signal(dev, sig, 30.0)
            assert rc == 0, "signal %d: exit code %d\n%s" % (sig, rc, dev.output()[-3000:])
            assert "rtpShutdown: done" in dev.log(), "signal %d: no 'rtpShutdown: done':\n%s" % (sig, dev.log()[-3000:])
            assert not os.path.exists(os.path.join(run.folder, "shell.sock")), "signal %d: shell.sock left" % sig
            files = [(d, n) for d in ("meas", "meas2") for n in drive_files(run.folder, d)]
            assert len(files) >= 2, files
            for drive, name in files:
                code, recs = measdump_csv(measdump, os.path.join(run.folder, drive, name))
                assert code == 0 and recs.get(1), "signal %d: %s/%s: measdump exit %d" % (sig, drive, name, code)
            dev.check_clean()
            print("signal %d: orderly end after %.2f s, %d files whole" % (sig, took, len(files)))
    # started under nohup (SIGHUP ignored): the device outlives its terminal
    with DeviceRun(sample) as run:
        before = signal.signal(signal.SIGHUP, signal.SIG_IGN)
        try:
            dev = run.device(binary)
        finally:
            signal.signal(signal.SIGHUP, before)
        dev.wait_ready()
        assert ignored_signals(dev.proc.pid) & (1 << (signal.SIGHUP - 1)), "SIGHUP no longer ignored"
        dev.proc.send_signal(signal.SIGHUP)
        assert "Lap counter" in dev.shell("lof_get"), dev.output()[-3000:]
        rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        assert rc == 0, "under nohup: exit code %d\n%s" % (rc, dev.output()[-3000:])
        shutdowns = dev.log().count("rtpShutdown: orderly shutdown")
        assert shutdowns == 1 and "rtpShutdown: done" in dev.log(), dev.log()[-3000:]
        dev.check_clean()
        print("under nohup: SIGHUP ignored, SIGTERM ends the device")


def log_says(path, text):
    return text in read_text(path)


def test_log_removed(binary, sample):
    with DeviceRun(sample) as run:
        run.check_options(log_unusable=True)   # its log.txt is not the device's whole log, on purpose
        path = os.path.join(run.folder, "log.txt")
        dev = run.device(binary).wait_ready()
        os.remove(path)
        # the shell's lines keep coming; the log sees its file gone and begins anew
        wait_for(lambda: "Lap counter" in dev.shell("lof_get") and log_says(path, "was removed"),
                 "a new log.txt that says the old one was removed")
        rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        assert log_says(path, "rtpShutdown: done"), "no 'rtpShutdown: done' in the new log.txt:\n" + read_text(path)
        dev.check_clean()
        print("log.txt removed: a new one began, exit after %.2f s" % took)


def test_log_replaced_by_fifo(binary, sample):
    with DeviceRun(sample) as run:
        run.check_options(log_unusable=True)   # its log.txt is not the device's whole log, on purpose
        path = os.path.join(run.folder, "log.txt")
        dev = run.device(binary).wait_ready()
        os.remove(path)
        os.mkfifo(path)
        reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)   # opened, never read
        try:
            def named():
                assert "Lap counter" in dev.shell("lof_get"), dev.output()[-2000:]
                return "log.txt is a FIFO" in dev.output()
            wait_for(named, "the FIFO named on stderr")
            # the device goes on without waiting on the FIFO, whatever it logs
            for _ in range(20):
                assert "Lap counter" in dev.shell("lof_get"), dev.output()[-2000:]
            assert os.path.exists(path) and not os.path.isfile(path), "the FIFO was replaced"
        finally:
            os.close(reader)
        os.remove(path)
        wait_for(lambda: "Lap counter" in dev.shell("lof_get") and os.path.isfile(path), "a new log.txt")
        rc, took = end_by_signal(dev, signal.SIGINT, 30.0)
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        assert log_says(path, "rtpShutdown: done"), "no 'rtpShutdown: done' in the new log.txt:\n" + read_text(path)
        dev.check_clean()
        print("log.txt replaced by a FIFO: named, never waited on; a new one after it, exit after %.2f s" % took)


def test_log_link(binary, sample):
    """A link where log.txt belongs, at the start and put there while the
    device runs: the file it leads to (in another folder) gets no line, the
    link is named on stderr as a FIFO is, and the device goes on."""
    with DeviceRun(sample) as run, DeviceRun(sample) as other:
        run.check_options(log_unusable=True)   # its log.txt is not the device's whole log, on purpose
        path = os.path.join(run.folder, "log.txt")
        target = os.path.join(other.folder, "theirs.txt")
        with open(target, "w") as f:
            f.write("not the device's\n")
        os.symlink(target, path)
        dev = run.device(binary)
        ready_without_log(dev)
        wait_for(lambda: "log.txt is a link: the log is not written" in dev.output(), "the link named on stderr")
        os.remove(path)
        wait_for(lambda: "Lap counter" in dev.shell("lof_get") and log_says(path, "(it was a link)"),
                 "a new log.txt once the link is gone")
        os.remove(path)
        os.symlink(target, path)
        wait_for(lambda: "Lap counter" in dev.shell("lof_get") and
                 dev.output().count("log.txt is a link: the log is not written") >= 2, "the new link named")
        for _ in range(20):
            assert "Lap counter" in dev.shell("lof_get"), dev.output()[-2000:]
        rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        with open(target) as f:
            assert f.read() == "not the device's\n", "the log was written through the link"
        assert os.path.islink(path), "the link was replaced"
        dev.check_clean()
        print("log.txt a link: named at the start and while running, never written through")


def test_logfile(binary, sample, _measdump=None):
    test_log_removed(binary, sample)
    test_log_replaced_by_fifo(binary, sample)
    test_log_link(binary, sample)


EVENT = re.compile(r'type 6 \(event\) length \d+: id 0x([0-9A-F]{8}) time (\d+) duration (\d+) .*? pid 0x([0-9A-F]{2}) '
                   r'"([^"]*)"')
OPEN = 0xFFFFFFFF


def whole_files(run, measdump):
    """measdump of every measurement file on the internal drives: each one
    is whole, its closing status block included (exit 0). Returns
    {drive: {name: measdump's text}}."""
    texts = {}
    bad = []
    for drive in ("meas", "meas2"):
        for name in drive_files(run.folder, drive):
            r = subprocess.run([measdump, os.path.join(run.folder, drive, name)], capture_output=True, text=True,
                               errors="replace")
            texts.setdefault(drive, {})[name] = r.stdout
            if r.returncode != 0:
                bad.append("%s/%s: exit %d %s" % (drive, name, r.returncode, r.stderr.strip()[:200]))
    assert not bad, "%d files not whole:\n  %s" % (len(bad), "\n  ".join(bad))
    return texts


def open_events_closed(texts):
    """Every event of the device's own channels that a file holds open is
    closed in a file of the same drive: the stop closes what is still open.
    Returns the number of closes found for opens."""
    closed = 0
    for drive, files in texts.items():
        events = [(name, m.group(1), int(m.group(2)), int(m.group(3)), m.group(4), m.group(5))
                  for name, text in sorted(files.items()) for m in EVENT.finditer(text)]
        ends = set((ident, t) for _, ident, t, d, _, _ in events if d != OPEN)
        for name, ident, t, d, pid, ev in events:
            if d != OPEN:
                continue
            assert (ident, t) in ends, "%s/%s: %s pid 0x%s at %d is never closed" % (drive, name, ev, pid, t)
            closed += 1
    return closed


def throttle_rises(dev):
    """Waits for the sample's throttle to go above 50 %: its "FullThrottle"
    event has just opened and stays open for 2 s."""
    def value():
        m = re.search(r"throttle = ([-\d.]+)", dev.shell("getvar throttle"))
        return float(m.group(1)) if m else None
    wait_for(lambda: (value() or 0) < 50, "the throttle below 50 %", 10.0)
    wait_for(lambda: (value() or 0) >= 50, "the throttle above 50 %", 10.0)


def test_stop_after_trigger(binary, sample, measdump, triggers):
    with DeviceRun(sample) as run:
        dev = run.start_logging(binary)
        wait_for(lambda: all(drive_files(run.folder, d) for d in ("meas", "meas2")), "the measurement files")
        throttle_rises(dev)
        for line in triggers:
            assert "value = 0" in dev.shell(line), line
        time.sleep(1.0)   # the files of the triggers wait for their close delay (3 s)
        rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        texts = whole_files(run, measdump)
        files = sum(len(v) for v in texts.values())
        closed = open_events_closed(texts)
        assert closed, "no open event in the files:\n" + dev.log()[-2000:]
        shutdown = dev.log().partition("rtpShutdown: orderly shutdown")[2]
        for refusal in ("not oldest", "logger not flushed"):
            assert refusal not in shutdown, shutdown[-3000:]
        dev.check_clean()
        print("SIGTERM 1 s after %s: exit after %.2f s, %d files whole, %d open events closed"
              % (" ".join(triggers), took, files, closed))


def test_triggers(binary, sample, measdump):
    test_stop_after_trigger(binary, sample, measdump, ("lof_laptrig", "lof_laptrig"))
    test_stop_after_trigger(binary, sample, measdump, ("lof_outtrig",))


def trigger_client(folder, seed, stop):
    """One client that sends lap and outing triggers every 0.3-1 s until
    stop is set or the device goes."""
    import random
    rng = random.Random(seed)
    while not stop.wait(rng.uniform(0.3, 1.0)):
        try:
            shell(folder, rng.choice(("lof_laptrig", "lof_laptrig", "lof_outtrig")), 5.0)
        except OSError:
            return


def test_burst(binary, sample, measdump):
    with DeviceRun(sample) as run:
        dev = run.start_logging(binary)
        stop = threading.Event()
        clients = [threading.Thread(target=trigger_client, args=(run.folder, seed, stop)) for seed in range(3)]
        for c in clients:
            c.start()
        try:
            time.sleep(5.0)
            rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        finally:
            stop.set()
            for c in clients:
                c.join()
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        texts = whole_files(run, measdump)
        files = sum(len(v) for v in texts.values())
        dev.check_clean()
        print("SIGTERM after 5 s of triggers from three clients: exit after %.2f s, %d files whole" % (took, files))


# A busy loop on one CPU until its own clock says the time is up: spins for
# `spin` s, sleeps for `rest` s, in turn; at real-time priority `priority`
# (0: normal) where the host permits it. It prints which it got.
BUSY_LOOP = """
import os, sys, time
cpu, seconds, spin, rest, priority = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), \\
    int(sys.argv[5])
os.sched_setaffinity(0, {cpu})
kind = "normal"
if priority:
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(priority))
        kind = "real-time"
    except OSError:
        pass
print(kind, flush=True)
end = time.monotonic() + seconds
while time.monotonic() < end:
    until = min(end, time.monotonic() + spin)
    while time.monotonic() < until:
        pass
    if rest:
        time.sleep(rest)
"""
STOP_LIMIT = 10.0   # from the signal to the end of the process
TASKS_LOWERED = "threads run at normal priority for the rest of the stop"
LOWEST_TASK_PRIORITY = 2   # the real-time priority of the device's least urgent task
CORES = re.compile(r"startup: processor cores 0 and 1 on host CPUs (\d+) and (\d+)")
# a stop ended by its guard says why: the logger's halt, or the last resort
GUARD_LINE = re.compile(r"rtpShutdown: the (?:stop|process) did not end within \d+ ms")


def busy_loops(cpus, seconds, priorities=(1,)):
    """Starts one busy loop on each CPU for each priority; returns them and
    whether they run at real-time priority."""
    loops = [subprocess.Popen([sys.executable, "-c", BUSY_LOOP, str(cpu), str(seconds), str(seconds), "0",
                               str(priority)], stdout=subprocess.PIPE, text=True)
             for cpu in cpus for priority in priorities]
    kinds = [p.stdout.readline().strip() for p in loops]
    return loops, all(k == "real-time" for k in kinds)


def thread_priorities(pid):
    """{tid: (name, policy, priority)} of the process's threads."""
    threads = {}
    for tid in map(int, os.listdir("/proc/%d/task" % pid)):
        try:
            with open("/proc/%d/task/%d/comm" % (pid, tid)) as f:
                name = f.read().strip()
            threads[tid] = (name, os.sched_getscheduler(tid), os.sched_getparam(tid).sched_priority)
        except OSError:
            pass   # a thread that ended meanwhile
    return threads


def stop_threads_on_top(pid):
    """The main task waiting for the stop and the signal watcher run at
    real-time priority above every other thread of the device."""
    threads = thread_priorities(pid)
    stop = [tid for tid, (name, _, _) in threads.items() if tid == pid or name == "stopSignals"]
    others = [prio for tid, (_, _, prio) in threads.items() if tid not in stop]
    return len(stop) == 2 and all(threads[tid][1] == os.SCHED_FIFO and threads[tid][2] > max(others) for tid in stop)


def test_busy(binary, sample, _measdump=None, priorities="1"):
    with DeviceRun(sample) as run:
        dev = run.start_logging(binary)
        m = CORES.search(dev.log())
        if not m:
            print("the device's tasks run on any host CPU: no pair to load, skipped")
            return 77
        cpus = sorted({int(m.group(1)), int(m.group(2))})
        if "real-time scheduling not permitted" not in dev.log():
            wait_for(lambda: stop_threads_on_top(dev.proc.pid), "the stop's threads above every task: %r" %
                     (thread_priorities(dev.proc.pid),), 10.0)
        priorities = [int(p) for p in priorities.split(",")]
        loops, realtime = busy_loops(cpus, 40.0, priorities)
        try:
            if max(priorities) < LOWEST_TASK_PRIORITY:
                # loops below every task: the device keeps recording and answering
                wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas", timeout=20.0),
                         "logging to run")
            time.sleep(2.0)
            rc, took = end_by_signal(dev, signal.SIGTERM, 40.0)
        finally:
            for p in loops:
                p.kill()
                p.wait()
                p.stdout.close()
        log, out = dev.log(), dev.output()
        said = GUARD_LINE.search(log) or GUARD_LINE.search(out)
        ending = "exit %d after %.1f s, %s\n%s\n%s" % (rc, took, "the guard's line: " + said.group(0) if said else
                                                      "no guard's line", log[-3000:], out[-2000:])
        # whatever the loops: the end within the limit, and a word of why where the guard ended it
        assert took < STOP_LIMIT, ending
        assert said or rc == 0, "no word of why: " + ending
        if max(priorities) < LOWEST_TASK_PRIORITY:
            # the loops take nothing from the device's tasks nor from its stop's
            assert rc == 0 and "rtpShutdown: done" in log, "the stop did not end in order: " + ending
        elif realtime:
            # above the tasks the loops leave them only what the kernel's throttling leaves to ordinary threads:
            # the tasks run at normal priority for the stop, which ends in order or by its guard with its line
            assert TASKS_LOWERED in log, "the tasks were not lowered: " + ending
            assert "rtpShutdown: done" in log or said, "neither the stop's end nor the guard's line: " + ending
        dev.check_clean()
        print("SIGTERM with %s busy loops (priorities %s) on host CPUs %s: exit %d after %.2f s%s" %
              ("real-time" if realtime else "normal", ",".join(map(str, priorities)), cpus, rc, took,
               ", the tasks lowered" if TASKS_LOWERED in log else ""))


def device_cpus(dev):
    """The host CPUs the device's two cores run on, None when it is not bound."""
    m = CORES.search(dev.log())
    return (int(m.group(1)), int(m.group(2))) if m else None


def lap_client(folder, stop):
    """A client that triggers a lap every 0.5 s until stop is set or the device goes."""
    while not stop.wait(0.5):
        try:
            shell(folder, "lof_laptrig", 10.0)
        except OSError:
            return


def test_lapload(binary, sample, _measdump=None, seconds=40.0):
    with DeviceRun(sample) as run:
        dev = run.start_logging(binary)
        cpus = device_cpus(dev)   # none where the device is not bound (a sanitizer build): no loop
        realtime = "tasks run at normal priority" not in dev.log()
        loops = []
        stop = threading.Event()
        clients = [threading.Thread(target=lap_client, args=(run.folder, stop)) for _ in range(3)]
        try:
            if cpus:
                # The first CPU of the pair runs the base tick, the rasters, the shell and the writers: held
                # nearly a second at a time by a real-time loop above them all, the tick lags again and
                # again, the files wait to close and their slots fill. The second CPU stays free: the
                # counters' store runs there, and every trigger gets its file made.
                loops.append(subprocess.Popen([sys.executable, "-c", BUSY_LOOP, str(cpus[0]), str(seconds), "0.95",
                                               "0.12", "99" if realtime else "0"], stdout=subprocess.DEVNULL))
            for c in clients:
                c.start()
            # the loops end by their own clock
            for p in loops:
                p.wait(timeout=seconds + 60)
        finally:
            stop.set()
            for c in clients:
                if c.ident:
                    c.join()
            for p in loops:
                if p.poll() is None:
                    p.kill()
                    p.wait()
        rc, took = end_by_signal(dev, signal.SIGTERM, 30.0)
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-3000:])
        log = dev.log()
        dev.check_clean()
        print("laps every 0.5 s from three clients, CPU %s held%s: %d lags, %d stretches no file took, exit after "
              "%.2f s" % (cpus[0] if cpus else None, " (real-time)" if realtime else "",
                          log.count("the base tick lagged"), log.count("no file took them"), took))


MODES = {"flood": test_flood, "fifo": test_fifo, "stdin": test_stdin, "hangup": test_hangup, "logfile": test_logfile,
         "triggers": test_triggers, "burst": test_burst, "busy": test_busy, "lapload": test_lapload}


def main():
    mode, binary, sample = sys.argv[1:4]
    try:
        if MODES[mode](binary, sample, *sys.argv[4:]) == 77:
            return 77
    except Exception:
        traceback.print_exc()
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
