#!/usr/bin/env bash
# Races whole conversions, file to file, on generated reports of about 1, 10 and 100 MB:
# velmora-convert against `cat IN > OUT` (reading and writing the same bytes, the floor
# for any converter) and against general HTML browsers and converters that also turn
# HTML into plain text: lynx -dump, w3m -dump, html2text and pandoc -t plain. Writes
# bench/RESULTS.md and bench/time_vs_size.png. `./setup.sh bench` installs the tools and
# runs this.
#
#   bench/compare.sh      # RUNS=9 SLOW_RUNS=3 SIZES="1 10 100" PANDOC_SIZES="1 10"
#                         # TIME_LIMIT=900 BUILD=build
#
# Medians of RUNS runs (hyperfine), of SLOW_RUNS for a command whose first run took more
# than 5 seconds; peak memory is the largest resident set of that first run
# (/usr/bin/time), which also warms the page cache. A run that fails or takes more than
# TIME_LIMIT seconds is written into the table as such, and the race goes on. pandoc
# needs about a minute for 10 MB, so it runs on PANDOC_SIZES only.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
slow_runs=${SLOW_RUNS:-3}
sizes=${SIZES:-"1 10 100"}
pandoc_sizes=${PANDOC_SIZES:-"1 10"}
time_limit=${TIME_LIMIT:-900}
build=${BUILD:-build}

for tool in hyperfine gnuplot lynx w3m html2text pandoc timeout; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run ./setup.sh bench" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: run ./setup.sh bench" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target velmora-convert velmora-make-report velmora-bench >/dev/null
convert="$PWD/$build/bin/velmora-convert"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The racers, in table order: a name, then the command with %in and %out for the paths.
racers=(
    "velmora-convert|$convert %in -o %out"
    "cat IN > OUT|cat %in > %out"
    "lynx -dump|lynx -dump %in > %out"
    "w3m -dump|w3m -dump %in > %out"
    "html2text|html2text %in > %out"
    "pandoc -t plain|pandoc -f html -t plain %in > %out"
)

# One racer on one input: a row of results.tsv (size, input MB, racer, median s, relative
# spread, peak MB, what went wrong).
race() {
    local size=$1 input_mb=$2 name=$3 command=$4 status=0
    /usr/bin/time -f '%e %M' -o "$work/m" timeout "$time_limit" sh -c "$command" \
        >/dev/null 2>"$work/err" || status=$?
    if [ "$status" -ne 0 ]; then
        local why="exit status $status"
        [ "$status" -eq 124 ] && why="timed out after $time_limit s"
        [ "$status" -gt 128 ] && [ "$status" -ne 124 ] && why="killed by signal $((status - 128))"
        grep -qi 'memory' "$work/err" && why="$why, out of memory"
        printf '%s\t%s\t%s\t-\t-\t-\t%s\n' "$size" "$input_mb" "$name" "$why" >> "$work/results.tsv"
        echo "$size MB: $name failed: $why" >&2
        return
    fi
    local once peak count=$runs warmup=1
    once=$(tail -n 1 "$work/m" | awk '{ print $1 }')
    peak=$(tail -n 1 "$work/m" | awk '{ printf "%.1f", $2 / 1024 }')
    if awk -v s="$once" 'BEGIN { exit !(s > 5) }'; then
        count=$slow_runs
        warmup=0
    fi
    if ! hyperfine --style none --warmup "$warmup" --runs "$count" --export-csv "$work/t.csv" \
        "$command" >/dev/null 2>"$work/err"; then
        printf '%s\t%s\t%s\t-\t-\t%s\tfailed while timed\n' "$size" "$input_mb" "$name" "$peak" \
            >> "$work/results.tsv"
        return
    fi
    # hyperfine's CSV columns: command,mean,stddev,median,...
    awk -F, -v size="$size" -v in_mb="$input_mb" -v name="$name" -v peak="$peak" 'NR == 2 {
        printf "%s\t%s\t%s\t%s\t%.0f\t%s\t\n", size, in_mb, name, $4, 100 * $3 / $2, peak
    }' "$work/t.csv" >> "$work/results.tsv"
    echo "$size MB: $name $(awk -F, 'NR == 2 { print $4 }' "$work/t.csv") s, peak $peak MB" >&2
}

