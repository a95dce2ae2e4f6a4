"""Helpers of the tests that run the device process: waiting, and one line
through the device's shell socket."""
import os
import socket
import time


def wait_for(cond, what, limit=30.0):
    end = time.time() + limit
    while time.time() < end:
        if cond():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def shell(folder, line):
    """Sends one shell line over the socket and returns the answer."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(os.path.join(folder, "shell.sock"))
    s.sendall((line + "\n").encode())
    out = b""
    s.settimeout(10)
    while b"value = " not in out:
        chunk = s.recv(4096)
        if not chunk:
            break
        out += chunk
    s.close()
    return out.decode(errors="replace")
