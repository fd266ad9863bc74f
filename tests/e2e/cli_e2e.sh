#!/usr/bin/env bash
# One end-to-end case of the command-line front end: plcsim on a pseudo-terminal, plcfwupdate
# writing into it, then the printed message, the exit status and the simulator's flash.
#   cli_e2e.sh BINDIR EMBEDDED_IMAGE CASE
# CASE: rp200 (embedded image), qm2e (a small --image, with --trace), runmode, silent, nok;
# tcp and rfc2217 (the embedded image over plcsim --tcp / --rfc2217), tcp-drop and rfc2217-drop
# (the server killed in the middle of the transfer).
set -uo pipefail
bindir=$1 embedded=$2 case=$3
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
tmp=$(mktemp -d)
cleanup() {
  plcsim_stop_all
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL ($case): $*" >&2; [ -f "$tmp/out" ] && sed 's/^/  out: /' "$tmp/out" >&2
  [ -f "$tmp/sim.err" ] && sed 's/^/  sim: /' "$tmp/sim.err" >&2; exit 1; }

# A small image of QM2-E's: its file name names the model.
small_image() {
  head -c 100000 /dev/urandom >"$tmp/QM2-E_v3.00_e2e.bin"
  echo "$tmp/QM2-E_v3.00_e2e.bin"
}

model=RP200 simargs=(--latency 0) cliargs=() image=$embedded expect_status=0 sent=""
net="" drop=0
case $case in
  tcp|rfc2217|tcp-drop|rfc2217-drop)
    net=${case%-drop}
    if [ "$case" = "$net" ]; then
      expect_msg="[Information] Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
      sent=$(( $(stat -c %s "$embedded") - 4096 ))
    else
      drop=1 expect_msg="[ERROR] Firmware update is FAILED" expect_status=1
      simargs+=(--log "$tmp/sim.log")
    fi ;;
  rp200)
    expect_msg="[Information] Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
    sent=$(( $(stat -c %s "$embedded") - 4096 )) ;;  # 4 KiB-page model: the last page stays
  qm2e)
    model=QM2-E image=$(small_image) cliargs=(--image "$image" --trace "$tmp/trace")
    expect_msg="[INFORMATION] Firmware update is SUCCESSFUL"
    sent=100000 ;;
  runmode)
    model=QM2-E image=$(small_image) cliargs=(--image "$image") simargs+=(--fault runmode)
    expect_msg="[ERROR] PLC in RUN MODE" expect_status=1 ;;
  silent)
    model=QM2-E image=$(small_image) cliargs=(--image "$image") simargs+=(--fault silent)
    expect_msg="[ERROR] NO RESPONSE @ State 1" expect_status=1 ;;
  nok)
    model=QM2-E image=$(small_image) cliargs=(--image "$image") simargs+=(--fault nok-block:10)
    expect_msg="[ERROR] Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"
    expect_status=1 ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
esac

if [ -n "$net" ]; then
  where=(--"$net" 0)  # a free port; plcsim names it on stderr
else
  where=(--link "$tmp/plc")
fi
plcsim_start "$bindir/plcsim" "$tmp/sim.err" --model "$model" "${where[@]}" \
  --flash-out "$tmp/flash.bin" "${simargs[@]}" ||
  fail "plcsim made no $([ -n "$net" ] && echo port || echo link)"
simpid=$PLCSIM_PID port=$PLCSIM_PORT

start=$(date +%s%N)
timeout 120 "$bindir/plcfwupdate" --port "$port" --yes "${cliargs[@]}" >"$tmp/out" 2>&1 </dev/null &
clipid=$!
if [ "$drop" -eq 1 ]; then
  # The connection drops once blocks flow: the server is killed outright.
  for _ in $(seq 600); do grep -q ' block ' "$tmp/sim.log" 2>/dev/null && break; sleep 0.05; done
  grep -q ' block ' "$tmp/sim.log" || fail "no block reached plcsim"
  plcsim_kill "$simpid" KILL
fi
wait "$clipid"
status=$?
took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" -eq "$expect_status" ] || fail "plcfwupdate exited $status, expected $expect_status"
grep -qxF "$expect_msg" "$tmp/out" || fail "no line '$expect_msg'"
[ "$(grep -c '^\[' "$tmp/out")" -ge 1 ] || fail "no message printed"

if [ -n "$sent" ]; then
  # The simulator ends by itself once the update is done and the port closed.
  plcsim_ended "$simpid" || fail "plcsim did not end after the update"
  plcsim_end "$simpid"; simstatus=$?
  [ "$simstatus" -eq 0 ] || fail "plcsim saw protocol errors (exit $simstatus)"
  cmp -n "$sent" "$image" "$tmp/flash.bin" || fail "the flash differs from the image"
  [ "$(stat -c %s "$tmp/flash.bin")" -ge "$sent" ] || fail "the flash is short"
fi
if [ "$case" = qm2e ]; then
  grep -q '^[0-9]*\.[0-9][0-9][0-9] W [0-9]* UPDATE' "$tmp/trace" || fail "no UPDATE in the trace"
  grep -q '^[0-9]*\.[0-9][0-9][0-9] R 1 \\x06' "$tmp/trace" || fail "no ACK in the trace"
fi
echo "ok ($case): exit $status, '$expect_msg', ${took_ms} ms"
