#!/usr/bin/env python3
"""plcfwupdate against an rfc2217:// server on 127.0.0.1 that misbehaves, one case a run:
  sb-endless    agrees to the COM-PORT-OPTION, then IAC SB 44 and data without end, no IAC SE
  nop-flood     agrees, then IAC NOP without end
  do-flood      agrees, then IAC DO 99 without end, and never reads
  dodont-flood  agrees, then IAC DO 99 and IAC DONT 99 by turns without end, and never reads
                (each pair is answered: what waits to be sent must stay capped)
  speed-refused agrees, then answers every SET-BAUDRATE with 300 baud and says nothing else:
                the speed it did not take is said on the standard error and in the trace
  early-flood   data without end before any answer to the negotiation
  sb-mid        a real plcsim behind it, until the transfer runs; then IAC SB 44 and data
                without end in place of the PLC's answers
  option-refused, refused: a server that refuses the option, a port where none listens (the
                reason line after "CANNOT open")
The run must end by itself within its case's bound, fail (exit 1, never a success), and stay
within RSS_BOUND_KIB of peak memory (as /usr/bin/time measures it).
  hostile_e2e.py BINDIR CASE"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

IAC, DONT, DO, SB, NOP = 255, 254, 253, 250, 241
COM_PORT = 44
# A link that opens and then carries no answer ends on the probe's own time-outs, as a silent
# PLC does (25 s), and a transfer on its block's retries; one that never agrees to the option
# within the 3 s of the negotiation.
PROBE_BOUND_S = 45
OPEN_BOUND_S = 6
RSS_BOUND_KIB = 16 * 1024

# case          what the server sends first              then without end             reads  bound
#               the line that must follow "CANNOT open" (the reason), if the open fails
FLOODS = {
    "sb-endless": (bytes([IAC, DO, COM_PORT, IAC, SB, COM_PORT]), b"\x55" * 4096, True, PROBE_BOUND_S,
                   None),
    "nop-flood": (bytes([IAC, DO, COM_PORT]), bytes([IAC, NOP]) * 2048, True, PROBE_BOUND_S, None),
    "do-flood": (bytes([IAC, DO, COM_PORT]), bytes([IAC, DO, 99]) * 1366, False, PROBE_BOUND_S,
                 None),
    "dodont-flood": (bytes([IAC, DO, COM_PORT]), bytes([IAC, DO, 99, IAC, DONT, 99]) * 683, False,
                     PROBE_BOUND_S, None),
    "speed-refused": (None, b"", True, PROBE_BOUND_S, None),
    "early-flood": (b"", b"\x06" * 4096, True, OPEN_BOUND_S, "no answer from the server within 3 s"),
    "sb-mid": (None, b"\x55" * 4096, True, PROBE_BOUND_S, None),
    "option-refused": (bytes([IAC, DONT, COM_PORT]), b"", True, OPEN_BOUND_S,
                       "the server refused the COM-PORT-OPTION; for a raw TCP port use tcp://"),
    "refused": (None, b"", False, OPEN_BOUND_S, "connection refused: nothing listens on that port"),
}

def serve(listener, case, stop):
    first, chunk, reads = FLOODS[case][:3]
    conn, _ = listener.accept()
    conn.settimeout(0.2)
    try:
        if reads:
            conn.recv(64)  # the client's requests
        conn.sendall(first)
        while chunk and not stop.is_set():
            if reads:
                try:
                    conn.setblocking(False)
                    while conn.recv(65536):
                        pass
                except (BlockingIOError, socket.timeout):
                    pass
                conn.settimeout(0.2)
            try:
                conn.sendall(chunk)
            except socket.timeout:
                pass
    except OSError:
        pass  # the client has gone
    finally:
        conn.close()


def serve_speed(listener, stop):
    """Agrees to the option, then answers each SET-BAUDRATE with 300 baud; never any data."""
    conn, _ = listener.accept()
    conn.settimeout(0.2)
    set_baud, answer_300 = bytes([IAC, SB, COM_PORT, 1]), bytes([IAC, SB, COM_PORT, 101, 0, 0, 1, 44, IAC, 240])
    heard = b""
    try:
        conn.sendall(bytes([IAC, DO, COM_PORT]))
        while not stop.is_set():
            try:
                data = conn.recv(4096)
            except socket.timeout:
                continue
            if not data:
                return
            heard += data
            while set_baud in heard and len(heard) >= heard.index(set_baud) + 8:
                heard = heard[heard.index(set_baud) + 8:]
                conn.sendall(answer_300)
    except OSError:
        pass
    finally:
        conn.close()


def relay(a, b, budget, stop):
    """Copies a to b until a closes or budget bytes have gone; returns the bytes left."""
    while budget > 0 and not stop.is_set():
        try:
            data = a.recv(min(4096, budget))
        except socket.timeout:
            continue
        if not data:
            return budget
        b.sendall(data)
        budget -= len(data)
    return budget


def serve_mid(listener, sim_port, stop):
    """Relays the host to plcsim until 30000 bytes of the transfer have gone to it, then turns."""
    conn, _ = listener.accept()
    sim = socket.create_connection(("127.0.0.1", sim_port))
    for sock in (conn, sim):
        sock.settimeout(0.2)
    back = threading.Thread(target=relay, args=(sim, conn, 1 << 40, stop), daemon=True)
    back.start()
    try:
        if relay(conn, sim, 30000, stop) > 0:
            return
        sim.close()  # plcsim's answers end here
        back.join()
        conn.sendall(bytes([IAC, SB, COM_PORT]))
        while not stop.is_set():
            try:
                conn.setblocking(False)
                while conn.recv(65536):
                    pass
            except (BlockingIOError, socket.timeout):
                pass
            conn.settimeout(0.2)
            try:
                conn.sendall(b"\x55" * 4096)
            except socket.timeout:
                pass
    except OSError:
        pass
    finally:
        conn.close()


def start_plcsim(bindir, tmp):
    """plcsim of QM2-E on a free rfc2217 port; returns the process and the port."""
    log = open(os.path.join(tmp, "sim.err"), "w+")
    sim = subprocess.Popen([os.path.join(bindir, "plcsim"), "--model", "QM2-E", "--rfc2217", "0",
                            "--latency", "0"], stdout=log, stderr=log)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        log.seek(0)
        m = re.search(r"rfc2217://127\.0\.0\.1:(\d+)", log.read())
        if m:
            return sim, int(m.group(1))
        time.sleep(0.02)
    sim.kill()
    raise RuntimeError("plcsim named no port")


def small_image(tmp):
    """An image of QM2-E's, named so."""
    image = os.path.join(tmp, "QM2-E_v3.00_e2e.bin")
    with open(image, "wb") as f:
        f.write(os.urandom(100000))
    return image


