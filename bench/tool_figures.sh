#!/usr/bin/env bash
# The velk tool on large files: check, format and compact of generated
# documents of MB megabytes, against the library's own LoadFile plus SaveFile
# of the same file (UTF-8 model) and against xmllint. Each command runs
# RUNS times in a process of its own under /usr/bin/time; the table gives the
# median time (wall, or user plus system time with --clock cpu) and the median
# peak resident memory, and their ratios to load plus save. The documents are
# deleted afterwards.
#
#   bench/tool_figures.sh BUILD_DIR RESULTS_DIR MB CLOCK [RUNS]
set -euo pipefail

build=$1
results=$2
megabytes=$3
clock=$4
runs=${5:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-tool-figures.XXXXXX")
trap 'rm -rf "$work"' EXIT

velk=$build/tools/velk
loadsave=$build/bench/velk_loadsave
generator=$build/bench/velk_corpus
out=$work/out.xml

# measure NAME COMMAND...: runs COMMAND (its standard output into $out) and
# prints "seconds kilobytes" for the median run.
measure() {
    local i seconds=() kilobytes=()
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$out"
        read -r wall user sys peak <"$work/time"
        if [ "$clock" = cpu ]; then
            seconds+=("$(echo "$user + $sys" | bc)")
        else
            seconds+=("$wall")
        fi
        kilobytes+=("$peak")
    done
    echo "$(printf '%s\n' "${seconds[@]}" | sort -n | sed -n "$((runs / 2 + 1))p")" \
        "$(printf '%s\n' "${kilobytes[@]}" | sort -n | sed -n "$((runs / 2 + 1))p")"
}

table=$results/tool.md
{
    echo "# The velk tool on large files"
    echo
    echo "Measured on $(date -u '+%Y-%m-%d %H:%M UTC'), commit" \
        "$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)," \
        "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)." \
        "Generated documents of $megabytes MB; median of $runs runs, time by the" \
        "$([ "$clock" = cpu ] && echo "process's user plus system time" || echo "wall clock")," \
        "memory as peak resident set. The ratios are to the library's own LoadFile" \
        "plus SaveFile of the same file in the UTF-8 model (goal: at most 1.5 each)."
    echo
    echo "| corpus | command | time, s | peak memory, MB | time / load+save | memory / load+save |"
    echo "|---|---|---:|---:|---:|---:|"
} >"$table"

for kind in attr text; do
    document=$work/$kind.xml
    echo "tool_figures: writing a $megabytes MB $kind document" >&2
    "$generator" "$kind" "$megabytes" "$document"
    read -r base_s base_kb < <(measure "$loadsave" "$document" "$out")
    row() {
        local name=$1 s=$2 kb=$3
        printf '| %s | %s | %.2f | %.0f | %.2f | %.2f |\n' "$kind" "$name" "$s" \
            "$(echo "$kb / 1024" | bc -l)" "$(echo "$s / $base_s" | bc -l)" \
            "$(echo "$kb / $base_kb" | bc -l)" >>"$table"
    }
    row "LoadFile + SaveFile" "$base_s" "$base_kb"
    for command in check format compact; do
        echo "tool_figures: velk $command, $kind" >&2
        read -r s kb < <(measure "$velk" "$command" "$document")
        row "velk $command" "$s" "$kb"
    done
    if command -v xmllint >/dev/null; then
        read -r s kb < <(measure xmllint --noout "$document")
        row "xmllint --noout" "$s" "$kb"
        read -r s kb < <(measure xmllint --format "$document")
        row "xmllint --format" "$s" "$kb"
    fi
    rm -f "$document" "$out"
done
cat "$table"
