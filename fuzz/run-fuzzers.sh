#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each one.
#   fuzz/run-fuzzers.sh            60 s per harness
#   fuzz/run-fuzzers.sh --quick    60 s per harness with a fixed seed (part of ./test.sh when clang is present)
#   fuzz/run-fuzzers.sh --seconds N
#   fuzz/run-fuzzers.sh --only NAME   one harness
#   fuzz/run-fuzzers.sh --jobs N      harnesses run side by side (default: the number of cores)
# Crashes are written to fuzz/crashes/; the working corpora live in fuzz/corpus-work/ (not committed).
# Inputs in fuzz/regressions/NAME/ (past findings) are replayed before each harness runs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
only=""
jobs=$(nproc)
seed=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) seed=(-seed=1) ;;  # a fixed seed: the same inputs on every run of the test command
    --seconds) seconds="$2"; shift ;;
    --only) only="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done
command -v clang++ >/dev/null || { echo "clang++ not found: fuzzers skipped"; exit 0; }
# One build at a time, so runners started side by side do not rebuild over each other.
mkdir -p build-fuzz
(
  flock 9
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQEL_FUZZ=ON -DQEL_GUI=OFF -DQEL_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz
) 9>build-fuzz/.build-lock
mkdir -p fuzz/crashes

# Runs one harness; its report goes to fuzz/corpus-work/NAME.out, libFuzzer's log to NAME.log.
run_one() {
  local bin=$1 name work seeds=() dict=()
  name=$(basename "$bin")
  work="fuzz/corpus-work/$name"
  mkdir -p "$work"
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  {
    echo "== $name ($seconds s)"
    # Inputs that once failed are replayed first (kept out of the seeds: some are slow on purpose).
    if [ -d "fuzz/regressions/$name" ] && ! "$bin" -rss_limit_mb=2048 -timeout=10 fuzz/regressions/"$name"/* 2>"$work.log"; then
      echo "$name FAILED on a regression input: see $work.log"
      tail -30 "$work.log"
      return 1
    fi
    if "$bin" "$work" "${seeds[@]}" "${dict[@]}" "${seed[@]}" -max_total_time="$seconds" -max_len=65536 \
         -rss_limit_mb=2048 -timeout=10 -artifact_prefix="fuzz/crashes/$name-" -print_final_stats=1 2>"$work.log"; then
      grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work.log" | sed "s/^/  /"
    else
      echo "$name FAILED: see $work.log and fuzz/crashes/"
      tail -30 "$work.log"
      return 1
    fi
  } >"$work.out"
}

names=()
for bin in build-fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  [ -n "$only" ] && [ "$(basename "$bin")" != "$only" ] && continue
  names+=("$(basename "$bin")")
done
[ ${#names[@]} -gt 0 ] || { echo "no harness named ${only:-fuzz_*}" >&2; exit 2; }

status=0
pids=()
for i in "${!names[@]}"; do
  run_one "build-fuzz/${names[$i]}" &
  pids+=($!)
  # Keep at most $jobs harnesses running; the oldest is waited for first.
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for name in "${names[@]}"; do cat "fuzz/corpus-work/$name.out"; done
exit $status
