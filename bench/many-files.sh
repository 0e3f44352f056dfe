#!/usr/bin/env bash
# Pictures per second of qel-batch over a folder of generated pictures (half photo-like, half line
# drawings, all 24-bit) at -j 1 and -j all cores, against GNU parallel running ImageMagick's convert,
# GraphicsMagick and libvips, and a Python loop over Pillow doing the nearest equivalent job; peak
# memory of the largest process.
#   bench/many-files.sh [--count N] [--size WxH] [--slow] [--only grey|reduce|thin]
#   (defaults 200, 2000x1500, every chain; --slow also times ImageMagick's thinning, minutes per picture)
# Installs the peers from Debian's packages when they are missing. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
count=200; size=2000x1500; slow=0; only=""
while [ $# -gt 0 ]; do
  case "$1" in --count) count="$2"; shift ;; --size) size="$2"; shift ;; --slow) slow=1 ;; --only) only="$2"; shift ;; esac; shift
done
. bench/peers-setup.sh imagemagick graphicsmagick libvips-tools python3-pil python3-numpy python3-skimage parallel bc
PY=/usr/bin/python3  # Debian's interpreter: the peers are its packages
cores=$(nproc)
work="${TMPDIR:-/tmp}/qel-many-$size"
mkdir -p "$work/base"
[ -f "$work/base/lines24.bmp" ] || $PY bench/make_pictures.py "$work/base" "${size%x*}" "${size#*x}"
rm -rf "$work/in" && mkdir -p "$work/in"
for i in $(seq 1 "$count"); do
  if [ $((i % 2)) = 0 ]; then cp "$work/base/photo.bmp" "$work/in/p$i.bmp"; else cp "$work/base/lines24.bmp" "$work/in/l$i.bmp"; fi
done
cd "$work"
cat > loop.py <<'PY'
import os, sys
from PIL import Image
job, src, dst = sys.argv[1:4]
if job == 'thin':
    import numpy as np
    from skimage.morphology import skeletonize
for name in sorted(os.listdir(src)):
    im = Image.open(os.path.join(src, name))
    if job == 'grey': im = im.convert('L')
    elif job == 'reduce': im = im.quantize(256, method=Image.Quantize.FASTOCTREE)
    else: im = Image.fromarray(np.where(skeletonize(np.array(im.convert('L')) < 128), 0, 255).astype(np.uint8))
    im.save(os.path.join(dst, name))
PY

# time NAME CMD...: prints pictures per second and the peak memory of the largest process.
# A run under 60 s is timed three times and the best kept (the slowest is shown beside it): on a
# virtual machine, writing gigabytes of fresh page cache costs from nothing to seconds of system
# time depending on what the host did with the memory freed before, which swamps the programs.
declare -A rate
time_run() {
  local name="$1"; shift
  # One untimed run first: the first pass over the folder pays for the page cache the runs
  # before it left (several seconds of system time here), which would favour whoever runs second.
  rm -rf out && mkdir out
  "$@" >/dev/null 2>&1 || true
  local best="" worst="" peak=0 runs=3 i secs kb
  for ((i = 0; i < runs; i++)); do
    rm -rf out && mkdir out
    sync  # the previous run's writes are not flushed during this one
    /usr/bin/time -f "%e %M" -o t.txt "$@" >/dev/null 2>err.txt || { echo "  $name: failed ($(head -1 err.txt))"; return; }
    read -r secs kb < t.txt
    [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ] && best=$secs
    [ -z "$worst" ] || [ "$(echo "$secs > $worst" | bc)" = 1 ] && worst=$secs
    [ "$kb" -gt "$peak" ] && peak=$kb
    [ "$(echo "$secs >= 60" | bc)" = 1 ] && runs=1
  done
  rate[$name]=$(echo "scale=2; $count / $best" | bc)
  printf "  %-28s %7.2f pictures/s  %6.1f s (slowest %5.1f s)  peak %5d MB\n" "$name" "${rate[$name]}" "$best" "$worst" $((peak / 1024))
}
chains=("--grey" "--reduce-256 --to-256" "--to-256 --thin --tidy")
im=("-colorspace Gray" "-colors 256 -type Palette" "-colorspace Gray -threshold 50% -negate -morphology Thinning:-1 Skeleton -negate")
py=(grey reduce thin)
# GraphicsMagick does both colour jobs; libvips has a grey conversion (its palette output is PNG only,
# and neither has a thinning).
gm=("-colorspace Gray" "-colors 256 -type Palette" "")
vips=("colourspace {} out/{/} b-w" "" "")
echo "$count pictures of $size, $cores cores (load $(cut -d' ' -f1 /proc/loadavg))"
for k in 0 1 2; do
  [ -z "$only" ] || [ "$only" = "${py[$k]}" ] || continue
  echo "${chains[$k]}"
  rate=()
  time_run "qel-batch -j 1" "$Q" ${chains[$k]} -j 1 --quiet --out-dir out in
  time_run "qel-batch -j $cores" "$Q" ${chains[$k]} -j "$cores" --quiet --out-dir out in
  if [ $k != 2 ] || [ $slow = 1 ]; then
    time_run "parallel + convert" sh -c "ls in/*.bmp | parallel --will-cite -j $cores convert {} ${im[$k]} BMP3:out/{/}"
  else
    echo "  parallel + convert           not timed: its thinning takes minutes per picture (--slow)"
  fi
  time_run "python loop + Pillow" $PY loop.py "${py[$k]}" in out
  [ -n "${gm[$k]}" ] && time_run "parallel + gm convert" sh -c "ls in/*.bmp | parallel --will-cite -j $cores gm convert {} ${gm[$k]} BMP3:out/{/}"
  [ -n "${vips[$k]}" ] && time_run "parallel + vips" sh -c "ls in/*.bmp | parallel --will-cite -j $cores vips ${vips[$k]}"
  best=0
  for peer in "parallel + convert" "python loop + Pillow" "parallel + gm convert" "parallel + vips"; do
    [ -n "${rate[$peer]:-}" ] && [ "$(echo "${rate[$peer]} > $best" | bc)" = 1 ] && best=${rate[$peer]}
  done
  j1=${rate["qel-batch -j 1"]:-0}; jn=${rate["qel-batch -j $cores"]:-0}
  [ "$j1" != 0 ] && echo "  -j $cores / -j 1: $(echo "scale=2; $jn / $j1" | bc)"
  [ "$best" != 0 ] && echo "  -j $cores / fastest peer: $(echo "scale=2; $jn / $best" | bc)"
done
