#!/usr/bin/env python3
"""The README and the pages of docs/ beside it, each followed from top to bottom as a new user
would: every shell session block of a file runs, in order, in one shell in a scratch folder of
that file's own, on a pseudo-terminal of 80 columns, with the programs installed (cmake
--install: the files of both Debian packages) first on the PATH. What a block shows as a
command's output must be what the command printed.
  readme_e2e.py CMAKE BUILD_DIR README [--show]   (--show: print what each command printed)

How a file writes a session: a line "$ COMMAND" (a line ending in a backslash goes on on the
next), then the lines the command prints, standard output and error together, as a terminal
shows them. A live line redrawn in place shows as the successive texts it took (a redraw that
changed only the time left out); a line "..." stands for any number of lines. Times, rates,
dates, pty numbers and the count of trace lines lost (it follows the link's timing) are not
compared, nor runs of blanks; a transfer too short to time may go without its time and rate. A command ending in "&" (a simulator in the background) is
followed by the next one once it has said where it serves; the lines a background simulator
prints later may come anywhere and are compared only where the block shows them. Blocks
without a "$" line are output shown for the prose and are not run; a command without "$" is an
error.
The environment a file sets (export ...) holds for its blocks after it."""
import difflib
import fcntl
import glob
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

# Blocks not run, by a part of their first command, and why.
SKIPPED = {
    "scripts/demo": "a developer's scripts in the source tree (scripts/test runs this test)",
    "apt install": "installs system packages; this test installs their files into its folder",
    "PLCFW_SIGN_PFX": "needs the signing certificate and the Windows build",
    "scripts/bootstrap": "a developer's scripts in the source tree (scripts/test builds this)",
    "/dev/ttyUSB0": "needs a PLC on a USB-to-serial adapter",
    "sudo usermod": "changes the user's groups, then needs real PLCs",
}
COMMAND_SECONDS = 120
MARK = "\x1ereadme-done"

# Words that begin a command: a block that holds them without "$" is a session written wrong.
COMMAND_WORDS = re.compile(r"^(sudo |plcfwupdate |plcsim |plcsim-image |scripts/|[A-Z_]+=\S* )")

NORMALISE = [
    (re.compile(r"\x1b\[[0-9;?]*[A-Za-z]|\a"), ""),
    (re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"), "DATE"),
    (re.compile(r"\d+(\.\d+)? [KMG]?i?B/s"), "RATE"),
    (re.compile(r"(?<![\w.])\d+(\.\d+)? s\b"), "T s"),
    (re.compile(r'"duration_s": [\d.]+'), '"duration_s": T'),
    (re.compile(r"^\d+\.\d{3} "), "T "),
    # How many trace lines a run writes follows the link's timing (the looks while connecting).
    (re.compile(r"\(\d+ lines lost\)"), "(N lines lost)"),
    (re.compile(r"/dev/pts/\d+"), "/dev/pts/N"),
    # A transfer too short to time is said without its time and rate.
    (re.compile(r" in T s \(RATE\)"), ""),
    (re.compile(r"\s+"), " "),
]


def norm(line):
    for pattern, replacement in NORMALISE:
        line = pattern.sub(replacement, line)
    return line.strip()


def blocks(readme):
    """The fenced blocks as (line number, lines)."""
    out, current, start = [], None, 0
    for number, line in enumerate(open(readme, encoding="utf-8").read().split("\n"), 1):
        if line.startswith("```"):
            if current is None:
                current, start = [], number
            else:
                out.append((start, current))
                current = None
        elif current is not None:
            current.append(line)
    return out


def session(lines):
    """[(command, expected lines)] of a block; [] when it holds no "$" line."""
    steps = []
    for line in lines:
        if steps and steps[-1][0].endswith("\\") and not steps[-1][1]:
            steps[-1] = (steps[-1][0][:-1] + line.strip(), [])
        elif line.startswith("$ "):
            steps.append((line[2:], []))
        elif steps:
            steps[-1][1].append(line)
    return steps


def screen(raw):
    """The lines a terminal showed: each redraw of a line in place as a line of its own, a
    redraw that changed nothing but the time left out."""
    out = []
    for line in re.split(r"\r?\n", raw.decode(errors="replace")):
        last = None
        # A background simulator's line may land behind a live line that it then ends.
        for segment in re.split(r"\r|(?<=.)(?=plcsim: )", line):
            text = norm(segment)
            if text and text != last:
                out.append(segment)
            last = text or last
    return out


def matches(expected, actual):
    """Whether the actual lines are the expected ones; "..." takes any lines, and a later line
    of a background simulator may stand anywhere."""
    want = [None if line.strip() == "..." else norm(line) for line in expected]
    got = [norm(line) for line in actual]
    loose = [line.startswith("plcsim: ") for line in got]
    memo = {}

    def at(i, j):
        if (i, j) not in memo:
            if i == len(want):
                ok = all(loose[j:])
            elif want[i] is None:
                ok = at(i + 1, j) or (j < len(got) and at(i, j + 1))
            else:
                ok = j < len(got) and ((want[i] == got[j] and at(i + 1, j + 1)) or
                                       (loose[j] and at(i, j + 1)))
            memo[(i, j)] = ok
        return memo[(i, j)]

    sys.setrecursionlimit(100000)
    return at(0, 0)


class Shell:
    """One bash on a pseudo-terminal that takes a file's commands one at a time."""

    def __init__(self, folder, env):
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 80, 0, 0))
        script_read, self.script = os.pipe()

        def terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.bash = subprocess.Popen(
            ["bash", "--norc", "--noprofile", "/dev/fd/%d" % script_read], cwd=folder, env=env,
            stdin=slave, stdout=slave, stderr=slave, pass_fds=[script_read], preexec_fn=terminal)
        os.close(slave)
        os.close(script_read)
        self.pending = b""
        self.send("readme_done() { printf '%s %%d\\n' $1; return $1; }" % MARK)

    def send(self, text):
        os.write(self.script, (text + "\n").encode())

    def read_until(self, end, seconds):
        """The output up to the end of the first match of end; None after seconds."""
        deadline = time.monotonic() + seconds
        while True:
            found = re.search(end, self.pending)
            if found:
                text, self.pending = self.pending[:found.end()], self.pending[found.end():]
                return text
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                return None
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return None
            if not chunk:
                return None
            self.pending += chunk

    def run(self, command):
        """(output, exit status) of one command; a background one returns once it has printed
        its line that names where it serves."""
        if command.rstrip().endswith("&"):
            self.send(command)
            where = re.search(r"--(?:link|tcp|rfc2217) (\S+)", command)
            served = re.escape(where.group(1)).encode() if where else b""
            return self.read_until(rb"plcsim: [^\n]*" + served + rb"[^\n]*\n", 10) or b"", 0
        self.send("%s\nreadme_done $?" % command)
        text = self.read_until(MARK.encode() + rb" \d+\r?\n", COMMAND_SECONDS)
        if text is None:
            return None, None
        cut = text.rindex(MARK.encode())
        return text[:cut], int(text[cut + len(MARK):].split()[0])

    def close(self):
        # The file's simulators that still run, by their process ids.
        self.send('kill $(jobs -p) 2>/dev/null; wait; exit 0')
        try:
            self.bash.wait(timeout=15)
        except subprocess.TimeoutExpired:
            os.killpg(self.bash.pid, signal.SIGKILL)
            self.bash.wait()
        os.close(self.script)
        os.close(self.master)


