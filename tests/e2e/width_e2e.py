#!/usr/bin/env python3
"""What a terminal gets: QM2-E updates into plcsim with the output on a pseudo-terminal of a
given width (or on pipes), one run, several ports or a station, under TERM and NO_COLOR. No
redraw may reach the last column (the terminal would wrap it); TERM=dumb gets no escape
sequence, NO_COLOR no colour, a pipe neither; the several ports' table fits the terminal and
goes whole into a pipe.
  width_e2e.py BINDIR"""
import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

ESCAPE = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")
COLOUR = re.compile(r"\x1b\[3[0-9]m")
# Long link names: a table row of the whole port name would not fit 80 columns.
LONG_NAME = "bench-port-with-a-long-name-for-the-table-"
SUCCESS = "[INFORMATION] Firmware update is SUCCESSFUL"


def redraws(text):
    """The live lines drawn in place: the status line and the station's line."""
    parts = [s for line in ESCAPE.sub("", text).split("\n") for s in line.split("\r")]
    return [s for s in parts if " s [" in s or s.startswith("plcfwupdate: unit ")]


def transfer(text):
    return [s for s in redraws(text) if "Programming" in s and " s [" in s]


def table(text):
    lines = ESCAPE.sub("", text).replace("\r", "").split("\n")
    at = next((i for i, line in enumerate(lines) if line.startswith("PORT ")), len(lines))
    return [line for line in lines[at:] if line.strip()]


def table_rows(text):
    """The table's rows, each with the lines its message goes on under it joined to it."""
    rows = []
    for line in table(text):
        if line.startswith(" ") and rows:
            rows[-1] += " " + line.strip()
        elif not line.startswith(" "):
            rows.append(line)
    return rows


# What must hold: a name, and a test of (columns, output) that is true when it holds.
FITS = ("no redraw reaches the last column",
        lambda c, t: redraws(t) and all(len(s) < c for s in redraws(t)))
RATE = ("the transfer shows its rate", lambda c, t: any("KiB/s" in s for s in transfer(t)))
LEFT = ("the transfer shows its time left", lambda c, t: any(" left" in s for s in transfer(t)))
COUNTS = ("the transfer shows its error counts",
          lambda c, t: any("errors 0/0" in s for s in transfer(t)))
NO_ESCAPE = ("no escape byte", lambda c, t: "\x1b" not in t)
NO_COLOUR = ("no colour", lambda c, t: not COLOUR.search(t))
COLOURED = ("the result in colour", lambda c, t: COLOUR.search(t) is not None)
TABLE_FITS = ("every table row fits",
              lambda c, t: len(table_rows(t)) == 3 and all(len(r) < c for r in table(t)))
FLASH_ERROR = "update FW again"
TABLE_INSTRUCTION = ("the failed row keeps its instruction",
                     lambda c, t: any("RE-POWER PLC and " + FLASH_ERROR in r for r in table_rows(t)))
TABLE_WHOLE = ("every table row whole",
               lambda c, t: len(table(t)) == 3 and all(LONG_NAME in r and SUCCESS in r
                                                       for r in table(t)[1:]))

# name                       columns env                how        what must hold
CASES = [
    ("40 columns",               40, {},                 "single",  [FITS]),
    ("80 columns",               80, {},                 "single",  [FITS, RATE, LEFT]),
    ("132 columns",             132, {},                 "single",  [FITS, RATE, LEFT, COUNTS]),
    ("TERM=dumb",                80, {"TERM": "dumb"},   "single",  [FITS, NO_ESCAPE, RATE]),
    ("not a terminal",         None, {},                 "single",  [NO_ESCAPE]),
    ("several ports",            80, {},                 "several", [TABLE_FITS]),
    ("several ports, TERM=dumb", 80, {"TERM": "dumb"},   "several", [NO_ESCAPE, TABLE_FITS]),
    ("several ports, a pipe",  None, {},                 "several", [NO_ESCAPE, TABLE_WHOLE]),
    ("several ports, a failure", 80, {},                 "failing", [TABLE_FITS, TABLE_INSTRUCTION]),
    ("station",                  80, {},                 "station", [FITS, COLOURED]),
    ("station, NO_COLOR",        80, {"NO_COLOR": "1"},  "station", [FITS, NO_COLOUR]),
    ("station, TERM=dumb",       80, {"TERM": "dumb"},   "station", [FITS, NO_ESCAPE]),
]


def start_sim(bindir, link, pace, faults=()):
    args = [os.path.join(bindir, "plcsim"), "--model", "QM2-E", "--link", link, *faults]
    sim = subprocess.Popen(args + (["--pace"] if pace else []), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(link):
            break
        time.sleep(0.05)
    return sim


def follow(cli, master, interrupt_on):
    """The output until the program ends; SIGINT once interrupt_on has been seen."""
    text = b""
    deadline = time.time() + 90
    while time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        chunk = b""
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                break
            text += chunk
        if interrupt_on and interrupt_on in text and cli.poll() is None:
            cli.send_signal(signal.SIGINT)
            interrupt_on = None
        if not ready and cli.poll() is not None:
            break
    return text


def run(bindir, tmp, name, columns, env, how):
    tag = re.sub(r"\W+", "-", name)
    count = 2 if how in ("several", "failing") else 1
    links = [os.path.join(tmp, LONG_NAME + tag + str(i)) for i in range(count)]
    # "failing": the second PLC's flash is write-protected.
    sims = [start_sim(bindir, link, how == "single",
                      ["--fault", "nok-block:3"] if how == "failing" and i == 1 else [])
            for i, link in enumerate(links)]
    args = [os.path.join(bindir, "plcfwupdate"), "--image", os.path.join(tmp, "QM2-E_e2e.bin"),
            "--yes"]
    for link in links:
        args += ["--port", link]
    if how == "station":
        args += ["--station", "--units", "2"]
    # The terminal's own width must win over COLUMNS.
    environment = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "TERM")}
    environment.update({"COLUMNS": "999", "TERM": "xterm", **env})
    if columns is None:
        cli = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, env=environment, timeout=90)
        status, text = cli.returncode, cli.stdout
    else:
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        cli = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave,
                               env=environment)
        os.close(slave)
        text = follow(cli, master, b"unplug it" if how == "station" else None)
        status = cli.wait(timeout=30)
        os.close(master)
    for sim in sims:
        if sim.poll() is None:
            sim.terminate()
        sim.wait(timeout=10)
    return status, text.decode(errors="replace")


def main():
    bindir = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "QM2-E_e2e.bin"), "wb") as f:
            f.write(os.urandom(65536))
        for name, columns, env, how, checks in CASES:
            status, text = run(bindir, tmp, name, columns, env, how)
            want = {"station": 130, "failing": 1}.get(how, 0)
            problems = [] if status == want else ["exit %d, not %d" % (status, want)]
            problems += [what for what, holds in checks if not holds(columns or 999, text)]
            if problems:
                failures += 1
                print("FAIL (%s): %s\n%s" % (name, "; ".join(problems), text[-3000:]))
            else:
                print("ok (%s): %s" % (name, ", ".join(what for what, _ in checks)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
