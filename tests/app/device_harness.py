"""Runs the device process in a folder and talks to it over its shell socket.

Shared by the device-level tests. Every process a test starts is ended by
Device.stop() or Device.kill(), or on leaving its DeviceRun; the process's
standard output and error go to a file beside the folder, which
check_clean() searches for sanitizer reports. Removing a folder that devices
ran in checks its recordings first (recording_check.py): every device test
gets that check at its end.
"""
import ctypes
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import traceback

import recording_check
from recording_gaps import LAG, STAMPS_PER_MS

# What a sanitizer reports: its ERROR, FATAL and WARNING lines (from any
# sanitizer: the run time's own lines start with "==pid==", ThreadSanitizer's
# reports with the bare word), its CHECK failures and UndefinedBehavior's
# "runtime error:" lines. The device's own log lines never name a sanitizer
# nor start with "==pid==".
SANITIZER_REPORT = re.compile(r"==\d+==(?:ERROR|FATAL|WARNING):|\b(?:ERROR|FATAL|WARNING): \w*Sanitizer\b|"
                              r"\w+Sanitizer CHECK failed|\w+Sanitizer:DEADLYSIGNAL|runtime error:")


def wait_for(cond, what, limit=30.0):
    end = time.time() + limit
    while time.time() < end:
        if cond():
            return
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def read_text(path):
    """The file's text; "" when it is missing or no plain file (a FIFO in its
    place is never waited on)."""
    if not os.path.isfile(path):
        return ""
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def connect(folder, timeout=10.0):
    """A connected socket to the device's shell (the path may be long: the
    connection is made from inside the folder)."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(timeout)
    cwd = os.getcwd()
    try:
        os.chdir(folder)
        s.connect("shell.sock")
    except OSError:
        s.close()
        raise
    finally:
        os.chdir(cwd)
    return s


def read_answer(s, count=1):
    """Reads until `count` result lines ("value = ...") have arrived."""
    out = b""
    while len(re.findall(rb"value = [^\n]*\n", out)) < count:
        chunk = s.recv(65536)
        if not chunk:
            break
        out += chunk
    return out.decode(errors="replace")


def shell(folder, line, timeout=10.0):
    """Sends one shell line and returns the answer up to its result line."""
    s = connect(folder, timeout)
    try:
        s.sendall((line + "\n").encode())
        return read_answer(s)
    finally:
        s.close()


# The lap-counter state as the shell's "lof_get" prints it.
COUNTER_STATE = re.compile(r"Lap counter:\s*(\d+).*?Outing counter:\s*(\d+).*?Fragment counter:\s*(\d+).*?"
                           r"Absolute lap counter:\s*(\d+)", re.S)


def parse_state(text):
    m = COUNTER_STATE.search(text)
    assert m, "no counter state in %r" % text
    return tuple(int(x) for x in m.groups())   # lap, outing, fragment, absolute lap


def holds_file(pid, path):
    """True when process pid has path open."""
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                return True
        except OSError:
            pass
    return False


class MqAttr(ctypes.Structure):
    _fields_ = [("mq_flags", ctypes.c_long), ("mq_maxmsg", ctypes.c_long), ("mq_msgsize", ctypes.c_long),
                ("mq_curmsgs", ctypes.c_long), ("reserved", ctypes.c_long * 4)]


def queue_prefix(folder):
    """The device's queue names carry a hash of its folder's identity, its
    file system and inode as "DEV:INODE" (FNV-1a, 64 bits): a rename keeps it."""
    st = os.stat(folder)
    h = 1469598103934665603
    for c in ("%d:%d" % (st.st_dev, st.st_ino)).encode():
        h = ((h ^ c) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "/tav9-%016x-" % h


def queued(rt, d):
    """The number of messages in the open message queue d (rt: the C library
    that has mq_getattr)."""
    attr = MqAttr()
    assert rt.mq_getattr(d, ctypes.byref(attr)) == 0
    return attr.mq_curmsgs


def drive_files(folder, drive):
    """The names of the files on `drive` (its folder below `folder`), sorted;
    none while the drive is missing."""
    d = os.path.join(folder, drive)
    return sorted(f for f in os.listdir(d) if not f.startswith(".")) if os.path.isdir(d) else []


def measdump_csv(measdump, path):
    """measdump's exit code and the file's records {block: [(time stamp, values)]}."""
    r = subprocess.run([measdump, "--csv", path], capture_output=True, text=True)
    recs = {}
    for line in r.stdout.splitlines()[1:]:
        block, ts, values = line.split(",")
        recs.setdefault(int(block), []).append((int(ts), values))
    return r.returncode, recs


def lags(folder):
    """The stretches of stamps the base tick's lag lines name: a busy host may
    hold the device's rasters back, and a gap only such a line names is no
    fault of the files."""
    with open(os.path.join(folder, "log.txt"), errors="replace") as f:
        return [(int(t) - int(ms) * STAMPS_PER_MS, int(t)) for ms, t in LAG.findall(f.read())]


def lag_named(lagged, a, b, step):
    """Whether every stamp of the grid of `step` between the records at a and
    b lies in a stretch of `lagged` (lags())."""
    return b > a + step and all(any(lo - step <= t <= hi + step for lo, hi in lagged)
                                for t in range(a + step, b, step))


def check_spacing(recs, spacing, what, lagged=()):
    """Each block's records {block: [(stamp, values)]} lie spacing[block]
    apart, but where every stamp missing lies in a stretch of `lagged`."""
    for block, rs in recs.items():
        step = spacing[block]
        for (a, _), (b, _) in zip(rs, rs[1:]):
            assert b - a == step or lag_named(lagged, a, b, step), "%s block %d: %d after %d" % (what, block, b, a)


def make_folder(sample, prefix="tav9-dev-"):
    folder = tempfile.mkdtemp(prefix=prefix)
    # a unit.id left in the sample by a run there would make every copy the same unit
    shutil.copytree(sample, folder, dirs_exist_ok=True, ignore=shutil.ignore_patterns("unit.id"))
    return folder


class Device:
    """One device process in `folder`."""

    def __init__(self, binary, folder, stdin=subprocess.DEVNULL, prefix=(), env=None):
        """prefix: a command that execs the device (its "$0" is the binary),
        e.g. to run it in a network namespace; the PID stays the device's.
        env: variables added to the device's environment."""
        self.binary = os.path.abspath(binary)
        self.folder = folder
        self.output_path = folder.rstrip("/") + ".out"
        self.log_start = len(read_text(os.path.join(folder, "log.txt")))
        self._out = open(self.output_path, "ab")
        self.proc = subprocess.Popen(list(prefix) + [self.binary, "1"], cwd=folder, stdin=stdin, stdout=self._out,
                                     stderr=subprocess.STDOUT, env=dict(os.environ, **(env or {})))
        self.note_start()

    def note_start(self):
        """Notes the process started now in its folder, for the folder's
        recording check (a subclass that starts it its own way calls it)."""
        self.started_at = time.time()
        _folder_entry(self.folder)["devices"].append(self)

    def moved_to(self, folder):
        """The device's folder was renamed to `folder` while it ran: its
        shell, its log and its recordings are found there from now on."""
        _folder_entry(self.folder)["devices"].remove(self)
        self.folder = folder
        _folder_entry(folder)["devices"].append(self)

    def folder_removed(self):
        """The device's folder was removed while it ran: nothing of it is
        left to check."""
        _folder_entry(self.folder)["devices"].remove(self)

    def log(self):
        """What this run has logged so far."""
        return read_text(os.path.join(self.folder, "log.txt"))[self.log_start:]

    def output(self):
        return read_text(self.output_path)

    def wait_ready(self, limit=150.0):
        """Until the start-up is done, the shell answers and the rasters run.
        The limit only guards against a device that hangs: on a busy host a
        start takes many times as long as on a quiet one."""
        def ready():
            if self.proc.poll() is not None:
                raise AssertionError("device ended during start-up (%d):\n%s" % (self.proc.returncode,
                                                                                  self.output()))
            return "startup: done" in self.log()
        wait_for(ready, "the end of the start-up", limit)
        wait_for(lambda: os.path.exists(os.path.join(self.folder, "shell.sock")), "shell.sock", limit)
        # the rasters run: the stimulus has written its first values
        wait_for(lambda: "stim_active = 1" in self.shell("getvar stim_active"), "the first stimulus step", limit)
        return self

    def shell(self, line, timeout=None):
        """A sanitizer build runs its tasks at normal priority on the board's
        two CPUs, many times slower: on a loaded host a command may take more
        than the 10 s a normal build is given."""
        if timeout is None:
            timeout = 30.0 if "startup: sanitizer build" in self.log() else 10.0
        return shell(self.folder, line, timeout)

    def stop(self, limit=30.0):
        """Orderly shutdown through "reset_voz"; returns the exit code."""
        if self.proc.poll() is None:
            try:
                self.shell("reset_voz")
            except OSError:
                pass  # the process may close the socket while it goes down
        try:
            return self.proc.wait(timeout=limit)
        finally:
            self.kill()

    def wait_clean_end(self, limit, after):
        """Until the process ends by itself, within `limit` seconds of what
        `after` names: its exit code 0 and no sanitizer report."""
        try:
            rc = self.proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            raise AssertionError("the device still ran %d s after %s" % (limit, after))
        assert rc == 0, self.output()
        self.check_clean()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
        self._out.close()

    def check_clean(self):
        text = self.output()
        m = SANITIZER_REPORT.search(text)
        assert not m, "sanitizer report in the device output:\n" + text[max(0, m.start() - 200):m.start() + 3000]


