#!/usr/bin/env bash
# Checks the Debian packages CPack made in a build folder without installing them:
# lintian on each, what each holds, the AppStream and desktop-entry validators, the
# manual pages, and the programs, the library and the Python module run from the
# packages unpacked into a temporary folder.
#   packaging/check-package.sh build
set -euo pipefail
build=$(realpath "$1")
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

# The packages of the version the build folder was configured for, one file each.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
release=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
packages=(velmora libvelmora1 libvelmora-dev python3-velmora)
declare -A debs
for package in "${packages[@]}"; do
    found=("$build/${package}_${version}-${release}_"*.deb)
    if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
        echo "No single ${package}_${version}-${release}_*.deb in $build" >&2
        exit 1
    fi
    debs[$package]=${found[0]}
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch

# field PACKAGE FIELD: a field of the package's control file.
field() {
    dpkg-deb --field "${debs[$1]}" "$2"
}
# holds PACKAGE PATH...: fails for each path (under /) the package does not hold.
holds() {
    local package=$1 path listing
    listing=$(dpkg-deb --fsys-tarfile "${debs[$package]}" | tar -t)
    shift
    for path; do
        grep -qxF "./$path" <<<"$listing" || fail "$package does not hold /$path"
    done
}

for package in "${packages[@]}"; do
    step "$package: dpkg-deb --info, --contents"
    dpkg-deb --info "${debs[$package]}"
    dpkg-deb --contents "${debs[$package]}"
    [ "$(field "$package" Version)" = "$version-$release" ] ||
        fail "$package is version $(field "$package" Version), not $version-$release"
    holds "$package" "usr/share/doc/$package/copyright" \
        "usr/share/doc/$package/changelog.Debian.gz"
done

depends=$(field velmora Depends)
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ $depends == *"$library"* ]] || fail "Depends does not name $library: $depends"
done
# The programs link the engine itself, not the library.
[[ $depends != *libvelmora* ]] || fail "velmora depends on the library: $depends"
recommends=$(field velmora Recommends)
[[ $recommends == *qt6-wayland* ]] || fail "Recommends does not name qt6-wayland: $recommends"

sections="$(field velmora Section) $(field libvelmora1 Section)"
sections+=" $(field libvelmora-dev Section) $(field python3-velmora Section)"
[ "$sections" = "text libs libdevel python" ] ||
    fail "the packages' sections are $sections, not text libs libdevel python"
exact="libvelmora1 (= $version-$release)"
[ "$(field libvelmora-dev Depends)" = "$exact" ] ||
    fail "libvelmora-dev depends on $(field libvelmora-dev Depends), not $exact alone"
[ "$(field python3-velmora Depends)" = "$exact, python3" ] ||
    fail "python3-velmora depends on $(field python3-velmora Depends), not $exact, python3"
[ "$(field python3-velmora Architecture)" = all ] ||
    fail "python3-velmora is for $(field python3-velmora Architecture), not all"

step "lintian"
# Errors fail the check; warnings are shown.
for package in "${packages[@]}"; do
    lintian --fail-on error --tag-display-limit 0 "${debs[$package]}" ||
        fail "lintian found errors in $package"
done

root=$unpacked/root
for package in "${packages[@]}"; do
    dpkg-deb --extract "${debs[$package]}" "$root"
done
usr=$root/usr

step "every installed file in a package"
# What `cmake --install` installs, all of it, is what the packages hold between them: an
# install() left out of every package's component shows here.
cmake --install "$build" --prefix "$unpacked/install/usr" >/dev/null
if diff -u --label installed --label packaged \
    <(cd "$unpacked/install" && find . ! -type d | sort) \
    <(cd "$root" && find . ! -type d | sort); then
    echo "cmake --install and the packages hold the same files"
else
    fail "cmake --install and the packages differ"
fi

