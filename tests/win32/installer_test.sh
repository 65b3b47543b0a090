#!/usr/bin/env bash
# The installer under Wine: a silent install puts both programs under Program Files with
# a Start-menu entry and an entry to remove them; the installed programs run (the window
# opens, converts typed paths and refuses a generator's report); the install folder is on
# the machine's PATH, the window is offered in "Open with" for .html and .htm and both
# programs carry the icon; the next version replaces this one in place; a silent uninstall
# removes it all.
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
# The machine's PATH, each folder on a line of its own.
machine_path() {
    w reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH |
        awk '/PATH/ {sub(/^.*REG_(EXPAND_)?SZ[ \t]*/, ""); print}' | tr ';' '\n'
}
# What "Open with" offers Velmora for: the ProgId beside each type's default, and the
# types the program's own entry names.
open_with() {
    local type
    for type in .html .htm; do
        w reg query "HKCR\\$type\\OpenWithProgids" /v Velmora.Html >/dev/null && printf 'progid%s ' "$type"
    done
    for type in .html .htm; do
        w reg query 'HKCR\Applications\velmora.exe\SupportedTypes' /v "$type" >/dev/null &&
            printf 'type%s ' "$type"
    done
}
# The default program of .html, which installing must not take.
html_default() {
    w reg query 'HKCR\.html' /ve |
        awk '/REG_SZ/ {sub(/^.*REG_SZ[ \t]*/, ""); if ($0 != "(value not set)") print}'
}

html_before=$(html_default)
log "Installing $(basename "$msi") silently"
WINE_TIMEOUT=120 w msiexec /i "$(winpath "$msi")" /qn
check "the silent install succeeds" 0 "${PIPESTATUS[0]}"
check "both programs under Program Files" "velmora-convert.exe velmora.exe" \
    "$(cd "$installed" 2>/dev/null && echo *.exe)"
check "a Start-menu entry" "Velmora.lnk" "$(basename "$(shortcut)")"
check "an entry to remove it" "Velmora 1.0" "$(entries)"
check "the install folder on the machine's PATH" 'C:\Program Files\Velmora\' \
    "$(machine_path | grep -i -x 'C:\\Program Files\\Velmora\\\?')"
check "offered in Open with for .html and .htm" "progid.html progid.htm type.html type.htm " \
    "$(open_with)"
check "the default program of .html kept" "$html_before" "$(html_default)"
if command -v wrestool >/dev/null; then
    for program in velmora velmora-convert; do
        check "$program.exe carries the icon" yes \
            "$(wrestool -l --type=14 "$installed/$program.exe" 2>/dev/null | grep -q . && echo yes)"
    done
fi

log "The installed converter"
cp "$data/roads_report.html" "$files/roads.html"
check "velmora-convert --version" "velmora-convert 1.0" \
    "$(w "C:\\Program Files\\Velmora\\velmora-convert.exe" --version | head -n 1)"
check "velmora-convert found on PATH by a console" "velmora-convert 1.0" \
    "$(w cmd /c velmora-convert --version | head -n 1)"
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
bash "$(dirname "$wxs")/add-to-path.sh" "$next" Converter
WINE_TIMEOUT=120 w msiexec /i "$(winpath "$next")" /qn
check "the upgrade succeeds" 0 "${PIPESTATUS[0]}"
check "one entry, of the new version" "Velmora 1.0.1" "$(entries)"
check "the programs still installed" "velmora-convert.exe velmora.exe" \
    "$(cd "$installed" 2>/dev/null && echo *.exe)"
check "the install folder on PATH once" 1 "$(machine_path | grep -ic velmora)"

log "Uninstalling silently"
WINE_TIMEOUT=120 w msiexec /x "$(winpath "$next")" /qn
check "the silent uninstall succeeds" 0 "${PIPESTATUS[0]}"
check "the programs, the shortcut and the entry are gone" "absent||" \
    "$([ -e "$installed" ] && echo present || echo absent)|$(shortcut)|$(entries)"
check "PATH and Open with taken back" "|" "$(machine_path | grep -i velmora)|$(open_with)"

[ "$failures" -eq 0 ] && log "all passed" || log "$failures failed"
exit $((failures > 0))
