#!/usr/bin/env python3
"""The device process under bad input, faults and load, as a user meets them.

Start parameters from start.cfg, the shell (help, over-long lines, bad
arguments, lines cut off by the end of their connection, clients that do
not read, a long folder path), configuration files that are no file to read
(folders, link loops, links that lead nowhere, too large, a NUL byte),
unreadable and unwritable NVRAM and calibration files, a second process on
the same folder and the run script's checks of its arguments and its
standard input.
Usage: device_foundation_test.py TAV9_BINARY SAMPLE_FOLDER SOURCE_ROOT
"""
import contextlib
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import (Device, DeviceRun, run_tests, check_options, connect, drive_files,  # noqa: E402
                            make_folder, queue_prefix, read_answer, read_text, remove_folder, wait_for)


def counters(dev):
    out = dev.shell("lof_get")
    get = lambda label: int(re.search(label + r":\s*(\d+)", out).group(1))  # noqa: E731
    return (get("Lap counter"), get("Outing counter"), get("Fragment counter"), get("Absolute lap counter"))


def started(binary, folder):
    return Device(binary, folder).wait_ready()


def finish(dev):
    rc = dev.stop()
    assert rc == 0, "exit code %d\n%s" % (rc, dev.output())
    dev.check_clean()


@contextlib.contextmanager
def device_in_copy(binary, sample, prepare=None):
    """A device running in a fresh copy of sample/ (changed by prepare(folder)
    first), shut down in order and checked at the end."""
    folder = make_folder(sample)
    try:
        if prepare:
            prepare(folder)
        dev = started(binary, folder)
        try:
            yield dev
        finally:
            finish(dev)
    finally:
        remove_folder(folder)


def test_start_cfg_is_read(binary, sample, root):
    def prepare(folder):
        with open(os.path.join(folder, "start.cfg"), "a") as f:
            f.write("pid = 5\ncan0_port = 31000\n")
            f.write("pid = 99999999999999999999\nip = 999.1.1.1\n")
            f.write("xcp_port = 55\0" "99\n")   # the NUL would leave port 55
    with device_in_copy(binary, sample, prepare) as dev:
        log = dev.log()
        assert "startup: application 1, PID 5, 127.0.0.1" in log, log
        assert re.search(r"start.cfg: NUL byte in line \d+ column 14, line ignored \(value of line \d+ kept\)", log), log
        assert re.search(r"start.cfg line \d+: bad value '99999999999999999999' for pid", log), log
        assert re.search(r"start.cfg line \d+: bad value '999.1.1.1' for ip", log), log
        # the first CAN interface listens on the configured port
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind(("127.0.0.1", 31000))
            bound = False
        except OSError:
            bound = True
        finally:
            probe.close()
        assert bound, "nothing listens on UDP port 31000"


