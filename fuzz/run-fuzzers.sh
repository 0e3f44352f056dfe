#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each one.
#   fuzz/run-fuzzers.sh            60 s per harness
#   fuzz/run-fuzzers.sh --quick    10 s per harness (part of ./test.sh when clang is present)
#   fuzz/run-fuzzers.sh --seconds N
# Crashes are written to fuzz/crashes/; the working corpora live in fuzz/corpus-work/ (not committed).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
case "${1:-}" in
  --quick) seconds=10 ;;
  --seconds) seconds="$2" ;;
esac
command -v clang++ >/dev/null || { echo "clang++ not found: fuzzers skipped"; exit 0; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQEL_FUZZ=ON -DQEL_GUI=OFF -DQEL_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz
mkdir -p fuzz/crashes
status=0
for bin in build-fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work="fuzz/corpus-work/$name"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  echo "== $name ($seconds s)"
  if ! "$bin" "$work" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -timeout=10 -artifact_prefix="fuzz/crashes/$name-" -print_final_stats=1 2>"$work.log"; then
    echo "$name FAILED: see $work.log and fuzz/crashes/"
    tail -30 "$work.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work.log" | sed "s/^/  /"
  fi
done
exit $status
