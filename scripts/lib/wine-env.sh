# shellcheck shell=bash
# Wine and Xvfb for the end-to-end tests of the Windows programs. Sourced, not run:
#   wine_env_init NAME WORKDIR   log prefix NAME; logs and the prefix under WORKDIR (emptied);
#                                everything started here ends with the script
#   wine_env_display             an Xvfb of its own on a free display; exports DISPLAY
#   wine_env_prefix              a fresh 64-bit Wine prefix in WORKDIR/prefix, one wineserver
#                                for the whole test, the window frame drawn by Wine
#   wine_reg_import NAME         imports REGEDIT4 text from stdin (NAME names its files)
#   wine_com_port N TARGET       Wine's COMN opens TARGET (a pseudo-terminal) and is listed
#                                as a present port
#   wine_usb_device [TARGET]     the PLC's USB device interface in the registry, its device
#                                path ($WINE_USB_IFACE under dosdevices) linked to TARGET
#   background VAR CMD...        runs CMD in the background, its pid in VAR; ended at exit
#   wait_until SECONDS WHAT CMD...  runs CMD until it succeeds, or fails the test
#   log TEXT / fail TEXT         a line of the test / its failure: the last lines of every log
#                                in WORKDIR, after wine_env_on_fail when the script defines it
# Every wait is bounded.

wine_env_name=wine
wine_env_work=""
wine_env_pids=()
wine_env_xvfb=""

log() { printf '%s: %s\n' "$wine_env_name" "$*"; }

fail() {
  log "FAIL: $*"
  if declare -F wine_env_on_fail >/dev/null; then wine_env_on_fail || true; fi
  local f
  for f in "$wine_env_work"/*.log; do
    [ -s "$f" ] || continue
    log "last lines of $(basename "$f"):"
    tail -n 15 "$f" | sed 's/^/  /'
  done
  exit 1
}

wine_env_cleanup() {
  local p
  if declare -F plcsim_stop_all >/dev/null; then plcsim_stop_all; fi
  for p in "${wine_env_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # The prefix is ours alone: its wineserver and every program it still runs end with it.
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then timeout 20 wineserver -k 2>/dev/null || true; fi
  if [ -n "$wine_env_xvfb" ]; then kill "$wine_env_xvfb" 2>/dev/null || true; fi
  for p in "${wine_env_pids[@]}" $wine_env_xvfb; do wait "$p" 2>/dev/null || true; done
}

wine_env_init() {
  wine_env_name=$1
  wine_env_work=$2
  rm -rf "$wine_env_work"
  mkdir -p "$wine_env_work"
  trap wine_env_cleanup EXIT
  local tool
  for tool in wine wineboot wineserver winepath; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/bootstrap installs it)"
  done
}

background() {
  local var=$1
  shift
  "$@" &
  wine_env_pids+=("$!")
  printf -v "$var" '%s' "$!"
}

wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "no $what within $seconds s"
    sleep 0.3
  done
}

wine_env_display() {
  command -v Xvfb >/dev/null || fail "Xvfb is missing (scripts/bootstrap installs it)"
  command -v xdotool >/dev/null || fail "xdotool is missing (scripts/bootstrap installs it)"
  local n display=""
  for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || fail "no free X display number"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$wine_env_work/xvfb.log" 2>&1 &
  wine_env_xvfb=$!
  export DISPLAY=$display
  local _
  for _ in $(seq 1 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    kill -0 "$wine_env_xvfb" 2>/dev/null || fail "Xvfb did not start on $display"
    sleep 0.2
  done
  fail "Xvfb on $display does not answer"
}

wine_env_prefix() {
  export WINEPREFIX=$wine_env_work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  log "creating the Wine prefix"
  timeout 240 wineboot -i >"$wine_env_work/wineboot.log" 2>&1 || fail "wineboot did not finish within 240 s"
  timeout 60 wineserver -w || true
  wineserver -p >"$wine_env_work/wineserver.out" 2>&1  # one server for the whole test
  # There is no window manager: Wine draws the window frame itself.
  wine_reg_import frame <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
REG
}

wine_reg_import() {
  local file=$wine_env_work/reg-$1.reg
  cat >"$file"
  timeout 60 wine reg import "$(winepath -w "$file" 2>/dev/null)" >"$wine_env_work/reg-$1.out" 2>&1 ||
    fail "the registry settings $1 were not imported"
}

wine_com_port() {
  local n=$1 target=$2
  ln -sfn "$(readlink -f "$target")" "$WINEPREFIX/dosdevices/com$n"
  wine_reg_import "com$n" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\ROOT\\PORTS\\$(printf '%04d' "$n")]
"ClassGUID"="{4D36E978-E325-11CE-BFC1-08002BE10318}"
"Class"="Ports"
"DeviceDesc"="Communications Port"
"FriendlyName"="Communications Port (COM$n)"
REG
}

# wine_usb_device TARGET: the PLC's USB device interface (vid 1209, pid 0001) in the registry,
# its device path a link to TARGET (a simulator's pseudo-terminal), as an attached PLC shows up.
WINE_USB_CLASS="{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
WINE_USB_IFACE="usb#vid_1209&pid_0001#0001#$WINE_USB_CLASS"
wine_usb_device() {
  local c=$WINE_USB_CLASS
  wine_reg_import usb <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$c\\##?#USB#VID_1209&PID_0001#0001#$c]
"DeviceInstance"="USB\\\\VID_1209&PID_0001\\\\0001"

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$c\\##?#USB#VID_1209&PID_0001#0001#$c\\#]
"SymbolicLink"="\\\\\\\\?\\\\USB#VID_1209&PID_0001#0001#$c"

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$c\\##?#USB#VID_1209&PID_0001#0001#$c\\#\\Control]
"Linked"=dword:00000001

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_0001\\0001]
"ClassGUID"="{88BAE032-5A81-49F0-BC3D-A4FF138216D6}"
"DeviceDesc"="Korvel PLC"
"LocationInformation"="Port_#0002.Hub_#0001"
REG
  [ -z "${1:-}" ] || ln -sfn "$(readlink -f "$1")" "$WINEPREFIX/dosdevices/$WINE_USB_IFACE"
}