def udp_ports(pid):
    """The local ports of the UDP sockets the process holds."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            m = re.match(r"socket:\[(\d+)\]$", os.readlink("/proc/%d/fd/%s" % (pid, fd)))
        except OSError:
            continue
        if m:
            inodes.add(m.group(1))
    ports = set()
    for line in read_text("/proc/%d/net/udp" % pid).splitlines()[1:]:
        fields = line.split()
        if len(fields) > 9 and fields[9] in inodes:
            ports.add(int(fields[1].split(":")[1], 16))
    return ports


def test_start_files_are_read_as_written(binary, sample, root):
    """A stimulus.cfg of 200,000 lines that repeat one signal starts the
    device as the sample does: the last line counts, the repeat is named
    once. A start.cfg with CR line ends and numbers with a leading zero is
    read as its writer meant: decimal, one setting a line."""
    def prepare(folder):
        path = os.path.join(folder, "stimulus.cfg")
        with open(path) as f:
            lines = f.read().rstrip("\n").split("\n")
        first = [n for n, line in enumerate(lines, 1) if line.startswith("t_air")][0]
        first_repeat = len(lines) + 1
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n" + "t_air const 26\n" * 200000)
        path = os.path.join(folder, "start.cfg")
        with open(path) as f:
            text = f.read().replace("pid = 1\n", "pid = 010\n").replace("xcp_port = 5555\n", "xcp_port = 05601\n")
        with open(path, "w", newline="") as f:
            f.write(text.replace("\n", "\r"))
        return first, first_repeat
    with DeviceRun(sample) as run:   # ends the device however the test ends
        first, first_repeat = prepare(run.folder)
        dev = run.device(binary).wait_ready()
        try:
            assert "t_air = 26" in dev.shell("getvar t_air")
            log = dev.log()
            assert log.count("t_air again") == 1, log
            assert "stimulus: line %d: t_air again (first in line %d), the later line counts" % (first_repeat, first) \
                in log, log
            assert "stimulus: 200000 lines repeat a signal, the last line of each counts" in log, log
            assert "startup: application 1, PID 10, 127.0.0.1" in log, log
            assert "start.cfg" not in log, log   # every line understood
            # the XCP slave listens on UDP 5601, not on octal 05601 (2945)
            wait_for(lambda: 5601 in udp_ports(dev.proc.pid), "the XCP slave on UDP port 5601")
            assert 2945 not in udp_ports(dev.proc.pid)
        finally:
            finish(dev)


def test_shell_refuses_without_running_anything(binary, sample, root):
    with device_in_copy(binary, sample) as dev:
        # its logging has started: the state read below stays as it is
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        before = counters(dev)
        answer = dev.shell("getvar " + "A" * 1529 + " reset_voz")
        assert "line longer than 1024 characters refused" in answer, answer
        answer = dev.shell("getvar " + "A" * 1529 + " lof_laptrig")
        time.sleep(0.2)
        assert dev.proc.poll() is None, "an over-long line shut the device down"
        for line in ("lof_set abc def", "lof_set 70000 -1", "lof_set 1.5 2", "lof_laptrig 1"):
            answer = dev.shell(line)
            assert "usage: lof_" in answer, (line, answer)
            assert "value = -1" in answer, (line, answer)
        assert "usage: setvar" in dev.shell("setvar t_air 3 4")
        # extra words: the usage, nothing requested, the device keeps running
        state = dev.shell("meas")
        # a refused or malformed command answers a nonzero value, as it says
        for line, words in (("meas stop now", "usage: meas"), ("meas init", "init refused"),
                            ("meas nonsense", "usage: meas"), ("reset_voz now", "usage: reset_voz"),
                            ("display start now", "usage: display"), ("display color xyz", "Invalid color"),
                            ("display page x", "Invalid page"),
                            ("display txtshow hello world", "usage: display")):
            answer = dev.shell(line)
            assert words in answer and "value = -1" in answer, (line, answer)
        assert "not inside the device folder" in dev.shell("display bmpdump ../x.bmp")
        time.sleep(0.3)
        assert dev.proc.poll() is None, "reset_voz with an extra word shut the device down"
        assert not os.path.exists(os.path.join(os.path.dirname(dev.folder.rstrip("/")), "x.bmp"))
        # a line cut off by the end of its connection runs nothing
        for line in (b"lof_laptrig", b"meas stop"):
            s = connect(dev.folder)
            try:
                s.sendall(line)
                s.shutdown(socket.SHUT_WR)
                assert s.recv(100) == b"", line   # the device closes, having answered nothing
            finally:
                s.close()
        cut = "shell: a line without its newline (9 characters) not run"
        wait_for(lambda: cut in dev.log(), "the cut line's warning")
        for flag in ("meas_app_stopreq", "meas_app_running"):
            was = re.search(flag + r"\s+= (\d)", state).group(1)
            assert re.search(flag + r"\s+= " + was, dev.shell("meas")), flag
        assert counters(dev) == before, (counters(dev), before)
        answer = dev.shell("help")
        for name in ("getvar", "setvar", "lof_set", "lof_get", "reset_voz", "help"):
            assert re.search(r"(?m)^  %s\b" % name, answer), answer


def test_broken_configuration_files_warn(binary, sample, root):
    """Each configuration file that is there but no file to read is named as
    what it is, and the device starts all the same."""
    def link(folder, name, target):
        path = os.path.join(folder, name)
        if os.path.lexists(path):
            os.remove(path)
        os.symlink(target, path)

    def prepare(folder):
        open(os.path.join(folder, "stimulus.cfg"), "w").close()
        os.remove(os.path.join(folder, "cfg", "m01.xml"))
        os.mkdir(os.path.join(folder, "cfg", "m01.xml"))
        link(folder, "cfg/m02.xml", "m02.xml")
        with open(os.path.join(folder, "cfg", "m03.xml"), "r+b") as f:
            f.truncate(21003030)   # sparse
        link(folder, "cfg/CAN.xml", "CAN.xml")
        link(folder, "cfg/flag.png", "flag.png")
        link(folder, "drive_format.cfg", "drive_format.cfg")
    with DeviceRun(sample) as run:
        folder = run.folder
        prepare(folder)
        dev = run.device(binary)   # no stimulus: not ready by the harness's measure
        wait_for(lambda: "startup: done" in dev.log(), "the end of the start-up", 60)
        for text in ("stimulus: stimulus.cfg is empty, the inputs stay still",
                     "meas_app_get_MEASConfiguration file 'cfg:/m01.xml' is a folder, measurement not loaded"):
            wait_for(lambda: text in dev.output(), "the warning on stderr: " + text, 10)
            assert text in dev.log(), text
        for text in ("meas_app_get_MEASConfiguration file 'cfg:/m02.xml' is a link loop",
                     "meas_app_get_MEASConfiguration file 'cfg:/m03.xml' is too large (21003030 bytes)",
                     "can configuration file 'cfg:/CAN.xml' is a link loop",
                     "CImageContainer: cfg:/flag.png is a link loop",
                     "drive_format.cfg is a link loop"):
            wait_for(lambda: text in dev.log(), "the warning: " + text, 30)
        assert dev.stop() == 0
        dev.check_clean()
        assert os.readlink(os.path.join(folder, "drive_format.cfg")) == "drive_format.cfg"


def test_broken_files_of_a_logging_device_are_named(binary, sample, root):
    """display.xml holding a NUL byte, an apps.xml that leads nowhere (read
    when logging starts): each named, the device logs all the same."""
    def prepare(folder):
        os.symlink("gone.xml", os.path.join(folder, "cfg", "apps.xml.new"))
        os.replace(os.path.join(folder, "cfg", "apps.xml.new"), os.path.join(folder, "cfg", "apps.xml"))
        path = os.path.join(folder, "cfg", "display.xml")
        with open(path, "rb") as f:
            text = f.read()
        at = text.index(b"<Pages>")
        with open(path, "wb") as f:
            f.write(text[:at] + b"\0" + text[at:])
        line = text[:at].count(b"\n") + 1
        column = at - (text.rfind(b"\n", 0, at) + 1) + 1
        return "XmlLoad(): NUL byte in line %d column %d of cfg:/display.xml" % (line, column)
    with DeviceRun(sample) as run:
        says = prepare(run.folder)
        dev = run.start_logging(binary)
        for text in (says, "File not found, len invalid : cfg:/apps.xml is a link that leads nowhere"):
            wait_for(lambda: text in dev.log(), text, 30)
        assert dev.stop() == 0
        dev.check_clean()


# What a loaded host or a neighbouring device adds to a run: not part of a start.
NOISE = re.compile(r"watchdog limit|the base tick lagged|Localtime is older than datatime|PID 0x|BC2_disconnect|"
                   r"Last message repeated|is shared with another device|dropped: it lies before the first record of its start|"
                   r"records of time stamps \d+ to \d+ lost: no file took them")


# A site that repeats logs this once in place of its 14th message, which it
# names.
FLOOD_WARNING = re.compile(r'Flooding suspicion! Syslogx message ".*" will be (suppressed|held back and counted) '
                           r'in future$')


def stderr_messages(text):
    """The messages of the log records in a device's output, without noise.
    A flood warning is noise when it stands for a noise message: when the
    task's message before it was noise (a site that floods with anything else
    has shown its own 13 messages before)."""
    out = []
    last_was_noise = {}
    for line in text.splitlines():
        m = re.match(r"\S+ \S+ TAV9_VOZ <\d+> \d+ (\S+): (.*)$", line)
        if not m:
            continue
        task, message = m.group(1), m.group(2).rstrip()
        noise = bool(NOISE.search(message)) or bool(FLOOD_WARNING.match(message) and last_was_noise.get(task))
        last_was_noise[task] = noise
        if not noise:
            out.append(message)
    return out


def test_first_and_second_run_print_what_the_readme_says(binary, sample, root):
    with open(os.path.join(root, "README.md")) as f:
        readme = f.read()
    # up to the next heading, of any level
    section = re.split(r"\n#+ ", readme.split("### What the first run prints", 1)[1], maxsplit=1)[0]
    promised = [line[4:] for line in section.splitlines() if line.startswith("    ")]
    assert promised, "no lines in the README's first-run section"
    with DeviceRun(sample) as copy:
        folder = copy.folder
        for run, expected in (("first", promised), ("second", [])):
            mark = len(read_text(folder.rstrip("/") + ".out"))
            dev = copy.device(binary).wait_ready()
            time.sleep(1.0)   # the display's start and the first files
            assert dev.stop() == 0
            dev.check_clean()
            got = stderr_messages(dev.output()[mark:])
            assert sorted(got) == sorted(expected), "%s run printed:\n%s\nthe README says:\n%s" % (
                run, "\n".join(got), "\n".join(expected))


def sanitizer_build(binary):
    with open(binary, "rb") as f:
        data = f.read()
    return any(name in data for name in (b"__asan_init", b"__tsan_init", b"__msan_init"))


def test_device_a_sanitizer_ended_is_not_taken_as_clean(binary, sample, root):
    """A sanitizer that ends the device on a fault reports it in its own
    words (ThreadSanitizer: "ERROR: ThreadSanitizer: SEGV ..."); the harness
    finds the report whichever sanitizer wrote it."""
    if not sanitizer_build(binary):
        print("     (not a sanitizer build: nothing reports the fault)")
        return
    with DeviceRun(sample) as run:
        dev = run.device(binary).wait_ready()
        dev.proc.send_signal(signal.SIGSEGV)
        dev.proc.wait(timeout=60)
        try:
            dev.check_clean()
        except AssertionError:
            pass
        else:
            raise AssertionError("a device ended on a SEGV passed as clean:\n" + dev.output()[-3000:])
        dev.kill()
        os.remove(dev.output_path)   # the report was wanted here: not shown as a finding


def test_unreadable_files_give_defaults(binary, sample, root):
    def prepare(folder):
        os.mkdir(os.path.join(folder, "nvram.bin"))
        os.mkdir(os.path.join(folder, "calpage.bin"))
    with device_in_copy(binary, sample, prepare) as dev:
        log = dev.log()
        assert "nvram_dbs_init: nvram.bin is a folder" in log, log
        assert "calpage.bin is a folder" in log, log
        assert "t_air = 25" in dev.shell("getvar t_air")


def rss_bytes(pid):
    """The resident memory of the process (0 once it is gone)."""
    m = re.search(r"^VmRSS:\s+(\d+) kB", read_text("/proc/%d/status" % pid), re.M)
    return int(m.group(1)) * 1024 if m else 0


def replace_with(folder, name, make):
    path = os.path.join(folder, name)
    if os.path.lexists(path):
        os.remove(path)
    make(path)


def test_fifos_in_place_of_files_never_block(binary, sample, root):
    """FIFOs without a writer in place of the files read at start-up and of
    m01's first measurement file: each is named, none is waited on, the
    device starts, logs into a file of another name and ends in order."""
    names = ("start.cfg", "stimulus.cfg", "calpage.bin", "nvram.bin", "cfg/eventcfg.xml", "cfg/qov.ini",
             "meas/A0101000.001")
    with DeviceRun(sample) as run:
        for name in names:
            replace_with(run.folder, name, os.mkfifo)
        dev = run.device(binary).wait_ready(30)
        for text in ("start.cfg is a FIFO (defaults used)", "stimulus: stimulus.cfg is a FIFO, built-in stimulus used",
                     "nvram_dbs_init: nvram.bin is a FIFO", "calpage.bin is a FIFO",
                     "eventChannelsInitTask(): File not found, len invalid : cfg:/eventcfg.xml is a FIFO",
                     "fload() file 'cfg:/qov.ini' is a FIFO, not read"):
            wait_for(lambda: text in dev.log(), "the warning: " + text, 30)
        wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
        wait_for(lambda: "A0101000.002" in os.listdir(os.path.join(run.folder, "meas")), "m01's file", 30)
        assert dev.stop() == 0, dev.output()
        dev.check_clean()


def test_fifos_at_temporary_names_never_block(binary, sample, root):
    """FIFOs without a reader where nvram.bin, drive_format.cfg and
    screen.png are written aside before their rename: none is opened, each
    file is made anew, and the device starts and ends on SIGINT."""
    names = ("nvram.bin", "drive_format.cfg", "screen.png")
    with DeviceRun(sample) as run:
        for name in names:
            replace_with(run.folder, name + ".tmp", os.mkfifo)
        dev = run.device(binary).wait_ready(60)
        for name in names:
            path = os.path.join(run.folder, name)
            wait_for(lambda: os.path.isfile(path) and not os.path.islink(path), name + " written", 30)
        dev.proc.send_signal(signal.SIGINT)
        dev.wait_clean_end(30, "SIGINT")


def test_files_without_end_take_bounded_memory(binary, sample, root):
    """start.cfg and the other files read whole as links to /dev/zero: each is
    named as a device and none is read; the device's memory stays bounded."""
    limit = 1024 * 1024 * 1024
    with DeviceRun(sample) as run:
        for name in ("start.cfg", "stimulus.cfg", "calpage.bin", "nvram.bin"):
            replace_with(run.folder, name, lambda path: os.symlink("/dev/zero", path))
        dev = run.device(binary)

        def started():
            rss = rss_bytes(dev.proc.pid)
            assert rss < limit, "the device took %d bytes of memory" % rss
            assert dev.proc.poll() is None, dev.output()
            return "startup: done" in dev.log()
        wait_for(started, "the end of the start-up", 60)
        for text in ("start.cfg is a device (defaults used)", "stimulus: stimulus.cfg is a device, built-in "
                     "stimulus used", "nvram_dbs_init: nvram.bin is a device"):
            wait_for(lambda: text in dev.log(), "the warning: " + text, 30)
        assert dev.stop() == 0, dev.output()
        dev.check_clean()