def rss_bound_kib(bindir):
    # An address-sanitizer build carries its shadow memory and quarantine: a looser bound that
    # still catches a buffer that grows with what the server sends.
    with open(os.path.join(bindir, "plcfwupdate"), "rb") as f:
        sanitized = b"__asan_init" in f.read()
    return RSS_BOUND_KIB * 4 if sanitized else RSS_BOUND_KIB


def peak_rss_of_children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            child = f.read().split()[0]
        with open("/proc/%s/status" % child) as f:
            return next(line.split()[1] for line in f if line.startswith("VmHWM:"))
    except (OSError, IndexError, StopIteration):
        return "?"


def main():
    bindir, case = sys.argv[1], sys.argv[2]
    if case not in FLOODS:
        print("unknown case " + case, file=sys.stderr)
        return 2
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = "rfc2217://127.0.0.1:%d" % listener.getsockname()[1]
    stop = threading.Event()
    with tempfile.TemporaryDirectory() as tmp:
        sim = None
        args = ["--port", port, "--yes"]
        if case == "sb-mid":
            sim, sim_port = start_plcsim(bindir, tmp)
            threading.Thread(target=serve_mid, args=(listener, sim_port, stop), daemon=True).start()
            args += ["--image", small_image(tmp)]
        elif case == "speed-refused":
            # A model on a serial port: its run sets the line's speed before its first request.
            threading.Thread(target=serve_speed, args=(listener, stop), daemon=True).start()
            args += ["--model", "QM2-E", "--image", small_image(tmp),
                     "--trace", os.path.join(tmp, "trace")]
        elif FLOODS[case][0] is None:
            listener.close()  # nothing listens there now
        else:
            threading.Thread(target=serve, args=(listener, case, stop), daemon=True).start()
        rss_file = os.path.join(tmp, "rss")
        cmd = ["/usr/bin/time", "-f", "%M", "-o", rss_file,
               os.path.join(bindir, "plcfwupdate")] + args
        bound = int(os.environ.get("HOSTILE_BOUND_S", FLOODS[case][3]))
        start = time.monotonic()
        # A session of its own, so that a run that hangs is ended with the time that measures it.
        # An address-sanitizer build holds freed memory back in its quarantine (256 MiB by
        # default): kept small, the peak still tells a buffer that grows from one that churns.
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=8"
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, start_new_session=True,
                                env=env)
        try:
            out, _ = proc.communicate(timeout=bound)
        except subprocess.TimeoutExpired:
            rss_kib = peak_rss_of_children(proc.pid)
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            if sim is not None:
                sim.kill()
            print(out)
            print("FAIL %s: still running after %d s, peak RSS %s KiB" % (case, bound, rss_kib))
            return 1
        took = time.monotonic() - start
        stop.set()
        if sim is not None:
            sim.terminate()
            sim.wait()
        with open(rss_file) as f:
            rss_kib = int(f.read().split()[-1])
        trace = ""
        if case == "speed-refused":
            with open(os.path.join(tmp, "trace")) as f:
                trace = f.read()
    print(out.rstrip())
    result = "%s: exit %d after %.1f s, peak RSS %d KiB" % (case, proc.returncode, took, rss_kib)
    if proc.returncode != 1:
        print("FAIL " + result + ": expected exit 1")
        return 1
    if rss_kib > rss_bound_kib(bindir):
        print("FAIL %s: above %d KiB" % (result, rss_bound_kib(bindir)))
        return 1
    if "[ERROR]" not in out:
        print("FAIL %s: no error message" % result)
        return 1
    if case == "speed-refused":
        refused = r"the server did not take \d+ baud: its line is at 300 baud"
        if not re.search(r"^plcfwupdate: %s: %s;" % (re.escape(port), refused), out, re.M):
            print("FAIL %s: the speed the server did not take is not said" % result)
            return 1
        if not re.search(r"^\d+\.\d{3} %s$" % refused, trace, re.M):
            print("FAIL %s: the trace does not show the speed the server did not take" % result)
            return 1
    reason = FLOODS[case][4]
    if reason is not None:
        lines = out.splitlines()
        cannot = "[ERROR] CANNOT open %s Port!!!" % port
        want = "plcfwupdate: %s: %s" % (port, reason)
        if cannot not in lines or lines.index(cannot) + 1 >= len(lines) or \
                lines[lines.index(cannot) + 1] != want:
            print("FAIL %s: no line '%s' after '%s'" % (result, want, cannot))
            return 1
    print("ok " + result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
