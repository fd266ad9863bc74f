#!/usr/bin/env bash
# The Windows installer as an IT department deploys it, under Wine and Xvfb in a fresh prefix:
# an older MSI, then the current one signed with a throwaway certificate made here.
#   tests/e2e/msi_e2e.sh        (after scripts/build native windows; builds the packages itself)
# Packages: the three programs carry their version resource; osslsigncode verifies the
# signatures of the MSI, of the programs inside it and of those in the zip.
# Wine: msiexec /i /qn installs into Program Files with Start-menu entries (the window, the bench
# window) and the folder on the system PATH; the current MSI replaces the older one (one product
# left, the new version); the installed console program, found on the PATH, runs a whole update
# through COM5 into plcsim, then three at once on COM5 to COM7 with COM6's flash write-protected,
# then one through rfc2217:// into plcsim serving a local port; the installed window opens; msiexec
# /x /qn leaves nothing in Program Files, the Start menu or the PATH. Then the MSI of a build for a
# COM-port model (QM2-E): its installed window updates a PLC through COM5. Every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
# shellcheck source=scripts/lib/wine-env.sh
. "$ROOT/scripts/lib/wine-env.sh"
WINTEXTS=$ROOT/build/windows/bin/wintexts.exe
# shellcheck source=scripts/lib/wine-desktop.sh
. "$ROOT/scripts/lib/wine-desktop.sh"
wine_env_init msi-e2e "$ROOT/build/msi-e2e"
WORK=$wine_env_work
PLCSIM=$ROOT/build/native/bin/plcsim
OLD_VERSION=0.9.0
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$ROOT/build/windows/CMakeCache.txt")
TITLE="Korvel PLC Firmware Update Program"
PRODUCT="Korvel PLC Firmware Update"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
ENV_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
for tool in wixl msibuild msiinfo msiextract osslsigncode openssl python3 cmp; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/bootstrap installs it)"
done
[ -x "$PLCSIM" ] && [ -x "$WINTEXTS" ] && [ -n "$VERSION" ] ||
  fail "build the native and the Windows programs first (scripts/build native windows)"

# --- packages -------------------------------------------------------------------------------
log "packages: MSI $OLD_VERSION, then $VERSION signed"
PLCFW_MSI_VERSION=$OLD_VERSION scripts/package msi >"$WORK/package-old.log" 2>&1 ||
  fail "scripts/package msi ($OLD_VERSION) failed"
OLD_MSI=$WORK/old.msi
cp "build/packages/plcfwupdate-$OLD_VERSION-windows-x86_64.msi" "$OLD_MSI"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/key.pem" -out "$WORK/cert.pem" -days 2 \
  -subj "/O=Korvel/CN=Korvel test code signing" -addext "extendedKeyUsage=codeSigning" \
  >"$WORK/openssl.log" 2>&1 || fail "openssl made no certificate"
openssl pkcs12 -export -in "$WORK/cert.pem" -inkey "$WORK/key.pem" -out "$WORK/sign.pfx" \
  -passout pass:throwaway-password >>"$WORK/openssl.log" 2>&1 || fail "openssl made no PFX"
PLCFW_SIGN_PFX=$WORK/sign.pfx PLCFW_SIGN_PASSWORD=throwaway-password scripts/package zip msi \
  >"$WORK/package.log" 2>&1 || fail "scripts/package zip msi (signed) failed"