class DeviceRun:
    """A folder copied from the sample and the devices a test starts in it.
    Used with "with": leaving it kills every device still running, also one
    that never became ready, and removes the folder, however the test ends."""

    def __init__(self, sample, prefix="tav9-dev-"):
        self.folder = make_folder(sample, prefix)
        self._devices = []

    def device(self, binary, **kwargs):
        """A device started in the folder (Device's arguments); not yet ready."""
        dev = Device(binary, self.folder, **kwargs)
        self._devices.append(dev)
        return dev

    def start_logging(self, binary):
        """A device started in the folder, ready and logging; a shell.sock
        left there by a killed run goes first."""
        sock = os.path.join(self.folder, "shell.sock")
        if os.path.exists(sock):
            os.remove(sock)
        dev = self.device(binary).wait_ready()
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        return dev

    def check_options(self, **options):
        """Options of the recording check at the end (check_options())."""
        check_options(self.folder, **options)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            for dev in self._devices:
                dev.kill()
        finally:
            remove_folder(self.folder)
        return False


# The folders devices ran in: their devices in start order and the options of
# their recording check.
_folders = {}


def _folder_entry(folder):
    return _folders.setdefault(os.path.realpath(folder), {"devices": [], "options": {}})


def check_options(folder, **options):
    """Options of the recording check of the folder at its removal
    (recording_check.check_folder's): e.g. ignore={"meas/NAME"} for a file
    the test planted, set_back={absolute laps} where the test sets the
    counters back."""
    _folder_entry(folder)["options"].update(options)


