#!/usr/bin/env bash
# --help, the manual pages and the user documentation (README.md and docs/*.md, whichever exist)
# say the same: --help of both programs fits an 80-column terminal; the options that --help lists
# are the options that the manual page describes; plcfwupdate's exit statuses are the same list
# in --help, the manual page and the documentation; the station's silence (milliseconds over
# looks) is the same number wherever it is given. options_doc_e2e.sh BINDIR
set -euo pipefail
bindir=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
pages=$root/packaging
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

help_options() {
  "$bindir/$1" --help | awk '/^  -/ {
    sub(/^  /, ""); split($0, head, /  +/); n = split(head[1], w, /[ ,]+/)
    for (i = 1; i <= n; i++) if (w[i] ~ /^-/) print w[i] }' | sort -u
}

# The heads of the OPTIONS section: the line after each .TP.
page_options() {
  awk '/^\.SH/ { inside = ($2 == "OPTIONS") } inside && tp { print } { tp = /^\.TP/ }' "$pages/$1.1" |
    sed 's/\\-/-/g; s/\\f[A-Z]//g' | grep -oE '(^|[ "])--?[a-zA-Z0-9][a-zA-Z0-9-]*' | tr -d ' "' | sort -u
}

# Text without roff's escapes and fonts, its lines joined: numbers broken over lines are found.
plain() { sed 's/\\-/-/g; s/\\f[A-Z]//g; s/^\.[A-Z]* //; s/"//g' "$@" | tr '\n' ' '; }

docs=("$root/README.md")
for f in "$root"/docs/*.md; do [ -e "$f" ] && docs+=("$f"); done

for program in plcfwupdate plcsim; do
  wide=$("$bindir/$program" --help | awk 'length($0) > 80 { n++ } END { print n + 0 }')
  [ "$wide" -eq 0 ] || fail "$program --help: $wide lines wider than 80 columns"
  if ! diff <(help_options "$program") <(page_options "$program") >"$tmp/diff"; then
    fail "$program --help (<) and $program.1 (>) list other options:"
    cat "$tmp/diff"
  fi
done

# The documentation's plcfwupdate and plcsim command lines use only the options --help lists,
# and the documentation names every option of plcfwupdate somewhere.
for program in plcfwupdate plcsim; do
  help_options "$program" >"$tmp/$program.options"
  cat "${docs[@]}" | grep -E "^(\\$ |sudo |)$program " | sed 's/#.*//' |
    { grep -oE ' --?[a-zA-Z][a-zA-Z0-9-]*' || true; } | tr -d ' ' | sort -u >"$tmp/used" || true
  unknown=$(comm -23 "$tmp/used" "$tmp/$program.options" | paste -sd' ' -)
  [ -z "$unknown" ] || fail "the documentation runs $program with options --help does not list: $unknown"
done
# Each option line of --help ("-q, --quiet") is named by either of its spellings.
unnamed=$("$bindir/plcfwupdate" --help | awk '/^  -/ { sub(/^  /, ""); split($0, head, /  +/)
    n = split(head[1], w, /[ ,]+/); line = ""
    for (i = 1; i <= n; i++) if (w[i] ~ /^-/) line = line " " w[i]; print line }' |
  while read -r -a spellings; do
    named=0
    for option in "${spellings[@]}"; do
      grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|$)" "${docs[@]}" && named=1
    done
    [ "$named" -eq 1 ] || printf '%s ' "${spellings[*]}"
  done)
[ -z "$unnamed" ] || fail "the documentation never names these options of plcfwupdate: $unnamed"

# Exit statuses: the heads of --help's "Exit status:" list; the .B/.BR heads of the manual
# page's EXIT STATUS section; in a markdown file, the numbers of its section on exit statuses
# (a heading that names them), if it has one.
"$bindir/plcfwupdate" --help | awk '/^Exit status:/ { on = 1; next } on && /^  [0-9]/ { print $1 }' |
  sort -n >"$tmp/help.status"
awk '/^\.SH/ { on = ($0 ~ /EXIT STATUS/) } on && /^\.BR? [0-9]/' "$pages/plcfwupdate.1" |
  grep -oE '\b[0-9]+\b' | sort -n >"$tmp/page.status"
diff "$tmp/help.status" "$tmp/page.status" >"$tmp/diff" ||
  { fail "exit statuses: --help (<) and plcfwupdate.1 (>) differ:"; cat "$tmp/diff"; }
for doc in "${docs[@]}"; do
  awk '/^#/ { on = tolower($0) ~ /exit status/; next } on' "$doc" |
    { grep -oE '(^|[^0-9.,])(0|1|2|3|4|129|13[0-9]|14[0-3])\b' || true; } | grep -oE '[0-9]+' | sort -nu >"$tmp/doc.status" || true
  [ -s "$tmp/doc.status" ] || continue
  diff "$tmp/help.status" "$tmp/doc.status" >"$tmp/diff" ||
    { fail "exit statuses: --help (<) and $(basename "$doc") (>) differ:"; cat "$tmp/diff"; }
done

# The station's silence: "N ms over M looks", M in digits or words.
silence() {
  { grep -oiE '[0-9]+ ms over (a |)[a-z0-9]+ looks' || true; } |
    sed 's/ over / /; s/ looks//; s/ two$/ 2/; s/ three$/ 3/; s/ four$/ 4/; s/ five$/ 5/; s/ six$/ 6/;
         s/ seven$/ 7/; s/ eight$/ 8/' | sort -u
}
"$bindir/plcfwupdate" --help | tr '\n' ' ' | tr -s ' ' | silence >"$tmp/help.silence"
[ -s "$tmp/help.silence" ] || fail "--help gives no station silence (N ms over M looks)"
for doc in "$pages/plcfwupdate.1" "${docs[@]}"; do
  plain "$doc" | tr -s ' ' | silence >"$tmp/doc.silence" || true
  [ -s "$tmp/doc.silence" ] || continue
  diff "$tmp/help.silence" "$tmp/doc.silence" >"$tmp/diff" ||
    { fail "station silence: --help (<) and $(basename "$doc") (>) differ:"; cat "$tmp/diff"; }
done

[ "$status" -eq 0 ] && echo "options: --help fits 80 columns and agrees with the manual pages and the documentation"
exit "$status"
