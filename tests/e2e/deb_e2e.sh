#!/usr/bin/env bash
# The Debian package as a user gets it: unpacked into a scratch root, its plcsim and
# plcfwupdate run a whole update of the embedded image over a pseudo-terminal, the simulator's
# flash is compared with the image; the manual pages and the completion are checked too.
#   deb_e2e.sh PACKAGE.deb EMBEDDED_IMAGE
set -uo pipefail
deb=$1 image=$2
# shellcheck source=scripts/lib/plcsim.sh
. "$(dirname "$0")/../../scripts/lib/plcsim.sh"
root=$(mktemp -d)
cleanup() {
  plcsim_stop_all
  rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL (deb): $*" >&2; exit 1; }

# No "| grep -q" under pipefail: grep's early exit would fail the writer with SIGPIPE.
[ "$(dpkg-deb --field "$deb" Package)" = plcfwupdate ] || fail "not the plcfwupdate package"
dpkg -x "$deb" "$root" || fail "cannot unpack $deb"
bin=$root/usr/bin
for f in usr/bin/plcfwupdate usr/bin/plcsim usr/share/man/man1/plcfwupdate.1.gz \
         usr/share/man/man1/plcsim.1.gz usr/share/bash-completion/completions/plcfwupdate \
         usr/share/bash-completion/completions/plcsim; do
  [ -e "$root/$f" ] || fail "no $f in the package"
done
for page in plcfwupdate plcsim; do
  grep -q "^\.TH ${page^^} 1" <(zcat "$root/usr/share/man/man1/$page.1.gz") || fail "$page.1 is no manual page"
done

# Completion: options from --help, models from plcsim --list-models.
models=$(PATH=$bin:$PATH bash -c '
  source "$1"
  COMP_WORDS=(plcfwupdate --model RP); COMP_CWORD=2; _plcfwupdate plcfwupdate; echo "${COMPREPLY[*]}"
  COMP_WORDS=(plcsim --rf); COMP_CWORD=1; _plcsim plcsim; echo "${COMPREPLY[*]}"' _ \
  "$root/usr/share/bash-completion/completions/plcsim")
echo "$models" | head -n 1 | grep -qw RP200 || fail "--model completes to '$(echo "$models" | head -n 1)'"
echo "$models" | tail -n 1 | grep -qx -- --rfc2217 || fail "plcsim --rf completes to '$(echo "$models" | tail -n 1)'"

plcsim_start "$bin/plcsim" "$root/sim.err" --model RP200 --link "$root/plc" \
  --flash-out "$root/flash.bin" || fail "plcsim made no link: $(cat "$root/sim.err")"
timeout 120 "$bin/plcfwupdate" --port "$root/plc" --yes >"$root/out" 2>&1 </dev/null
status=$?
[ "$status" -eq 0 ] || fail "plcfwupdate exited $status: $(tail -n 2 "$root/out")"
plcsim_end "$PLCSIM_PID" || fail "plcsim ended with an error: $(cat "$root/sim.err")"
sent=$(( $(stat -c %s "$image") - 4096 ))  # RP200 keeps its last 4 KiB page
cmp -s -n "$sent" "$image" "$root/flash.bin" || fail "the flash differs from the image"
echo "ok (deb): $(basename "$deb"): $(tail -n 1 "$root/out")"
