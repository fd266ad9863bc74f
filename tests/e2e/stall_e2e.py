#!/usr/bin/env python3
"""Signals, and readers that take nothing: plcfwupdate into plcsim on paced pseudo-terminals,
a QM2-E image; one case a run.
  stall_e2e.py BINDIR CASE
One port (the signal when the transfer is under way; the run must end within a second with
128 + the signal and a record line that says where it stood):
  term-stdout, term-stderr, term-events, quit-stdout   SIGTERM or SIGQUIT, the standard output
                (plain or --events) or the standard error a full pipe that nobody reads
  quit, usr1, usr2, alrm   the signal with readers that keep up: also the where-it-stood line
  ended         SIGTERM once the update has succeeded, the standard output full: exit 0 at
                once, the record the success's
  nohup         SIGHUP ignored from the start (nohup): the update goes on to its end
  second        no --yes without a terminal ends the run (exit 2) while its record (a
                full FIFO) holds it up; a SIGINT then adds nothing: no second end, exit 2
Several ports (two PLCs):
  multi-stdout  the parent's standard output full until the PLCs are done: each one's outcome
                still reaches the table
  multi-hup     SIGHUP to a port's process: it finishes its PLC; its output is a blocking pipe
  multi-int     Ctrl-C to the parent: passed on as SIGINT, every record says 130
  multi-kill    a port's process killed (SIGKILL): its outcome says so, with 128 + 9
  multi-stop    the parent's process group stopped for 10 s: the ports' processes (sessions of
                their own) finish their PLCs meanwhile, and nothing is lost once it goes on
A reader that starts reading 2 s after the run ended (the standard output a full pipe until
then): every line still reaches it, and the program ends with the run's status once written:
  late-reader   one port: the final message and the outcome event included
  multi-late    several ports: each port's outcome and the table included"""
import fcntl
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

F_SETPIPE_SZ = 1031
END_BOUND_S = 1.0
BIN, CASE = sys.argv[1], sys.argv[2]
TMP = tempfile.mkdtemp()
SIMS = []


def fail(why, *files):
    print("FAIL (%s): %s" % (CASE, why), file=sys.stderr)
    for f in files:
        if os.path.exists(f):
            for line in open(f, errors="replace").read().splitlines()[-20:]:
                print("  %s: %s" % (os.path.basename(f), line), file=sys.stderr)
    sys.exit(1)


def image(size):
    path = os.path.join(TMP, "QM2-E_v3.00_stall.bin")
    with open(path, "wb") as f:
        f.write(os.urandom(size))
    return path


