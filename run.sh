#!/usr/bin/env bash
# Sets up, builds and starts Qel: ./run.sh [FILE.bmp]
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DQEL_GUI=ON >/dev/null
cmake --build build --target qel qel-batch
# The Python module, where this user's python3 finds it (python3 -c "import qel").
if cmake --build build --target help | grep -q '^qel_python:'; then
  cmake --build build --target qel_python
  site=$(/usr/bin/python3 -m site --user-site)
  mkdir -p "$site" && rm -rf "$site/qel" && cp -r build/python/qel "$site/"
fi
picture="${1:-samples/photo.bmp}"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/qel ]; then
  exec build/qel "$picture"
fi
echo "No display available (DISPLAY and WAYLAND_DISPLAY are unset): showing qel-batch on $picture instead."
echo "\$ qel-batch $picture --info"
build/qel-batch "$picture" --info
out="${TMPDIR:-/tmp}/qel-demo-grey.bmp"
echo "\$ qel-batch $picture --grey --info -o $out"
build/qel-batch "$picture" --grey --info -o "$out" && echo "wrote $out"