MSI=$ROOT/build/packages/plcfwupdate-$VERSION-windows-x86_64.msi
ZIP=$ROOT/build/packages/plcfwupdate-$VERSION-windows-x86_64.zip
mkdir -p "$WORK/msi" "$WORK/zip"
(cd "$WORK/msi" && msiextract "$MSI" >/dev/null) || fail "msiextract cannot read $MSI"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$ZIP" "$WORK/zip"
mapfile -t readmes < <(find "$WORK/msi" "$WORK/zip" -name README.txt)
[ ${#readmes[@]} -eq 2 ] || fail "the MSI and the zip do not hold the read-me once each"
for f in "${readmes[@]}"; do
  # Notepad before Windows 10 shows a read-me of bare LF line ends as one line.
  [ -s "$f" ] && [ "$(grep -c $'\r$' "$f")" -eq "$(wc -l <"$f")" ] || fail "$f has lines not ended by CRLF"
done
mapfile -t signed < <(echo "$MSI"; find "$WORK/msi" "$WORK/zip" -name '*.exe')
[ ${#signed[@]} -eq 7 ] || fail "the MSI and the zip do not hold the three programs once each"
for f in "${signed[@]}"; do
  osslsigncode verify -CAfile "$WORK/cert.pem" -in "$f" >"$WORK/verify.log" 2>&1 ||
    fail "the signature of $f does not verify"
  grep -q "Korvel test code signing" "$WORK/verify.log" || fail "$f is not signed by the test certificate"
done
# The version resource: its strings are UTF-16, each value after its name.
for f in "${signed[@]:1}"; do
  strings -el "$f" | tr '\n' '|' >"$WORK/strings.log"
  for pair in "CompanyName|Korvel" "ProductName|$PRODUCT" "FileVersion|$VERSION" \
    "OriginalFilename|$(basename "$f")"; do
    grep -qF "|$pair|" "$WORK/strings.log" || fail "$f: no version resource value $pair"
  done
done
log "packages: signatures of the MSI and of the three programs verify; version resources $VERSION, Korvel"

# --- Wine: install, upgrade -----------------------------------------------------------------
wine_env_display
wine_env_prefix
INSTALLED="$WINEPREFIX/drive_c/Program Files/Korvel/PLC Firmware Update"

msiexec() {
  local name=$1
  shift
  status=0
  timeout 240 wine msiexec "$@" /qn /l*v "$(winepath -w "$WORK/$name-msi.txt" 2>/dev/null)" \
    >"$WORK/$name-msiexec.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "msiexec $* exited $status (its log: $WORK/$name-msi.txt)"
}

product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }

# The products of ours that Windows lists under Uninstall: "CODE VERSION" lines.
products() {
  local code
  wine reg query "$UNINSTALL_KEY" 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-F-]*}$' | while read -r code; do
    wine reg query "$UNINSTALL_KEY\\$code" 2>/dev/null | tr -d '\r' |
      awk -v c="$code" -v p="$PRODUCT" '$1 == "DisplayName" { n = substr($0, index($0, $3)) }
        $1 == "DisplayVersion" { v = $3 } END { if (n == p) print c, v }'
  done
}

system_path() { wine reg query "$ENV_KEY" /v PATH 2>/dev/null | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'; }
on_path() { system_path | tr ';' '\n' | grep -cixF 'C:\Program Files\Korvel\PLC Firmware Update\' || true; }
shortcut() { find "$WINEPREFIX/drive_c" -name "$PRODUCT.lnk" 2>/dev/null; }
bench_shortcut() { find "$WINEPREFIX/drive_c" -name "Korvel PLC Firmware Bench.lnk" 2>/dev/null; }

msiexec install-old /i "$(winepath -w "$OLD_MSI" 2>/dev/null)"
[ "$(products)" = "$(product_code "$OLD_MSI") $OLD_VERSION" ] || fail "after the install: products '$(products)'"
for f in plcfwupdate.exe plcfwupdate-cli.exe README.txt; do
  [ -f "$INSTALLED/$f" ] || fail "no $f in Program Files after the install"
done
# Windows puts a per-machine entry into the Start menu of all users; Wine's msi into that of the
# user who installs.
[[ $(shortcut) == */"Start Menu"/Programs/"$PRODUCT.lnk" ]] || fail "no Start-menu entry: '$(shortcut)'"
[ "$(on_path)" -eq 1 ] || fail "the program's folder is not on the system PATH: $(system_path)"
log "install: $OLD_VERSION into Program Files, Start-menu entry, on the PATH"

msiexec upgrade /i "$(winepath -w "$MSI" 2>/dev/null)"
[ "$(products)" = "$(product_code "$MSI") $VERSION" ] || fail "after the upgrade: products '$(products)'"
cmp -s "$INSTALLED/plcfwupdate-cli.exe" "$(find "$WORK/msi" -name plcfwupdate-cli.exe)" ||
  fail "the installed console program is not the new one"
[ "$(on_path)" -eq 1 ] || fail "after the upgrade the folder is on the PATH $(on_path) times: $(system_path)"
[ -n "$(shortcut)" ] || fail "no Start-menu entry after the upgrade"
[ -f "$INSTALLED/plcfwbench.exe" ] || fail "no plcfwbench.exe in Program Files"
[[ $(bench_shortcut) == */"Start Menu"/Programs/"Korvel PLC Firmware Bench.lnk" ]] ||
  fail "no Start-menu entry of the bench window: '$(bench_shortcut)'"
log "upgrade: $VERSION replaced $OLD_VERSION (one product, the new files, one PATH entry)"

# --- the installed programs -----------------------------------------------------------------
status=0
# The name alone: a new process finds it through the PATH.
timeout 60 wine plcfwupdate-cli.exe --version </dev/null >"$WORK/version.raw" 2>&1 || status=$?
tr -d '\r' <"$WORK/version.raw" >"$WORK/version.log"
[ "$status" -eq 0 ] && grep -qx "plcfwupdate $VERSION" "$WORK/version.log" ||
  fail "plcfwupdate-cli.exe is not found on the PATH (exit $status)"

image=$WORK/QM2-E_v1.0.0_20240103_01.bin
head -c 65536 /dev/urandom >"$image"
background sim_pid "$PLCSIM" --model QM2-E --link "$WORK/plc" --flash-out "$WORK/flash.bin" \
  >"$WORK/sim.log" 2>&1
wait_until 20 "plcsim's link" test -e "$WORK/plc"
wine_com_port 5 "$WORK/plc"
status=0
timeout 240 wine "$INSTALLED/plcfwupdate-cli.exe" --port COM5 --image "$(winepath -w "$image" 2>/dev/null)" \
  --yes </dev/null >"$WORK/update.raw" 2>&1 || status=$?
tr -d '\r' <"$WORK/update.raw" >"$WORK/update.log"
[ "$status" -eq 0 ] || fail "the installed console program's update exited $status"
grep -qxF "[INFORMATION] Firmware update is SUCCESSFUL" "$WORK/update.log" || fail "no success message"
sim_ended() { ! kill -0 "$sim_pid" 2>/dev/null; }
wait_until 20 "the end of plcsim after the update" sim_ended
cmp -s "$image" "$WORK/flash.bin" || fail "the simulator's flash differs from the image"
log "installed console program: a whole update through COM5, the flash equals the image"

# Three PLCs at once on COM5, COM6 and COM7, the one on COM6 with a write-protected flash.
for n in 5 6 7; do
  fault=()
  [ $n = 6 ] && fault=(--fault nok-block:10)
  rm -f "$WORK/plc$n"
  background "sim$n" "$PLCSIM" --model QM2-E --link "$WORK/plc$n" --flash-out "$WORK/flash$n.bin" \
    "${fault[@]}" >"$WORK/sim$n.log" 2>&1
done
for n in 5 6 7; do
  wait_until 20 "plcsim's link $n" test -e "$WORK/plc$n"
  wine_com_port "$n" "$WORK/plc$n"
done
status=0
timeout 240 wine "$INSTALLED/plcfwupdate-cli.exe" --port COM5 --port COM6 --port COM7 \
  --image "$(winepath -w "$image" 2>/dev/null)" --yes </dev/null >"$WORK/several.raw" 2>&1 || status=$?
tr -d '\r' <"$WORK/several.raw" >"$WORK/several.log"
[ "$status" -eq 1 ] || fail "three ports, one faulted: exit $status, expected 1"
grep -q '^COM6 .* FAILED .*\[ERROR\] Flash write error' "$WORK/several.log" || fail "COM6's row does not say FAILED"
for n in 5 7; do
  grep -q "^COM$n .* succeeded .*SUCCESSFUL\$" "$WORK/several.log" || fail "COM$n's row does not say succeeded"
  sim=sim$n
  wait_until 20 "the end of plcsim on COM$n" eval "! kill -0 ${!sim} 2>/dev/null"
  cmp -s "$image" "$WORK/flash$n.bin" || fail "the flash on COM$n differs from the image"
done
kill "$sim6" 2>/dev/null || true
log "installed console program: three ports at once, COM6 FAILED (write-protected), COM5 and COM7 equal to the image"

# Through a serial device server that speaks RFC 2217 (plcsim plays one on a free local port).
background net_sim "$PLCSIM" --model QM2-E --rfc2217 0 --flash-out "$WORK/flash-net.bin" >"$WORK/sim-net.log" 2>&1
net_port() { grep -q -m1 'rfc2217://127\.0\.0\.1:[0-9]*' "$WORK/sim-net.log"; }
wait_until 20 "plcsim's network port" net_port
port=$(grep -o -m1 'rfc2217://127\.0\.0\.1:[0-9]*' "$WORK/sim-net.log")
status=0
timeout 120 wine "$INSTALLED/plcfwupdate-cli.exe" --port "$port" --image "$(winepath -w "$image" 2>/dev/null)" \
  --yes </dev/null >"$WORK/net.raw" 2>&1 || status=$?
tr -d '\r' <"$WORK/net.raw" >"$WORK/net.log"
[ "$status" -eq 0 ] || fail "the installed console program's update through $port exited $status"
grep -qxF "[INFORMATION] Firmware update is SUCCESSFUL" "$WORK/net.log" || fail "no success message through $port"
wait_until 20 "the end of plcsim after the network update" eval '! kill -0 "$net_sim" 2>/dev/null'
cmp -s "$image" "$WORK/flash-net.bin" || fail "the flash written through $port differs from the image"
log "installed console program: a whole update through $port, the flash equals the image"

background window_pid wine "$INSTALLED/plcfwupdate.exe" >"$WORK/window.log" 2>&1
wait_until 60 "the installed window \"$TITLE\"" top_window_up WindowsApp "$TITLE"
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
log "installed window: opens"

# --- uninstall ------------------------------------------------------------------------------
msiexec uninstall /x "$(winepath -w "$MSI" 2>/dev/null)"
left=$(find "$WINEPREFIX/drive_c/Program Files" "$WINEPREFIX/drive_c/Program Files (x86)" -iname '*korvel*' 2>/dev/null)
[ -z "$left" ] || fail "left in Program Files after the uninstall: $left"
[ -z "$(shortcut)$(bench_shortcut)" ] || fail "a Start-menu entry is left: $(shortcut)$(bench_shortcut)"
[ "$(on_path)" -eq 0 ] || fail "the folder is still on the PATH: $(system_path)"
[ -z "$(products)" ] || fail "still listed after the uninstall: $(products)"
log "uninstall: nothing left in Program Files, the Start menu, the PATH or the product list"

# --- the window of a COM-port model, installed -------------------------------------------------
# The MSI carries the image it was built with: one built for QM2-E (a COM-port model, a 64 KiB
# image) is installed, and its window updates a PLC through COM5.
log "packages: an MSI of the QM2-E build"
PLCFW_WINDOWS_PRESET=windows-qm2e PLCFW_PACKAGES_DIR=$WORK/qm2e scripts/package msi \
  >"$WORK/package-qm2e.log" 2>&1 || fail "scripts/package msi of the QM2-E build failed"
QM2E_MSI=$WORK/qm2e/plcfwupdate-$VERSION-windows-x86_64.msi
QM2E_IMAGE=$ROOT/build/windows-qm2e/image/QM2-E_v1.0.0_20231115_01.bin
msiexec install-qm2e /i "$(winepath -w "$QM2E_MSI" 2>/dev/null)"
rm -f "$WORK/plc-w"
background window_sim "$PLCSIM" --model QM2-E --link "$WORK/plc-w" --flash-out "$WORK/flash-w.bin" \
  >"$WORK/sim-w.log" 2>&1
wait_until 20 "plcsim's link for the window" test -e "$WORK/plc-w"
wine_com_port 5 "$WORK/plc-w"
background window_pid wine "$INSTALLED/plcfwupdate.exe" >"$WORK/window-qm2e.log" 2>&1
wait_until 60 "the installed window \"$TITLE\"" top_window_up WindowsApp "$TITLE"
start_burn=$(window_block 'class="WindowsApp"' "$(windows)" | grep -m1 'text="Start Burn"' || true)
[ -n "$start_burn" ] || fail "no \"Start Burn\" button in the installed window"
click_line "$start_burn"
wait_until 240 "\"Firmware update is SUCCESSFUL\" in the installed window" \
  message_box INFORMATION "Firmware update is SUCCESSFUL"
press_box_button INFORMATION OK
wait_until 30 "the end of plcsim after the window's update" eval '! kill -0 "$window_sim" 2>/dev/null'
cmp -s "$QM2E_IMAGE" "$WORK/flash-w.bin" || fail "the flash written by the installed window differs from its image"
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
log "installed window (QM2-E build): a whole update through COM5, the flash equals the image"
msiexec uninstall-qm2e /x "$(winepath -w "$QM2E_MSI" 2>/dev/null)"
[ -z "$(products)" ] || fail "still listed after the uninstall of the QM2-E build: $(products)"
log "all passed"
