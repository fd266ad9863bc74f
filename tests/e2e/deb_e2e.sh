#!/usr/bin/env bash
# The Debian packages as a user gets them: plcfwupdate and plcfwupdate-sim unpacked into one
# scratch root; each holds its own files, its copyright and a changelog of its version, and no
# file of the other; only the simulator's package holds plcsim, and neither depends on the
# other. Their plcsim and plcfwupdate then run a whole update of the embedded image over a
# pseudo-terminal, the simulator's flash is compared with the image; the manual pages and the
# completion are checked too.
#   deb_e2e.sh TOOL.deb SIM.deb EMBEDDED_IMAGE
set -uo pipefail
declare -A deb=([plcfwupdate]=$1 [plcfwupdate-sim]=$2)
image=$3
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

# The package names in a relationship field ("a (>= 1), b | c"), one a line.
relations() { dpkg-deb --field "$1" "$2" | tr ',|' '\n' | awk 'NF { print $1 }'; }

# package          its files beside /usr/share/doc/PACKAGE/copyright and changelog.Debian.gz
packages=(
  "plcfwupdate     usr/bin/plcfwupdate usr/share/man/man1/plcfwupdate.1.gz
                   usr/share/bash-completion/completions/plcfwupdate
                   usr/share/zsh/vendor-completions/_plcfwupdate usr/share/plcfwupdate/completion.ps1"
  "plcfwupdate-sim usr/bin/plcsim usr/bin/plcsim-image usr/share/man/man1/plcsim.1.gz
                   usr/share/bash-completion/completions/plcsim
                   usr/share/zsh/vendor-completions/_plcsim usr/share/plcfwupdate-sim/completion.ps1"
)
for row in "${packages[@]}"; do
  read -r -d '' name files <<<"$row"
  d=${deb[$name]}
  [ "$(dpkg-deb --field "$d" Package)" = "$name" ] || fail "$d is not the $name package"
  version=$(dpkg-deb --field "$d" Version)
  dpkg-deb -c "$d" | awk '$NF !~ /\/$/ { sub(/^\.\//, "", $NF); print $NF }' | sort >"$root/$name.files"
  doc=usr/share/doc/$name
  for f in $files $doc/copyright $doc/changelog.Debian.gz; do
    grep -qx "$f" "$root/$name.files" || fail "no $f in $name"
  done
  dpkg -x "$d" "$root" || fail "cannot unpack $d"
  [ "$(head -n 1 "$root/$doc/copyright")" = \
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "$doc/copyright is not in the machine-readable format"
  grep -q '^Copyright: .*Korvel' "$root/$doc/copyright" || fail "$doc/copyright names no copyright"
  grep -q '^License: ' "$root/$doc/copyright" || fail "$doc/copyright names no licence"
  zcat "$root/$doc/changelog.Debian.gz" >"$root/$name.changelog" || fail "$doc/changelog.Debian.gz is no gzip file"
  # dpkg-parsechangelog only warns about a malformed entry: a warning fails too.
  parsed=$(dpkg-parsechangelog -l "$root/$name.changelog" -S Version 2>"$root/$name.parse")
  [ ! -s "$root/$name.parse" ] || fail "$name's changelog: $(cat "$root/$name.parse")"
  [ "$parsed" = "$version" ] || fail "$name's changelog is for version '$parsed', the package is $version"
done
grep -q plcsim "$root/plcfwupdate.files" && fail "plcfwupdate holds $(grep plcsim "$root/plcfwupdate.files" | head -n 1)"
shared=$(comm -12 "$root/plcfwupdate.files" "$root/plcfwupdate-sim.files")
[ -z "$shared" ] || fail "both packages hold $shared"
grep -qx plcfwupdate <<<"$(relations "${deb[plcfwupdate-sim]}" Depends)" &&
  fail "plcfwupdate-sim depends on plcfwupdate"
grep -qx plcfwupdate-sim <<<"$(relations "${deb[plcfwupdate]}" Depends)" &&
  fail "plcfwupdate depends on plcfwupdate-sim"
grep -qx plcfwupdate-sim <<<"$(relations "${deb[plcfwupdate]}" Suggests)" ||
  fail "plcfwupdate does not suggest plcfwupdate-sim"

bin=$root/usr/bin
for page in plcfwupdate plcsim; do
  grep -q "^\.TH ${page^^} 1" <(zcat "$root/usr/share/man/man1/$page.1.gz") || fail "$page.1 is no manual page"
done

# Completion, each package's file on its own: models from --list-models, options from --help.
# file        the reply holds  the words so far
completions=(
  "plcfwupdate  RP200            plcfwupdate --model RP"
  "plcsim       --rfc2217        plcsim --rf"
)
for row in "${completions[@]}"; do
  read -r -a w <<<"$row"
  reply=$(PATH=$bin:$PATH bash -c 'source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "_$1" "$1"; echo "${COMPREPLY[*]}"' _ \
    "$root/usr/share/bash-completion/completions/${w[0]}" "${w[@]:2}")
  grep -qw -- "${w[1]}" <<<"$reply" || fail "'${w[*]:2}' completes to '$reply'"
done

plcsim_start "$bin/plcsim" "$root/sim.err" --model RP200 --link "$root/plc" \
  --flash-out "$root/flash.bin" || fail "plcsim made no link: $(cat "$root/sim.err")"
timeout 120 "$bin/plcfwupdate" --port "$root/plc" --yes >"$root/out" 2>&1 </dev/null
status=$?
[ "$status" -eq 0 ] || fail "plcfwupdate exited $status: $(tail -n 2 "$root/out")"
plcsim_end "$PLCSIM_PID" || fail "plcsim ended with an error: $(cat "$root/sim.err")"
sent=$(( $(stat -c %s "$image") - 4096 ))  # RP200 keeps its last 4 KiB page
cmp -s -n "$sent" "$image" "$root/flash.bin" || fail "the flash differs from the image"
echo "ok (deb): $(basename "${deb[plcfwupdate]}") and $(basename "${deb[plcfwupdate-sim]}"): $(tail -n 1 "$root/out")"
