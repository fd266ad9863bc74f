#!/usr/bin/env bash
# What the terminal, a reader or the disk does never costs a flash or its record: plcfwupdate
# into plcsim on pseudo-terminals, a small QM2-E image.
#   robust_e2e.sh BINDIR CASE
# CASE: pipe (--events into "head -n 3": the reader goes away early), sighup (a hangup in the
# middle of the transfer), parentkill (two ports, the parent killed by SIGKILL while they flash),
# devfull (--record and --trace on a full device), closed (stdout and stderr closed, then stderr
# alone, appending to a record whose last line an earlier failure left torn).
set -uo pipefail
bindir=$1 case=$2
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
fail() { echo "FAIL ($case): $*" >&2
  for f in out err runs.jsonl; do [ -f "$tmp/$f" ] && sed "s/^/  $f: /" "$tmp/$f" >&2; done
  exit 1; }

image=$tmp/QM2-E_v3.00_robust.bin
head -c 30000 /dev/urandom >"$image"
sha=$(sha256sum <"$image" | cut -d' ' -f1)
fw=("$bindir/plcfwupdate" --image "$image" --yes)

# plcsim number N on $tmp/plcN, its flash into $tmp/flashN; PLCSIM_PID is its process.
sim() {
  plcsim_start "$bindir/plcsim" "$tmp/sim$1.err" --model QM2-E --link "$tmp/plc$1" \
    --flash-out "$tmp/flash$1" "${@:2}" || fail "plcsim $1 made no link"
}

# The simulator N ended by itself (the update done, the port closed) and holds the image.
flashed() {
  plcsim_end "$2" || fail "plcsim $1 did not end well after the update"
  cmp -s -n 30000 "$image" "$tmp/flash$1" || fail "the flash of plcsim $1 differs from the image"
}

# Every line of the record from line FIRST on is a run of the image with exit status STATUS;
# COUNT lines in all.
record() {
  python3 - "$tmp/runs.jsonl" "$sha" "$1" "$2" "$3" <<'PY' || fail "the record: see above"
import json, sys
path, sha, count, first, status = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
lines = open(path).read().split("\n")
assert lines[-1] == "", "the file does not end in a line end"
lines = lines[:-1]
assert len(lines) == count, "%d lines, not %d" % (len(lines), count)
for line in lines[first - 1:]:
    r = json.loads(line)
    assert r["image"]["sha256"] == sha and r["exit_status"] == status, line
PY
}

case $case in
  pipe)
    sim 0 --latency 0
    simpid=$PLCSIM_PID
    "${fw[@]}" --port "$tmp/plc0" --events --record "$tmp/runs.jsonl" 2>"$tmp/err" | head -n 3 >"$tmp/out"
    status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] || fail "plcfwupdate exited $status, not 0"
    [ "$(wc -l <"$tmp/out")" -eq 3 ] || fail "head did not get 3 lines"
    flashed 0 "$simpid"
    record 1 1 0 ;;
  sighup)
    sim 0 --pace
    "${fw[@]}" --port "$tmp/plc0" --record "$tmp/runs.jsonl" >"$tmp/out" 2>&1 </dev/null &
    pid=$!
    for _ in $(seq 1200); do grep -q '[1-9][0-9]%  Programming' "$tmp/out" && break; sleep 0.05; done
    grep -q '[1-9][0-9]%  Programming' "$tmp/out" || { kill -KILL "$pid"; fail "the transfer never showed"; }
    kill -HUP "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 129 ] || fail "plcfwupdate exited $status, not 129"
    last=$(tail -n 1 "$tmp/out")
    [[ $last == "plcfwupdate: terminated during Programming at "[0-9]*"%: the PLC's flash is erased and partly written"* ]] ||
      fail "the last line is '$last'"
    record 1 1 129 ;;
  parentkill)
    sim 0 --pace
    sim0=$PLCSIM_PID
    sim 1 --pace
    sim1=$PLCSIM_PID
    "${fw[@]}" --port "$tmp/plc0" --port "$tmp/plc1" --record "$tmp/runs.jsonl" >"$tmp/out" 2>"$tmp/err" </dev/null &
    pid=$!
    for _ in $(seq 400); do [ "$(grep -c ': Programming$' "$tmp/err")" -ge 2 ] && break; sleep 0.05; done
    [ "$(grep -c ': Programming$' "$tmp/err")" -ge 2 ] || { kill -KILL "$pid"; fail "the transfers never showed"; }
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    flashed 0 "$sim0"
    flashed 1 "$sim1"
    # The simulator ends once the port is closed, a moment before the record line is written.
    for _ in $(seq 100); do [ "$(wc -l <"$tmp/runs.jsonl")" -ge 2 ] && break; sleep 0.05; done
    record 2 1 0 ;;
  devfull)
    sim 0 --latency 0
    simpid=$PLCSIM_PID
    status=0
    "${fw[@]}" --port "$tmp/plc0" -q --record /dev/full --trace /dev/full >"$tmp/out" 2>"$tmp/err" </dev/null ||
      status=$?
    [ "$status" -eq 3 ] || fail "plcfwupdate exited $status, not 3"
    grep -qxF "[INFORMATION] Firmware update is SUCCESSFUL" "$tmp/out" || fail "no success line"
    grep -qxF "plcfwupdate: cannot write the record file '/dev/full': No space left on device" "$tmp/err" ||
      fail "no line about the record"
    grep -q "^plcfwupdate: cannot write the trace file '/dev/full': No space left on device" "$tmp/err" ||
      fail "no line about the trace"
    flashed 0 "$simpid" ;;
  closed)
    printf '{"start":"2026-12-07T09:00:00Z","tool":"plcfw' >"$tmp/runs.jsonl"
    sim 0 --latency 0
    simpid=$PLCSIM_PID
    status=0
    "${fw[@]}" --port "$tmp/plc0" --record "$tmp/runs.jsonl" </dev/null >&- 2>&- || status=$?
    [ "$status" -eq 0 ] || fail "with stdout and stderr closed: exit $status"
    flashed 0 "$simpid"
    sim 0 --latency 0
    simpid=$PLCSIM_PID
    "${fw[@]}" --port "$tmp/plc0" --record "$tmp/runs.jsonl" </dev/null >"$tmp/out" 2>&- || status=$?
    [ "$status" -eq 0 ] || fail "with stderr closed: exit $status"
    grep -qxF "[INFORMATION] Firmware update is SUCCESSFUL" "$tmp/out" || fail "no success line"
    flashed 0 "$simpid"
    record 3 2 0 ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
esac
echo "ok ($case)"
