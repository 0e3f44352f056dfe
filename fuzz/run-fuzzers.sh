#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each one.
#   fuzz/run-fuzzers.sh            60 s per harness
#   fuzz/run-fuzzers.sh --quick    10 s per harness (part of ./test.sh when clang is present)
#   fuzz/run-fuzzers.sh --seconds N
#   fuzz/run-fuzzers.sh --seconds N --only NAME   one harness (run two at once on two cores)
# Crashes are written to fuzz/crashes/; the working corpora live in fuzz/corpus-work/ (not committed).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
only=""
seed=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) seconds=10; seed=(-seed=1) ;;  # a fixed seed: the same inputs on every run of the test command
    --seconds) seconds="$2"; shift ;;
    --only) only="$2"; shift ;;
  esac
  shift
done
command -v clang++ >/dev/null || { echo "clang++ not found: fuzzers skipped"; exit 0; }
[ -n "$only" ] && [ -x "build-fuzz/$only" ] && skipbuild=1
[ -z "${skipbuild:-}" ] && CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQEL_FUZZ=ON -DQEL_GUI=OFF -DQEL_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
[ -z "${skipbuild:-}" ] && cmake --build build-fuzz
mkdir -p fuzz/crashes
status=0
for bin in build-fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  work="fuzz/corpus-work/$name"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  echo "== $name ($seconds s)"
  if ! "$bin" "$work" "${seeds[@]}" "${dict[@]}" "${seed[@]}" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -timeout=10 -artifact_prefix="fuzz/crashes/$name-" -print_final_stats=1 2>"$work.log"; then
    echo "$name FAILED: see $work.log and fuzz/crashes/"
    tail -30 "$work.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work.log" | sed "s/^/  /"
  fi
done
exit $status
