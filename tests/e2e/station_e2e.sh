#!/usr/bin/env bash
# A station against plcsim playing a bench of QM2-E units that arrive and leave on a pseudo-terminal.
#   station_e2e.sh BINDIR CASE
# CASE: five (5 units, the third's flash write-protected: 4 done, 1 failed, none written twice,
# the failed one not retried), stay (the second unit left plugged in for 12 s after its update:
# not written again), swap (bootloaders swapped a second apart on a line that loses 30 % of the
# probe replies in runs of five, the second left in for 10 s: each written once), two (two ports
# at once, a station each), sigint (Ctrl-C while waiting: the tally, exit 130), usb (RP100 units,
# whose device is there only while they are, swapped in 3 s: each found gone and the next
# written), usbswap (RP100 units at usb:1-2 swapped 0.5 s apart: each written once).
set -uo pipefail
bindir=$1 case=$2
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
fail() { echo "FAIL (station $case): $*" >&2
  for f in out err sim-a.err sim-b.err sim.log; do [ -f "$tmp/$f" ] && sed "s/^/  $f: /" "$tmp/$f" >&2; done
  exit 1; }

image=$tmp/QM2-E_v3.00_station.bin
head -c 65536 /dev/urandom >"$image"
# Units swapped in 2 s: the station sees a second's silence.
bench=(--model QM2-E --latency 0 --arrive-every 2000 --leave-after 2000)

# bench NAME UNITS ARGS...: plcsim playing UNITS units on $tmp/NAME, flashes in $tmp/NAME.d.
bench() {
  local name=$1 units=$2
  shift 2
  mkdir -p "$tmp/$name.d"
  plcsim_start "$bindir/plcsim" "$tmp/sim-$name.err" "${bench[@]}" --link "$tmp/$name" \
    --units "$units" --flash-dir "$tmp/$name.d" "$@" || fail "plcsim $name did not start"
}

# unit_line NAME N: the simulator's line of unit N, once it has left.
unit_line() {
  grep "^plcsim: unit $2 left" "$tmp/sim-$1.err" || fail "$1: unit $2 never left: skipped?"
}

# expect_written NAME N COMPLETED: unit N took one transfer, completed (1) or not (0); a completed
# one holds the image.
expect_written() {
  local line
  line=$(unit_line "$1" "$2")
  [[ $line == *": 1 transfers, $3 completed,"* ]] || fail "$1 unit $2: $line"
  [ "$3" = 0 ] || cmp -s <(head -c 65536 "$tmp/$1.d/unit-$2.bin") "$image" ||
    fail "$1 unit $2: its flash is not the image"
}

station() {
  timeout 140 "$bindir/plcfwupdate" --station --image "$image" --yes --record "$tmp/runs.jsonl" \
    "$@" >"$tmp/out" 2>"$tmp/err"
}

case $case in
  five)
    bench a 5 --unit-fault 3:nok-block:10
    station --port "$tmp/a" --units 5
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    plcsim_ended "$PLCSIM_PID" 15 || fail "the bench did not end"
    for n in 1 2 4 5; do expect_written a $n 1; done
    expect_written a 3 0
    grep -q '^unit 3: FAILED in [0-9]* s; 2 done, 1 failed$' "$tmp/out" || fail "no result line for unit 3"
    grep -q '^unit 5: SUCCESSFUL in [0-9]* s; 4 done, 1 failed$' "$tmp/out" || fail "no result line for unit 5"
    grep -q '^plcfwupdate: station: 4 done, 1 failed (unit 3); [0-9.]* s a unit on average$' "$tmp/out" ||
      fail "no tally"
    grep -q '^plcfwupdate: unit 3: FAILED, unplug it and set it aside: not written again$' \
      "$tmp/err" || fail "no unplug line for unit 3"
    python3 - "$tmp/runs.jsonl" <<'PY' || fail "the record lines"
