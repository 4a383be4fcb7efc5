#!/usr/bin/env bash
# demo.sh VELK: shows the velk tool on the bundled samples. Exits 0 when the
# tool formats the good sample and rejects the broken one with its position.
set -u
velk=$1
cd "$(dirname "$0")/.." || exit 1

echo "\$ velk format examples/catalog.xml"
"$velk" format examples/catalog.xml || { echo "demo: formatting the good sample failed" >&2; exit 1; }

echo
echo "\$ velk compact examples/catalog.xml"
"$velk" compact examples/catalog.xml || { echo "demo: compacting the good sample failed" >&2; exit 1; }

echo
echo "\$ velk check examples/broken.xml"
message=$("$velk" check examples/broken.xml 2>&1)
status=$?
echo "$message"
echo "(exit status $status)"
if [ "$status" -ne 1 ] || ! grep -q '^examples/broken.xml:[0-9]*:[0-9]*: error' <<<"$message"; then
    echo "demo: the broken sample was not reported with its position" >&2
    exit 1
fi
echo
echo "demo: the good sample was formatted and the broken one rejected at its row and column."