def make_folder_at(path):
    """True once a folder is made at path; false while something stands there."""
    try:
        os.mkdir(path)
        return True
    except FileExistsError:
        return False


def test_failed_store_is_reported_and_nothing_acknowledged_is_lost(binary, sample, root):
    folder = make_folder(sample)
    try:
        dev = started(binary, folder)
        try:
            assert "value = 0" in dev.shell("lof_set 4 4")
            # NVRAM is written behind its changes: a write of the device's own
            # may hold the temporary name for a moment
            wait_for(lambda: make_folder_at(os.path.join(folder, "nvram.bin.tmp")), "nvram.bin.tmp to be free", 30)
            answer = dev.shell("lof_set 9 9")
            assert "lof_set: storing the counters in NVRAM failed" in answer, answer
            assert "value = -1" in answer, answer
            answer = dev.shell("lof_laptrig")
            assert "storing the counters in NVRAM failed" in answer, answer
            assert dev.log().count("not stored: nvram.bin.tmp: Is a directory") == 1, dev.log()
        finally:
            finish(dev)
        # The files of outing 9 were made under counters the NVRAM refused, as
        # the device said: the restart below gives their absolute laps again.
        check_options(folder, unstored_laps={(9, 9), (9, 10)})
        os.rmdir(os.path.join(folder, "nvram.bin.tmp"))
        dev = started(binary, folder)
        try:
            lap, outing, _, _ = counters(dev)
            assert (lap, outing) == (4, 4), (lap, outing)
        finally:
            finish(dev)
    finally:
        remove_folder(folder)


