#!/usr/bin/env bash
# Several ports at the edges of the command line, on two plcsim: one PLC named twice and a ports
# file with an option in it are refused before any port's process starts; --events gives JSON
# lines with a port and nothing else, also for a port that does not open; -q on a terminal gives
# the table alone.
#   multi_edges_e2e.sh BINDIR
set -uo pipefail
bindir=$1
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
fail() { echo "FAIL (multi edges): $*" >&2; for f in out err; do
  [ -f "$tmp/$f" ] && sed "s/^/  $f: /" "$tmp/$f" >&2; done; exit 1; }

image=$tmp/QM2-E_v3.00_edges.bin
head -c 16384 /dev/urandom >"$image"
sims() {
  for i in 0 1; do
    plcsim_start "$bindir/plcsim" "$tmp/sim$i.log" --model QM2-E --link "$tmp/plc$i" --latency 0 \
      --flash-out "$tmp/flash$i" || fail "plcsim $i did not start"
  done
}
update() { timeout 60 "$bindir/plcfwupdate" --image "$image" --yes "$@" >"$tmp/out" 2>"$tmp/err"; }
sims

# The link and the pseudo-terminal it points to are one PLC.
pts=$(readlink "$tmp/plc0")
update --port "$tmp/plc0" --port "$tmp/plc1" --port "$pts"
status=$?
[ $status -eq 2 ] || fail "one PLC named twice: exit $status"
grep -qF "the ports $tmp/plc0 (--port) and $pts (--port) are the same device" "$tmp/err" ||
  fail "the refusal names not both spellings"
printf '%s\n# comment\n--trace=%s\n' "$tmp/plc1" "$tmp/t.log" >"$tmp/ports"
update --port "$tmp/plc0" --ports-from "$tmp/ports"
status=$?
if [ $status -ne 2 ] || ! grep -qF "$tmp/ports:3: '--trace=$tmp/t.log' is an option" "$tmp/err"; then
  fail "an option in the ports file: exit $status"
fi
[ ! -e "$tmp/t.log" ] || fail "a port's process ran with the ports file's option"

update --port "$tmp/plc0" --port "$tmp/plc1" --port "$tmp/nope" --events
status=$?
[ $status -eq 1 ] || fail "--events: exit $status, not 1"
[ ! -s "$tmp/err" ] || fail "--events: the standard error is not empty"
python3 - "$tmp/out" "$tmp/plc0" "$tmp/plc1" "$tmp/nope" <<'EOF' || fail "--events: not JSON lines with a port each"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
assert all(isinstance(e, dict) and e.get("port") in sys.argv[2:] for e in lines), lines
ended = {e["port"]: e["exit_status"] for e in lines if e["event"] == "outcome"}
assert ended == {sys.argv[2]: 0, sys.argv[3]: 0, sys.argv[4]: 1}, ended
EOF

plcsim_stop_all
sims
timeout 60 script -qec "'$bindir/plcfwupdate' --image '$image' --yes -q --port '$tmp/plc0' --port '$tmp/plc1'" \
  /dev/null >"$tmp/out" 2>"$tmp/err" </dev/null
status=$?
[ $status -eq 0 ] || fail "-q: exit $status"
# A port name too long for the terminal's table keeps its end after "...".
tr -d '\r' <"$tmp/out" | awk -v t="$tmp" 'NR == 1 && /^PORT +MODEL +OUTCOME/ { next }
  function named(p, s) { s = substr($1, 4); return $1 == p ||
    (substr($1, 1, 3) == "..." && substr(p, length(p) - length(s) + 1) == s) }
  (NR == 2 || NR == 3) && named(t "/plc" NR - 2) && / succeeded / && length($0) < 80 { next }
  { exit 1 } END { exit NR != 3 }' || fail "-q on a terminal: not the table alone"
for i in 0 1; do
  plcsim_ended "${PLCSIM_PIDS[$i]}" 10
  cmp -s <(head -c 16384 "$tmp/flash$i") "$image" || fail "the flash of port $i differs from the image"
done
echo "multi edges: the same PLC twice and an option in the ports file refused; --events and -q as promised"
