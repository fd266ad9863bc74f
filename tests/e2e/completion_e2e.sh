#!/usr/bin/env bash
# The bash and zsh completions, sourced as each shell does: what they offer for a command line
# typed so far. The PowerShell completion runs under pwsh where it is installed (Debian has
# none); otherwise only its brackets are checked.
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

# A USB-attached PLC plugged into port 1-4.2, as sysfs shows it; the ids are the program's own.
sys=$(mktemp -d)
trap 'rm -rf "$sys"' EXIT
vendor=$("$bindir/plcfwupdate" --list-ports --model RP200 | grep -o 'vid_[0-9a-f]*' | cut -c5-)
mkdir -p "$sys/bus/usb/devices/1-4.2/1-4.2:1.0/tty/ttyACM5"
echo "$vendor" >"$sys/bus/usb/devices/1-4.2/idVendor"
echo 0001 >"$sys/bus/usb/devices/1-4.2/idProduct"
export PLCFW_SYSFS_ROOT=$sys

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
plcfwupdate -|_plcfwupdate|-q --quiet -v --verbose --help --port --force -p -y -V -h|NAME|PATH -P
plcfwupdate --model rp200 -p u|_plcfwupdate|USB usb:1-4.2|tcp://
plcfwupdate --model RP200 -p usb : 1-|_plcfwupdate|1-4.2|usb:1-4.2 USB
plcfwupdate --model qm2-|_plcfwupdate|QM2-E QM2-C-V2|RP200
plcfwupdate --model rp2|_plcfwupdate|RP200 RP200-AIO|QM2-E
plcfwupdate --model QM2-E --port |_plcfwupdate|tcp:// rfc2217://|USB
plcfwupdate --model = qm2-e --port |_plcfwupdate|tcp://|USB
plcfwupdate --model RP200 --port |_plcfwupdate|USB tcp://|
plcfwupdate --model rp200 --port u|_plcfwupdate|USB usb:1-4.2|tcp://
plcfwupdate --model RP200 --port usb : 1-|_plcfwupdate|1-4.2|usb:1-4.2 USB
plcsim --model qm2-e|_plcsim|QM2-E|RP200
plcsim --fault nak-b|_plcsim|nak-block:|nak:block
plcsim --fault la|_plcsim|late:|late:block --link
plcsim --fault late : bl|_plcsim|block|late:block blockx
plcsim --fault run|_plcsim|runmode runmode:|
TABLE

# zsh matches what a function offers against the word typed; compadd here prints all it is given.
zsh_offered() {
  zsh -f -c 'compadd() { local -a a; a=("$@"); print -rl -- "${(@)a[${a[(i)--]}+1,-1]}"; }
    _files() { print -r -- "<files>"; }
    words=(${=1}); [[ $1 == *" " ]] && words+=(""); CURRENT=${#words}; PREFIX=$words[CURRENT]
    source $2' _ "$1" "$here/../../packaging/completion.zsh" | tr '\n' ' ' | sed 's/^/ /'
}
if command -v zsh >/dev/null; then
  # line                                  offered                       not offered
  while IFS='|' read -r line want unwanted; do
    got=$(PATH=$bindir:$PATH zsh_offered "$line")
    for w in $want; do
      [[ $got == *" $w "* ]] || { echo "FAIL: zsh: '$line' does not offer $w:$got"; failures=$((failures + 1)); }
    done
    for w in $unwanted; do
      [[ $got != *" $w "* ]] || { echo "FAIL: zsh: '$line' offers $w:$got"; failures=$((failures + 1)); }
    done
  done <<'TABLE'
plcfwupdate -|--port --yes -q --events -p -y -V|QM2-E <files>
plcfwupdate --model RP200 -p |USB usb:1-4.2 tcp:// rfc2217://|--yes
plcfwupdate --model |QM2-E RP200|--port
plcfwupdate --model RP200 --port |USB usb:1-4.2 tcp:// rfc2217:// <files>|--yes
plcfwupdate --model QM2-E --port |tcp://|USB
plcfwupdate --image |<files>|--port
plcsim --fault n|nak: nok-block: runmode silent|nak:block --link
plcsim --fault nak:b|nak:block late:probe|--link
plcsim --start |app boot|--link
TABLE
else
  echo "completion: zsh is not installed (scripts/bootstrap test installs it): its cases skipped"
fi

ps1=$here/../../packaging/completion.ps1
if command -v pwsh >/dev/null; then
  got=$(PATH=$bindir:$PATH pwsh -NoProfile -Command ". '$ps1'
    (TabExpansion2 'plcsim --fault nak-b' 19).CompletionMatches.CompletionText
    (TabExpansion2 'plcfwupdate --model RP200 --port ' 33).CompletionMatches.CompletionText" | tr '\n' ' ')
  for w in nak-block: USB tcp://; do
    [[ " $got " == *" $w "* ]] || { echo "FAIL: pwsh does not offer $w: $got"; failures=$((failures + 1)); }
  done
else
  # Without pwsh: the brackets of the script outside its strings and comments pair up.
  python3 - "$ps1" <<'PY' || failures=$((failures + 1))
import re, sys
text = re.sub(r"#.*|'[^']*'|\"(`.|[^\"`])*\"", "", open(sys.argv[1]).read())
stack = []
for c in text:
    if c in "({[":
        stack.append(")}]"["({[".index(c)])
    elif c in ")}]" and (not stack or stack.pop() != c):
        sys.exit("FAIL: completion.ps1: an unpaired '%s'" % c)
if stack:
    sys.exit("FAIL: completion.ps1: '%s' left open" % stack[-1])
PY
fi
[ "$failures" -eq 0 ] && echo "completion: every case passed"
exit "$failures"
