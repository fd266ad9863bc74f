#!/usr/bin/env bash
# A run writes only to a PLC. Every way of running (one run, --info, a station, several ports)
# refuses a --port that is a regular file, a directory, a FIFO or /dev/null at once and writes
# nothing into it; a station of the USB-attached model waits for a device path that is not there
# yet. Two spellings of one network device are refused as one. An --image far larger than the
# model takes ends as the run's size check ends it, judged from its size, unread: fast and small.
#   link_checks_e2e.sh BINDIR
set -uo pipefail
bindir=$1
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
fail() { echo "FAIL (link checks): $*" >&2; [ -f "$tmp/out" ] && sed 's/^/  out: /' "$tmp/out" >&2
  exit 1; }

touch "$tmp/file"
mkdir "$tmp/dir"
mkfifo "$tmp/fifo"
# Held open both ways: a write into the FIFO would neither block nor fail, and would stay there.
exec 3<>"$tmp/fifo"

# port           what is said about it
ports=(
  "$tmp/file|a regular file, not a serial port; nothing was written to it"
  "$tmp/dir|a directory, not a serial port; nothing was written to it"
  "$tmp/fifo|a FIFO, not a serial port; nothing was written to it"
  "/dev/null|not a serial port (no terminal device)"
)
# way            its options (several ports: another port besides)
ways=("one run|" "info|--info" "station|--station" "several ports|--port $tmp/absent")

for p in "${ports[@]}"; do
  port=${p%%|*} reason=${p#*|}
  for w in "${ways[@]}"; do
    way=${w%%|*}
    read -ra more <<<"${w#*|}"
    start=$(date +%s%N)
    timeout 20 "$bindir/plcfwupdate" --port "$port" "${more[@]}" --yes >"$tmp/out" 2>&1 </dev/null
    status=$? took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    [ $status -eq 1 ] || fail "$way on $port: exit $status, not 1"
    [ $took_ms -lt 5000 ] || fail "$way on $port: $took_ms ms, not at once"
    if [ "$way" = "several ports" ]; then
      said="[ERROR] CANNOT open $port Port!!!"  # each port's process refuses it as one run does
    else
      said="plcfwupdate: $port: $reason"
    fi
    grep -qF "$said" "$tmp/out" || fail "$way on $port: no line '$said'"
    echo "ok: $way on $port: exit 1 in $took_ms ms"
  done
done
[ ! -s "$tmp/file" ] || fail "bytes were written into the regular file"
! read -r -t 0.2 -N 1 -u 3 _ || fail "bytes were written into the FIFO"

# The model's USB device appears when the PLC is plugged in: a path not there yet is waited for.
timeout 3 "$bindir/plcfwupdate" --station --port "$tmp/later" --yes >"$tmp/out" 2>&1 </dev/null
status=$?
[ $status -eq 124 ] || fail "a station on a path not there yet ended with $status instead of waiting"

plcsim_start "$bindir/plcsim" "$tmp/sim.err" --model RP200 --tcp 0 || fail "plcsim made no port"
number=${PLCSIM_PORT##*:}
others=("rfc2217://127.1:0$number")
# A minimal root may have no name for the loopback address.
if getent hosts localhost >/dev/null 2>&1; then
  others+=("tcp://localhost:$number")
else
  echo "skip: the spelling tcp://localhost: 'localhost' does not resolve on this machine"
fi
for other in "${others[@]}"; do
  timeout 20 "$bindir/plcfwupdate" --port "$PLCSIM_PORT" --port "$other" --yes >"$tmp/out" 2>&1 </dev/null
  status=$?
  [ $status -eq 2 ] || fail "$PLCSIM_PORT and $other: exit $status, not 2"
  grep -qF "the ports $PLCSIM_PORT (--port) and $other (--port) are the same device" "$tmp/out" ||
    fail "$PLCSIM_PORT and $other not refused as one device"
  echo "ok: $PLCSIM_PORT and $other refused as one device"
done
plcsim_kill "$PLCSIM_PID"

head -c 64M /dev/urandom >"$tmp/RP200_big.bin"
/usr/bin/time -f "%e %M" -o "$tmp/time" "$bindir/plcfwupdate" --image "$tmp/RP200_big.bin" \
  --port "$tmp/absent" --yes >"$tmp/out" 2>&1 </dev/null
status=$?
read -r seconds rss_kib < <(tail -n 1 "$tmp/time")  # after "Command exited with ..."
[ $status -eq 1 ] || fail "a 64 MiB image: exit $status, not 1"
grep -qxF "[ERROR] The file size EXCEEDS the MAXIMUM size (2028 * 1024)" "$tmp/out" ||
  fail "a 64 MiB image: not the run's message"
grep -qxF "plcfwupdate: the image is 67108864 bytes; RP200 takes at most 2076672 bytes" "$tmp/out" ||
  fail "a 64 MiB image: not the size line"
awk -v s="$seconds" 'BEGIN { exit !(s < 1.0) }' || fail "a 64 MiB image took $seconds s to refuse"
# An address-sanitizer build carries its shadow memory: a looser bound that a 64 MiB image read
# whole still passes.
rss_bound=16384
grep -q __asan_init "$bindir/plcfwupdate" && rss_bound=65536
[ "$rss_kib" -lt "$rss_bound" ] || fail "a 64 MiB image: peak RSS $rss_kib KiB"
echo "ok: a 64 MiB image refused in $seconds s, peak RSS $rss_kib KiB"