def measdump_beside(binary):
    """The measdump built with the device binary (BUILD/app/tav9 and
    BUILD/tools/measdump), or TAV9_MEASDUMP's."""
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(binary))), "tools", "measdump")
    return path if os.access(path, os.X_OK) else os.environ.get("TAV9_MEASDUMP", path)


def recording_problems(folder):
    """The recording check of a folder whose devices have all ended. What a
    cut leaves is looked for once a start is done: all of it when the last
    device ended by itself or by an orderly stop; only what is older than
    the last finished start when the last device was killed (a kill is a
    cut: what it leaves is the next start's to remove)."""
    entry = _folder_entry(folder)
    devices = entry["devices"]
    if not devices:
        return []
    options = dict(entry["options"])
    started = [d for d in devices if "startup: done" in d.log()]
    if not started:
        options.setdefault("leftovers", False)
    elif devices[-1] is not started[-1] or devices[-1].proc.returncode == -signal.SIGKILL:
        options.setdefault("leftovers_before", started[-1].started_at)
    return recording_check.check_folder(folder, measdump_beside(devices[-1].binary), **options)


def check_recordings(folder):
    """Ends the folder's devices still running and checks its recordings
    now: before a drive of the folder that is a mount of its own goes away
    (its removal then checks nothing again). The findings fail the test,
    unless it fails already: then they are printed."""
    entry = _folder_entry(folder)
    try:
        for dev in entry["devices"]:
            dev.kill()
        problems = recording_problems(folder)
    except Exception as e:   # the check must not keep the caller from cleaning up
        problems = ["the recording check failed: %r" % e]
    # checked: the folder's removal, after its drives went, checks nothing again
    entry["devices"] = []
    keep_with_findings(folder, problems)
    _report(folder, problems)


