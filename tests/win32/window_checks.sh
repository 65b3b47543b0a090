# Checks shared by the window test and the installer test: what the window shows at
# start, a conversion's result, the refusal box and a failure's box.

check_window_opens() { # expected client size
    check "the window's title" "Velmora - 1.0" "$(xdotool getwindowname "$window_id")"
    check "the window's client area" "$1" "$(client_size)"
    check "at start" "Select File to Convert|enabled hidden|Command1||" \
        "$(probe text Label3)|$(probe state ProgressBar1)|$(probe focus)|$(probe text FileIn)|$(probe text FileOut)"
    check "names to assistive technology" \
        "Browse|Browse for the input file|Browse for the output file" \
        "$(probe text Command2)|$(probe name Command2)|$(probe name Command3)"
}

check_converted() { # what output expected
    local status
    status=$(wait_for 30 "File Successfully Processed" probe text Label3)
    check "$1: the status after Convert" "File Successfully Processed" "$status"
    if cmp -s "$2" "$3"; then
        log "ok   $1: the output is byte for byte the expected text"
    else
        log "FAIL $1: the output differs from $3"
        failures=$((failures + 1))
    fi
    check "$1: the bar is hidden and the inputs enabled again" \
        "enabled hidden|enabled visible|enabled visible" \
        "$(probe state ProgressBar1)|$(probe state FileIn)|$(probe state Command1)"
}

# Waits for the window's message box, checks it, and closes it with Enter. A failure's box
# shows the error icon (1), the refusal's none (0, the default).
check_box() { # name title text-pattern [icons]
    local box=none end=$((SECONDS + 15))
    while [ $SECONDS -lt $end ]; do
        box=$(probe box)
        [ -n "$box" ] && [ "$box" != none ] && break
        sleep 0.3
    done
    local title=${box%%|*} rest=${box#*|}
    local text=${rest%%|*} tail=${rest#*|}
    check "$1: the box's title" "$2" "$title"
    if [[ "$text" == $3 ]]; then
        log "ok   $1: the box says [$text]"
    else
        log "FAIL $1: the box says [$text]"
        failures=$((failures + 1))
    fi
    check "$1: one OK button and ${4:-0} icon" "OK|${4:-0}" "$tail"
    xdotool key Return
    sleep 0.5
    check "$1: the box is closed by Enter" none "$(probe box)"
}

check_refused() { # folder
    log "A refused document"
    printf '<dl><dt>Roads</dt><dd>zoak metadata report generated</dd></dl>' >"$1/refused.html"
    probe settext FileIn "$(hex "$(winpath "$1/refused.html")")" >/dev/null
    probe settext FileOut "$(hex "$(winpath "$1/refused.txt")")" >/dev/null
    probe settext Label3 "$(hex "Select File to Convert")" >/dev/null
    click Command1
    check_box "refused" "mVELMORA Error" "ZOAK Metadata Generated HTML Reports Not Supported"
    check "refused: nothing written, the status unchanged" "absent Select File to Convert" \
        "$([ -e "$1/refused.txt" ] && echo present || echo absent) $(probe text Label3)"
}

check_failure() { # folder
    log "A file that cannot be read"
    probe settext FileIn "$(hex "$(winpath "$1/missing.html")")" >/dev/null
    probe settext FileOut "$(hex "$(winpath "$1/missing.txt")")" >/dev/null
    click Command1
    # The reason in Windows' words (Wine's are shorter than Windows' own), not Linux's.
    check_box "failure" "mVELMORA Error" \
        'Cannot read "*missing.html": !(No such file or directory).' 1
    check "failure: nothing written, the window ready" "absent enabled visible enabled hidden" \
        "$([ -e "$1/missing.txt" ] && echo present || echo absent) $(probe state Command1) $(probe state ProgressBar1)"
}