def pages(readme):
    """The README, then the pages of docs/ beside it, by name."""
    return [readme] + sorted(glob.glob(os.path.join(os.path.dirname(readme) or ".", "docs", "*.md")))


def follow(path, name, folder, env, used):
    """Runs the sessions of one file in a shell of its own; the number of failures."""
    os.makedirs(folder)
    shell = Shell(folder, dict(env, HOME=folder))
    failures = 0
    try:
        for start, lines in blocks(path):
            steps = session(lines)
            if not steps:
                if lines and COMMAND_WORDS.match(lines[0]):
                    print("FAIL: %s:%d: a command block without \"$ \": %s" % (name, start, lines[0]))
                    failures += 1
                continue
            first = steps[0][0]
            why = next((w for key, w in SKIPPED.items() if key in first), None)
            if why is not None:
                used.update(key for key in SKIPPED if key in first)
                print("skipped %s:%d %s: %s" % (name, start, first, why))
                continue
            began = time.monotonic()
            for command, expected in steps:
                raw, status = shell.run(command)
                if raw is None:
                    print("FAIL: %s:%d '%s' did not end within %d s" %
                          (name, start, command, COMMAND_SECONDS))
                    return failures + 1
                actual = screen(raw)
                if "--show" in sys.argv:
                    print("$ %s\n%s" % (command, "\n".join(actual)))
                if not matches(expected, actual):
                    failures += 1
                    print("FAIL: %s:%d '%s' (exit %d) printed otherwise:" %
                          (name, start, command, status))
                    diff = list(difflib.unified_diff(
                        [norm(x) + "\n" for x in expected], [norm(x) + "\n" for x in actual],
                        name, "printed"))
                    sys.stdout.writelines(diff[:80])
            print("ran %s:%d %s (%d commands, %.1f s)" %
                  (name, start, first, len(steps), time.monotonic() - began))
    finally:
        shell.close()
    return failures


def main():
    cmake, build, readme = sys.argv[1:4]
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="readme-")
    prefix = os.path.join(root, ".installed")
    subprocess.run([cmake, "--install", build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PLCFW_", "COLUMNS"))}
    env.update(PATH=os.path.join(prefix, "bin") + ":/usr/bin:/bin", TERM="xterm", LANG="C.UTF-8")
    failures, used = 0, set()
    top = os.path.dirname(readme) or "."
    for path in pages(readme):
        name = os.path.relpath(path, top)
        failures += follow(path, name, os.path.join(root, name.replace("/", "-")), env, used)
    for key in sorted(set(SKIPPED) - used):
        print("FAIL: no block begins with '%s': drop it from SKIPPED" % key)
        failures += 1
    if failures == 0:
        shutil.rmtree(root)
        print("readme: every block as shown, in %.0f s" % (time.monotonic() - started))
    else:
        print("readme: %d failures; the folders are kept: %s" % (failures, root))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