def _report(folder, problems):
    if not problems:
        return
    text = "recording check of %s:\n  %s" % (folder, "\n  ".join(problems))
    if sys.exc_info()[0] is not None:
        print(text)
    else:
        raise AssertionError(text)


def remove_folder(folder):
    """Checks the recordings of a folder that devices ran in (their devices
    ended first), then removes it and its output file (check_recordings)."""
    entry = _folders.get(os.path.realpath(folder))
    problems = []
    if entry and entry["devices"]:
        try:
            for dev in entry["devices"]:
                dev.kill()
            problems = recording_problems(folder)
        except Exception as e:   # the check must not keep the folder from going
            problems = ["the recording check failed: %r" % e]
    _folders.pop(os.path.realpath(folder), None)
    keep_with_findings(folder, problems)
    _remove_folder(folder)
    _report(folder, problems)


def keep_with_findings(folder, problems):
    """A folder whose recordings have findings, or whose test failed, is
    copied into the folder TAV9_KEEP_FINDINGS names, when set, to be looked
    at after the test."""
    into = os.environ.get("TAV9_KEEP_FINDINGS")
    # a test that failed keeps its folders too: its devices' logs tell why
    if (problems or sys.exc_info()[0] is not None) and into:
        # a socket or FIFO left in the folder cannot be copied: the findings still are reported
        def unplain(d, names):
            def plain(name):
                try:
                    mode = os.lstat(os.path.join(d, name)).st_mode
                except OSError:
                    return False
                return stat.S_ISDIR(mode) or stat.S_ISLNK(mode) or stat.S_ISREG(mode)
            return [n for n in names if not plain(n)]
        shutil.copytree(folder, os.path.join(into, os.path.basename(folder.rstrip("/"))), symlinks=True,
                        ignore=unplain, ignore_dangling_symlinks=True, dirs_exist_ok=True)


# The message queues a device makes for its folder (queue_prefix()).
DEVICE_QUEUES = ("MeasAppFormat", "MeasAppFormatAck", "MeasAppRCTRL_RX", "MeasAppRCTRL_TX")


def remove_queues(folder):
    """Removes the message queues of the devices that ran in the folder: a
    killed device leaves them, and with its folder gone no later start
    cleans them up (the host's limit on queues is small)."""
    try:
        prefix = queue_prefix(folder)
        rt = ctypes.CDLL("librt.so.1", use_errno=True)
    except OSError:
        return
    for name in DEVICE_QUEUES:
        rt.mq_unlink((prefix + name).encode())


def _remove_folder(folder):
    out = folder.rstrip("/") + ".out"
    remove_queues(folder)
    # a device that a sanitizer ended shows only as a lost connection in
    # the test: its report goes with the test's output before the file goes
    text = read_text(out)
    m = SANITIZER_REPORT.search(text)
    if m:
        print("sanitizer report in the device output:\n" + text[max(0, m.start() - 200):m.start() + 6000])
    shutil.rmtree(folder, ignore_errors=True)
    try:
        os.remove(out)
    except OSError:
        pass


def netns_pair_up(source, letter):
    """Two network namespaces joined by a veth pair (scripts/netns-pair),
    named after this process so that parallel tests never share them.
    Returns (ns_a, ns_b), or None with the reason printed when this host
    cannot make them (not root, no iproute2)."""
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return None
    tag = str(os.getpid())
    pair = ("tv9%s%sa" % (letter, tag), "tv9%s%sb" % (letter, tag))
    r = subprocess.run([os.path.join(source, "scripts", "netns-pair"), "up", *pair],
                       capture_output=True, text=True)
    if r.returncode != 0:
        print("skipped: scripts/netns-pair cannot make namespaces here: " + (r.stderr.strip() or r.stdout.strip()))
        return None
    return pair


def netns_pair_down(source, pair):
    subprocess.run([os.path.join(source, "scripts", "netns-pair"), "down", *pair], capture_output=True)


def run_tests(tests, args, wanted):
    """Runs the tests (all, or those named in wanted) with args, each on its
    own, and exits 1 when one failed."""
    import traceback
    passed = failed = 0
    for test in tests:
        if wanted and test.__name__ not in wanted:
            continue
        t0 = time.time()
        try:
            test(*args)
            passed += 1
            print("ok   %s (%.1f s)" % (test.__name__, time.time() - t0))
        except Exception:
            failed += 1
            print("FAIL %s" % test.__name__)
            traceback.print_exc()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)
