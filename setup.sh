#!/usr/bin/env bash
# Sets up a fresh Debian machine for Velmora and builds it.
#   ./setup.sh run           install what is missing, build, start the program
#   ./setup.sh test          install what is missing, build, run every test
#   ./setup.sh package       build the Debian packages in build/ and check them: velmora, the
#                            programs; libvelmora1 and libvelmora-dev, the C library; and
#                            python3-velmora (build/*_VERSION-1_*.deb)
#   ./setup.sh wheel         the C library and a wheel of the Python package that carries it,
#                            build/dist/velmora-VERSION-py3-none-PLATFORM.whl, installed into a
#                            fresh virtual environment (build/wheel-venv) and tested there
#   ./setup.sh nogui         the engine and velmora-convert without Qt, with their tests
#   ./setup.sh test-windows  the engine, velmora-convert.exe, the Win32 window velmora.exe and
#                            their tests cross-built with MinGW-w64 into build-windows/, the
#                            tests run under Wine
#   ./setup.sh package-windows
#                            both Windows programs and their installer,
#                            build-windows/velmora-VERSION-x64.msi
#   ./setup.sh test-windows-gui
#                            the installer, then the Win32 window and the installer tried under
#                            Wine on an X server of their own (Xvfb, openbox, xdotool)
#   ./setup.sh sanitize      every test again, built with AddressSanitizer and UBSan
#   ./setup.sh fuzz          the differential fuzzer for FUZZ_SECONDS (default 60)
#   ./setup.sh format        reformat the C++ sources with clang-format 14
#   ./setup.sh format-check  list the C++ sources clang-format 14 would change; fail if any
#   ./setup.sh bench         the whole-process race against cat and general HTML converters,
#                            and the targets against dd, wc, lynx and rsync, with a perf
#                            profile (bench/compare.sh), written to bench/RESULTS.md
# VELMORA_WERROR=ON turns warnings in our own code into errors, as CI builds it.
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-run}

# The format check is pinned to one clang-format: another version lays code out differently.
clang_format=clang-format-14

base=(cmake ninja-build g++ libgtest-dev libgmock-dev acl pkgconf python3)
# Qt's Wayland plugin and a headless compositor, for the window's test on Wayland.
gui=(qt6-base-dev fonts-dejavu-core libbenchmark-dev qt6-wayland weston)
# The cross build for Windows: MinGW-w64, GoogleTest's sources, icotool for the icon.
windows=(cmake ninja-build g++-mingw-w64-x86-64 googletest icoutils)
case "$mode" in
run | test | sanitize) packages=("${base[@]}" "${gui[@]}") ;;
package)
    packages=("${base[@]}" "${gui[@]}" dpkg-dev lintian appstream desktop-file-utils man-db
              bash-completion)
    ;;
nogui) packages=("${base[@]}") ;;
wheel)
    packages=("${base[@]}" python3-venv python3-pip python3-setuptools python3-wheel python3-pytest
              python3-dask)
    ;;
test-windows) packages=("${windows[@]}" wine wine64) ;;
package-windows) packages=("${windows[@]}" wixl msitools) ;;
test-windows-gui)
    packages=("${windows[@]}" wixl msitools wine wine64 xvfb openbox xdotool x11-utils imagemagick)
    ;;
fuzz) packages=("${base[@]}" clang libclang-rt-14-dev) ;;
format | format-check) packages=("$clang_format") ;;
bench)
    packages=("${base[@]}" "${gui[@]}" hyperfine time gnuplot-nox lynx w3m html2text pandoc rsync
              linux-perf)
    ;;
*)
    echo "Usage: $0 run|test|package|wheel|nogui|test-windows|package-windows|test-windows-gui|sanitize|fuzz|format|format-check|bench" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

werror=-DVELMORA_WERROR="${VELMORA_WERROR:-OFF}"

# The C and C++ sources under version control, or every one outside the build folders.
sources() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -- '*.cpp' '*.h' '*.c'
    else
        find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sed 's|^\./||'
    fi
}

case "$mode" in
run | test | package)
    # The packages install into /usr, where GNUInstallDirs puts the library in Debian's
    # multiarch folder (lib/x86_64-linux-gnu).
    prefix=()
    [ "$mode" != package ] || prefix=(-DCMAKE_INSTALL_PREFIX=/usr)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" "$werror" "${prefix[@]}"
    cmake --build build
    case "$mode" in
    run) exec build/bin/velmora ;;
    test) ctest --test-dir build --output-on-failure -j "$(nproc)" ;;
    package)
        cmake --build build --target package
        packaging/check-package.sh build
        ;;
    esac
    ;;
