#!/bin/sh
# The shared library shows the C interface alone: every name it exports starts with
# velmora_, and it needs no Qt. On Linux (nm) it also calls nothing that prints or ends
# the process: a library reports, its caller decides. On Windows (given MinGW's objdump)
# it needs none of MinGW's runtime DLLs (lib*.dll), which a user's machine lacks; there
# the C++ runtime linked into it brings the C library's printing and ending calls along.
set -u
library=$1
objdump=${2:-}
status=0
fail() {
    printf '%s %s:\n%s\n' "$library" "$1" "$2" >&2
    status=1
}

if [ -n "$objdump" ]; then
    table=$("$objdump" -p "$library") || exit 1
    exports=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        awk 'NR > 1 && NF {print $NF}')
    needed=$(printf '%s\n' "$table" | awk '/DLL Name:/ {print $3}')
    prints=
else
    exports=$(nm -D --defined-only "$library" | awk '{print $3}') || exit 1
    needed=$(readelf -d "$library" | sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p')
    banned='^(abort|exit|_exit|_Exit|quick_exit|raise|printf|fprintf|vprintf|vfprintf|puts|fputs|putchar|perror|psignal|stdout|stderr|_ZSt4cout|_ZSt4cerr|_ZSt4clog)(@|$)'
    prints=$(nm -D --undefined-only "$library" | awk '{print $2}' | grep -E "$banned")
fi
printf '%s\n' "$exports" | grep -qx velmora_version || fail "does not export" velmora_version
others=$(printf '%s\n' "$exports" | grep -v -e '^velmora_' -e '^$')
[ -z "$others" ] || fail "exports more than its interface" "$others"
qt=$(printf '%s\n' "$needed" | grep -i qt)
[ -z "$qt" ] || fail "needs Qt" "$qt"
if [ -n "$objdump" ]; then
    runtime=$(printf '%s\n' "$needed" | grep -i '^lib')
    [ -z "$runtime" ] || fail "needs MinGW's DLLs" "$runtime"
fi
[ -z "$prints" ] || fail "calls what prints or ends the process" "$prints"
exit $status
