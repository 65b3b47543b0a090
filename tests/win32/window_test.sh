#!/usr/bin/env bash
# The Win32 window under Wine, used as a user uses it: typed paths and Convert, the
# refusal and failure boxes, Enter and Esc, the Browse dialogs, a dropped file, non-ASCII
# and long names, the program started on a file, its time against the converter's on a
# large document, and the size at 96 and 144 DPI.
#   window_test.sh VELMORA_EXE PROBE_EXE DATA_DIR CONVERT_EXE
set -uo pipefail
velmora_exe=$1 probe_exe=$2 data=$3 convert_exe=$4
here=$(dirname "$0")
source "$here/wine_session.sh"
source "$here/window_checks.sh"

files=$session/files
mkdir -p "$files"
start_window "$velmora_exe" || exit 1

check_window_opens 427x169
shot window-96dpi

# Each label's lower edge lies a pixel into its box; the box's frame must stay drawn.
if command -v convert >/dev/null; then
    import -window root "$session/start.png"
    pixel() { convert "$session/start.png" -format "%[pixel:p{$1,$2}]" info:; }
    read -r x top <<<"$(probe where FileIn top)"
    read -r left _ <<<"$(probe where FileIn left)"
    frame=$(pixel "$x" "$top")
    check "the label above FileIn leaves its frame drawn" different \
        "$([ "$frame" != "$(pixel $((left - 8)) "$top")" ] && echo different || echo "$frame")"
fi

log "Tab order"
for next in FileIn FileOut Command2 Command3 Command1; do
    xdotool key Tab
    sleep 0.2
    check "Tab reaches $next" "$next" "$(probe focus)"
done

log "Typed paths, Enter and Esc, Convert"
cp "$data/roads_report.html" "$files/roads.html"
click FileIn
xdotool type --delay 10 "$(winpath "$files/roads.html")"
click FileOut
xdotool type --delay 10 "$(winpath "$files/roads.txt")"
check "FileIn holds the typed path" "$(winpath "$files/roads.html")" "$(probe text FileIn)"
xdotool key Return
sleep 0.5
xdotool key Escape
sleep 1
check "Enter and Esc in a path box click nothing" "absent none Select File to Convert" \
    "$([ -e "$files/roads.txt" ] && echo present || echo absent) $(probe box) $(probe text Label3)"
check "the window is still open after Esc" "427x169" "$(client_size)"
click Command1
check_converted "typed paths" "$files/roads.txt" "$data/roads_report.txt"
shot converted

log "A click on the background resets the status; one on a label does not"
click Label1
check "a label click leaves the status" "File Successfully Processed" "$(probe text Label3)"
# The window's left margin, beside the credit line.
read -r x y <<<"$(probe where Label4)"
read -r left _ <<<"$(probe where Label4 left)"
xdotool mousemove $((left - 8)) "$y" click 1
sleep 0.5
check "a background click resets the status" "Select File to Convert" "$(probe text Label3)"

check_refused "$files"
check_failure "$files"

log "Non-ASCII and long names"
long=$files/ünïcødé-名前-$(printf 'x%.0s' $(seq 150))/$(printf 'y%.0s' $(seq 120))
mkdir -p "$long"
cp "$data/roads_report.html" "$long/rapport é.html"
probe settext FileIn "$(hex "$(winpath "$long/rapport é.html")")" >/dev/null
probe settext FileOut "$(hex "$(winpath "$long/rapport é.txt")")" >/dev/null
check "FileIn takes a name xdotool cannot type" "$(winpath "$long/rapport é.html")" \
    "$(probe text FileIn)"
click Command1
check_converted "a non-ASCII path of ${#long} characters" "$long/rapport é.txt" \
    "$data/roads_report.txt"

log "Dropped files"
probe drop FileOut "$(hex "$(winpath "$files/roads.html")")" >/dev/null
sleep 0.5
check "a file dropped on FileOut is the output" "$(winpath "$files/roads.html")" \
    "$(probe text FileOut)"
probe drop Label1 "$(hex "$(winpath "$files/dropped.htm")")" >/dev/null
sleep 0.5
check "a file dropped elsewhere is the input, its output proposed" \
    "$(winpath "$files/dropped.htm") $(winpath "$files/dropped.txt")" \
    "$(probe text FileIn) $(probe text FileOut)"
probe drop FileIn "$(hex "$(winpath "$files/a.htm")")" "$(hex "$(winpath "$files/b.htm")")" >/dev/null
probe drop FileIn "$(hex "$(winpath "$files")")" >/dev/null
sleep 0.5
check "two files, or a folder, dropped change nothing" "$(winpath "$files/dropped.htm")" \
    "$(probe text FileIn)"

log "The Browse dialogs"
click Command2
check "Browse beside FileIn opens the open dialog" found "$(wait_window '^Open$')"
shot open-dialog
xdotool type --delay 10 "$(winpath "$files/roads.html")"
xdotool key Return
sleep 1
check "the chosen input fills FileIn and proposes FileOut" \
    "$(winpath "$files/roads.html") $(winpath "$files/roads.txt")" \
    "$(probe text FileIn) $(probe text FileOut)"