def sim(n):
    link = os.path.join(TMP, "plc%d" % n)
    log = os.path.join(TMP, "sim%d.log" % n)
    p = subprocess.Popen([BIN + "/plcsim", "--model", "QM2-E", "--link", link, "--pace", "--log",
                          log, "--flash-out", os.path.join(TMP, "flash%d" % n)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    SIMS.append(p)
    until = time.time() + 10
    while not os.path.exists(link):
        if time.time() > until or p.poll() is not None:
            fail("plcsim %d made no link" % n)
        time.sleep(0.02)
    return link, log


def blocks(log):
    try:
        return open(log, errors="replace").read().count("transfer block")
    except FileNotFoundError:
        return 0


def wait_for(pred, seconds, why):
    until = time.time() + seconds
    while not pred():
        if time.time() > until:
            fail(why)
        time.sleep(0.02)


def stalled_pipe():
    """A pipe full from the start whose reader takes nothing until drained."""
    r, w = os.pipe()
    fcntl.fcntl(w, F_SETPIPE_SZ, 4096)
    os.set_blocking(w, False)
    try:
        while True:
            os.write(w, b"#" * 512)
    except BlockingIOError:
        pass
    os.set_blocking(w, True)
    return r, w


def drain(fd):
    """Reads fd to its end on a thread; the bytes, without the filler, once joined."""
    got = []
    t = threading.Thread(target=lambda: got.append(b"".join(iter(lambda: os.read(fd, 65536), b""))))
    t.start()
    return lambda: (t.join(30), got[0].lstrip(b"#").decode(errors="replace") if got else "")[1]


def records(path, count):
    try:
        lines = open(path).read().split("\n")
    except FileNotFoundError:
        fail("no record file")
    if lines[-1] != "" or len(lines) - 1 != count:
        fail("the record holds %d lines, not %d: %r" % (len(lines) - 1, count, lines))
    return [json.loads(line) for line in lines[:-1]]


def ended_within(p, seconds):
    start = time.time()
    try:
        p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
        fail("plcfwupdate did not end within 30 s of the signal")
    took = time.time() - start
    if took > seconds:
        fail("plcfwupdate took %.2f s to end, more than %.1f s" % (took, seconds))
    return took


def one_port(stall, sig, events=False, ignore_hup=False, at_end=False):
    link, log = sim(0)
    img = image(30000 if at_end or ignore_hup else 100000)
    rec = os.path.join(TMP, "runs.jsonl")
    args = [BIN + "/plcfwupdate", "--port", link, "--image", img, "--yes", "--record", rec]
    if events:
        args.append("--events")
    r = w = None
    if stall:
        r, w = stalled_pipe()
    errf = open(os.path.join(TMP, "err"), "w")
    outf = open(os.path.join(TMP, "out"), "w")
    stdout = w if stall == "out" else outf
    stderr = w if stall == "err" else errf
    pre = (lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)) if ignore_hup else None
    p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                         preexec_fn=pre)
    if w is not None:
        os.close(w)
    if at_end:
        wait_for(lambda: SIMS[0].poll() is not None, 60, "the update never ended")
    else:
        wait_for(lambda: blocks(log) >= 40, 60, "the transfer never began")
    p.send_signal(sig)
    took = ended_within(p, 30 if ignore_hup else END_BOUND_S)
    stalled_text = drain(r)() if r is not None else ""
    out = open(os.path.join(TMP, "out")).read() + stalled_text
    return p.returncode, took, records(rec, 1)[0], out


def check_cut(status, want, r, out, plain):
    errf = os.path.join(TMP, "err")
    if status != want:
        fail("exit %d, not %d" % (status, want), errf, os.path.join(TMP, "out"))
    word = "interrupted" if want == 130 else "terminated"
    msg = r["final"]["message"]
    if (r["exit_status"] != want or not msg.startswith(word + " during Programming at ") or
            "partly written" not in msg or r["blocks_sent"] >= r["blocks_total"]):
        fail("the record says %r" % r)
    if plain and ("plcfwupdate: " + msg) not in out.splitlines():
        fail("no where-it-stood line on the standard output", os.path.join(TMP, "out"))


def late_reader():
    link, log = sim(0)
    img = image(30000)
    r, w = stalled_pipe()
    p = subprocess.Popen([BIN + "/plcfwupdate", "--port", link, "--image", img, "--yes", "--events"],
                         stdin=subprocess.DEVNULL, stdout=w,
                         stderr=open(os.path.join(TMP, "err"), "w"))
    os.close(w)
    wait_for(lambda: SIMS[0].poll() is not None, 60, "the update never ended")
    time.sleep(2)
    if p.poll() is not None:
        fail("ended (exit %d) before its reader read" % p.returncode, os.path.join(TMP, "err"))
    out = drain(r)()
    p.wait(10)
    events = [json.loads(line) for line in out.splitlines()]
    if p.returncode != 0 or not events or events[-1].get("event") != "outcome":
        fail("exit %d, last lines %r" % (p.returncode, out.splitlines()[-3:]), os.path.join(TMP, "err"))
    if events[0].get("event") != "start" or events[-1]["exit_status"] != 0:
        fail("events %r ... %r" % (events[0], events[-1]))
    if "left out" in open(os.path.join(TMP, "err")).read():
        fail("output was left out", os.path.join(TMP, "err"))
    return len(events)


