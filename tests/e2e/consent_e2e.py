#!/usr/bin/env python3
"""The question before a PLC is changed, on a real terminal: plcfwupdate without --yes against
plcsim, its standard streams on a pseudo-terminal (or its input not a terminal). The PLC gets
the enter-bootloader request only after y.
  consent_e2e.py BINDIR"""
import os
import pty
import select
import subprocess
import sys
import tempfile
import time

QUESTION = b"Update this PLC? [y/N] "

# name                  input on a terminal    status  enter request  what the output holds
CASES = [
    ("terminal, y",        b"y\n",                0,      True,          b"SUCCESSFUL"),
    ("terminal, n",        b"n\n",                2,      False,         b"the answer was not y"),
    ("terminal, Ctrl-D",   b"\x04",               2,      False,         b"the answer was not y"),
    ("no terminal",        None,                  2,      False,
     b"give --yes to update without asking"),
]


def run(bindir, tmp, name, answer):
    link = os.path.join(tmp, "plc-" + name.replace(" ", "").replace(",", ""))
    log = link + ".log"
    sim = subprocess.Popen([os.path.join(bindir, "plcsim"), "--model", "QM2-E", "--link", link,
                            "--log", log], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(link):
            break
        time.sleep(0.05)
    master, slave = pty.openpty()
    stdin = slave if answer is not None else subprocess.DEVNULL
    cli = subprocess.Popen([os.path.join(bindir, "plcfwupdate"), "--image",
                            os.path.join(tmp, "QM2-E_e2e.bin"), "--port", link],
                           stdin=stdin, stdout=slave, stderr=slave)
    os.close(slave)
    text, answered, deadline = b"", False, time.time() + 60
    while time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                break
            text += chunk
        if answer is not None and not answered and QUESTION in text:
            os.write(master, answer)
            answered = True
        if not ready and cli.poll() is not None:
            break
    status = cli.wait(timeout=30)
    os.close(master)
    if sim.poll() is None:
        sim.terminate()
    sim.wait(timeout=10)
    with open(log, errors="replace") as f:
        entered = any(" enter " in line for line in f)
    return status, text, entered


def main():
    bindir = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "QM2-E_e2e.bin"), "wb") as f:
            f.write(os.urandom(65536))
        for name, answer, want, enter, said in CASES:
            status, text, entered = run(bindir, tmp, name, answer)
            problems = [] if status == want else ["exit %d, not %d" % (status, want)]
            if entered != enter:
                problems.append("the PLC got %san enter-bootloader request" % ("" if entered else "no "))
            if (QUESTION in text) != (answer is not None):
                problems.append("asked" if answer is None else "not asked")
            if said not in text:
                problems.append("no %r" % said)
            if problems:
                failures += 1
                print("FAIL (%s): %s\n%s" % (name, "; ".join(problems), text[-2000:].decode(errors="replace")))
            else:
                print("ok (%s)" % name)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
