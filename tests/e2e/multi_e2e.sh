#!/usr/bin/env bash
# Eight PLCs of one model updated by one command, one of them failing the transfer: every good
# flash holds the image, the faulted port failed, the table names each port, the exit status is 1.
#   multi_e2e.sh BINDIR
set -uo pipefail
bindir=$1
tmp=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL (multi): $*" >&2; [ -f "$tmp/out" ] && sed 's/^/  out: /' "$tmp/out" >&2
  [ -f "$tmp/err" ] && sed 's/^/  err: /' "$tmp/err" >&2; exit 1; }

image=$tmp/QM2-E_v3.00_multi.bin
head -c 65536 /dev/urandom >"$image"
bad=5
portargs=()
for i in 0 1 2 3 4 5 6 7; do
  fault=()
  [ $i = $bad ] && fault=(--fault nok-block:10)
  "$bindir/plcsim" --model QM2-E --link "$tmp/plc$i" --latency 0 --flash-out "$tmp/flash$i" \
    "${fault[@]}" >"$tmp/sim$i.log" 2>&1 &
  pids+=($!)
  # Half the ports on the command line, half from a file.
  if [ $i -lt 4 ]; then portargs+=(--port "$tmp/plc$i"); else echo "$tmp/plc$i  # PLC $i" >>"$tmp/ports"; fi
done
printf '# the rest\n\n' >>"$tmp/ports"
for i in 0 1 2 3 4 5 6 7; do
  for _ in $(seq 100); do [ -e "$tmp/plc$i" ] && break; sleep 0.05; done
  [ -e "$tmp/plc$i" ] || fail "plcsim $i did not start"
done

timeout 60 "$bindir/plcfwupdate" "${portargs[@]}" --ports-from "$tmp/ports" --image "$image" --yes --record "$tmp/runs.jsonl" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
[ $status -eq 1 ] || fail "exit status $status, not 1"

for i in 0 1 2 3 4 5 6 7; do
  # The simulator writes its flash when the host has closed the port.
  for _ in $(seq 100); do kill -0 "${pids[$i]}" 2>/dev/null || break; sleep 0.05; done
  row=$(grep "^$tmp/plc$i " "$tmp/out") || fail "the table names no $tmp/plc$i"
  if [ $i = $bad ]; then
    [[ $row == *" FAILED "*"Flash write error"* ]] || fail "port $i: $row"
    continue
  fi
  [[ $row == *" succeeded "* ]] || fail "port $i: $row"
  cmp -s <(head -c 65536 "$tmp/flash$i") "$image" || fail "the flash of port $i differs from the image"
done
grep -q '^PORT  *MODEL  *OUTCOME  *DURATION  *ERRORS' "$tmp/out" || fail "no table heading"
grep -qx "$tmp/plc1: waiting for restart" "$tmp/err" || fail "no step named before the erase"
[ "$(wc -l <"$tmp/runs.jsonl")" -eq 8 ] || fail "$(wc -l <"$tmp/runs.jsonl") record lines, not 8"
python3 -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1])]' "$tmp/runs.jsonl" \
  || fail "a record line is no JSON object"

# Without --yes nobody would answer the prompts of eight PLCs: refused, naming --yes.
"$bindir/plcfwupdate" "${portargs[@]:0:4}" --image "$image" >"$tmp/out" 2>"$tmp/err"
status=$?
if [ $status -ne 2 ] || ! grep -q -- '--yes' "$tmp/err"; then fail "without --yes: exit $status"; fi
echo "multi: 7 PLCs updated, the faulted one failed"
