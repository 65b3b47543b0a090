#!/bin/sh
# Installs the library's two packages' worth (cmake --install of libvelmora1 and
# libvelmora-dev) into a temporary prefix and builds api_test.c against that alone, once
# found through pkg-config and once through find_package(Velmora), then runs both. The
# third argument, flags for the compiler and the linker, is how a build with the
# sanitizers has its users built too.
set -eu
build=$1
source=$2
flags=${3:-}
for tool in cc pkg-config; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: no $tool" >&2
        exit 77
    fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-installed.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
for component in libvelmora1 libvelmora-dev; do
    cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
pc=$(find "$prefix" -name velmora.pc)
library=$(dirname "$(find "$prefix" -name 'libvelmora.so.1')")
mkdir "$work/run"

export PKG_CONFIG_PATH="${pc%/*}"
# shellcheck disable=SC2046,SC2086 # the flags are words
cc -std=c99 -Wall -Werror $flags -o "$work/by-pkg-config" "$source/api_test.c" \
    $(pkg-config --cflags --libs velmora) -lpthread
(cd "$work/run" && LD_LIBRARY_PATH=$library "$work/by-pkg-config")

cmake -S "$source/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DAPI_TEST="$source/api_test.c" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
    >/dev/null
cmake --build "$work/consumer" >/dev/null
(cd "$work/run" && LD_LIBRARY_PATH=$library "$work/consumer/api_test")
