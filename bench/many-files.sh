#!/usr/bin/env bash
# Pictures per second of qel-batch over a folder of generated pictures (half photo-like, half line
# drawings, all 24-bit) at -j 1 and -j all cores, against what a Python user would write: a loop over
# Pillow (and, for grey, OpenCV) in one process per core, each doing the nearest equivalent job and
# writing the same depth (8-bit BMP); GNU parallel starting ImageMagick's convert once per file for
# comparison. Peak memory of the largest process.
#   bench/many-files.sh [--count N] [--size WxH] [--slow] [--only grey|reduce|thin]
#   (defaults 200, 2000x1500, every chain; --slow also times ImageMagick's thinning, minutes per picture)
# Installs the peers from Debian's packages when they are missing. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
count=200; size=2000x1500; slow=0; only=""
while [ $# -gt 0 ]; do
  case "$1" in --count) count="$2"; shift ;; --size) size="$2"; shift ;; --slow) slow=1 ;; --only) only="$2"; shift ;; esac; shift
done
. bench/peers-setup.sh imagemagick python3-pil python3-numpy python3-opencv python3-skimage parallel bc
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
# loop.py JOB SRC DST PROCESSES [opencv]: the folder's pictures shared out over that many processes.
import multiprocessing, os, sys
job, src, dst, procs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
opencv = sys.argv[5:] == ['opencv']

def one(name):
    if opencv:
        import cv2
        cv2.setNumThreads(1)
        cv2.imwrite(os.path.join(dst, name), cv2.cvtColor(cv2.imread(os.path.join(src, name)), cv2.COLOR_BGR2GRAY))
        return
    from PIL import Image
    im = Image.open(os.path.join(src, name))
    if job == 'grey': im = im.convert('L')
    elif job == 'reduce': im = im.quantize(256, method=Image.Quantize.FASTOCTREE)
    else:
        import numpy as np
        from skimage.morphology import skeletonize
        im = Image.fromarray(np.where(skeletonize(np.array(im.convert('L')) < 128), 0, 255).astype(np.uint8))
    im.save(os.path.join(dst, name))

if __name__ == '__main__':
    with multiprocessing.Pool(procs) as pool:
        for _ in pool.imap_unordered(one, sorted(os.listdir(src))): pass
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
    /usr/bin/time -f "%e %M" -o t.txt "$@" >/dev/null 2>err.txt || { echo "| $chain | $name | failed ($(head -1 err.txt)) | | | |"; return; }
    read -r secs kb < t.txt
    [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ] && best=$secs
    [ -z "$worst" ] || [ "$(echo "$secs > $worst" | bc)" = 1 ] && worst=$secs
    [ "$kb" -gt "$peak" ] && peak=$kb
    [ "$(echo "$secs >= 60" | bc)" = 1 ] && runs=1
  done
  rate[$name]=$(echo "scale=2; $count / $best" | bc)
  printf "| %s | %s | %.2f | %.1f | %.1f | %d |\n" "$chain" "$name" "${rate[$name]}" "$best" "$worst" $((peak / 1024))
}
chains=("--grey" "--reduce-256 --to-256" "--to-256 --thin --tidy")
im=("-colorspace Gray -type Palette" "-colors 256 -type Palette" "-colorspace Gray -threshold 50% -negate -morphology Thinning:-1 Skeleton -negate -type Palette")
py=(grey reduce thin)
echo "$count pictures of $size, $cores cores (load $(cut -d' ' -f1 /proc/loadavg))"
echo
echo "| chain | program | pictures/s | best s | slowest s | peak MB |"
echo "|---|---|---:|---:|---:|---:|"
for k in 0 1 2; do
  [ -z "$only" ] || [ "$only" = "${py[$k]}" ] || continue
  chain="${chains[$k]}"
  rate=()
  time_run "qel-batch -j 1" "$Q" ${chains[$k]} -j 1 --quiet --out-dir out in
  time_run "qel-batch -j $cores" "$Q" ${chains[$k]} -j "$cores" --quiet --out-dir out in
  if [ $k != 2 ] || [ $slow = 1 ]; then
    time_run "parallel + convert" sh -c "ls in/*.bmp | parallel --will-cite -j $cores convert {} ${im[$k]} BMP3:out/{/}"
  else
    echo "| $chain | parallel + convert | not timed: minutes per picture (--slow) | | | |"
  fi
  time_run "Pillow, $cores processes" $PY loop.py "${py[$k]}" in out "$cores"
  [ $k = 0 ] && time_run "OpenCV, $cores processes" $PY loop.py grey in out "$cores" opencv
  best=0
  for peer in "parallel + convert" "Pillow, $cores processes" "OpenCV, $cores processes"; do
    [ -n "${rate[$peer]:-}" ] && [ "$(echo "${rate[$peer]} > $best" | bc)" = 1 ] && best=${rate[$peer]}
  done
  j1=${rate["qel-batch -j 1"]:-0}; jn=${rate["qel-batch -j $cores"]:-0}
  [ "$j1" != 0 ] && echo "| $chain | ratio -j $cores / -j 1 | $(echo "scale=2; $jn / $j1" | bc) | | | |"
  [ "$best" != 0 ] && echo "| $chain | ratio -j $cores / fastest peer | $(echo "scale=2; $jn / $best" | bc) | | | |"
done
