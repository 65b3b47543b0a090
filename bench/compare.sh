#!/usr/bin/env bash
# Times whole conversions, file to file, against `cat IN > OUT` (reading and writing the
# same bytes, the floor for any converter) on generated reports of about 1, 10 and
# 100 MB, and writes bench/RESULTS.md and bench/time_vs_size.png.
#
#   bench/compare.sh                 # RUNS=9 SIZES="1 10 100" BUILD=build
#
# Medians of RUNS runs after a warm-up (hyperfine); peak memory is the largest resident
# set of one run (/usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
sizes=${SIZES:-"1 10 100"}
build=${BUILD:-build}

needed=()
command -v hyperfine >/dev/null || needed+=(hyperfine)
command -v gnuplot >/dev/null || needed+=(gnuplot-nox)
[ -x /usr/bin/time ] || needed+=(time)
if [ ${#needed[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends "${needed[@]}"
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target velmora-convert velmora-make-report velmora-bench >/dev/null
convert="$PWD/$build/bin/velmora-convert"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# median seconds of a command, from hyperfine's CSV (columns: command,mean,stddev,median,...)
median() {
    hyperfine --style none --warmup 1 --runs "$runs" --export-csv "$work/t.csv" "$1" >/dev/null
    awk -F, 'NR == 2 { print $4 }' "$work/t.csv"
}
# largest resident set, in MB
peak() {
    /usr/bin/time -f '%M' -o "$work/m" sh -c "$1" >/dev/null
    awk '{ printf "%.1f", $1 / 1024 }' "$work/m"
}

printf '%s\t%s\t%s\t%s\t%s\n' size_mb input_mb velmora_s cat_s velmora_peak_mb > "$work/results.tsv"
for size in $sizes; do
    "$build/bin/velmora-make-report" "$size" "$work/in.html"
    input_mb=$(stat -c %s "$work/in.html" | awk '{ printf "%.1f", $1 / 1048576 }')
    velmora=$(median "$convert $work/in.html -o $work/out.txt")
    cat=$(median "cat $work/in.html > $work/cat.txt")
    memory=$(peak "$convert $work/in.html -o $work/out.txt")
    printf '%s\t%s\t%s\t%s\t%s\n' "$size" "$input_mb" "$velmora" "$cat" "$memory" >> "$work/results.tsv"
    echo "$size MB: velmora ${velmora}s, cat ${cat}s, peak ${memory} MB" >&2
done

gnuplot <<PLOT
set terminal pngcairo size 800,520 font "DejaVu Sans,10"
set output "bench/time_vs_size.png"
set title "Whole conversion, file to file: median time against input size"
set logscale xy
set xlabel "input (MB)"
set ylabel "seconds"
set key top left
set grid
plot "$work/results.tsv" using 2:3 skip 1 with linespoints lw 2 pt 7 title "velmora-convert", \
     "$work/results.tsv" using 2:4 skip 1 with linespoints lw 2 pt 5 title "cat IN > OUT"
PLOT

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
memory_total=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")
build_type=$(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$build/CMakeCache.txt")
{
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/compare.sh\` on $(date -u +%Y-%m-%d)."
    echo
    echo "- Machine: $(nproc) cores of $cpu, $memory_total, $(uname -sr)"
    echo "- Compiler: $("$compiler" --version | head -n 1); build type $build_type"
    echo "- Method: generated metadata reports (\`velmora-make-report N\`); medians of $runs runs"
    echo "  after a warm-up, files in the page cache; peak memory is the largest resident set."
    echo
    echo "## Whole process, file to file"
    echo
    echo "| input | velmora-convert | cat IN > OUT | ratio to cat | peak memory | memory / input |"
    echo "|---|---|---|---|---|---|"
    awk -F'\t' 'NR > 1 {
        printf "| %s MB | %.3f s | %.3f s | %.1fx | %s MB | %.2fx |\n", $2, $3, $4, $3 / $4, $5, $5 / $2
    }' "$work/results.tsv"
    echo
    echo "Against the targets for the largest input: time within 4x of cat, peak memory"
    echo "at most 2.5x the input, and 10x the input taking at most 12x the time:"
    echo
    awk -F'\t' 'NR > 1 { time[$1] = $3; cat[$1] = $4; mem[$1] = $5; in_mb[$1] = $2; last = $1 }
    END {
        verdict = "met"
        printf "- time: %.2fx cat (%s)\n", time[last] / cat[last], time[last] / cat[last] <= 4 ? verdict : "missed"
        printf "- memory: %.2fx the input (%s)\n", mem[last] / in_mb[last], mem[last] / in_mb[last] <= 2.5 ? verdict : "missed"
        if (time[10] && time[100])
            printf "- growth from 10 to 100 MB: %.1fx (%s)\n", time[100] / time[10], time[100] / time[10] <= 12 ? verdict : "missed"
    }' "$work/results.tsv"
    echo
    echo "The time includes making the replacement crash-safe: the output is written to a new"
    echo "file, flushed to disk (fsync) and renamed over the old one; cat does none of that."
    echo
    echo "![time against size](time_vs_size.png)"
    echo
    echo "## In memory, by phase and by shape of document (Google Benchmark)"
    echo
    echo '```'
    "$build/bin/velmora-bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
        2>/dev/null | grep -E 'median|^Benchmark|^---'
    echo '```'
    echo
    echo "Shapes: 0 report, 1 lists nested 200 deep (the output repeats the markers on every"
    echo "line, so it is many times the input), 2 one flat list, 3 text without tags,"
    echo "4 text dense with stray \">\"."
} > bench/RESULTS.md
echo "wrote bench/RESULTS.md and bench/time_vs_size.png" >&2
