#!/usr/bin/env bash
# check_guide.sh GUIDE EXAMPLES_DIR NAME...: every example NAME appears in the
# guide exactly as compiled, followed by exactly the output it prints.
#   <!-- example: NAME -->   the next ```cpp block must equal NAME.cpp
#   <!-- output: NAME -->    the next ``` block must equal NAME.out
set -u
guide=$1
dir=$2
shift 2

# block KIND NAME: the fenced block that follows the marker "<!-- KIND: NAME -->".
block() {
    awk -v marker="<!-- $1: $2 -->" '
        $0 == marker { found = 1; next }
        found == 1 && /^```/ { found = 2; next }
        found == 2 && /^```$/ { exit }
        found == 2 { print }
    ' "$guide"
}

failures=0
for name in "$@"; do
    for pair in "example:cpp" "output:out"; do
        kind=${pair%%:*}
        suffix=${pair#*:}
        if ! grep -qx -- "<!-- $kind: $name -->" "$guide"; then
            echo "FAIL: the guide lacks the marker <!-- $kind: $name -->" >&2
            failures=$((failures + 1))
        elif ! diff -u "$dir/$name.$suffix" <(block "$kind" "$name") >&2; then
            echo "FAIL: the guide's $kind block for $name differs from $name.$suffix" >&2
            failures=$((failures + 1))
        fi
    done
done
[ "$failures" -eq 0 ] && echo "guide matches ${#} examples"
