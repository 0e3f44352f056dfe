#!/usr/bin/env bash
# Cost per pixel of the file-format jobs from 1000 x 750 to 8000 x 6000: whole qel-batch processes
# on the photo-like picture of bench/make_pictures.py at each size (PNG at Pillow's default level,
# JPEG at quality 90), median of N runs (hyperfine), in ns per pixel, and the peak memory in bytes
# per pixel. Linear cost shows as a flat row; deflate's cost follows how much the picture compresses
# (the generated photo has more detail per pixel at larger sizes), so the PNG output's bytes per pixel
# are printed too.
#   bench/linearity.sh [--runs N]     (default: 5 runs; the release build of bench/peers-setup.sh)
# Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
[ "${1:-}" = --runs ] && runs=$2
. bench/peers-setup.sh python3-pil python3-numpy hyperfine
batch=$Q
PY=/usr/bin/python3
work="${TMPDIR:-/tmp}/qel-linearity"
mkdir -p "$work"
sizes="1000x750 2000x1500 4000x3000 8000x6000"
jobs=("png load+save|photo.png -o q.png" "jpeg load+save q90|photo.jpg --quality=90 -o q.jpg"
      "png->bmp|photo.png -o q.bmp" "bmp->png|photo.bmp -o q.png" "bmp->jpeg q90|photo.bmp --quality=90 -o q.jpg")

declare -A ns mem out
for size in $sizes; do
  d="$work/$size"
  mkdir -p "$d"
  w=${size%x*} h=${size#*x}
  [ -f "$d/photo.bmp" ] || $PY bench/make_pictures.py "$d" "$w" "$h" >/dev/null
  [ -f "$d/photo.png" ] || $PY -c "from PIL import Image; Image.open('$d/photo.bmp').save('$d/photo.png')"
  [ -f "$d/photo.jpg" ] || $PY -c "from PIL import Image; Image.open('$d/photo.bmp').save('$d/photo.jpg', quality=90)"
  for job in "${jobs[@]}"; do
    name=${job%%|*} args=${job#*|}
    (cd "$d" && hyperfine -N --style none --warmup 1 --runs "$runs" --export-json t.json "$batch $args" >/dev/null 2>&1)
    (cd "$d" && /usr/bin/time -f %M -o m.txt $batch $args >/dev/null 2>&1)
    ns[$name,$size]=$($PY -c "import json,statistics;print('%.1f'%(statistics.median(json.load(open('$d/t.json'))['results'][0]['times'])*1e9/($w*$h)))")
    mem[$name,$size]=$($PY -c "print('%.1f'%($(tail -n 1 "$d/m.txt")*1024/($w*$h)))")
    outfile=${args##* }
    out[$name,$size]=$($PY -c "import os;print('%.2f'%(os.path.getsize('$d/$outfile')/($w*$h)))")
  done
done

printf '%-20s' "ns per pixel"; for size in $sizes; do printf '%12s' "$size"; done; echo
for job in "${jobs[@]}"; do
  name=${job%%|*}; printf '%-20s' "$name"; for size in $sizes; do printf '%12s' "${ns[$name,$size]}"; done; echo
done
printf '%-20s' "peak bytes per pixel"; echo
for job in "${jobs[@]}"; do
  name=${job%%|*}; printf '%-20s' "$name"; for size in $sizes; do printf '%12s' "${mem[$name,$size]}"; done; echo
done
printf '%-20s' "output bytes per pixel"; echo
for job in "${jobs[@]}"; do
  name=${job%%|*}; printf '%-20s' "$name"; for size in $sizes; do printf '%12s' "${out[$name,$size]}"; done; echo
done