step "libvelmora1: the library"
holds libvelmora1 "$libdir/libvelmora.so.1"
library=$root/$libdir/libvelmora.so.1
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p')
[ "$soname" = libvelmora.so.1 ] || fail "the library's SONAME is '$soname', not libvelmora.so.1"
# The interface's names alone, as the library's own test checks the built one: the
# engine and the C++ runtime stay inside, and nothing prints or ends the process.
sh "$source_dir/tests/library/exports_test.sh" "$library" ||
    fail "the packaged library shows more than its interface"
echo "SONAME $soname, exports: $(nm -D --defined-only "$library" | awk '{ print $3 }' | tr '\n' ' ')"
# Programs linked against it depend on this version on, and the loader's cache is
# brought up to date by libc's trigger.
control=$unpacked/control
dpkg-deb --control "${debs[libvelmora1]}" "$control"
grep -qxF "libvelmora 1 libvelmora1 (>= $version-$release)" "$control/shlibs" ||
    fail "libvelmora1's shlibs is not 'libvelmora 1 libvelmora1 (>= $version-$release)'"
grep -qx 'activate-noawait ldconfig' "$control/triggers" ||
    fail "libvelmora1 does not activate the ldconfig trigger"

step "libvelmora-dev: a program built against the package"
holds libvelmora-dev usr/include/velmora.h "$libdir/libvelmora.so" "$libdir/pkgconfig/velmora.pc" \
    "$libdir/cmake/Velmora/VelmoraConfig.cmake" "$libdir/cmake/Velmora/VelmoraConfigVersion.cmake" \
    "$libdir/cmake/Velmora/VelmoraTargets.cmake"
# Built through the unpacked velmora.pc, header and link alone, then run on the library.
cat >"$unpacked/program.c" <<'PROGRAM'
#include <stdio.h>
#include <velmora.h>
int main(int argc, char **argv) {
    velmora_failure failure;
    printf("libvelmora %s\n", velmora_version());
    if (velmora_convert_file(argv[1], argv[2], &failure) != VELMORA_CONVERTED) {
        fprintf(stderr, "%s\n", failure.message);
        return 1;
    }
    return 0;
}
PROGRAM
# shellcheck disable=SC2046 # the flags are words
if cc -std=c99 -Wall -Werror -o "$unpacked/program" "$unpacked/program.c" \
    $(PKG_CONFIG_PATH=$root/$libdir/pkgconfig pkg-config --cflags --libs velmora) &&
    LD_LIBRARY_PATH=$root/$libdir "$unpacked/program" \
        "$source_dir/tests/data/roads_report.html" "$unpacked/roads_report.c.txt" &&
    cmp "$unpacked/roads_report.c.txt" "$source_dir/tests/data/roads_report.txt"; then
    echo "a C program: tests/data/roads_report.html converted as expected"
else
    fail "a C program built on libvelmora-dev did not convert tests/data/roads_report.html as expected"
fi

step "python3-velmora: the module"
holds python3-velmora usr/lib/python3/dist-packages/velmora/__init__.py \
    usr/lib/python3/dist-packages/velmora/py.typed
compiled=$(dpkg-deb --fsys-tarfile "${debs[python3-velmora]}" | tar -t |
    grep -E '\.pyc$|/__pycache__/' || true)
[ -z "$compiled" ] || fail "python3-velmora holds compiled files: $compiled"
# Debian's python3, the module from the package and the library found by its SONAME, as
# an installation finds it; from a folder of its own, so no other copy is imported.
if (cd "$unpacked" && PYTHONPATH=$usr/lib/python3/dist-packages LD_LIBRARY_PATH=$root/$libdir \
    /usr/bin/python3 -B -c '
import sys, velmora
assert velmora.__file__.startswith(sys.argv[1]), velmora.__file__
velmora.convert_file(sys.argv[2], sys.argv[3])' \
    "$usr/" "$source_dir/tests/data/roads_report.html" "$unpacked/roads_report.py.txt") &&
    cmp "$unpacked/roads_report.py.txt" "$source_dir/tests/data/roads_report.txt"; then
    echo "velmora.convert_file: tests/data/roads_report.html converted as expected"
else
    fail "the Python module did not convert tests/data/roads_report.html as expected"
fi

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
printf '\nEvery check of %s passed\n' "${packages[*]}"
