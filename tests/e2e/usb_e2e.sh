#!/usr/bin/env bash
# USB-attached PLCs named by the physical port they hang on, against plcsim presenting each as a
# USB device in a sysfs tree of its own (PLCFW_SYSFS_ROOT).
#   usb_e2e.sh BINDIR CASE
# CASE: three (three RP100s at three ports in one command, one faulted: its row FAILED, the
# others' flashes the image), ambiguous (two present: --port USB and no --port refused, exit 2,
# both named; one present: updated as before), station (a station on two ports, two units each:
# each written once), reenum (the PLC at 1-2 re-enumerates during the replug while another
# appears at 1-1, which sorts first: the run goes on with the one at 1-2, named by its port or
# the only one present when the run began), twonames (one PLC as USB and as its usb: port or its
# node refused before any byte, exit 2, both named; with two present USB refused as ambiguous
# in several ports, a station and a ports file), hostile (FIFOs, a link to /dev/zero and
# DEVNAME=tty in the tree: nothing hangs or opens, the one unreadable device said as such).
set -uo pipefail
bindir=$1 case=$2
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
plcsim_scratch
fail() { echo "FAIL (usb $case): $*" >&2
  for f in "$tmp"/out "$tmp"/err "$tmp"/sim-*.err; do [ -f "$f" ] && sed "s|^|  ${f##*/}: |" "$f" >&2; done
  exit 1; }

export PLCFW_SYSFS_ROOT=$tmp/sys
image=$tmp/RP100_v1.0_usb.bin
head -c 65536 /dev/urandom >"$image"
# RP100 keeps its last 4 KiB back: the flash holds the image's first 61440 bytes.
kept=61440

# usbsim NAME LOCATION ARGS...: an RP100 on $tmp/NAME, plugged into LOCATION.
usbsim() {
  local name=$1 location=$2
  shift 2
  plcsim_start "$bindir/plcsim" "$tmp/sim-$name.err" --model RP100 --latency 0 \
    --usb-root "$tmp/sys" --usb-location "$location" --link "$tmp/$name" "$@" ||
    fail "plcsim $name did not start"
  for _ in $(seq 100); do [ -d "$tmp/sys/bus/usb/devices/$location" ] && return 0; sleep 0.05; done
  fail "plcsim $name made no device at $location"
}

flash_is_image() { cmp -s <(head -c $kept "$1") <(head -c $kept "$image"); }

