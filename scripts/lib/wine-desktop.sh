# shellcheck shell=bash
# The Wine desktop as the GUI end-to-end test sees it: the windows and their texts (listed by
# our wintexts.exe, set in WINTEXTS), clicks, keys and screenshots. Sourced after wine-env.sh:
#   windows                          every visible window, one wintexts line each, and children
#   window_block PATTERN LISTING     the top-level window whose line matches, with its children
#   top_window_up CLASS TITLE        a visible top-level window of that class and title
#   message_box CAPTION TEXT         a box of that caption shows TEXT (a part of it)
#   no_message_box                   no message box or file dialog is open
#   click_line LINE                  clicks the centre of a wintexts line
#   press_box_button CAPTION BUTTON  clicks the button of that box (its text, "&" included)
#   window_geometry LINES            the rectangle around the windows of these wintexts lines,
#                                    as WxH+X+Y
#   screenshot FILE [GEOMETRY]       the screen, or a part of it, into FILE
#   wine_env_on_fail                 lists the desktop's windows when a test fails

windows() { timeout 30 wine "$WINTEXTS" 2>/dev/null | tr -d '\r'; }

window_block() {
  awk -v pat="$1" '/^window /{on = ($0 ~ pat)} on' <<<"$2"
}

top_window_up() {
  local w
  w=$(windows)
  grep -q "^window .*class=\"$1\" text=\"$2\" visible" <<<"$w"
}

message_box() {
  local block
  block=$(window_block "class=\"#32770\" text=\"$1\" visible" "$(windows)")
  [[ $(grep -v '^window ' <<<"$block") == *"$2"* ]]
}

no_message_box() {
  local w
  w=$(windows)
  ! grep -q '^window .*class="#32770"' <<<"$w"
}

click_line() {
  local xy
  xy=$(sed -n 's/.* at=\([0-9-]*\),\([0-9-]*\).*/\1 \2/p' <<<"$1" | head -n 1)
  [ -n "$xy" ] || fail "no position in: $1"
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
}

press_box_button() {
  local block line
  block=$(window_block "class=\"#32770\" text=\"$1\" visible" "$(windows)")
  line=$(grep -m1 "class=\"Button\" text=\"$2\"" <<<"$block" || true)
  [ -n "$line" ] || fail "no $2 button in the \"$1\" box"
  click_line "$line"
}

window_geometry() {
  local box
  box=$(sed -n 's/.* rect=\([0-9-]*\),\([0-9-]*\),\([0-9-]*\),\([0-9-]*\).*/\1 \2 \3 \4/p' <<<"$1" |
    awk 'NR == 1 || $1 < l { l = $1 } NR == 1 || $2 < t { t = $2 }
         NR == 1 || $3 > r { r = $3 } NR == 1 || $4 > b { b = $4 }
         END { if (NR) printf "%dx%d+%d+%d", r - l, b - t, l, t }')
  [ -n "$box" ] || fail "no rectangle in: $1"
  echo "$box"
}

screenshot() {
  local file=$1 geometry=${2:-}
  command -v import >/dev/null || fail "ImageMagick's import is missing (scripts/bootstrap installs it)"
  if [ -z "$geometry" ]; then
    timeout 30 import -window root "$file" 2>/dev/null || fail "no screenshot $file"
  else
    timeout 30 import -window root -crop "$geometry" +repage "$file" 2>/dev/null ||
      fail "no screenshot $file of $geometry"
  fi
}

wine_env_on_fail() {
  [ -n "${DISPLAY:-}" ] && [ -x "${WINTEXTS:-}" ] || return 0
  log "windows on the desktop:"
  windows | grep -v '^    item' | sed 's/^/  /'
}