import json, sys
runs = [json.loads(l) for l in open(sys.argv[1])]
assert [r["unit"] for r in runs] == [1, 2, 3, 4, 5], runs
assert len({r["station_started"] for r in runs}) == 1
assert [r["exit_status"] for r in runs] == [0, 0, 1, 0, 0]
PY
    echo "station five: 4 units done, unit 3 failed once, none written twice" ;;
  stay)
    bench a 3 --unit-stay 2:12000
    station --port "$tmp/a" --units 3
    status=$?
    [ $status -eq 0 ] || fail "exit status $status, not 0"
    plcsim_ended "$PLCSIM_PID" 15 || fail "the bench did not end"
    for n in 1 2 3; do expect_written a $n 1; done
    line=$(unit_line a 2)
    [[ $line == "plcsim: unit 2 left after "* ]] || fail "$line"
    secs=${line#plcsim: unit 2 left after }
    [ "${secs%%.*}" -ge 12 ] || fail "unit 2 stayed only $secs"
    grep -q '^plcfwupdate: station: 3 done, 0 failed; ' "$tmp/out" || fail "no tally"
    echo "station stay: unit 2 stayed ${secs%%:*} plugged in and was written once" ;;
  swap)
    bench a 3 --arrive-every 1000 --pace --start boot --fault drop:30%x5:probe --unit-stay 2:10000
    station --port "$tmp/a" --units 3
    status=$?
    [ $status -eq 0 ] || fail "exit status $status, not 0"
    plcsim_ended "$PLCSIM_PID" 15 || fail "the bench did not end"
    for n in 1 2 3; do expect_written a $n 1; done
    grep -q '^plcfwupdate: unit 2 still answers: unplug it; next unit once the line is silent$' \
      "$tmp/err" || fail "unit 2 left in: no line that says it still answers"
    echo "station swap: units swapped a second apart on a lossy line, each written once" ;;
  two)
    bench a 2
    pida=$PLCSIM_PID
    bench b 2 --unit-fault 1:nok-block:3
    station --port "$tmp/a" --port "$tmp/b" --units 2
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    plcsim_ended "$pida" 15 && plcsim_ended "$PLCSIM_PID" 15 || fail "a bench did not end"
    expect_written a 1 1
    expect_written a 2 1
    expect_written b 1 0
    expect_written b 2 1
    grep -q "^$tmp/b: unit 1: FAILED in " "$tmp/out" || fail "no result line for b's unit 1"
    grep -q "^$tmp/a  *QM2-E  *succeeded .* station: 2 done, 0 failed$" "$tmp/out" || fail "no row for a"
    grep -q "^$tmp/b  *QM2-E  *FAILED .* station: 1 done, 1 failed$" "$tmp/out" || fail "no row for b"
    [ "$(wc -l <"$tmp/runs.jsonl")" -eq 4 ] || fail "$(wc -l <"$tmp/runs.jsonl") record lines, not 4"
    echo "station two: 3 units done and 1 failed on two ports" ;;
  sigint)
    bench a 3
    "$bindir/plcfwupdate" --station --image "$image" --yes --port "$tmp/a" >"$tmp/out" 2>"$tmp/err" &
    pid=$!
    for _ in $(seq 600); do grep -q '^unit 1: SUCCESSFUL' "$tmp/out" && break; sleep 0.1; done
    grep -q '^unit 1: SUCCESSFUL' "$tmp/out" || fail "unit 1 was not updated"
    sleep 1
    kill -INT $pid
    wait $pid
    status=$?
    [ $status -eq 130 ] || fail "exit status $status, not 130"
    grep -q '^plcfwupdate: station: 1 done, 0 failed; ' "$tmp/out" || fail "no tally"
    echo "station sigint: the tally after Ctrl-C" ;;
  usb)
    # The link is there only while a unit is: the simulator has started once it names it.
    mkdir -p "$tmp/a.d"
    "$bindir/plcsim" --model RP100 --latency 0 --arrive-every 3000 --leave-after 2000 --link "$tmp/a" --log "$tmp/sim.log" \
      --units 2 --flash-dir "$tmp/a.d" >"$tmp/sim-a.err" 2>&1 &
    PLCSIM_PIDS+=($!)
    for _ in $(seq 100); do grep -q "on $tmp/a ->" "$tmp/sim-a.err" && break; sleep 0.05; done
    head -c 65536 /dev/urandom >"$tmp/RP100_v1.0_station.bin"
    image=$tmp/RP100_v1.0_station.bin
    station --port "$tmp/a" --units 2
    status=$?
    [ $status -eq 0 ] || fail "exit status $status, not 0"
    plcsim_ended "${PLCSIM_PIDS[0]}" 15 || fail "the bench did not end"
    for n in 1 2; do
      line=$(unit_line a $n)
      [[ $line == *": 1 transfers, 1 completed,"* ]] || fail "unit $n: $line"
      cmp -s <(head -c 61440 "$tmp/a.d/unit-$n.bin") <(head -c 61440 "$image") || fail "unit $n: its flash"
    done
    grep -q '^unit 2: SUCCESSFUL in [0-9]* s; 2 done, 0 failed$' "$tmp/out" || fail "no result line for unit 2"
    echo "station usb: two units, each found gone as its device went" ;;
  usbswap)
    # RP100 units at the USB port 1-2, each plugged in 0.5 s after the one before was pulled out:
    # a model that restarts only when replugged has gone once its device is absent for two looks.
    export PLCFW_SYSFS_ROOT=$tmp/sys
    head -c 65536 /dev/urandom >"$tmp/RP100_v1.0_station.bin"
    image=$tmp/RP100_v1.0_station.bin
    bench=(--model RP100 --latency 0 --arrive-every 500 --leave-after 1000)
    bench a 3 --usb-root "$tmp/sys" --usb-location 1-2
    station --port usb:1-2 --units 3
    status=$?
    [ $status -eq 0 ] || fail "exit status $status, not 0"
    plcsim_ended "$PLCSIM_PID" 15 || fail "the bench did not end"
    for n in 1 2 3; do
      line=$(grep "^plcsim: unit $n \(left\|still\)" "$tmp/sim-a.err") || fail "unit $n never came"
      [[ $line == *": 1 transfers, 1 completed,"* ]] || fail "unit $n: $line"
      cmp -s <(head -c 61440 "$tmp/a.d/unit-$n.bin") <(head -c 61440 "$image") || fail "unit $n: its flash"
    done
    echo "station usbswap: three units swapped 0.5 s apart at a USB port, each written once" ;;
  *) fail "unknown case" ;;
esac
