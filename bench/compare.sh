#!/usr/bin/env bash
# Races whole conversions, file to file, on generated reports of about 1, 10 and 100 MB:
# velmora-convert against `cat IN > OUT` (reading and writing the same bytes, the floor
# for any converter) and against general HTML browsers and converters that also turn
# HTML into plain text: lynx -dump, w3m -dump, html2text and pandoc -t plain. Then
# checks velmora-convert against its targets, each a ratio to a command measured in the
# same run: on a BIG_MB report, file to file against dd, to /dev/null against wc -l, and
# from standard input through a pipe against the same conversion from the file; on a
# TARGET_MB report, file to file against dd (lynx beside it, as information); peak
# memory on a MEMORY_MB report (file to file and from standard input); a batch of
# BATCH_COUNT small reports against the BASELINE build of velmora-convert (rsync beside
# it, as information); a tree of TREE_COUNT small documents walked with -r -O against the
# same files named one by one (TREE_RUNS runs of each: a run takes most of a minute); and
# the Qt window on a WINDOW_MB report against velmora-convert. Then a perf profile of the
# BIG_MB conversion. Writes bench/RESULTS.md and bench/time_vs_size.png.
# `./setup.sh bench` installs the tools and runs this.
#
#   bench/compare.sh      # RUNS=9 SLOW_RUNS=3 SIZES="1 10 100" PANDOC_SIZES="1 10"
#                         # TIME_LIMIT=900 BUILD=build
#                         # TARGET_RUNS=7 BIG_MB=96 TARGET_MB=9.6 MEMORY_MB=1024
#                         # BATCH_COUNT=2000 TREE_COUNT=100000 TREE_RUNS=2 WINDOW_MB=58
#                         # BASELINE=path/to/older/velmora-convert
#                         # VELMORA_KERNELS=word|sse2|avx2
#
# Medians of RUNS runs (hyperfine), of SLOW_RUNS for a command whose first run took more
# than 5 seconds; peak memory is the largest resident set of that first run
# (/usr/bin/time), which also warms the page cache. A run that fails or takes more than
# TIME_LIMIT seconds is written into the table as such, and the race goes on. pandoc
# needs about a minute for 10 MB, so it runs on PANDOC_SIZES only. A target's two
# commands run in turn, one run at a time, TARGET_RUNS times each after a warm-up of
# each, so that a change in the machine's load falls on both; the ratio is of their
# medians. The MEMORY_MB report needs three times its size free in the temporary folder
# ($TMPDIR, else /tmp), and is deleted once measured. BASELINE is velmora-convert as built
# from an earlier version, to show that the batch is no slower than it was; without it
# that row says so. VELMORA_KERNELS, when set, is left to every velmora-convert run here
# (the baseline's too), and RESULTS.md names the kernels in effect.
set -euo pipefail
# BASELINE as the caller named it, from the caller's folder.
baseline=${BASELINE:-}
[ -z "$baseline" ] || [[ $baseline == /* ]] || baseline="$PWD/$baseline"
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
slow_runs=${SLOW_RUNS:-3}
sizes=${SIZES:-"1 10 100"}
pandoc_sizes=${PANDOC_SIZES-"1 10"}
time_limit=${TIME_LIMIT:-900}
build=${BUILD:-build}
target_runs=${TARGET_RUNS:-7}
big_mb=${BIG_MB:-96}
target_mb=${TARGET_MB:-9.6}
memory_mb=${MEMORY_MB:-1024}
batch_count=${BATCH_COUNT:-2000}
tree_count=${TREE_COUNT:-100000}
tree_runs=${TREE_RUNS:-2}
window_mb=${WINDOW_MB:-58}

for tool in hyperfine gnuplot lynx w3m html2text pandoc rsync timeout; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run ./setup.sh bench" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: run ./setup.sh bench" >&2; exit 1; }
if [ -n "$baseline" ] && { [ ! -f "$baseline" ] || [ ! -x "$baseline" ]; }; then
    echo "BASELINE=$baseline is not a program that runs" >&2
    exit 1
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target velmora-convert velmora-make-report velmora-bench >/dev/null
# The window's timing program exists only in a build with Qt.
cmake --build "$build" --target velmora-window-convert >/dev/null 2>&1 || true
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

# The targets. Each check adds a row to targets.tsv: the target, velmora-convert's figure,
# the peer's, the ratio, the limit, met or missed ("-" for both in a row of information
# only), and the commands, shown with the temporary folder as WORK and the baseline's
# program as BASELINE.
shown() {
    local command=$1
    [ -z "$baseline" ] || command=${command//"$baseline"/BASELINE}
    command=${command//"$convert"/velmora-convert}
    echo "${command//"$work"/WORK}"
}

target_row() {
    local IFS=$'\t'
    echo "$*" >> "$work/targets.tsv"
}

# A side of a target is a command alone, or `side COMMAND PREPARE [CLEANUP]`: hyperfine runs
# PREPARE before each run of COMMAND and CLEANUP after it, all without a shell (-N) unless
# COMMAND redirects, pipes or names files with a wildcard. The parts are joined by the
# ASCII unit separator, which no command here holds (a "|" may be a pipe).
side() {
    local IFS=$'\x1f'
    echo "$*"
}

# One timed run of a side: its time in seconds.
once() {
    local command prepare cleanup args=()
    IFS=$'\x1f' read -r command prepare cleanup <<< "$1"
    [[ $command == *[\<\>\|*]* ]] || args+=(-N)
    [ -z "$prepare" ] || args+=(--prepare "$prepare")
    [ -z "$cleanup" ] || args+=(--cleanup "$cleanup")
    timeout "$time_limit" hyperfine --style none --runs 1 --export-csv "$work/once.csv" \
        "${args[@]}" "$command" >/dev/null 2>"$work/err" || return
    awk -F, 'NR == 2 { print $4 }' "$work/once.csv"
}

# A side as the table shows it.
described() {
    local command prepare cleanup
    IFS=$'\x1f' read -r command prepare cleanup <<< "$1"
    printf "\`%s\`" "$(shown "$command")"
    [ -z "$prepare" ] || printf ", before each run \`%s\`" "$(shown "$prepare")"
    [ -z "$cleanup" ] || printf ", after it \`%s\`" "$(shown "$cleanup")"
}

# The median of the times in a file, one a line, leaving out the first (the warm-up).
median() {
    tail -n +2 "$1" | sort -g | awk '{ t[NR] = $1 }
        END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# Two sides run in turn: a warm-up of each, then target_runs runs of each. Prints the two
# medians; fails at the first run that fails, its reason in $work/err.
alternate() {
    : > "$work/first.times"
    : > "$work/second.times"
    for _ in $(seq 0 "$target_runs"); do
        once "$1" >> "$work/first.times" || return
        once "$2" >> "$work/second.times" || return
    done
    echo "$(median "$work/first.times") $(median "$work/second.times")"
}

# A time target: velmora-convert's side against the peer's. KIND "at most" bounds the
# ratio velmora-convert / peer, "at least" the speed-up peer / velmora-convert; a LIMIT of
# "-" makes the row information only, its ratio taken as KIND says and nothing to meet.
# AIM is a stricter figure to report, or "". NOTE, if given, follows the commands: what
# makes the two sides a fair match where that is not plain from them.
time_target() {
    local target=$1 ours=$2 peer=$3 peer_name=$4 kind=$5 limit=$6 aim=$7 note=${8:-}
    local medians commands bound="$kind $limit"
    commands="$(described "$ours"); $(described "$peer")${note:+; $note}"
    [ "$limit" != - ] || bound=-
    echo "target: $target" >&2
    if ! medians=$(alternate "$ours" "$peer"); then
        target_row "$target" "failed: $(head -c 200 "$work/err" | tr '\t\n' '  ')" - - \
            "$bound" "not measured" "$commands"
        return
    fi
    awk -v target="$target" -v medians="$medians" -v peer="$peer_name" -v kind="$kind" \
        -v limit="$limit" -v aim="$aim" -v commands="$commands" 'BEGIN {
        split(medians, m, " ")
        if (kind == "at least") {
            r = m[2] / m[1]
            how = sprintf("%.3g (%s / velmora-convert)", r, peer)
            met = r >= limit
            aim_met = aim != "" && r >= aim
        } else {
            r = m[1] / m[2]
            how = sprintf("%.3g (velmora-convert / %s)", r, peer)
            met = r <= limit
            aim_met = aim != "" && r <= aim
        }
        if (limit == "-") {
            bound = "-"
            result = "-"
        } else {
            bound = kind " " limit (aim != "" ? " (aim " aim ")" : "")
            result = met ? "met" : "missed"
            if (aim != "")
                result = result (aim_met ? ", aim met" : ", aim missed")
        }
        printf "%s\t%.3f s\t%.3f s (%s)\t%s\t%s\t%s\t%s\n", target, m[1], m[2], peer, how,
            bound, result, commands
    }' >> "$work/targets.tsv"
}

# Targets 1 to 3 on one BIG_MB report: file to file against dd writing the same bytes to
# disk; to /dev/null against counting its lines; and from standard input through a pipe
# against the same conversion from the file. Both sides of the last go through the shell
# (the pipe needs it; the file's side takes its standard input from /dev/null, so that it
# does too), each to its own output file, so that only cat and the pipe set them apart.
big_targets() {
    local big="$work/big.html"
    time_target "$big_mb MB report, file to file" "$convert $big -o $work/big.txt" \
        "dd if=$big of=$work/big-dd.txt bs=1M conv=fsync" dd "at most" 1.5 1.2
    time_target "$big_mb MB report, to /dev/null" "$convert $big -o /dev/null" "wc -l $big" \
        "wc -l" "at most" 5 3
    time_target "$big_mb MB report, standard input through a pipe, to a file" \
        "cat $big | $convert - -o $work/big-pipe.txt" \
        "$convert $big -o $work/big-file.txt < /dev/null" "from the file" "at most" 1.2 "" \
        "both through the shell, each to its own output, so the shell's start falls on both"
    rm -f "$work/big.txt" "$work/big-dd.txt" "$work/big-pipe.txt" "$work/big-file.txt"
}

# Target 4 on a TARGET_MB report: file to file against dd, as for BIG_MB. Beside it, as
# information, lynx, the fastest of the general converters, on the same report.
middle_targets() {
    local input="$work/middle.html"
    "$build/bin/velmora-make-report" "$target_mb" "$input"
    time_target "$target_mb MB report, file to file" "$convert $input -o $work/middle.txt" \
        "dd if=$input of=$work/middle-dd.txt bs=1M conv=fsync" dd "at most" 1.5 ""
    time_target "$target_mb MB report, file to file, beside lynx" \
        "$convert $input -o $work/middle.txt" \
        "lynx -dump -force_html -nolist $input > $work/lynx.txt" lynx "at least" - ""
    rm -f "$input" "$work/middle.txt" "$work/middle-dd.txt" "$work/lynx.txt"
}

# Target 5: the largest resident set of one run on a MEMORY_MB report, file to file and
# from standard input. The input, the old output and the new one before it replaces the
# old need about three times the report's size.
memory_targets() {
    local input="$work/huge.html" output="$work/huge.txt" free_mb need_mb
    local file_command="/usr/bin/time -f %M $convert $input -o $output"
    local stdin_command="/usr/bin/time -f %M $convert - -o $output < $input"
    free_mb=$(df -Pk "$work" | awk 'NR == 2 { printf "%d", $4 / 1024 }')
    need_mb=$(awk -v size="$memory_mb" 'BEGIN { printf "%d", 3 * size + 1 }')
    if [ "$free_mb" -lt "$need_mb" ]; then
        local why="not run: WORK has $free_mb MB free, needs $need_mb MB"
        target_row "peak memory, $memory_mb MB report, file to file" "$why" - - \
            "at most 16 MiB" "not measured" "\`$(shown "$file_command")\`"
        target_row "peak memory, $memory_mb MB report, standard input" "$why" - - \
            "at most 16 MiB" "not measured" "\`$(shown "$stdin_command")\`"
        return
    fi
    echo "target: peak memory on $memory_mb MB" >&2
    "$build/bin/velmora-make-report" "$memory_mb" "$input"
    local status=0
    /usr/bin/time -f %M -o "$work/m" "$convert" "$input" -o "$output" 2>"$work/err" || status=$?
    memory_row "file to file" "$status" "$file_command"
    status=0
    /usr/bin/time -f %M -o "$work/m" "$convert" - -o "$output" < "$input" 2>"$work/err" ||
        status=$?
    memory_row "standard input" "$status" "$stdin_command"
    rm -f "$input" "$output"
}

memory_row() {
    local how=$1 status=$2 command=$3 peak
    if [ "$status" -ne 0 ]; then
        target_row "peak memory, $memory_mb MB report, $how" "failed: exit status $status" - - \
            "at most 16 MiB" "not measured" "\`$(shown "$command")\`"
        return
    fi
    peak=$(tail -n 1 "$work/m")
    target_row "peak memory, $memory_mb MB report, $how" \
        "$(awk -v k="$peak" 'BEGIN { printf "%.1f MiB", k / 1024 }')" - - "at most 16 MiB" \
        "$(awk -v k="$peak" 'BEGIN { print (k <= 16 * 1024 ? "met" : "missed") }')" \
        "\`$(shown "$command")\`"
}

# Target 6: BATCH_COUNT reports of 5 to 200 KB, spread evenly over the logarithm of the
# size in an order that does not follow the names (the fractional parts of multiples of
# the golden ratio), converted two at a time beside themselves, no slower than the
# BASELINE build converting them the same way. Beside it, as information, copying them
# with rsync flushing each copy to disk as velmora-convert flushes each output.
batch_target() {
    local source="$work/batch" copy="$work/batch-copy" total_mb target ours
    mkdir "$source"
    awk -v n="$batch_count" 'BEGIN {
        for (i = 1; i <= n; ++i) {
            f = i * 0.6180339887
            printf "%05d %.5f\n", i, 5 * 40 ^ (f - int(f)) / 1024
        }
    }' | while read -r index megabytes; do
        "$build/bin/velmora-make-report" "$megabytes" "$source/doc-$index.html"
    done
    total_mb=$(find "$source" -type f -printf '%s\n' |
        awk '{ sum += $1 } END { printf "%.1f", sum / 1048576 }')
    target="batch of $batch_count reports of 5 to 200 KB ($total_mb MB)"
    # The outputs go before each run and after it, so that every run writes them anew and
    # rsync copies the reports only.
    ours=$(side "$convert -j 2 $source/*.html" "rm -f $source/*.txt" "rm -f $source/*.txt")
    if [ -n "$baseline" ]; then
        time_target "$target, against the baseline" "$ours" \
            "$(side "$baseline -j 2 $source/*.html" "rm -f $source/*.txt" "rm -f $source/*.txt")" \
            baseline "at most" 1.0 ""
    else
        target_row "$target, against the baseline" "no baseline given (BASELINE)" - - \
            "at most 1.0" "not measured" "$(described "$ours")"
    fi
    time_target "$target, beside rsync" "$ours" \
        "$(side "rsync -a --fsync $source/ $copy/" "rm -rf $copy")" rsync "at most" - ""
    rm -rf "$source" "$copy"
}

# Target 7: TREE_COUNT documents of a few lines in 500 folders, converted with -r into
# another folder that keeps the tree, against the same files named one by one (by find
# -exec, as many to a run as the system takes) into one folder. Both run two jobs at once.
tree_target() {
    local tree="$work/tree"
    awk -v n="$tree_count" -v tree="$tree" 'BEGIN {
        doc = "<dl><dt>Title</dt><dd>Value <p>para</p></dd><dt>Other</dt><dd>More</dd></dl>\n"
        for (i = 0; i < n; ++i) {
            folder = sprintf("%s/set-%03d", tree, i % 500)
            if (i < 500) system("mkdir -p " folder)
            file = sprintf("%s/doc-%06d.html", folder, i)
            printf "%s", doc > file
            close(file)
        }
    }'
    target_runs=$tree_runs time_target "tree of $tree_count documents of 80 bytes in 500 folders, -r -O" \
        "$(side "$convert -r -j 2 $tree -O $work/tree-out" "rm -rf $work/tree-out" \
            "rm -rf $work/tree-out")" \
        "$(side "find $tree -name '*.html' -exec $convert -j 2 -O $work/flat-out {} +" \
            "rm -rf $work/flat-out" "rm -rf $work/flat-out")" \
        "named one by one" "at most" 1.25 ""
    rm -rf "$tree" "$work/tree-out" "$work/flat-out"
}

# Beside the targets: where the time of the BIG_MB conversion goes, perf's top symbols into
# profile.txt, or why there are none.
profile() {
    local big="$work/big.html"
    local record="perf record -g -o $work/perf.data -- $convert $big -o $work/big.txt"
    local report="perf report -i $work/perf.data --no-children --stdio --sort sym"
    echo "\`$(shown "$record")\`, then \`$(shown "$report")\`" > "$work/profile.how"
    echo "target: perf profile" >&2
    if ! command -v perf >/dev/null; then
        echo "perf is not installed: nothing recorded." > "$work/profile.txt"
        return
    fi
    # shellcheck disable=SC2086 # the commands are split into words as written
    if ! $record >/dev/null 2>"$work/err" || ! $report > "$work/perf.report" 2>>"$work/err"; then
        {
            echo "perf could not record here:"
            grep -v '^ *$' "$work/err" | head -n 4
        } > "$work/profile.txt"
        return
    fi
    {
        grep -m 1 '^# Samples' "$work/perf.report"
        grep -E '^ +[0-9.]+%' "$work/perf.report" | head -n 12
    } > "$work/profile.txt"
    rm -f "$work/perf.data" "$work/big.txt"
}

# Target 7 also: the Qt window converting a WINDOW_MB report, timed from the click on Convert
# to its end (velmora-window-convert prints that), against velmora-convert's whole run,
# in turn as time_target runs its sides.
window_target() {
    local input="$work/window.html" window="$PWD/$build/bin/velmora-window-convert"
    local target="$window_mb MB report in the Qt window" times
    local commands="\`velmora-window-convert WORK/window.html WORK/window.txt\`; $(
        described "$convert $input -o $work/window-convert.txt")"
    if [ ! -x "$window" ]; then
        target_row "$target" "not built: no Qt" - - "at most 2" "not measured" "$commands"
        return
    fi
    echo "target: $target" >&2
    "$build/bin/velmora-make-report" "$window_mb" "$input"
    : > "$work/first.times"
    : > "$work/second.times"
    for _ in $(seq 0 "$target_runs"); do
        "$window" "$input" "$work/window.txt" >> "$work/first.times" 2>"$work/err" &&
            once "$convert $input -o $work/window-convert.txt" >> "$work/second.times" || {
            target_row "$target" "failed: $(head -c 200 "$work/err" | tr '\t\n' '  ')" - - \
                "at most 2" "not measured" "$commands"
            rm -f "$input" "$work/window.txt" "$work/window-convert.txt"
            return
        }
    done
    times="$(median "$work/first.times") $(median "$work/second.times")"
    awk -v target="$target" -v times="$times" -v commands="$commands" 'BEGIN {
        split(times, m, " ")
        printf "%s\t%.3f s (window)\t%.3f s (velmora-convert)\t%.3g (window / velmora-convert)\tat most 2\t%s\t%s\n",
            target, m[1], m[2], m[1] / m[2], (m[1] / m[2] <= 2 ? "met" : "missed"), commands
    }' >> "$work/targets.tsv"
    rm -f "$input" "$work/window.txt" "$work/window-convert.txt"
}

targets_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
: > "$work/targets.tsv"
"$build/bin/velmora-make-report" "$big_mb" "$work/big.html"
big_targets
profile
rm -f "$work/big.html"
middle_targets
memory_targets
batch_target
tree_target
window_target
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

# The kernels velmora-convert takes here: those VELMORA_KERNELS names when they run on
# this processor, else the widest that does (AVX2 if the processor has it, else SSE2, on
# x86-64; the portable ones elsewhere).
kernels_in_effect() {
    local named=${VELMORA_KERNELS:-} widest=word
    if [ "$(uname -m)" = x86_64 ]; then
        widest=sse2
        grep -qw avx2 /proc/cpuinfo && widest=avx2
    fi
    if [ -z "$named" ]; then
        echo "VELMORA_KERNELS not set: the widest that runs ($widest)"
    elif [ "$named" = word ] || { [ "$named" = sse2 ] && [ "$widest" != word ]; } ||
        { [ "$named" = avx2 ] && [ "$widest" = avx2 ]; }; then
        echo "VELMORA_KERNELS=$named"
    else
        echo "VELMORA_KERNELS=$named, which does not run here: the widest that runs ($widest)"
    fi
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
    echo "- Kernels: $(kernels_in_effect)"
    if [ -n "$baseline" ]; then
        echo "- Baseline (BASELINE): \`$baseline\`"
    else
        echo "- Baseline (BASELINE): none given"
    fi
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
    echo "Growth with the input:"
    echo
    awk -F'\t' '
        $3 == "velmora-convert" && $4 != "-" { time[$1] = $4; mem[$1] = $6; in_mb[$1] = $2; last = $1 }
        END {
            if (last != "")
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
    echo "## Against the targets"
    echo
    echo "Measured in the same run as the tables above (load average $targets_before before"
    echo "these, $load_after after). A time is the median of $target_runs runs of each command,"
    echo "velmora-convert's and the peer's taken in turn after a warm-up of each, every run a"
    echo "\`hyperfine --runs 1\` of its own, with \`-N\` (no shell) unless the command redirects,"
    echo "pipes or names files with a wildcard; the files are in the page cache. Memory is the"
    echo "largest resident set of one run. A row with \"-\" for its limit is information only."
    echo "WORK is the script's temporary folder; velmora-convert is \`$build/bin/velmora-convert\`"
    echo "and BASELINE the baseline's program named above."
    echo
    echo "| target | velmora-convert | peer | ratio | limit | result | commands |"
    echo "|---|---|---|---|---|---|---|"
    awk -F'\t' -v OFS=' | ' '{ $1 = $1; print "| " $0 " |" }' "$work/targets.tsv"
    echo
    echo "Where the time of the $big_mb MB conversion, file to file, goes: the top symbols by"
    echo "their own share of the samples, from $(cat "$work/profile.how"):"
    echo
    echo '```'
    cat "$work/profile.txt"
    echo '```'
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
