#!/usr/bin/env bash
# The installer under Wine: a silent install puts both programs under Program Files with
# a Start-menu entry and an entry to remove them; the installed programs run (the window
# opens, converts typed paths and refuses a generator's report); the next version
# replaces this one in place; a silent uninstall removes it all.
#   installer_test.sh MSI WIXL WXS BUILD_DIR PROBE_EXE DATA_DIR
set -uo pipefail
msi=$1 wixl=$2 wxs=$3 build=$4 probe_exe=$5 data=$6
here=$(dirname "$0")
if [ ! -f "$msi" ]; then
    echo "SKIP: no installer at $msi (./setup.sh package-windows makes it)"
    exit 77
fi
source "$here/wine_session.sh"
source "$here/window_checks.sh"

files=$session/files
mkdir -p "$files"
installed="$WINEPREFIX/drive_c/Program Files/Velmora"

# The programs' entries in the list of installed programs: "name version" lines.
entries() {
    w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
        awk '/^HKEY/ {name = ""; version = ""} /DisplayName/ {name = $3}
             /DisplayVersion/ {version = $3} name == "Velmora" && version != "" {print name, version; name = ""}'
}
# The Start-menu entry, in the machine's menu or (under Wine) the user's.
shortcut() { find "$WINEPREFIX/drive_c" -name 'Velmora.lnk' | head -n 1; }

log "Installing $(basename "$msi") silently"
WINE_TIMEOUT=120 w msiexec /i "$(winpath "$msi")" /qn
check "the silent install succeeds" 0 "${PIPESTATUS[0]}"
check "both programs under Program Files" "velmora-convert.exe velmora.exe" \
    "$(cd "$installed" 2>/dev/null && echo *.exe)"
check "a Start-menu entry" "Velmora.lnk" "$(basename "$(shortcut)")"
check "an entry to remove it" "Velmora 1.0" "$(entries)"

log "The installed converter"
cp "$data/roads_report.html" "$files/roads.html"
check "velmora-convert --version" "velmora-convert 1.0" \
    "$(w "C:\\Program Files\\Velmora\\velmora-convert.exe" --version | head -n 1)"
w "C:\\Program Files\\Velmora\\velmora-convert.exe" -o "$(winpath "$files/cli.txt")" \
    "$(winpath "$files/roads.html")" >/dev/null
cmp -s "$files/cli.txt" "$data/roads_report.txt" && log "ok   the installed converter's output" ||
    { log "FAIL the installed converter's output differs"; failures=$((failures + 1)); }

log "The installed window"
if start_window "$installed/velmora.exe"; then
    check_window_opens 427x169
    click FileIn
    xdotool type --delay 10 "$(winpath "$files/roads.html")"
    click FileOut
    xdotool type --delay 10 "$(winpath "$files/window.txt")"
    click Command1
    check_converted "the installed window" "$files/window.txt" "$data/roads_report.txt"
    check_refused "$files"
    close_window
fi

log "The next version over this one"
next=$session/velmora-next-x64.msi
(cd "$build" && "$wixl" -a x64 -D Version=1.0.1 -D BinDir=bin \
    -D IconFile=packaging/windows/velmora.ico -o "$next" "$wxs") 2>/dev/null
WINE_TIMEOUT=120 w msiexec /i "$(winpath "$next")" /qn
check "the upgrade succeeds" 0 "${PIPESTATUS[0]}"
check "one entry, of the new version" "Velmora 1.0.1" "$(entries)"
check "the programs still installed" "velmora-convert.exe velmora.exe" \
    "$(cd "$installed" 2>/dev/null && echo *.exe)"

log "Uninstalling silently"
WINE_TIMEOUT=120 w msiexec /x "$(winpath "$next")" /qn
check "the silent uninstall succeeds" 0 "${PIPESTATUS[0]}"
check "the programs, the shortcut and the entry are gone" "absent||" \
    "$([ -e "$installed" ] && echo present || echo absent)|$(shortcut)|$(entries)"

[ "$failures" -eq 0 ] && log "all passed" || log "$failures failed"
exit $((failures > 0))