def test_second_process_on_the_folder_is_refused(binary, sample, root):
    with device_in_copy(binary, sample) as dev:
        second = subprocess.Popen([os.path.abspath(binary), "1"], cwd=dev.folder, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            err = second.communicate(timeout=30)[1]
        except subprocess.TimeoutExpired:
            second.kill()
            second.communicate()
            raise AssertionError("a second device process runs on the same folder")
        assert second.returncode != 0
        assert "is in use by process %d: not started" % dev.proc.pid in err, err
        assert "t_air = 25" in dev.shell("getvar t_air")   # the first one is untouched
        # the folder stays locked without its device.lock, and nothing is made anew
        os.remove(os.path.join(dev.folder, "device.lock"))
        second = subprocess.run([os.path.abspath(binary), "1"], cwd=dev.folder, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=30)
        assert second.returncode != 0, "a second device started beside the first"
        assert "is in use by process %d: not started" % dev.proc.pid in second.stderr, second.stderr
        assert not os.path.lexists(os.path.join(dev.folder, "device.lock"))
        assert "t_air = 25" in dev.shell("getvar t_air")


def tree(folder):
    """Every path below folder, relative to it."""
    return sorted(os.path.relpath(os.path.join(d, n), folder)
                  for d, dirs, files in os.walk(folder) for n in dirs + files)


def test_renamed_folder_keeps_its_device(binary, sample, root):
    """A device whose folder is renamed while it runs goes on in the renamed
    folder: its log, NVRAM, screen and laps go there, nothing into a fresh
    folder made at the old name, where a second device starts beside it."""
    folder = make_folder(sample)
    moved = folder + ".old"
    second = None
    try:
        dev = started(binary, folder)
        try:
            wait_for(lambda: "meas_app_running           = 1" in dev.shell("meas"), "logging to run")
            os.rename(folder, moved)
            dev.moved_to(moved)
            shutil.copytree(sample, folder, ignore=shutil.ignore_patterns("unit.id"))
            fresh = tree(folder)
            for lap in (1, 2):
                files = drive_files(moved, "meas")
                synced = os.stat(os.path.join(moved, "nvram.bin")).st_mtime_ns
                assert "value = 0" in dev.shell("lof_laptrig")
                wait_for(lambda: drive_files(moved, "meas") != files, "lap %d's file in the renamed folder" % lap)
                wait_for(lambda: os.stat(os.path.join(moved, "nvram.bin")).st_mtime_ns != synced,
                         "lap %d's counters in the renamed folder's NVRAM" % lap)
                if lap == 1:
                    assert tree(folder) == fresh, "the device wrote into the fresh folder: %s" % tree(folder)
                    second = started(binary, folder)
            assert "was removed while in use" not in dev.log(), dev.log()
        finally:
            finish(dev)
        assert "rtpShutdown" not in second.log(), "the first device's end logged in the fresh folder"
        assert "t_air = 25" in second.shell("getvar t_air")
        # the queues of the folder's name are the second's now: the first one's end leaves them
        rt = ctypes.CDLL(ctypes.util.find_library("rt") or None, use_errno=True)
        rt.mq_open.restype = ctypes.c_int
        for name in ("MeasAppRCTRL_RX", "MeasAppFormat"):
            d = rt.mq_open((queue_prefix(folder) + name).encode(), os.O_WRONLY)
            assert d >= 0, "%s of the second device: %s" % (name, os.strerror(ctypes.get_errno()))
            rt.mq_close(d)
        finish(second)
    finally:
        remove_folder(folder)
        remove_folder(moved)


def test_closed_standard_descriptors_are_not_the_devices_files(binary, sample, root):
    """A device started with its standard input, output or error closed
    neither reads nor writes its own files through them: device.lock holds
    its PID alone, whatever it reads, answers and warns."""
    for fd in (0, 1, 2):
        with DeviceRun(sample) as run:
            commands = run.folder + ".in"
            with open(commands, "w") as f:
                f.write("lof_get\nno_such_command\n")
            os.symlink("flag.png", os.path.join(run.folder, "cfg", "flag.png.new"))   # a warning on stderr
            os.replace(os.path.join(run.folder, "cfg", "flag.png.new"), os.path.join(run.folder, "cfg", "flag.png"))
            try:
                with open(commands) as stdin:
                    dev = run.device(binary, stdin=stdin, prefix=("sh", "-c", 'exec "$0" "$@" %d>&-' % fd))
                dev.wait_ready()
                wait_for(lambda: "flag.png is a link loop" in dev.log(), "the warning")
                assert "t_air = 25" in dev.shell("getvar t_air")
                finish(dev)
                assert "unknown command '%d'" % dev.proc.pid not in dev.output(), dev.output()
                with open(os.path.join(run.folder, "device.lock")) as f:
                    assert f.read() == "%d\n" % dev.proc.pid, "device.lock written with %d closed" % fd
            finally:
                os.remove(commands)


def test_something_else_in_place_of_the_lock_is_named(binary, sample, root):
    """A folder or a link (to a file, or leading nowhere) where device.lock
    belongs: no process holds the folder, the refusal says what stands
    there, and the file a link leads to is not written."""
    folder = make_folder(sample)
    try:
        lock = os.path.join(folder, "device.lock")
        theirs = os.path.join(folder, "theirs.txt")
        with open(theirs, "w") as f:
            f.write("not the device's\n")
        for make, words in ((os.mkdir, "is a folder"),
                            (lambda p: os.symlink("gone/device.lock", p), "is a link that leads nowhere"),
                            (lambda p: os.symlink(theirs, p), "is a link")):
            make(lock)
            proc = subprocess.Popen([os.path.abspath(binary), "1"], cwd=folder, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                err = proc.communicate(timeout=30)[1]
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
                raise AssertionError("the device started beside device.lock that " + words)
            assert proc.returncode != 0
            assert "cannot be locked: device.lock %s: not started" % words in err, err
            assert "in use" not in err, err
            with open(theirs) as f:
                assert f.read() == "not the device's\n", "device.lock written through its link"
            if os.path.islink(lock):
                os.remove(lock)
            else:
                os.rmdir(lock)
    finally:
        remove_folder(folder)


def test_client_that_does_not_read_blocks_nobody(binary, sample, root):
    folder = make_folder(sample)
    try:
        dev = started(binary, folder)
        greedy = connect(folder)
        try:
            greedy.setblocking(False)
            request = b"help\n" * 20000
            sent = 0
            end = time.time() + 5
            while sent < len(request) and time.time() < end:
                try:
                    sent += greedy.send(request[sent:])
                except BlockingIOError:
                    time.sleep(0.01)
            t0 = time.time()
            answer = dev.shell("getvar t_air", timeout=5)
            assert "t_air = 25" in answer, answer
            assert time.time() - t0 < 5
            # another silent client stays connected while the device shuts down
            idle = connect(folder)
            try:
                rc = dev.stop(limit=20)
                assert rc == 0, rc
            finally:
                idle.close()
            dev.check_clean()
        finally:
            greedy.close()
            dev.kill()
    finally:
        remove_folder(folder)


def test_idle_clients_do_not_lock_the_shell(binary, sample, root):
    """Eight connections that never send: a ninth client is answered, the
    idle one that makes room for it is told why."""
    folder = make_folder(sample)
    idle = []
    try:
        dev = started(binary, folder)
        try:
            idle = [connect(folder) for _ in range(8)]
            answer = dev.shell("getvar t_air", timeout=10)
            assert "t_air = 25" in answer, answer
            assert "too many connections" not in answer, answer
            first = idle[0].recv(256)
            assert first == b"shell: connection closed, idle while another client waited\n", first
            assert dev.stop(limit=20) == 0
            dev.check_clean()
        finally:
            dev.kill()
    finally:
        for s in idle:
            s.close()
        remove_folder(folder)


def test_long_folder_path_keeps_the_shell(binary, sample, root):
    base = make_folder(sample)
    try:
        folder = os.path.join(base, "a-rather-long-folder-name-for-the-device" * 3)
        os.mkdir(folder)
        for name in os.listdir(base):
            if name != os.path.basename(folder):
                os.rename(os.path.join(base, name), os.path.join(folder, name))
        assert len(os.path.join(folder, "shell.sock")) > 108
        dev = started(binary, folder)
        try:
            s = connect(folder)
            s.sendall(b"getvar t_air\n")
            assert "t_air = 25" in read_answer(s)
            s.close()
        finally:
            finish(dev)
    finally:
        remove_folder(base)


def run_script(root, binary, args, stdin_text=None, timeout=60, cwd=None):
    """Runs scripts/run in a session of its own, so that a run that does not
    end is ended whole (with the device it started), and so is anything it
    leaves behind, which fails the run."""
    env = dict(os.environ, TAV9_BINARY=os.path.abspath(binary))
    proc = subprocess.Popen([os.path.join(os.path.abspath(root), "scripts", "run")] + args, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True,
                            start_new_session=True, cwd=cwd)
    try:
        out, err = proc.communicate(stdin_text, timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise AssertionError("scripts/run %s did not end within %d s" % (" ".join(args), timeout))
    # the script's own children (its timer) end with it: none is left in its session
    try:
        os.killpg(proc.pid, signal.SIGKILL)
        left = True
    except ProcessLookupError:
        left = False
    assert not left, "scripts/run %s left processes behind" % " ".join(args)
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def test_run_script_checks_its_arguments_and_keeps_stdin(binary, sample, root):
    for bad in (["abc"], ["-5"], ["1.5"], ["99999999999999999999"], ["01000000000"], [""], ["", "somewhere"]):
        r = run_script(root, binary, bad, timeout=10)
        assert r.returncode != 0 and "whole number" in r.stderr, (bad, r.stderr)
    for bad, words in ((["1", ""], "FOLDER is empty"), (["1", "a", "b"], "at most two arguments")):
        r = run_script(root, binary, bad, timeout=10)
        assert r.returncode == 2 and words in r.stderr, (bad, r.stderr)
    user = make_folder(sample)
    try:
        # a folder of the user's without cfg/ or start.cfg is not overwritten
        os.remove(os.path.join(user, "start.cfg"))
        shutil.rmtree(os.path.join(user, "cfg"))
        with open(os.path.join(user, "notes.txt"), "w") as f:
            f.write("mine\n")
        r = run_script(root, binary, ["1", user], timeout=10)
        assert r.returncode != 0 and "holds no device" in r.stderr, r.stderr
        assert sorted(os.listdir(user)) == sorted(["c", "meas", "meas2", "notes.txt", "stimulus.cfg"]), \
            os.listdir(user)
    finally:
        remove_folder(user)
    new = make_folder(sample)
    remove_folder(new)
    try:
        # a new folder is filled from sample/; the terminal's input reaches the shell
        r = run_script(root, binary, ["2", new], stdin_text="help\n")
        assert r.returncode == 0, r.stderr
        assert "copied from sample/" in r.stdout, r.stdout
        assert "  lof_get: " in r.stdout, r.stdout
        assert os.path.exists(os.path.join(new, "cfg", "m01.xml"))
        # the device ending before SECONDS (reset_voz) ends the timer too
        r = run_script(root, binary, ["300", new], stdin_text="reset_voz\n")
        assert r.returncode == 0, r.stderr
    finally:
        remove_folder(new)
    # a FOLDER whose name begins with '-' is a folder, not an option; SECONDS
    # is read by its value, leading zeros and all
    base = make_folder(sample)
    try:
        r = run_script(root, binary, ["00000000001", "-dash"], cwd=base)
        assert r.returncode == 0, r.stderr
        assert os.path.exists(os.path.join(base, "-dash", "cfg", "m01.xml")), os.listdir(base)
    finally:
        remove_folder(base)


TESTS = [test_start_cfg_is_read, test_start_files_are_read_as_written, test_shell_refuses_without_running_anything,
         test_broken_configuration_files_warn, test_broken_files_of_a_logging_device_are_named,
         test_first_and_second_run_print_what_the_readme_says,
         test_unreadable_files_give_defaults, test_fifos_in_place_of_files_never_block,
         test_fifos_at_temporary_names_never_block,
         test_files_without_end_take_bounded_memory, test_failed_store_is_reported_and_nothing_acknowledged_is_lost,
         test_second_process_on_the_folder_is_refused, test_something_else_in_place_of_the_lock_is_named,
         test_renamed_folder_keeps_its_device, test_closed_standard_descriptors_are_not_the_devices_files,
         test_client_that_does_not_read_blocks_nobody, test_idle_clients_do_not_lock_the_shell,
         test_long_folder_path_keeps_the_shell, test_run_script_checks_its_arguments_and_keeps_stdin,
         test_device_a_sanitizer_ended_is_not_taken_as_clean]


def main():
    binary, sample, root = sys.argv[1], sys.argv[2], sys.argv[3]
    wanted = sys.argv[4:]
    run_tests(TESTS, (binary, sample, root), wanted)


if __name__ == "__main__":
    main()
