# shellcheck shell=bash
# plcsim for the scripts and the end-to-end tests. Sourced, not run; every wait is bounded.
#   plcsim_start BIN LOG ARGS...   starts BIN (a plcsim) with ARGS, its output into LOG, and
#                                  waits until it serves: the --link PATH exists, or LOG names
#                                  the tcp:// or rfc2217:// port (--tcp 0 and --rfc2217 0 take a
#                                  free one). Sets PLCSIM_PID and PLCSIM_PORT (what a host
#                                  opens). Fails, the simulator ended, when it has not started
#                                  within PLCSIM_START_SECONDS (default 10)
#   plcsim_ended PID [SECONDS]     true once it has ended by itself, within SECONDS (default 10)
#   plcsim_end PID [SECONDS]       as plcsim_ended, then SIGTERM if it still runs; returns its
#                                  exit status
#   plcsim_kill PID [SIGNAL]       ends it now (default TERM); quiet when it has already ended
#   plcsim_stop_all                ends every simulator started here that still runs (for an
#                                  EXIT trap); never fails
#   plcsim_scratch                 a scratch folder for a test in $tmp; when the script ends,
#                                  every simulator started here is stopped and the folder removed

PLCSIM_PIDS=()
PLCSIM_PID=""
PLCSIM_PORT=""

plcsim_forget() {
  local p keep=()
  for p in "${PLCSIM_PIDS[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
  PLCSIM_PIDS=("${keep[@]}")
}

plcsim_start() {
  local bin=$1 log=$2
  shift 2
  local a prev="" link="" net=""
  for a in "$@"; do
    case $prev in
      --link) link=$a ;;
      --tcp | --rfc2217) net=${prev#--} ;;
    esac
    prev=$a
  done
  # Emptied here, not only in the child: a log or a link of an earlier run must not be taken
  # for this one's.
  : >"$log"
  [ -z "$link" ] || rm -f "$link"
  "$bin" "$@" >"$log" 2>&1 &
  PLCSIM_PID=$!
  PLCSIM_PIDS+=("$PLCSIM_PID")
  PLCSIM_PORT=""
  local deadline=$((SECONDS + ${PLCSIM_START_SECONDS:-10}))
  while :; do
    if [ -n "$net" ]; then
      PLCSIM_PORT=$(grep -o -m1 "$net://127\.0\.0\.1:[0-9]*" "$log" 2>/dev/null || true)
    elif [ -e "$link" ]; then
      PLCSIM_PORT=$link
    fi
    [ -n "$PLCSIM_PORT" ] && return 0
    if ! kill -0 "$PLCSIM_PID" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
      plcsim_kill "$PLCSIM_PID"
      return 1
    fi
    sleep 0.02
  done
}

plcsim_ended() {
  local deadline=$((SECONDS + ${2:-10}))
  while kill -0 "$1" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

plcsim_end() {
  local status=0
  plcsim_ended "$1" "${2:-10}" || kill -TERM "$1" 2>/dev/null || true
  wait "$1" || status=$?
  plcsim_forget "$1"
  return $status
}

plcsim_kill() {
  kill -"${2:-TERM}" "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  plcsim_forget "$1"
}

plcsim_stop_all() {
  local p
  for p in "${PLCSIM_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${PLCSIM_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  PLCSIM_PIDS=()
}

plcsim_scratch() {
  tmp=$(mktemp -d)
  trap 'plcsim_stop_all; rm -rf "$tmp"' EXIT
}
