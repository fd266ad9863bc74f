#!/usr/bin/env bash
# One end-to-end case of the command-line front end: plcsim on a pseudo-terminal, plcfwupdate
# writing into it, then the printed message, the exit status and the simulator's flash.
#   cli_e2e.sh BINDIR EMBEDDED_IMAGE CASE
# CASE: rp200 (embedded image), qm2e (a small --image, with --trace and --record), runmode,
# silent, nok; tcp and rfc2217 (the embedded image over plcsim --tcp / --rfc2217), tcp-drop and
# rfc2217-drop (the server killed in the middle of the transfer: said so after the run); sigint and sigterm (the signal
# in the middle of the transfer); info and infoboot (--info on a PLC in its application firmware,
# in its bootloader); denied (a port the user may not open, run as nobody; needs root).
set -uo pipefail
bindir=$1 embedded=$2 case=$3
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
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
    model=QM2-E image=$(small_image) cliargs=(--image "$image" --trace "$tmp/trace" --record "$tmp/runs.jsonl")
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
  sigint | sigterm)
    # A paced line keeps the transfer going for several seconds.
    model=QM2-E image=$(small_image) cliargs=(--image "$image" --record "$tmp/runs.jsonl") simargs=(--pace)
    expect_msg="plcfwupdate: interrupted during Programming"
    expect_status=130
    [ "$case" = sigterm ] && expect_msg="plcfwupdate: terminated during Programming" expect_status=143 ;;
  denied)
    if [ "$(id -u)" -ne 0 ] || ! command -v runuser >/dev/null; then
      echo "ok ($case): skipped: it needs root and runuser"
      exit 0
    fi
    model=QM2-E image=$(small_image) cliargs=(--image "$image")
    expect_status=1 ;;
  info | infoboot)
    model=QM2-E image=$(small_image) cliargs=(--image "$image" --info) simargs+=(--log "$tmp/sim.log")
    expect_msg="verdict:        the update would go on to erase and write the image"
    [ "$case" = infoboot ] && simargs+=(--start boot) ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
esac

# The record file holds one JSON line with the image's SHA-256 and the run's exit status.
check_record() {
  python3 - "$tmp/runs.jsonl" "$(sha256sum <"$image" | cut -d' ' -f1)" "$1" <<'PY' || fail "the record: see above"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 1, "%d lines" % len(lines)
r = json.loads(lines[0])
assert r["image"]["sha256"] == sys.argv[2], r["image"]
assert r["exit_status"] == int(sys.argv[3]), r["exit_status"]
assert r["model"] == "QM2-E" and r["plc"]["boot_id"] is not None, r
print("record:", lines[0][:100] + "...")
PY
}

# plcfwupdate as a user who may not open the port: the run's message and what to do.
denied_run() {
  local target status
  target=$(readlink -f "$port")
  chmod 600 "$target"
  chmod 755 "$tmp"
  chmod 644 "$image"
  cp "$bindir/plcfwupdate" "$tmp/plcfwupdate"
  status=0
  runuser -u nobody -- "$tmp/plcfwupdate" --port "$port" --yes "${cliargs[@]}" >"$tmp/out" 2>&1 </dev/null ||
    status=$?
  [ "$status" -eq "$expect_status" ] || fail "plcfwupdate exited $status, expected $expect_status"
  grep -qxF "[ERROR] CANNOT open $port Port!!!" "$tmp/out" || fail "no CANNOT open line"
  grep -qxF "plcfwupdate: $port: Permission denied; add your user to the dialout group (sudo usermod -aG dialout \$USER) and log in again" "$tmp/out" ||
    fail "no line with the reason and the dialout group"
  echo "ok ($case): exit $status, '$(tail -n 1 "$tmp/out")'"
  exit 0
}