wheel)
    # The wheel is built from a copy of python/ with the library beside __init__.py (the
    # file itself, not its link), which setup.py tags for this platform.
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$werror"
    cmake --build build --target velmora_library
    rm -rf build/python-wheel build/wheel-venv build/dist/velmora-*.whl
    cp -r python build/python-wheel
    cp -L build/lib/libvelmora.so.1 build/python-wheel/velmora/
    /usr/bin/python3 -m pip wheel --no-deps --no-build-isolation --no-index -w build/dist \
        build/python-wheel
    wheel_file=$(ls build/dist/velmora-*-py3-none-linux_*.whl)
    # Debian's pytest and Dask are seen from the environment; the package is the wheel's.
    /usr/bin/python3 -m venv --system-site-packages build/wheel-venv
    build/wheel-venv/bin/pip install --no-index --no-deps "$wheel_file"
    # From build/, with the tests named by their full path, so that nothing but the
    # installed package can be imported, and with nothing written into the source tree.
    tests=$PWD/python/tests
    (
        cd build
        unset VELMORA_LIBRARY PYTHONPATH
        export PYTHONDONTWRITEBYTECODE=1
        wheel-venv/bin/python -c '
import os, sys, velmora
here = os.path.dirname(velmora.__file__)
assert here.startswith(os.path.abspath("wheel-venv") + os.sep), velmora.__file__
assert velmora._library_path == os.path.join(here, "libvelmora.so.1"), velmora._library_path
print("velmora", velmora.__version__, "from", here, "with the library it carries")'
        wheel-venv/bin/python -m pytest -q -p no:cacheprovider "$tests"
    )
    ls -l "$wheel_file"
    ;;
nogui)
    # Finding Qt is switched off outright, so a stray find_package(Qt6) fails here
    # even on a machine that has Qt.
    cmake -S . -B build-nogui -G Ninja -DCMAKE_BUILD_TYPE=Release "$werror" --no-warn-unused-cli \
        -DVELMORA_GUI=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
    cmake --build build-nogui
    if grep -q -i 'qt6' build-nogui/build.ninja; then
        echo "The build without the window still refers to Qt:" >&2
        grep -i -m 5 'qt6' build-nogui/build.ninja >&2
        exit 1
    fi
    ctest --test-dir build-nogui --output-on-failure -j "$(nproc)"
    ;;
test-windows | package-windows | test-windows-gui)
    # GoogleTest is built from Debian's sources with the cross compiler; Wine gets a
    # prefix of its own in the build folder, no display and none of its add-on installers.
    cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release "$werror" \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELMORA_GUI=OFF -DVELMORA_BENCH=OFF
    case "$mode" in
    package-windows)
        cmake --build build-windows --target installer
        ls -l build-windows/velmora-*-x64.msi
        ;;
    test-windows)
        export WINEPREFIX=$PWD/build-windows/wine WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES='mscoree,mshtml='
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "Making a Wine prefix in $WINEPREFIX"
            wineboot --init
            wineserver --wait
        fi
        cmake --build build-windows
        # One test at a time: Wine has been seen to hang a process started alongside
        # another, and now and then one at its exit; a test that fails is run again, twice
        # at most, so that such a hang is told apart from a failure that comes back (a run
        # after one that was killed first ends the prefix's Wine server, which may be what
        # hung: tests/win32/wine_run.sh). The tests on an X server are test-windows-gui's.
        ctest --test-dir build-windows --output-on-failure --repeat until-pass:3 -LE wine-gui
        ;;
    test-windows-gui)
        # Each test makes its own X server, window manager and Wine prefix.
        cmake --build build-windows --target velmora velmora-convert velmora-probe installer
        ctest --test-dir build-windows --output-on-failure --repeat until-pass:2 -L wine-gui
        ;;
    esac
    ;;
sanitize)
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$werror" \
        -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF
    cmake --build build-sanitize
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
    ;;
fuzz)
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$werror" \
        -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
    cmake --build build-fuzz
    corpus=$(mktemp -d)
    trap 'rm -rf "$corpus"' EXIT
    build-fuzz/bin/velmora-fuzz "$corpus" tests/data -dict=tests/fuzz/html.dict \
        -max_len=4096 -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1
    ;;
format)
    sources | xargs "$clang_format" -i
    ;;
format-check)
    "$clang_format" --version
    differ=0
    while read -r file; do
        lines=$("$clang_format" "$file" | diff "$file" - | grep -c '^<' || true)
        if [ "$lines" -gt 0 ]; then
            echo "$file: $lines lines to reformat"
            differ=$((differ + 1))
        fi
    done < <(sources)
    if [ "$differ" -gt 0 ]; then
        echo "$differ files are not formatted; ./setup.sh format formats them" >&2
        exit 1
    fi
    echo "Every C++ source is formatted"
    ;;
bench)
    exec bench/compare.sh
    ;;
esac
