#!/usr/bin/env bash
# run_example.sh PROGRAM EXPECTED WORKDIR [INPUT...]: runs PROGRAM in an empty
# WORKDIR holding copies of the INPUT files, and compares its standard output
# with the file EXPECTED.
set -u
program=$1
expected=$2
work=$3
shift 3
rm -rf "$work" && mkdir -p "$work" || exit 1
[ $# -eq 0 ] || cp "$@" "$work"/ || exit 1
cd "$work" || exit 1
"$program" >actual.out
status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: $program exited with status $status" >&2
    exit 1
fi
diff -u "$expected" actual.out || { echo "FAIL: output differs from $expected" >&2; exit 1; }