# Starts plcfwupdate, sends the signal once the transfer shows, and checks the run's last line.
interrupted_run() {
  local signal=INT pid status
  [ "$case" = sigterm ] && signal=TERM
  # With job control a background job keeps SIGINT as it is, as a program run from a terminal.
  set -m
  "$bindir/plcfwupdate" --port "$port" --yes "${cliargs[@]}" >"$tmp/out" 2>&1 </dev/null &
  pid=$!
  set +m
  for _ in $(seq 600); do grep -q '[1-9][0-9]%  Programming' "$tmp/out" && break; sleep 0.05; done
  grep -q '[1-9][0-9]%  Programming' "$tmp/out" || { kill -KILL "$pid"; fail "the transfer never showed"; }
  kill -"$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq "$expect_status" ] || fail "plcfwupdate exited $status, expected $expect_status"
  local last
  last=$(tail -n 1 "$tmp/out")
  [[ "$last" == "$expect_msg at "[0-9]*"%: the PLC's flash is erased and partly written, and the PLC stays in its bootloader. Running the same command again completes the update." ]] ||
    fail "the last line is '$last'"
  check_record "$expect_status"
  echo "ok ($case): exit $status, '$last'"
  exit 0
}

if [ -n "$net" ]; then
  where=(--"$net" 0)  # a free port; plcsim names it on stderr
else
  where=(--link "$tmp/plc")
fi
plcsim_start "$bindir/plcsim" "$tmp/sim.err" --model "$model" "${where[@]}" \
  --flash-out "$tmp/flash.bin" "${simargs[@]}" ||
  fail "plcsim made no $([ -n "$net" ] && echo port || echo link)"
simpid=$PLCSIM_PID port=$PLCSIM_PORT
[ "$case" = sigint ] || [ "$case" = sigterm ] && interrupted_run
[ "$case" = denied ] && denied_run

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
[[ "$case" == info* ]] || [ "$(grep -c '^\[' "$tmp/out")" -ge 1 ] || fail "no message printed"
if [ "$drop" -eq 1 ]; then
  # The notes say the server ended the connection, not to check a cable.
  grep -qE "^plcfwupdate: $port: the server (closed|reset) the connection during the run" "$tmp/out" ||
    fail "no line that the server ended the connection"
  ! grep -q "hint: no answer" "$tmp/out" || fail "a cable hint for a connection the server ended"
  grep "the server" "$tmp/out"
fi

if [ -n "$sent" ]; then
  # The simulator ends by itself once the update is done and the port closed.
  plcsim_ended "$simpid" || fail "plcsim did not end after the update"
  plcsim_end "$simpid"; simstatus=$?
  [ "$simstatus" -eq 0 ] || fail "plcsim saw protocol errors (exit $simstatus)"
  cmp -n "$sent" "$image" "$tmp/flash.bin" || fail "the flash differs from the image"
  [ "$(stat -c %s "$tmp/flash.bin")" -ge "$sent" ] || fail "the flash is short"
fi
if [[ "$case" == info* ]]; then
  # Requests the PLC saw, by kind: none that would change it.
  kinds=$(awk '$2 == "ms" && $3 != "---" {print $4}' "$tmp/sim.log" | sort -u | paste -sd' ' -)
  for k in enter confirm erase erase-eot update block eot; do
    [[ " $kinds " != *" $k "* ]] || fail "--info sent a request of kind $k (kinds: $kinds)"
  done
  [[ " $kinds " == *" probe "* ]] || fail "--info sent no probe (kinds: $kinds)"
  echo "requests seen by the PLC: $kinds"
fi
if [ "$case" = rp200 ]; then
  version_line="embedded image: $(basename "$embedded"), $(stat -c %s "$embedded") bytes, SHA-256 $(sha256sum <"$embedded" | cut -d' ' -f1)"
  "$bindir/plcfwupdate" --version | grep -qxF "$version_line" || fail "--version does not show '$version_line'"
fi
if [ "$case" = qm2e ]; then
  grep -q '^[0-9]*\.[0-9][0-9][0-9] W [0-9]* UPDATE' "$tmp/trace" || fail "no UPDATE in the trace"
  grep -q '^[0-9]*\.[0-9][0-9][0-9] R 1 06 ACK$' "$tmp/trace" || fail "no ACK in the trace"
  grep -q '^# image   .*SHA-256 [0-9a-f]\{64\}$' "$tmp/trace" || fail "no image in the trace's header"
  grep -q '^[0-9]*\.[0-9][0-9][0-9] block 1/[0-9]* [0-9]* B -> ACK$' "$tmp/trace" ||
    fail "no line of the first block in the trace"
  check_record 0
fi
echo "ok ($case): exit $status, '$expect_msg', ${took_ms} ms"