load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
: > "$work/results.tsv"
for size in $sizes; do
    "$build/bin/velmora-make-report" "$size" "$work/in.html"
    input_mb=$(stat -c %s "$work/in.html" | awk '{ printf "%.1f", $1 / 1048576 }')
    for racer in "${racers[@]}"; do
        name=${racer%%|*}
        command=${racer#*|}
        command=${command//%in/$work/in.html}
        command=${command//%out/$work/out.txt}
        if [ "$name" = "pandoc -t plain" ] && [[ " $pandoc_sizes " != *" $size "* ]]; then
            printf '%s\t%s\t%s\t-\t-\t-\tnot run\n' "$size" "$input_mb" "$name" >> "$work/results.tsv"
            continue
        fi
        race "$size" "$input_mb" "$name" "$command"
    done
    rm -f "$work/out.txt"
done
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

# One data file per racer for the plot, its successful runs only.
plot=""
for index in "${!racers[@]}"; do
    name=${racers[$index]%%|*}
    awk -F'\t' -v name="$name" '$3 == name && $4 != "-" { print $2 "\t" $4 }' \
        "$work/results.tsv" > "$work/plot$index.tsv"
    [ -s "$work/plot$index.tsv" ] || continue
    plot+="${plot:+, }\"$work/plot$index.tsv\" using 1:2 with linespoints lw 2 pt 7 title \"$name\""
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
plot $plot
PLOT

# A table with one row per input and one column per racer. `cell` is an awk expression
# for one result; base[size] holds velmora-convert's time on that input.
table() {
    local cell=$1
    local header="| input |" rule="|---|"
    for racer in "${racers[@]}"; do
        header+=" ${racer%%|*} |"
        rule+="---|"
    done
    echo "$header"
    echo "$rule"
    awk -F'\t' 'NR == FNR { if ($3 == "velmora-convert") base[$1] = $4; next }
        !($1 in input) { order[++rows] = $1; input[$1] = $2 }
        { cells[$1] = cells[$1] " " ('"$cell"') " |" }
        END { for (r = 1; r <= rows; ++r) printf "| %s MB |%s\n", input[order[r]], cells[order[r]] }
    ' "$work/results.tsv" "$work/results.tsv"
}

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
memory_total=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")
build_type=$(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$build/CMakeCache.txt")
{
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/compare.sh\` on $(date -u +%Y-%m-%d)."
    echo
    echo "- Machine: $(nproc) cores of $cpu, $memory_total, $(uname -sr); load average"
    echo "  (1, 5, 15 minutes) $load_before at the start, $load_after at the end"
    echo "- Compiler: $("$compiler" --version | head -n 1); build type $build_type"
    echo "- Peers (Debian packages): lynx $(dpkg-query -W -f='${Version}' lynx),"
    echo "  w3m $(dpkg-query -W -f='${Version}' w3m), html2text $(dpkg-query -W -f='${Version}' html2text),"
    echo "  pandoc $(dpkg-query -W -f='${Version}' pandoc)"
    echo "- Method: generated metadata reports (\`velmora-make-report N\`), converted file to"
    echo "  file (\`velmora-convert IN -o OUT\`, \`PEER IN > OUT\`); medians of $runs runs after a"
    echo "  warm-up, or of $slow_runs for a command whose first run took over 5 s; files in the"
    echo "  page cache; peak memory is the largest resident set of one run; a run over"
    echo "  $time_limit s counts as failed."
    echo
    echo "## Whole process, file to file"
    echo
    echo "The peers are general HTML browsers and converters: they lay the whole page out as"
    echo "text (wrapped paragraphs, every heading and link), so their outputs differ from"
    echo "velmora-convert's and from each other's. These tables compare cost only."
    echo
    echo "Median time (± the standard deviation of the runs, relative to their mean):"
    echo
    table '$4 == "-" ? $7 : sprintf("%.3f s ±%s%%", $4, $5)'
    echo
    echo "Time relative to velmora-convert on the same input:"
    echo
    table '$4 == "-" || base[$1] == "-" ? "-" : sprintf("%.2fx", $4 / base[$1])'
    echo
    echo "Peak memory (largest resident set):"
    echo
    table '$6 == "-" ? "-" : sprintf("%s MB", $6)'
    echo
    echo "Against the targets:"
    echo
    awk -F'\t' '
        $3 == "velmora-convert" && $4 != "-" { time[$1] = $4; mem[$1] = $6; in_mb[$1] = $2; last = $1 }
        $3 == "cat IN > OUT" && $4 != "-" { cat[$1] = $4 }
        $3 == "lynx -dump" && $4 != "-" { lynx[$1] = $4 }
        END {
            if (cat[last]) {
                r = time[last] / cat[last]
                printf "- time on the largest input: %.2fx cat (target at most 3x, aim 2x: %s)\n",
                    r, (r <= 2 ? "aim met" : (r <= 3 ? "met" : "missed"))
            }
            if (lynx[10] && time[10])
                printf "- lynx -dump on 10 MB: velmora-convert %.1fx faster (target at least 25x: %s)\n",
                    lynx[10] / time[10], (lynx[10] / time[10] >= 25 ? "met" : "missed")
            printf "- memory on the largest input: %.2fx the input\n", mem[last] / in_mb[last]
            if (time[10] && time[100])
                printf "- growth from 10 to 100 MB: %.1fx the time\n", time[100] / time[10]
        }' "$work/results.tsv"
    echo
    echo "velmora-convert's time includes making the replacement crash-safe: the output is"
    echo "written to a new file, flushed to disk (fsync) and renamed over the old one; the"
    echo "others write through the shell's redirection and do none of that."
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
    echo "4 text dense with stray \">\", 5 one term in lists nested as deep as the size allows"
    echo "(at 1 to 8 MB: the time per byte stays the same however deep)."
} > bench/RESULTS.md
echo "wrote bench/RESULTS.md and bench/time_vs_size.png" >&2
