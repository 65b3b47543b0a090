#!/usr/bin/env bash
# velmora-convert.exe as a user meets it in a console: wildcards typed in cmd.exe, which
# leaves them to the program, "/?", and a name outside ASCII in a message on a console
# (Wine makes one for a program started on a terminal; `script` gives it a terminal).
#   console_test.sh CONVERT_EXE DATA_DIR
set -uo pipefail
convert_exe=$1 data=$2
here=$(dirname "$0")
source "$here/wine_session.sh"

files=$session/files
mkdir -p "$files/d/x" "$files/d/y"
for name in one.html two.HTML three.htm skip.html.bak d/x/four.htm d/y/five.htm d/six.htm; do
    cp "$data/roads_report.html" "$files/$name"
done
exe=$(winpath "$convert_exe")

# cmd.exe in the test folder, given the line as a user types it (in a batch file: from
# Linux, wine would escape its quotes); its output and exit status.
in_cmd() {
    printf '@%s %s 2>&1\r\n' "$exe" "$*" >"$files/typed.bat"
    (cd "$files" && w cmd /c typed.bat)
    echo "exit $?"
}

log "Wildcards typed in cmd.exe"
out=$(in_cmd '*.html')
check "*.html converts" "exit 0" "$(tail -n 1 <<<"$out")"
for name in one two; do
    if cmp -s "$files/$name.txt" "$data/roads_report.txt"; then
        log "ok   $name.txt is the expected text"
    else
        log "FAIL $name.txt is not the expected text"
        failures=$((failures + 1))
    fi
done
check "*.html converts nothing else" "skip.html.bak three.htm" \
    "$(cd "$files" && ls three.* skip.* | tr '\n' ' ' | sed 's/ $//')"
out=$(in_cmd 'd\*\*.htm')
check "a wildcard in a folder part" "exit 0 d/x/four.txt d/y/five.txt" \
    "$(tail -n 1 <<<"$out") $(cd "$files" && ls d/*/*.txt 2>/dev/null | tr '\n' ' ' | sed 's/ $//')"
out=$(in_cmd '"*.htm" *.xml')
check "a quoted wildcard is a name, and one that matches nothing is named" \
    "exit 1|velmora-convert: cannot read \"*.htm\": No such file or directory|velmora-convert: cannot read \"*.xml\": no file matches it" \
    "$(tail -n 1 <<<"$out")|$(grep -a 'velmora-convert: ' <<<"$out" | sort | tr '\n' '|' | sed 's/|$//')"

log "/? in cmd.exe"
out=$(in_cmd '/?')
check "/? prints the usage" "Usage: velmora-convert [OPTION]... INPUT...|      --help, /?     show this help and exit|exit 0" \
    "$(head -n 1 <<<"$out")|$(grep -a -- '--help' <<<"$out")|$(tail -n 1 <<<"$out")"

log "A console"
if command -v script >/dev/null; then
    screen=$(cd "$files" && LANG=C.UTF-8 timeout 60 script -qec \
        "wine '$convert_exe' 'résumé ñ.html' one.html" /dev/null 2>/dev/null)
    check "a name outside ASCII shows as it is" "found" \
        "$(grep -aqF 'cannot read "résumé ñ.html": No such file or directory' <<<"$screen" && echo found || printf '%q' "$screen")"
    check "the count of inputs shows" "found" \
        "$(grep -aqF '2 of 2 inputs done' <<<"$screen" && echo found || printf '%q' "$screen")"
else
    log "skip the console: script (util-linux) is not installed"
fi

[ "$failures" -eq 0 ] && log "all passed" || log "$failures failed"
exit $((failures > 0))
