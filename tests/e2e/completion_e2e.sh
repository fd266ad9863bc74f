#!/usr/bin/env bash
# The bash completion, sourced as bash does: what it offers for a command line typed so far.
# completion_e2e.sh BINDIR
set -euo pipefail
bindir=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=packaging/completion.bash
. "$here/../../packaging/completion.bash"

failures=0
# offered LINE FUNCTION: the words offered for the last word of LINE (a trailing space: a new word).
offered() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  "$2" "$bindir/${COMP_WORDS[0]}"
  printf ' %s ' "${COMPREPLY[@]}"
}

# line                                        function        offered   not offered
while IFS='|' read -r line fn want unwanted; do
  got=$(offered "$line" "$fn")
  for w in $want; do
    [[ $got == *" $w "* ]] || { echo "FAIL: '$line' does not offer $w:$got"; failures=$((failures + 1)); }
  done
  for w in $unwanted; do
    [[ $got != *" $w "* ]] || { echo "FAIL: '$line' offers $w:$got"; failures=$((failures + 1)); }
  done
done <<'TABLE'
plcfwupdate -|_plcfwupdate|-q --quiet -v --verbose --help --port --force|NAME|PATH
plcfwupdate --model qm2-|_plcfwupdate|QM2-E QM2-C-V2|RP200
plcfwupdate --model rp2|_plcfwupdate|RP200 RP200-AIO|QM2-E
plcfwupdate --model QM2-E --port |_plcfwupdate|tcp:// rfc2217://|USB
plcfwupdate --model = qm2-e --port |_plcfwupdate|tcp://|USB
plcfwupdate --model RP200 --port |_plcfwupdate|USB tcp://|
plcfwupdate --model rp200 --port u|_plcfwupdate|USB|tcp://
plcsim --model qm2-e|_plcsim|QM2-E|RP200
TABLE
[ "$failures" -eq 0 ] && echo "completion: every case passed"
exit "$failures"
