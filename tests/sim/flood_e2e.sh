#!/usr/bin/env bash
# plcsim against a host that floods it and never reads: bad frames (its error list), probes whose
# replies are never read (over a pseudo-terminal and TCP), Telnet option requests whose answers
# are never read. Each time its peak memory stays a few MiB and SIGTERM ends it within a second,
# the first errors listed and the others counted.
#   flood_e2e.sh BINDIR
set -uo pipefail
bindir=$1
# An address-sanitizer build keeps what it frees in quarantine: keep that small, so that the peak
# measures what plcsim holds.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=4
tmp=$(mktemp -d)
simpid= hostpid= case=
cleanup() {
  [ -n "$hostpid" ] && kill -KILL "$hostpid" 2>/dev/null
  [ -n "$simpid" ] && kill -KILL "$simpid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL (flood, $case): $*" >&2; tail -3 "$tmp/sim.err" | sed 's/^/  plcsim: /' >&2; exit 1; }

# The host: writes UNIT (with \r \n \xNN escapes) for SECONDS without reading, to the pseudo-
# terminal at a path or to 127.0.0.1:PORT.
flood() {
  python3 - "$@" <<'EOF'
import os, socket, sys, time, tty
where, secs = sys.argv[1], float(sys.argv[3])
unit = sys.argv[2].encode().decode("unicode_escape").encode("latin-1")
if where.isdigit():
    s = socket.create_connection(("127.0.0.1", int(where)))
    s.setblocking(False)
    write = s.send
else:
    fd = os.open(where, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    write = lambda b: os.write(fd, b)
chunk, off, end = unit * (4096 // len(unit)), 0, time.time() + secs
while time.time() < end:
    try:
        off = (off + write(chunk[off:])) % len(chunk)
    except OSError:
        time.sleep(0.001)
EOF
}

probe=':006401590141\r\n'
# case         where      unit                 errors listed
cases=(
  "bad-frames  --link     :00640159014\\r\\n   1000"
  "probes-pty  --link     $probe               0"
  "probes-tcp  --tcp      $probe               0"
  "telnet-do   --rfc2217  \\xff\\xfd\\x63      0"
)
for row in "${cases[@]}"; do
  read -r case kind unit listed <<<"$row"
  where=$tmp/plc
  [ "$kind" = --link ] || where=0
  "$bindir/plcsim" --model RP200 "$kind" "$where" 2>"$tmp/sim.err" &
  simpid=$!
  for _ in $(seq 100); do grep -q ' on ' "$tmp/sim.err" && break; sleep 0.05; done
  [ "$kind" = --link ] || where=$(sed -n 's/.* on [a-z0-9]*:\/\/127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/sim.err")
  [ -n "$where" ] || fail "plcsim did not start"
  flood "$where" "$unit" 5 &
  hostpid=$!
  sleep 3
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$simpid/status")
  t0=$(date +%s%N)
  kill -TERM "$simpid"
  wait "$simpid"
  ms=$((($(date +%s%N) - t0) / 1000000))
  simpid=
  kill -KILL "$hostpid" 2>/dev/null
  wait "$hostpid" 2>/dev/null
  hostpid=
  echo "flood $case: peak ${peak} KiB, stopped in ${ms} ms"
  [ "$peak" -lt 65536 ] || fail "peak memory ${peak} KiB"
  [ "$ms" -lt 1000 ] || fail "took ${ms} ms to stop"
  [ "$(grep -c 'protocol error:' "$tmp/sim.err")" -eq "$listed" ] || fail "not $listed errors listed"
  if [ "$listed" -gt 0 ]; then
    grep -q '^plcsim: [0-9]* more protocol errors, not listed$' "$tmp/sim.err" || fail "no count of the others"
  fi
done