def second_signal():
    link = os.path.join(TMP, "plc0")
    SIMS.append(subprocess.Popen([BIN + "/plcsim", "--model", "RP100", "--link", link],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    wait_for(lambda: os.path.exists(link), 10, "plcsim made no link")
    fifo = os.path.join(TMP, "runs.fifo")
    os.mkfifo(fifo)
    r = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # held, never read
    w = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
    try:
        while True:
            os.write(w, b"#" * 4096)
    except BlockingIOError:
        pass
    errf = os.path.join(TMP, "err")
    p = subprocess.Popen([BIN + "/plcfwupdate", "--port", link, "--image", image(30000), "--model",
                          "RP100", "--record", fifo], stdin=subprocess.DEVNULL,
        stdout=open(os.path.join(TMP, "out"), "w"), stderr=open(errf, "w"))
    # Without a terminal and without --yes the run ends before its first change of the PLC,
    # exit 2, as end of input at a prompt ends it.
    outf = os.path.join(TMP, "out")
    wait_for(lambda: "give --yes to update without asking" in open(outf).read(), 30,
             "no end before the first change")
    time.sleep(0.1)
    p.send_signal(signal.SIGINT)
    ended_within(p, 5)
    os.close(r)
    os.close(w)
    said = open(os.path.join(TMP, "out")).read() + open(errf).read()
    # The run had its outcome: the interrupt may only say that it stands.
    said = said.replace("interrupted after the run had ended: its outcome stands, exit status 2", "")
    if p.returncode != 2 or "interrupted" in said:
        fail("exit %d after a second end" % p.returncode, os.path.join(TMP, "out"), errf)


def workers(parent):
    return [int(p) for p in open("/proc/%d/task/%d/children" % (parent, parent)).read().split()]


def several(stall=None, own_group=False, extra=()):
    links = [sim(i) for i in range(2)]
    img = image(30000)
    rec = os.path.join(TMP, "runs.jsonl")
    args = [BIN + "/plcfwupdate", "--image", img, "--yes", "--record", rec] + list(extra)
    for link, _ in links:
        args += ["--port", link]
    r = w = None
    if stall:
        r, w = stalled_pipe()
    outf = open(os.path.join(TMP, "out"), "w")
    p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=w if stall else outf,
                         stderr=open(os.path.join(TMP, "err"), "w"), start_new_session=own_group)
    if w is not None:
        os.close(w)
    for _, log in links:
        wait_for(lambda: blocks(log) >= 20, 60, "the transfers never began")
    return p, r


def table(p, r, want_status, word):
    read = drain(r) if r is not None else None
    try:
        p.wait(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        fail("plcfwupdate did not end")
    out = open(os.path.join(TMP, "out")).read() + (read() if read else "")
    rows = [line for line in out.splitlines() if re.match(re.escape(TMP) + "/plc[01] +QM2-E ", line)]
    if p.returncode != want_status or len(rows) != 2 or not all(" %s " % word in x for x in rows):
        print(out, file=sys.stderr)
        fail("exit %d, table rows %r" % (p.returncode, rows), os.path.join(TMP, "err"))
    for r_ in records(os.path.join(TMP, "runs.jsonl"), 2):
        if r_["exit_status"] != (0 if word == "succeeded" else want_status):
            fail("a record says %r" % r_)


def flashed(n, img_size):
    SIMS[n].wait(10)
    img = open(os.path.join(TMP, "QM2-E_v3.00_stall.bin"), "rb").read()
    if open(os.path.join(TMP, "flash%d" % n), "rb").read()[:img_size] != img:
        fail("the flash of plcsim %d differs from the image" % n)


def main():
    sigs = {"quit": signal.SIGQUIT, "usr1": signal.SIGUSR1, "usr2": signal.SIGUSR2,
            "alrm": signal.SIGALRM}
    stalls = {"term-stdout": ("out", signal.SIGTERM, False),
              "term-stderr": ("err", signal.SIGTERM, False),
              "term-events": ("out", signal.SIGTERM, True),
              "quit-stdout": ("out", signal.SIGQUIT, False)}
    if CASE in sigs or CASE in stalls:
        stall, sig, events = stalls.get(CASE, (None, sigs.get(CASE), False))
        status, took, r, out = one_port(stall, sig, events)
        check_cut(status, 128 + sig, r, out, plain=stall != "out" and not events)
        print("ok (%s): exit %d after %.2f s; record: %s" % (CASE, status, took, r["final"]["message"]))
    elif CASE == "ended":
        status, took, r, out = one_port("out", signal.SIGTERM, at_end=True)
        if status != 0 or r["exit_status"] != 0 or "SUCCESSFUL" not in r["final"]["message"]:
            fail("exit %d, record %r" % (status, r), os.path.join(TMP, "err"))
        flashed(0, 30000)
        print("ok (ended): exit 0 after %.2f s, the record the success's" % took)
    elif CASE == "nohup":
        status, took, r, out = one_port(None, signal.SIGHUP, ignore_hup=True)
        if status != 0 or r["exit_status"] != 0:
            fail("exit %d, record %r" % (status, r), os.path.join(TMP, "err"))
        flashed(0, 30000)
        print("ok (nohup): the hangup ignored, the update done")
    elif CASE == "multi-stdout":
        p, r = several(stall="out")
        table(p, r, 0, "succeeded")
        print("ok (multi-stdout): both succeeded through a stalled standard output")
    elif CASE == "late-reader":
        n = late_reader()
        print("ok (late-reader): %d event lines read 2 s after the run ended, exit 0" % n)
    elif CASE == "multi-late":
        p, r = several(stall="out")
        wait_for(lambda: all(s.poll() is not None for s in SIMS), 60, "the updates never ended")
        time.sleep(2)
        if p.poll() is not None:
            fail("ended (exit %d) before its reader read" % p.returncode, os.path.join(TMP, "err"))
        table(p, r, 0, "succeeded")
        print("ok (multi-late): the table read 2 s after the runs ended")
    elif CASE == "second":
        second_signal()
        print("ok (second): the SIGINT during the end of input's end added nothing, exit 2")
    elif CASE == "multi-kill":
        p, r = several(extra=["--events"])
        os.kill(workers(p.pid)[0], signal.SIGKILL)
        p.wait(60)
        outcomes = [json.loads(line) for line in open(os.path.join(TMP, "out")).read().splitlines()
                    if '"event":"outcome"' in line]
        killed = [o for o in outcomes if o["exit_status"] == 137]
        if (p.returncode != 1 or len(outcomes) != 2 or len(killed) != 1 or
                killed[0]["message"] != "the worker process was ended by signal 9"):
            fail("exit %d, outcomes %r" % (p.returncode, outcomes), os.path.join(TMP, "err"))
        print("ok (multi-kill): the killed port's outcome names signal 9, status 137")
    elif CASE == "multi-hup":
        p, r = several()
        port0 = workers(p.pid)[0]
        flags = [l for l in open("/proc/%d/fdinfo/1" % port0) if l.startswith("flags:")][0]
        if int(flags.split()[1], 8) & os.O_NONBLOCK:
            fail("a port's process writes its events without blocking: its outcome can be lost")
        os.kill(port0, signal.SIGHUP)
        table(p, r, 0, "succeeded")
        print("ok (multi-hup): the hangup ignored by the port's process")
    elif CASE == "multi-int":
        p, r = several()
        p.send_signal(signal.SIGINT)
        table(p, r, 130, "interrupted")
        print("ok (multi-int): Ctrl-C passed on as SIGINT")
    elif CASE == "multi-stop":
        p, r = several(own_group=True)
        os.killpg(p.pid, signal.SIGSTOP)
        stopped = time.time()
        until = stopped + 10
        while time.time() < until and any(s.poll() is None for s in SIMS):
            time.sleep(0.05)
        ok = all(s.poll() is not None for s in SIMS)
        time.sleep(max(0, 10 - (time.time() - stopped)))
        os.killpg(p.pid, signal.SIGCONT)
        if not ok:
            fail("the PLCs were not finished while the parent was stopped")
        table(p, r, 0, "succeeded")
        print("ok (multi-stop): the PLCs finished while the parent was stopped, nothing lost")
    else:
        print("unknown case " + CASE, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    try:
        main()
    except subprocess.TimeoutExpired as e:
        fail("timed out: %s" % e)
    finally:
        for s in SIMS:
            if s.poll() is None:
                s.terminate()
                s.wait()
        subprocess.run(["rm", "-rf", TMP])
