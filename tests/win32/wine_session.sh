# Sourced by the tests of the Win32 window: an X server of its own (Xvfb) with a window
# manager (openbox), a fresh Wine prefix, and helpers to start the window, drive it with
# xdotool and look at it with velmora-probe. Every wine call is bounded by a timeout; at
# the end the prefix's wineserver is stopped and everything started here is ended by its
# process id. Exit status 77 tells ctest the test was skipped.

for tool in Xvfb openbox xdotool xwininfo xprop wine wineserver timeout od; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (./setup.sh test-windows-gui installs what is needed)"
        exit 77
    fi
done

session=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine.XXXXXX")
export WINEPREFIX=$session/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export WINEARCH=win64
failures=0
background=()

log() { echo "[$(date +%T)] $*"; }

end_session() {
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    local pid
    for pid in "${background[@]}"; do
        # Never 0 or -1: those would end the caller's whole process group, or everything.
        [ "$pid" -gt 1 ] 2>/dev/null && kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$session"
}
trap end_session EXIT

# An X display of its own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$session/display" 2>/dev/null &
background+=($!)
for _ in $(seq 50); do
    [ -s "$session/display" ] && break
    sleep 0.1
done
if [ ! -s "$session/display" ]; then
    echo "SKIP: Xvfb did not start"
    exit 77
fi
export DISPLAY=:$(head -n 1 "$session/display")
openbox >/dev/null 2>&1 &
background+=($!)
for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

log "Making a Wine prefix in $WINEPREFIX on $DISPLAY"
timeout 180 wineboot --init >/dev/null 2>&1
timeout 60 wineserver --wait || true

# wine under a timeout, its output without carriage returns.
w() { timeout "${WINE_TIMEOUT:-60}" wine "$@" 2>/dev/null | tr -d '\r'; }

# The path as a Windows program sees it: Wine's drive Z: is the root folder.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

probe() { w "$probe_exe" "$@"; }

check() { # name expected actual
    if [ "$2" == "$3" ]; then
        log "ok   $1"
    else
        log "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

# Waits up to `seconds` for `command...` to print `expected`; prints what it last printed.
wait_for() { # seconds expected command...
    local seconds=$1 expected=$2 got=""
    shift 2
    local end=$((SECONDS + seconds))
    while [ $SECONDS -lt $end ]; do
        got=$("$@")
        [ "$got" == "$expected" ] && break
        sleep 0.3
    done
    printf '%s' "$got"
}

# Prints "found" once a window of that title shows, within 10 s, else "missing".
wait_window() { # title pattern
    local end=$((SECONDS + 10))
    while [ $SECONDS -lt $end ]; do
        if xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; then
            echo found
            return
        fi
        sleep 0.2
    done
    echo missing
}

# Starts the window program and waits for its window. Wine now and then ends a fresh start
# at once without any window; such a start is tried again, three times at most.
window_pid=""
window_id=""
start_window() { # exe [argument...]
    local attempt
    for attempt in 1 2 3; do
        timeout 600 wine "$@" >/dev/null 2>&1 &
        window_pid=$!
        local end=$((SECONDS + 15))
        window_id=""
        while [ $SECONDS -lt $end ]; do
            window_id=$(xdotool search --onlyvisible --name '^Velmora - ' 2>/dev/null | head -n 1)
            [ -n "$window_id" ] && break
            kill -0 "$window_pid" 2>/dev/null || break
            sleep 0.2
        done
        if [ -n "$window_id" ]; then
            xdotool windowactivate --sync "$window_id" >/dev/null 2>&1 || true
            sleep 0.5
            return 0
        fi
        log "Wine ended start $attempt of 3 with no window; starting again in 3 s"
        kill "$window_pid" 2>/dev/null || true
        wait "$window_pid" 2>/dev/null || true
        sleep 3
    done
    log "FAIL the window did not open in three starts"
    failures=$((failures + 1))
    return 1
}

# Closes the window as the user would, with the system's close keys (the window manager
# turns Alt+F4 into a request to close), and waits for the program to end.
close_window() {
    xdotool windowactivate --sync "$window_id" key alt+F4 >/dev/null 2>&1 || true
    local end=$((SECONDS + 15))
    while kill -0 "$window_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
        sleep 0.2
    done
    if kill -0 "$window_pid" 2>/dev/null; then
        log "FAIL the program did not end when its window was closed"
        failures=$((failures + 1))
        kill "$window_pid" 2>/dev/null || true
    fi
    wait "$window_pid" 2>/dev/null || true
}

click() { # control
    local x y
    read -r x y <<<"$(probe where "$1")"
    xdotool mousemove "$x" "$y" click 1
    sleep 0.3
}

client_size() { xwininfo -id "$window_id" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

shot() { # name
    if [ -n "${VELMORA_SCREENSHOTS:-}" ] && command -v import >/dev/null; then
        mkdir -p "$VELMORA_SCREENSHOTS"
        import -window root "$VELMORA_SCREENSHOTS/$1.png" 2>/dev/null || true
    fi
}
