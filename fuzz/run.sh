#!/usr/bin/env bash
# Runs every fuzz target for SECONDS seconds each, one after the other, and
# fails when any of them finds a crash, a leak, a sanitizer report, a broken
# property or a timeout.
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# The seed corpora in fuzz/corpus/<target>/ are read, never written: new
# inputs go to BUILD_DIR/corpus/<target>/ and findings to BUILD_DIR/findings/.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: run.sh BUILD_DIR [SECONDS] [TARGET...]}"
seconds="${2:-60}"
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(parse stream roundtrip edit loadfile)

mkdir -p "$build/findings"
failed=()
for t in "${targets[@]}"; do
  bin="$build/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "fuzz: $bin is missing"; failed+=("$t"); continue; }
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/findings/$t.log"
  echo "fuzz: $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=8192 \
    -dict="$here/velk.dict" -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t-" \
    "$work" "$here/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  echo "fuzz: $t: ${runs:-?} executions, exit $rc"
  if [ $rc -ne 0 ]; then
    failed+=("$t")
    grep -E 'ERROR|SUMMARY|runtime error|Assertion|==[0-9]+==|Test unit written' "$log" | head -20
    echo "fuzz: full log in $log"
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in: ${failed[*]}"
  exit 1
fi
echo "fuzz: no findings"