case $case in
  three)
    usbsim a 1-1 --flash-out "$tmp/flash-a"
    a=$PLCSIM_PID
    usbsim b 1-2 --flash-out "$tmp/flash-b" --fault nok-block:5
    b=$PLCSIM_PID
    usbsim c 1-3.2 --flash-out "$tmp/flash-c"
    c=$PLCSIM_PID
    timeout 90 "$bindir/plcfwupdate" --port usb:1-1 --port usb:1-2 --port usb:1-3.2 --image "$image" \
      --yes --record "$tmp/runs.jsonl" >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    # The simulators write their flash once the update into them has ended.
    for p in $a $c; do plcsim_ended "$p" 15 || fail "a simulator did not end"; done
    plcsim_kill "$b"
    grep -q '^usb:1-1  *RP100  *succeeded ' "$tmp/out" || fail "no succeeded row for usb:1-1"
    grep -q '^usb:1-2  *RP100  *FAILED ' "$tmp/out" || fail "no FAILED row for usb:1-2"
    grep -q '^usb:1-3.2  *RP100  *succeeded ' "$tmp/out" || fail "no succeeded row for usb:1-3.2"
    flash_is_image "$tmp/flash-a" || fail "the flash at 1-1 is not the image"
    flash_is_image "$tmp/flash-c" || fail "the flash at 1-3.2 is not the image"
    for l in 1-1 1-2 1-3.2; do
      grep -q "\"port\":\"usb:$l\"" "$tmp/runs.jsonl" || fail "no record line for usb:$l"
    done
    echo "usb three: two PLCs updated, the faulted one failed, each by its port" ;;
  ambiguous)
    usbsim a 1-1
    usbsim b 1-4
    for args in "--port USB" ""; do
      # shellcheck disable=SC2086
      timeout 30 "$bindir/plcfwupdate" $args --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
      status=$?
      [ $status -eq 2 ] || fail "'$args': exit status $status, not 2"
      grep -q 'usb:1-1' "$tmp/err" && grep -q 'usb:1-4' "$tmp/err" || fail "'$args': not both named"
    done
    "$bindir/plcfwupdate" --list-ports --model RP100 >"$tmp/out" 2>"$tmp/err"
    grep -q "^usb:1-1	$(readlink -f "$tmp/a")$" "$tmp/out" || fail "--list-ports: no usb:1-1 line"
    grep -q "^usb:1-4	" "$tmp/out" || fail "--list-ports: no usb:1-4 line"
    plcsim_kill "$PLCSIM_PID"
    for _ in $(seq 100); do [ -d "$tmp/sys/bus/usb/devices/1-4" ] || break; sleep 0.05; done
    timeout 60 "$bindir/plcfwupdate" --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 0 ] || fail "with one present: exit status $status, not 0"
    echo "usb ambiguous: two present refused naming both, one present updated" ;;
  station)
    for n in a b; do
      mkdir -p "$tmp/$n.d"
      loc=1-1; [ $n = b ] && loc=1-2
      usbsim $n $loc --units 2 --arrive-every 2000 --leave-after 2000 --flash-dir "$tmp/$n.d"
      eval "pid_$n=\$PLCSIM_PID"
    done
    timeout 140 "$bindir/plcfwupdate" --station --units 2 --port usb:1-1 --port usb:1-2 \
      --image "$image" --yes --record "$tmp/runs.jsonl" >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 0 ] || fail "exit status $status, not 0"
    # shellcheck disable=SC2154
    plcsim_ended "$pid_a" 15 && plcsim_ended "$pid_b" 15 || fail "a bench did not end"
    for n in a b; do
      for u in 1 2; do
        line=$(grep "^plcsim: unit $u left" "$tmp/sim-$n.err") || fail "$n: unit $u never left"
        [[ $line == *": 1 transfers, 1 completed,"* ]] || fail "$n unit $u: $line"
        flash_is_image "$tmp/$n.d/unit-$u.bin" || fail "$n unit $u: its flash"
      done
    done
    [ "$(wc -l <"$tmp/runs.jsonl")" -eq 4 ] || fail "$(wc -l <"$tmp/runs.jsonl") record lines, not 4"
    echo "usb station: two ports, two units each, each written once" ;;
  reenum)
    # Named by its port, and the only one present when no port is named: held on to either way.
    for portargs in "--port usb:1-2" ""; do
      usbsim a 1-2 --flash-out "$tmp/flash-a"
      a=$PLCSIM_PID
      # shellcheck disable=SC2086
      timeout 60 "$bindir/plcfwupdate" $portargs --image "$image" --yes >"$tmp/out" 2>"$tmp/err" &
      run=$!
      # The PLC at 1-2 leaves for its bootloader: another is plugged into 1-1 meanwhile.
      for _ in $(seq 200); do
        grep -q 'waiting for replug' "$tmp/err" 2>/dev/null && break
        sleep 0.05
      done
      usbsim b 1-1 --flash-out "$tmp/flash-b"
      wait $run
      status=$?
      [ $status -eq 0 ] || fail "'$portargs': exit status $status, not 0"
      plcsim_ended "$a" 15 || fail "'$portargs': the PLC at 1-2 did not end"
      flash_is_image "$tmp/flash-a" || fail "'$portargs': the flash at 1-2 is not the image"
      [ -d "$tmp/sys/bus/usb/devices/1-1" ] || fail "'$portargs': the PLC at 1-1 was not there at the end"
      plcsim_kill "$PLCSIM_PID"
      grep -q ' 0 pages erased, 0 blocks, 0 bytes received' "$tmp/sim-b.err" ||
        fail "'$portargs': the PLC at 1-1 was written"
      rm -f "$tmp/flash-a" "$tmp/flash-b"
    done
    echo "usb reenum: the run went on with the PLC at its port, named or the only one" ;;
  twonames)
    usbsim a 1-4.2
    printf 'usb:1-4.2\nUsb\n' >"$tmp/ports"
    for args in "--port USB --port usb:1-4.2" "--port $tmp/a --port USB" "--ports-from $tmp/ports"; do
      # shellcheck disable=SC2086
      timeout 30 "$bindir/plcfwupdate" $args --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
      status=$?
      [ $status -eq 2 ] || fail "'$args': exit status $status, not 2"
      grep -q 'are the same device' "$tmp/err" || fail "'$args': not refused as one PLC"
    done
    plcsim_kill "$PLCSIM_PID"
    grep -q ' 0 pages erased, 0 blocks, 0 bytes received' "$tmp/sim-a.err" ||
      fail "the PLC named twice got bytes"
    for _ in $(seq 100); do [ -d "$tmp/sys/bus/usb/devices/1-4.2" ] || break; sleep 0.05; done
    usbsim a2 1-4.2
    usbsim b 1-1
    printf 'usb:1-1\nUSB\n' >"$tmp/ports"
    for args in "--port USB --port usb:1-1" "--station --port USB --port usb:1-1" "--ports-from $tmp/ports"; do
      # shellcheck disable=SC2086
      timeout 30 "$bindir/plcfwupdate" $args --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
      status=$?
      [ $status -eq 2 ] || fail "'$args': exit status $status, not 2"
      grep -q '2 PLCs are plugged in by USB: usb:1-1 .*usb:1-4.2 .*name one with --port usb:LOCATION' \
        "$tmp/err" || fail "'$args': not refused as ambiguous"
      ! grep -q 'without an outcome' "$tmp/out" "$tmp/err" || fail "'$args': a worker without an outcome"
    done
    echo "usb twonames: one PLC named twice refused, USB among several refused as ambiguous" ;;
  hostile)
    # Files the kernel never writes, at other ports: a FIFO as an id and as a uevent, an id
    # linked to /dev/zero, a DEVNAME naming the terminal. None holds the programs up or opens
    # anything; the PLC at 1-1 is found and updated as ever.
    d=$tmp/sys/bus/usb/devices
    mkdir -p "$d/1-7" "$d/1-8/1-8:1.0/tty/ttyACM90" "$d/1-9/1-9:1.0/tty/ttyACM91" "$d/2-1"
    mkfifo "$d/1-7/idVendor"; echo 0001 >"$d/1-7/idProduct"
    ln -s /dev/zero "$d/2-1/idVendor"; echo 0001 >"$d/2-1/idProduct"
    for l in 1-8 1-9; do echo 1209 >"$d/$l/idVendor"; echo 0001 >"$d/$l/idProduct"; done
    mkfifo "$d/1-8/1-8:1.0/tty/ttyACM90/uevent"
    echo DEVNAME=tty >"$d/1-9/1-9:1.0/tty/ttyACM91/uevent"
    # A station at 1-8 reads its FIFO uevent's directory every 100 ms: it waits, as the PLC
    # there has no node it takes, and ends with its tally when stopped.
    timeout 3 "$bindir/plcfwupdate" --station --port usb:1-8 --image "$image" --yes </dev/null \
      >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 124 ] || fail "station: exit status $status, not 124 (stopped while waiting)"
    grep -q '^plcfwupdate: station: 0 done, 0 failed' "$tmp/out" || fail "station: no tally"
    grep -q 'unit 1: waiting for a PLC on usb:1-8' "$tmp/err" || fail "station: not waiting"
    # At 1-7, after 3 s, the waiting line says why the device there is not taken.
    timeout 4 "$bindir/plcfwupdate" --station --port usb:1-7 --image "$image" --yes </dev/null \
      >"$tmp/out" 2>"$tmp/err"
    grep -q 'waiting for a PLC on usb:1-7 (0 done, 0 failed): the USB device there cannot be read (idVendor: a FIFO, not a file)$' \
      "$tmp/err" || fail "station: the unreadable device not said"
    usbsim a 1-1 --flash-out "$tmp/flash-a"
    a=$PLCSIM_PID
    timeout 20 "$bindir/plcfwupdate" --port usb:1-7 --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 1 ] || fail "usb:1-7: exit status $status, not 1"
    cat "$tmp/out" "$tmp/err" | grep -q '^\[ERROR\] CANNOT open usb:1-7 Port!!!$' || fail "usb:1-7: no ERROR"
    cat "$tmp/out" "$tmp/err" |
      grep -q 'usb:1-7: the USB device at this port cannot be read (idVendor: a FIFO, not a file)$' ||
      fail "usb:1-7: not said unreadable"
    timeout 20 "$bindir/plcfwupdate" --list-ports --model RP100 >"$tmp/out" 2>"$tmp/err" ||
      fail "--list-ports: exit status $?"
    grep -q '^usb:1-8	(no serial node yet)$' "$tmp/out" && grep -q '^usb:1-9	(no serial node yet)$' "$tmp/out" ||
      fail "--list-ports: a hostile node shown"
    grep -q -E '^usb:(1-7|2-1)' "$tmp/out" && fail "--list-ports: an unreadable device listed"
    # Three PLCs are listed: the update names the one it is given.
    timeout 60 "$bindir/plcfwupdate" --port usb:1-9 --image "$image" --yes </dev/null >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 1 ] || fail "usb:1-9: exit status $status, not 1"
    timeout 60 "$bindir/plcfwupdate" --port usb:1-1 --image "$image" --yes >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ $status -eq 0 ] || fail "usb:1-1: exit status $status, not 0"
    plcsim_ended "$a" 15 || fail "the PLC at 1-1 did not end"
    flash_is_image "$tmp/flash-a" || fail "the flash at 1-1 is not the image"
    echo "usb hostile: FIFOs, links and DEVNAME=tty refused at once, the PLC at 1-1 updated" ;;
  *) fail "unknown case" ;;
esac
