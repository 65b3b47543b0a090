#!/usr/bin/env bash
# Sets up a fresh Debian machine for Velmora and builds it.
#   ./setup.sh run       install what is missing, build, start the program
#   ./setup.sh test      install what is missing, build, run every test
#   ./setup.sh sanitize  every test again, built with AddressSanitizer and UBSan
#   ./setup.sh fuzz      the differential fuzzer for FUZZ_SECONDS (default 60)
#   ./setup.sh bench     the whole-process race against cat and general HTML converters
#                        (bench/compare.sh), written to bench/RESULTS.md
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-run}

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev
          fonts-dejavu-core)
[ "$mode" = fuzz ] && packages+=(clang libclang-rt-14-dev)
[ "$mode" = bench ] && packages+=(hyperfine time gnuplot-nox lynx w3m html2text pandoc)

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

case "$mode" in
run | test)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}"
    cmake --build build
    if [ "$mode" = run ]; then
        exec build/bin/velmora
    fi
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
sanitize)
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF
    cmake --build build-sanitize
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
    ;;
fuzz)
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
    cmake --build build-fuzz
    corpus=$(mktemp -d)
    trap 'rm -rf "$corpus"' EXIT
    build-fuzz/bin/velmora-fuzz "$corpus" tests/data -dict=tests/fuzz/html.dict \
        -max_len=4096 -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1
    ;;
bench)
    exec bench/compare.sh
    ;;
*)
    echo "Usage: $0 run|test|sanitize|fuzz|bench" >&2
    exit 2
    ;;
esac