click Command3
wait_window '^Open$' >/dev/null
xdotool type --delay 10 "$(winpath "$files/new output.txt")"
xdotool key Return
sleep 1
check "a new file's name is taken for the output" "$(winpath "$files/new output.txt")" \
    "$(probe text FileOut)"
probe settext Label3 "$(hex "File Successfully Processed")" >/dev/null
click Command3
wait_window '^Open$' >/dev/null
xdotool key Escape
sleep 1
check "a cancelled dialog leaves the boxes and resets the status" \
    "$(winpath "$files/roads.html")|$(winpath "$files/new output.txt")|Select File to Convert" \
    "$(probe text FileIn)|$(probe text FileOut)|$(probe text Label3)"

log "Input during a conversion is dropped; a close asked for meanwhile is carried out at its end"
# A list of 1.5 million terms, 57 MB, for the race against the converter below; one of 18
# million takes the window some seconds to convert, long enough for what is sent meanwhile.
terms=$(printf '<dt>Term</dt><dd>Value <p>para</p></dd>%.0s' $(seq 1500))
list() { # thousands of 1,500 terms
    printf '<dl>'
    for _ in $(seq "$1"); do printf '%s' "$terms"; done
    printf '</dl>'
}
list 1000 >"$files/long.html"
list 12000 >"$files/longer.html"
probe settext FileIn "$(hex "$(winpath "$files/longer.html")")" >/dev/null
probe settext FileOut "$(hex "$(winpath "$files/longer.txt")")" >/dev/null
click Command1
click Command2
xdotool type x
check "during the conversion the inputs are disabled, the bar shown" \
    "disabled visible|enabled visible" "$(probe state Command2)|$(probe state ProgressBar1)"
xdotool key alt+F4
end=$((SECONDS + 60))
while kill -0 "$window_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
    if xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1; then
        log "FAIL a click on the greyed Browse opened its dialog afterwards"
        failures=$((failures + 1))
        break
    fi
    sleep 0.2
done
if kill -0 "$window_pid" 2>/dev/null; then
    log "FAIL the window did not close at the end of the conversion"
    failures=$((failures + 1))
    kill "$window_pid"
else
    log "ok   the window closed at the end of the conversion"
fi
wait "$window_pid" 2>/dev/null
check "the conversion was finished first" "$((18000000 * 29))" \
    "$(stat -c %s "$files/longer.txt" 2>/dev/null)"
rm -f "$files/longer.html" "$files/longer.txt"

log "Started on a file: velmora.exe PATH, a relative one, then Convert; then a failure"
rm -f "$files/roads.txt"
# Started in the file's folder, as a shell or a file manager starts it.
pushd "$files" >/dev/null
start_window "$velmora_exe" roads.html
opened=$?
popd >/dev/null
[ "$opened" -eq 0 ] && {
    check "the boxes filled as by Browse, nothing converted" \
        "$(winpath "$files/roads.html")|$(winpath "$files/roads.txt")|absent" \
        "$(probe text FileIn)|$(probe text FileOut)|$([ -e "$files/roads.txt" ] && echo present || echo absent)"
    click Command1
    check_converted "started on a file" "$files/roads.txt" "$data/roads_report.txt"
    probe settext FileIn "$(hex "$(winpath "$files/missing.html")")" >/dev/null
    click Command1
    check_box "a failure after a success" "mVELMORA Error" "*missing.html*" 1
    check "a failure after a success leaves no success on view" "Select File to Convert" \
        "$(probe text Label3)"
    close_window
}

log "The window's time against the converter's on a document of $(($(stat -c %s "$files/long.html") >> 20)) MB"
# Milliseconds from `start` to when the file appears (the output takes its place at once
# when whole), or to two minutes on.
until_made() { # file start
    local end=$((SECONDS + 120))
    while [ ! -e "$1" ] && [ $SECONDS -lt $end ]; do sleep 0.02; done
    echo $((($(date +%s%N) - $2) / 1000000))
}
best() { sort -n | head -n 1; }
converter=$(for _ in 1 2; do
    rm -f "$files/by-converter.txt"
    start=$(date +%s%N)
    w "$convert_exe" -o "$(winpath "$files/by-converter.txt")" "$(winpath "$files/long.html")"
    until_made "$files/by-converter.txt" "$start"
done | best)
start_window "$velmora_exe" "$(winpath "$files/long.html")" && {
    window=$(for _ in 1 2; do
        rm -f "$files/long.txt"
        read -r x y <<<"$(probe where Command1)"
        start=$(date +%s%N)
        xdotool mousemove "$x" "$y" click 1
        until_made "$files/long.txt" "$start"
        wait_for 60 "File Successfully Processed" probe text Label3 >/dev/null
    done | best)
    log "the window took $window ms, the converter $converter ms (best of two each)"
    check "the window converts within twice the converter's time" yes \
        "$([ "$window" -le $((2 * converter)) ] && echo yes || echo "no: $window ms")"
    close_window
}

log "At 144 DPI"
w reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
timeout 60 wineserver -w || true
start_window "$velmora_exe" && {
    check "the window at 144 DPI" "640x253" "$(client_size)"
    shot window-144dpi
    close_window
}

[ "$failures" -eq 0 ] && log "all passed" || log "$failures failed"
exit $((failures > 0))
