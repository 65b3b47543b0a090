#!/bin/sh
# ctest's launcher for the Windows test programs: runs one under Wine, as plain `wine`
# would, and keeps the runs after a hung one from hanging too.
#
# When ctest ends a test on its timeout it kills the test's processes, but not the Wine
# server they talked to. If that server is stuck, every later run waits on it until its own
# timeout, and so does every retry. So each run leaves a mark while it lasts; a mark whose
# run is gone was left by a run that was killed, and the next run first ends the prefix's
# server (and with it whatever still hangs in the prefix), then starts on a fresh one.
# A run never ends the server while another run on the same prefix is still going.
wine=$1
shift
prefix=${WINEPREFIX:-${HOME:-/nonexistent}/.wine}
key=$(stat -c %d-%i "$prefix" 2>/dev/null) || exec "$wine" "$@"
marks=${TMPDIR:-/tmp}/velmora-wine-runs-$(id -u)-$key
mkdir -m 700 "$marks" 2>/dev/null || [ -d "$marks" ] || exec "$wine" "$@"

killed=false
going=false
for mark in "$marks"/*; do
    [ -e "$mark" ] || continue
    if kill -0 "${mark##*/}" 2>/dev/null; then
        going=true
    else
        killed=true
        rm -f "$mark"
    fi
done
if $killed && ! $going; then
    echo "wine_run.sh: an earlier run on $prefix was killed; ending its Wine server" >&2
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
fi

touch "$marks/$$" 2>/dev/null
"$wine" "$@"
status=$?
rm -f "$marks/$$"
rmdir "$marks" 2>/dev/null
exit $status
