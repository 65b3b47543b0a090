#!/usr/bin/env bash
# The Qt window on Wayland, with no X server: a headless weston of its own, the program
# started on it with a document as its argument, and the window tests that need no
# keyboard focus (a headless compositor activates no window) run there too.
#   wayland_test.sh VELMORA MAIN_WINDOW_TEST DATA_DIR TEST_FUNCTION...
# Exit status 77 tells ctest the test was skipped.
set -uo pipefail
velmora=$1 window_test=$2 data=$3
shift 3

skip() {
    echo "SKIP: $*"
    exit 77
}
command -v weston >/dev/null || skip "weston is not installed (./setup.sh test installs it)"
plugins=$(qtpaths6 --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
ls "$plugins"/platforms/libqwayland-*.so >/dev/null 2>&1 ||
    skip "Qt's Wayland platform plugin is not installed (package qt6-wayland)"

# Under LeakSanitizer, what the Wayland client library keeps to the end is not ours.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/wayland.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wayland.XXXXXX")
started=()
finish() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
failures=0
check() { # name expected actual
    if [ "$2" == "$3" ]; then
        echo "ok   $1"
    else
        echo "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

# The compositor's socket lives in a runtime folder of the test's own, which only its
# owner may enter, as Wayland wants.
export XDG_RUNTIME_DIR=$work/runtime WAYLAND_DISPLAY=velmora-test QT_QPA_PLATFORM=wayland
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 --no-config \
    >"$work/weston.log" 2>&1 &
started+=($!)
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || skip "weston did not start: $(tail -n 3 "$work/weston.log")"

# The program itself, opened on a document: the client's side of the protocol shows the
# toplevel it makes and its title. Keys cannot be sent to it here, so it is ended as a
# session's end ends it, and must end at once, by that signal, leaving no file behind.
cp "$data/roads_report.html" "$work/roads.html"
WAYLAND_DEBUG=client "$velmora" "$work/roads.html" 2>"$work/protocol.log" &
program=$!
started+=("$program")
title=""
for _ in $(seq 100); do
    title=$(grep -o 'xdg_toplevel@[0-9]*\.set_title("[^"]*")' "$work/protocol.log" | tail -n 1)
    [ -n "$title" ] && break
    sleep 0.1
done
check "the window opens on Wayland with its title" 'set_title("Velmora - 1.0")' "${title#*.}"
sleep 1
check "the window stays open" running "$(kill -0 "$program" 2>/dev/null && echo running)"
kill -TERM "$program" 2>/dev/null
wait "$program"
check "a request to end ends it by that request" 143 "$?"
check "nothing converted before Convert, nothing left behind" "roads.html" "$(ls "$work" | grep roads)"

# The window driven as its tests drive it, on Wayland instead of offscreen.
XDG_CONFIG_HOME=$work/config "$window_test" "$@" || failures=$((failures + 1))

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
