#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (core, batch and GUI
# tests), a sanitizer build of the core tests and the command-sequence tester
# built with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build -G Ninja -DQEL_GUI=ON -DQEL_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"
cmake -S . -B build-asan -G Ninja -DQEL_GUI=OFF -DQEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan -L core --output-on-failure -j "$jobs"
# The command-sequence tester on the window program built with the sanitizers (only what it needs).
cmake -S . -B build-asan-gui -G Ninja -DQEL_GUI=ON -DQEL_TESTS=ON -DQEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan-gui --target qel-sequence -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
  build-asan-gui/qel-sequence --seed 1 --sequences 200 --regressions fuzz/sequence/regressions.txt
if [ -x fuzz/run-fuzzers.sh ] && command -v clang++ >/dev/null; then
  fuzz/run-fuzzers.sh --quick
fi
