#!/usr/bin/env bash
# Checks a built Debian package without installing it: lintian, the AppStream and
# desktop-entry validators, the manual pages, and the programs run from the package
# unpacked into a temporary folder.
#   packaging/check-package.sh build/velmora_1.0-1_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
source_dir=$(realpath "$(dirname "$0")/..")
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
failed=0

step() {
    printf '\n== %s\n' "$*"
}
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

step "dpkg-deb --info, --contents"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ $depends == *"$library"* ]] || fail "Depends does not name $library: $depends"
done
recommends=$(dpkg-deb --field "$deb" Recommends)
[[ $recommends == *qt6-wayland* ]] || fail "Recommends does not name qt6-wayland: $recommends"

step "lintian"
# Errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" ||
    fail "lintian found errors"

dpkg-deb --extract "$deb" "$unpacked"
usr=$unpacked/usr

step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$usr/share/metainfo/velmora.metainfo.xml" ||
    fail "AppStream metadata"

step "desktop-file-validate"
desktop-file-validate "$usr/share/applications/velmora.desktop" && echo "velmora.desktop: valid" ||
    fail "desktop entry"
# A file manager opens HTML files with the window, which takes the file as its input.
grep -q '^Exec=velmora %f$' "$usr/share/applications/velmora.desktop" &&
    grep -q '^MimeType=.*text/html;' "$usr/share/applications/velmora.desktop" ||
    fail "the desktop entry does not open HTML files with the window"

step "man --warnings"
for page in "$usr"/share/man/man1/*.1.gz; do
    # As lintian renders pages: every groff warning on, output thrown away.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        fail "$(basename "$page"): $warnings"
    else
        echo "$(basename "$page"): no warnings"
    fi
done

step "the programs, run from the unpacked package"
"$usr/bin/velmora-convert" --version
if "$usr/bin/velmora-convert" -o "$unpacked/roads_report.txt" "$source_dir/tests/data/roads_report.html" &&
    cmp "$unpacked/roads_report.txt" "$source_dir/tests/data/roads_report.txt"; then
    echo "velmora-convert: tests/data/roads_report.html converted as expected"
else
    fail "velmora-convert did not convert tests/data/roads_report.html as expected"
fi
# Without a display the window program must load its libraries, say so and exit 1.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/velmora" || status=$?
[ "$status" -eq 1 ] || fail "velmora without a display exited $status, not 1"

step "bash completion"
# Completes the words given after "velmora-convert" and prints the candidates. Outside
# a real completion compopt complains; that one message is dropped.
complete_words() {
    (
        cd "$1"
        shift
        bash -c '
            source /usr/share/bash-completion/bash_completion
            source "$0"
            COMP_WORDS=(velmora-convert "$@")
            COMP_CWORD=$#
            COMP_LINE="${COMP_WORDS[*]}"
            COMP_POINT=${#COMP_LINE}
            _velmora_convert
            printf "%s\n" "${COMPREPLY[@]}" | sort' \
            "$usr/share/bash-completion/completions/velmora-convert" "$@" \
            2> >(grep -v "compopt: not currently executing completion function" >&2)
    )
}
# One folder of candidates: inputs complete to HTML files and folders only.
files=$unpacked/completion
mkdir -p "$files/sub"
touch "$files/a.html" "$files/B.HTM" "$files/notes.txt"
expect() {
    local got
    got=$(complete_words "$files" "${@:2}" | tr '\n' ' ')
    if [ "$got" = "$1" ]; then
        echo "velmora-convert ${*:2} -> $got"
    else
        fail "completing 'velmora-convert ${*:2}' gave '$got', not '$1'"
    fi
}
expect "--help " --he
expect "--jobs= " --jo
expect "$(seq 1 "$(getconf _NPROCESSORS_ONLN)" | sort | tr '\n' ' ')" -j ""
expect "B.HTM a.html sub " ""
expect "B.HTM a.html notes.txt sub " -o ""
expect "B.HTM a.html sub " -- ""

if [ "$failed" -ne 0 ]; then
    echo "The package check failed" >&2
    exit 1
fi
printf '\nEvery check of %s passed\n' "$(basename "$deb")"
