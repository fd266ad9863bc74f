#!/usr/bin/env bash
# The options that --help lists are the options that the manual page describes, for both
# programs. options_doc_e2e.sh BINDIR
set -euo pipefail
bindir=$1
pages=$(cd "$(dirname "$0")/../../packaging" && pwd)

help_options() {
  "$bindir/$1" --help | awk '/^  -/ {
    sub(/^  /, ""); split($0, head, /  +/); n = split(head[1], w, /[ ,]+/)
    for (i = 1; i <= n; i++) if (w[i] ~ /^-/) print w[i] }' | sort -u
}

# The heads of the OPTIONS section: the line after each .TP.
page_options() {
  awk '/^\.SH/ { inside = ($2 == "OPTIONS") } inside && tp { print } { tp = /^\.TP/ }' "$pages/$1.1" |
    sed 's/\\-/-/g; s/\\f[A-Z]//g' | grep -oE '(^|[ "])--?[a-z0-9][a-z0-9-]*' | tr -d ' "' | sort -u
}

status=0
for program in plcfwupdate plcsim; do
  if ! diff <(help_options "$program") <(page_options "$program") >/tmp/options_doc.$$; then
    echo "FAIL: $program --help (<) and $program.1 (>) list other options:"
    cat /tmp/options_doc.$$
    status=1
  fi
done
rm -f /tmp/options_doc.$$
[ "$status" -eq 0 ] && echo "options: --help and the manual pages agree"
exit "$status"
