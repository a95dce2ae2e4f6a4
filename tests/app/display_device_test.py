#!/usr/bin/env python3
"""Starts the device process in a copy of sample/ and drives its display.

Checks what a user of the running device sees in screen.png: the first page
of the sample display.xml with changing values, and the visible effect of
the shell words "display page", "next", "brightness", "txtshow", "txthide"
and "color"; "display bmpdump FILE" writes a BMP that this script's own
reader decodes into the same picture as screen.png.
Usage: display_device_test.py TAV9_BINARY SAMPLE_FOLDER
"""
import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from device_harness import Device, make_folder, remove_folder, wait_for  # noqa: E402


def read_png(path):
    """8-bit RGB or RGBA, not interlaced: rows of (r, g, b) tuples."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height, channels = 8, b"", 0, 0, 3
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0 and colour in (2, 6)
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = prev[x]
            c = prev[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, channels)])
        prev = line
    return rows


def read_bmp(path):
    """Uncompressed 24- or 32-bit Windows BMP: rows of (r, g, b), top first."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"BM", "not a BMP"
    offset = struct.unpack("<I", data[10:14])[0]
    width, height, _, bits, compression = struct.unpack("<iiHHI", data[18:34])
    assert compression in (0, 3) and bits in (24, 32), (bits, compression)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        rows.append([(data[start + x * step + 2], data[start + x * step + 1], data[start + x * step])
                     for x in range(width)])
    if height > 0:
        rows.reverse()   # bottom-up
    return rows


_decoded = {}


def current_frame(path):
    """screen.png as read_png decodes it; decoded again only once the device
    has written a new one (each write renames a new file into place)."""
    st = os.stat(path)
    key = (st.st_ino, st.st_mtime_ns, st.st_size)
    if _decoded.get(path, (None,))[0] != key:
        _decoded[path] = (key, read_png(path))
    return _decoded[path][1]


def frame_after(dev, line, shows, what):
    """Runs the shell line, then waits for a screen.png that shows its effect
    (shows(frame) is true): the device draws and writes the frame some time
    after the command, the later the slower the build and the host."""
    dev.shell(line)
    png = os.path.join(dev.folder, "screen.png")
    try:
        wait_for(lambda: shows(current_frame(png)), what)
    except AssertionError:
        last = current_frame(png)
        raise AssertionError("no frame shows %s after %r; the last one at (20, 155): %r, at (630, 470): %r"
                             % (what, line, last[155][20], last[470][630]))
    return current_frame(png)


def late_start(binary, sample):
    """The display started by the task that keeps asking (as on a slow host):
    the device shows its pages and still stops in its usual time, however
    many tasks came and went after that task ended."""
    folder = make_folder(sample, "tav9-display-late-")
    dev = None
    try:
        dev = Device(binary, folder, env={"TAV9_DISPLAY_START_POLLS": "0"}).wait_ready()
        wait_for(lambda: "startup: display started late" in dev.log(), "the late display start")
        wait_for(lambda: "= 12" in dev.shell("getvar display_page_mx"), "the display's start")
        for i in range(20):   # shell connections come and go, each on a task of its own
            dev.shell("display page %d" % (i % 3))
        t0 = time.time()
        rc = dev.stop(limit=60)
        took = time.time() - t0
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-6000:])
        assert took < 15, "the stop after a late display start took %.1f s" % took
        dev.check_clean()
    finally:
        if dev is not None:
            dev.kill()
        remove_folder(folder)


def main():
    binary, sample = sys.argv[1], sys.argv[2]
    late_start(binary, sample)
    folder = make_folder(sample, "tav9-display-")
    dev = None
    try:
        # a value out of range is named and the default taken
        dev = Device(binary, folder, env={"TAV9_DISPLAY_START_POLLS": "77"}).wait_ready()
        wait_for(lambda: "startup: TAV9_DISPLAY_START_POLLS=77 is no number from 0 to 50" in dev.log(),
                 "the bad variable named")
        png = os.path.join(folder, "screen.png")
        # a new device: page 1 (the race page) from the start
        wait_for(lambda: os.path.exists(png), "screen.png")
        # started: the page count is published, the stored positions requested
        wait_for(lambda: "= 12" in dev.shell("getvar display_page_mx"), "the display's start")
        # full light and colour: screen.png then shows the frame as drawn
        first = frame_after(dev, "display brightness 5", lambda f: f[470][630] == (0, 0, 0),
                            "page 1 on its black background")
        wait_for(lambda: current_frame(png) != first, "page 1 with changing values")

        before = current_frame(png)
        page2 = frame_after(dev, "display page 1", lambda f: f != before, "a changed frame")
        frame_after(dev, "display next", lambda f: f != page2, "a changed frame")

        red = (255, 0, 0)
        frame_after(dev, "display txtshow HELLO", lambda f: f[155][20] == red, "the red text window")
        frame_after(dev, "display txthide", lambda f: f[155][20] != red, "the text window hidden")

        lit = frame_after(dev, "display txtshow HELLO", lambda f: f[155][20] == red, "the red text window")
        frame_after(dev, "display brightness 0", lambda f: f[155][20][0] < lit[155][20][0] // 2,
                    "the text window dimmed by brightness 0")
        frame_after(dev, "display brightness 5", lambda f: f[155][20] == red, "full light again")
        frame_after(dev, "display txthide", lambda f: f[155][20] != red, "the text window hidden")

        # the colour, then the stop: the colour stays on the screen
        colour_page = frame_after(dev, "display color 0xFF0000", lambda f: f[240][320] == red and f[0][0] == red,
                                  "the red colour page")
        dump = os.path.join(folder, "dump.bmp")
        dev.shell("display bmpdump dump.bmp")   # a path in the device folder
        bmp = read_bmp(dump)
        assert len(bmp) == 480 and len(bmp[0]) == 640, "dump is %dx%d" % (len(bmp[0]), len(bmp))
        assert bmp == colour_page, "the dump is not the picture of screen.png"
        # a dump makes new files only: the device's own files stay as they are
        start_cfg = open(os.path.join(folder, "start.cfg"), "rb").read()
        assert "Error, file start.cfg exists." in dev.shell("display bmpdump start.cfg")
        assert open(os.path.join(folder, "start.cfg"), "rb").read() == start_cfg, "start.cfg overwritten"

        rc = dev.stop()
        assert rc == 0, "exit code %d\n%s" % (rc, dev.output()[-6000:])
        dev.check_clean()
    finally:
        if dev is not None:
            dev.kill()
        remove_folder(folder)
    print("display device test passed")


if __name__ == "__main__":
    main()
