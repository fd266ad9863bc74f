#!/usr/bin/env python3
"""The live status line on terminals of 60, 80 and 120 columns: a whole QM2-E update into
plcsim with the standard error on a pseudo-terminal of that width. No redraw may reach the last
column (the terminal would wrap it), and the line must still say the phase and the errors.
  width_e2e.py BINDIR"""
import fcntl
import os
import pty
import struct
import subprocess
import sys
import tempfile
import termios
import time

# columns   text every redraw of the transfer must hold
CASES = [
    (60, ["Programming", "errors 0/0"]),
    (80, ["Programming", "/65536 B", "errors 0/0"]),
    (120, ["Programming", "/65536 B", "errors 0/0"]),
]


def run(bindir, tmp, columns):
    link = os.path.join(tmp, "plc%d" % columns)
    sim = subprocess.Popen([os.path.join(bindir, "plcsim"), "--model", "QM2-E", "--link", link],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(link):
            break
        time.sleep(0.05)
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    cli = subprocess.Popen([os.path.join(bindir, "plcfwupdate"), "--port", link, "--image",
                            os.path.join(tmp, "QM2-E_e2e.bin"), "--yes"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave,
                           env=dict(os.environ, COLUMNS="999"))
    os.close(slave)
    text = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        text += chunk
    status = cli.wait(timeout=60)
    sim.wait(timeout=10)
    os.close(master)
    return status, text.decode().replace("\x1b[K", "")


def main():
    bindir = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "QM2-E_e2e.bin"), "wb") as f:
            f.write(os.urandom(65536))
        for columns, held in CASES:
            status, text = run(bindir, tmp, columns)
            redraws = [s for line in text.split("\n") for s in line.split("\r") if "errors" in s]
            transfer = [s for s in redraws if "Programming" in s]
            longest = max((len(s) for s in redraws), default=0)
            problems = []
            if status != 0:
                problems.append("exit %d" % status)
            if not transfer:
                problems.append("no redraw of the transfer")
            if longest >= columns:
                problems.append("a redraw of %d characters" % longest)
            for s in transfer:
                problems += ["'%s' lacks '%s'" % (s, h) for h in held if h not in s][:1]
            if problems:
                failures += 1
                print("FAIL (%d columns): %s" % (columns, "; ".join(problems[:3])))
            else:
                print("ok (%d columns): %d redraws, the longest %d characters" %
                      (columns, len(redraws), longest))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
