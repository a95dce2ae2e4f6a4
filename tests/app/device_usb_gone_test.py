#!/usr/bin/env python3
"""A USB drive pulled while a file is open on it takes that file along.

The drive is pulled while m01 writes a file on it (its folder moved aside),
the file is rewritten there as another device would write another recording
under that name, and the drive comes back. The device never writes to that
file again, neither what its stream still held nor an attribute set by the
name: the file stays byte-identical through the split of the arrival and the
orderly stop. The internal drive keeps recording.
Usage: device_usb_gone_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import DeviceRun, drive_files, wait_for  # noqa: E402

OTHER = b"another device's recording under this name\n" * 40


def size_of(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


def attributes(path):
    """The device's stored attribute bits of a file ("" when it has none)."""
    try:
        return os.getxattr(path, "user.tav9.attrib").decode()
    except OSError:
        side = os.path.join(os.path.dirname(path), ".attrib")
        name = os.path.basename(path)
        if os.path.exists(side):
            with open(side) as f:
                for line in f:
                    if line.rsplit(" ", 1)[0] == name:
                        return line.split()[-1]
        return ""


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    with DeviceRun(sample, "tav9-usbgone-") as run:
        folder = run.folder
        usb = os.path.join(folder, "usb_meas")
        away = os.path.join(folder, "usb_away")
        os.mkdir(usb)
        dev = run.start_logging(binary)
        wait_for(lambda: any(n.startswith("A") for n in drive_files(folder, "usb_meas")), "m01's file on the USB drive")
        name = [n for n in drive_files(folder, "usb_meas") if n.startswith("A")][-1]
        wait_for(lambda: size_of(os.path.join(usb, name)) >= 4096, "m01's file on the USB drive to grow")
        # pulled while the writer's stream still holds what came since its last flush
        os.rename(usb, away)
        wait_for(lambda: "due to media absence" in dev.log(), "the USB writer to see the drive gone")
        # in another device meanwhile: another recording under the same name, in the same file
        # (planted: the recording check leaves it out)
        run.check_options(ignore={"usb_meas/" + name})
        with open(os.path.join(away, name), "r+b") as f:
            f.truncate(0)
            f.write(OTHER)
        before = drive_files(folder, "meas")
        os.rename(away, usb)
        # the arrival splits the measurement: the file open before the pull is closed now
        wait_for(lambda: len(drive_files(folder, "meas")) > len(before), "the fragment of the arrival", 15)
        wait_for(lambda: len(drive_files(folder, "usb_meas")) > 1, "the USB writer's file after the arrival", 15)
        assert dev.stop() == 0
        dev.check_clean()
        with open(os.path.join(usb, name), "rb") as f:
            after = f.read()
        assert after == OTHER, "usb_meas/%s was written after the drive came back: %d bytes, %r" % (
            name, len(after), after[len(OTHER):len(OTHER) + 64])
        assert attributes(os.path.join(usb, name)) in ("", "0"), "usb_meas/%s got attributes %s" % (
            name, attributes(os.path.join(usb, name)))
    print("device USB gone test passed")


if __name__ == "__main__":
    main()
