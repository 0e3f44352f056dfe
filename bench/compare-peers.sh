#!/usr/bin/env bash
# Times qel-batch against the tools people would otherwise use, on the same
# 4000 x 3000 pictures, whole process in and out, each peer doing qel's work (same quality,
# subsampling and depth): median of 5 runs taken round by round with the peers' (bench/interleaved.py,
# Markdown tables with peak memory, output sizes and ratios).
#   bench/compare-peers.sh [--runs N] [--slow] [--formats] [--palette]
#   (--slow also times the very slow peers; --formats times only the file-format jobs, --palette
#   only the palette pictures with their PSNR)
# Installs the peers from Debian's packages when they are missing. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5; slow=0; formats_only=0; palette_only=0
while [ $# -gt 0 ]; do
  case "$1" in --runs) runs="$2"; shift ;; --slow) slow=1 ;; --formats) formats_only=1 ;; --palette) palette_only=1 ;; esac; shift
done
./scripts/setup.sh
. bench/peers-setup.sh imagemagick graphicsmagick libvips-tools python3-pil python3-numpy python3-opencv python3-skimage hyperfine
# Debian's interpreter: the peers are its packages.
PY=/usr/bin/python3
work="${TMPDIR:-/tmp}/qel-peers"
mkdir -p "$work"
cd "$work"
[ -f photo.bmp ] && [ -f lines.bmp ] && [ -f photo2.bmp ] || $PY "$OLDPWD/bench/make_pictures.py" .
# The photo as PNG (Pillow's default level) and as JPEG at quality 90, 4:2:0.
[ -f photo.png ] || $PY -c "from PIL import Image; Image.open('photo.bmp').save('photo.png')"
[ -f photo.jpg ] || $PY -c "from PIL import Image; Image.open('photo.bmp').save('photo.jpg', quality=90, subsampling=2)"

cat > peers.py <<'PY'
import sys
job = sys.argv[1]; a = sys.argv[2:]
if job.startswith('cv'):
    import cv2, numpy as np
else:
    from PIL import Image
if job == 'copy': Image.open(a[0]).save(a[1])
elif job == 'jpeg90': Image.open(a[0]).save(a[1], quality=90, subsampling=2, optimize=True)
elif job == 'grey': Image.open(a[0]).convert('L').save(a[1])
elif job == 'octree': Image.open(a[0]).quantize(256, method=Image.Quantize.FASTOCTREE).save(a[1])
elif job == 'box': Image.open(a[0]).resize((1000, 750), Image.Resampling.BOX).save(a[1])
elif job == 'nearest2': im = Image.open(a[0]); im.resize((im.width * 2, im.height * 2), Image.Resampling.NEAREST).save(a[1])
elif job == 'blend': Image.blend(Image.open(a[0]), Image.open(a[1]), 0.5).save(a[2])
elif job == 'skeleton':
    import numpy as np
    from skimage.morphology import skeletonize
    m = np.array(Image.open(a[0]).convert('L')) < 128
    Image.fromarray(np.where(skeletonize(m), 0, 255).astype(np.uint8)).save(a[1])
elif job == 'cvremap':
    im = cv2.imread(a[0])
    h, w = im.shape[:2]
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float32)
    mapx = xs + 10 * np.sin(np.radians(ys))
    out = cv2.remap(im, mapx, ys, cv2.INTER_NEAREST)
    out = np.clip(out.astype(np.int32) + (np.abs(xs - ys) / 8).astype(np.int32)[..., None], 0, 255).astype(np.uint8)
    cv2.imwrite(a[1], out)
PY

# time NAME CMD: median seconds of the command
median() {
  local name="$1"; shift
  local n="$runs"
  [ "${SLOW_RUNS:-}" ] && n="$SLOW_RUNS"
  hyperfine -N --style none --warmup 1 --runs "$n" --export-json "$name.json" "$@" >/dev/null 2>&1 || { echo "nan"; return; }
  python3 -c "import json,statistics;print('%.3f'%statistics.median(json.load(open('$name.json'))['results'][0]['times']))"
}
# peak CMD: the command's peak resident memory in MB (words split as hyperfine -N does, no globbing)
peak() {
  set -f
  /usr/bin/time -f %M -o peak.txt $1 >/dev/null 2>&1 || true
  set +f
  echo "$(( $(tail -n 1 peak.txt) / 1024 )) MB"
}
# row JOB GOAL QEL-COMMAND PEER-NAME PEER-COMMAND ...: adds the job's lines for interleaved.py, which
# times them all together at the end (qel's time against the fastest peer's: at most GOAL).
: > ops.jobs
row() {
  local job="$1 (goal <= $2)" qcmd="$3"; shift 3
  echo "$job | qel | - | $qcmd" >> ops.jobs
  while [ $# -gt 0 ]; do echo "$job | $1 | - | $2" >> ops.jobs; shift 2; done
}

# Palette pictures of the photo, each written as a palette PNG: time, peak memory and PSNR against the
# 24-bit photo (ImageMagick's compare). Goal for --quantize=256: at least libvips' PSNR in at most half
# its time.
psnr() { compare -metric PSNR photo.bmp "$1" null: 2>&1 || true; }
palette_rows() {
  local -A secs db
  local name out cmd
  while read -r name out cmd; do
    secs[$name]=$(median "pal-$name" "$cmd")
    db[$name]=$(psnr "$out")
    echo "palette $name | ${secs[$name]} s $(peak "$cmd") | PSNR ${db[$name]} dB"
  done <<PAL
reduce-256+to-256 qr.png $Q photo.bmp --reduce-256 --to-256 -o qr.png
quantize-256 qq.png $Q photo.bmp --quantize=256 -o qq.png
quantize-256-dither qd.png $Q photo.bmp --quantize=256;dither -o qd.png
vips-palette-png vipsp.png vips pngsave photo.bmp vipsp.png --palette
PAL
  local vips=vips-palette-png
  for name in quantize-256 quantize-256-dither; do
    python3 -c "print('$name against $vips: PSNR %+.2f dB, time ratio %.2f (goal: PSNR >= 0, ratio <= 0.5)' % (${db[$name]} - ${db[$vips]}, ${secs[$name]} / ${secs[$vips]}))"
  done
}
[ "$palette_only" = 1 ] && { palette_rows; exit 0; }

# File formats: interleaved runs (a shared machine slows every program alike), each output's size.
# Every peer does qel's work: JPEG at quality 90 with 4:2:0 chroma (libvips turns subsampling off
# from Q=90 unless told) and optimised Huffman tables, PNG as 8-bit RGB. PNG peers at their default and at the setting whose
# files are as small as qel's default (libvips filter=all; Pillow and GraphicsMagick filter every
# row by default); qel at its default and at the efforts, with the fastest qel row no larger
# than each peer's file.
png_rows() {  # job input: the PNG rows of one job
  local job="$1" in="$2"
  echo "$job | qel default | q.png | $Q $in -o q.png"
  for e in 1 2 3 6 9; do echo "$job | qel --png-effort=$e | q$e.png | $Q $in --png-effort=$e -o q$e.png"; done
  echo "$job | libvips default | vips.png | vips copy $in vips.png"
  echo "$job | libvips filter=all | vipsf.png | vips copy $in vipsf.png[filter=all]"
  echo "$job | Pillow default (level 6) | pil.png | $PY peers.py copy $in pil.png"
  echo "$job | GraphicsMagick default | gm.png | gm convert $in gm.png"
  echo "$job | ImageMagick default | im.png | convert $in PNG24:im.png"
}
echo "### PNG"
{ png_rows "bmp->png" photo.bmp; png_rows "png load+save" photo.png; } | $PY "$OLDPWD/bench/interleaved.py" --runs "$runs" --goal
echo
echo "### JPEG and PNG->BMP"
$PY "$OLDPWD/bench/interleaved.py" --runs "$runs" <<JOBS
jpeg load+save q90 4:2:0 | qel | q.jpg | $Q photo.jpg --quality=90 -o q.jpg
jpeg load+save q90 4:2:0 | Pillow | pil.jpg | $PY peers.py jpeg90 photo.jpg pil.jpg
jpeg load+save q90 4:2:0 | libvips | vips.jpg | vips copy photo.jpg vips.jpg[Q=90,subsample_mode=on,optimize_coding]
jpeg load+save q90 4:2:0 | GraphicsMagick | gm.jpg | gm convert photo.jpg -quality 90 -sampling-factor 2x2 -define jpeg:optimize-coding=true gm.jpg
jpeg load+save q90 4:2:0 | ImageMagick | im.jpg | convert photo.jpg -quality 90 -sampling-factor 4:2:0 -define jpeg:optimize-coding=true im.jpg
png->bmp | qel | q.bmp | $Q photo.png -o q.bmp
png->bmp | Pillow | pil.bmp | $PY peers.py copy photo.png pil.bmp
png->bmp | libvips | vips.bmp | vips copy photo.png vips.bmp
png->bmp | GraphicsMagick | gm.bmp | gm convert photo.png BMP3:gm.bmp
png->bmp | ImageMagick | im.bmp | convert photo.png BMP3:im.bmp
JOBS
[ "$formats_only" = 1 ] && exit 0
echo
echo "### Operations, BMP in and out"
row "load+save" 0.5 "$Q photo.bmp -o q.bmp" im "convert photo.bmp im.bmp" pillow "$PY peers.py copy photo.bmp pil.bmp" \
  vips "vips copy photo.bmp vips.bmp" gm "gm convert photo.bmp gm.bmp"
# Grey written as 8-bit BMP as qel writes it (ImageMagick and GraphicsMagick write 24 bits unless
# told; libvips cannot write an 8-bit BMP).
row "grey" 0.7 "$Q photo.bmp --grey -o q.bmp" pillow "$PY peers.py grey photo.bmp pil.bmp" im "convert photo.bmp -grayscale Average -type Palette BMP3:im.bmp" \
  vips "vips colourspace photo.bmp vips.bmp b-w" gm "gm convert photo.bmp -colorspace Gray -type Palette BMP3:gm.bmp"
row "to-256" 1.0 "$Q photo.bmp --to-256 -o q.bmp" pillow-octree "$PY peers.py octree photo.bmp pil.bmp" \
  vips-palette-png "vips pngsave photo.bmp vipsp.png --palette" gm "gm convert photo.bmp -colors 256 gm.bmp"
row "to-16" 1.0 "$Q photo.bmp --to-16 -o q.bmp" pillow-octree "$PY peers.py octree photo.bmp pil.bmp"
row "reduce-256" 1.0 "$Q photo.bmp --reduce-256 -o q.bmp" pillow-octree "$PY peers.py octree photo.bmp pil.bmp"
$PY "$OLDPWD/bench/interleaved.py" --runs "$runs" < ops.jobs
: > ops.jobs
palette_rows
row "thin" 1.0 "$Q lines.bmp --thin -o q.bmp" skimage "$PY peers.py skeleton lines.bmp sk.bmp"
row "transform" 1.5 "$Q photo.bmp --transform=x+10*sin(y);y;abs(x-y)/8 -o q.bmp" numpy+opencv "$PY peers.py cvremap photo.bmp cv.bmp"
row "scale-down" 1.0 "$Q photo.bmp --scale=1000x750 -o q.bmp" im "convert photo.bmp -scale 1000x750! im.bmp" pillow "$PY peers.py box photo.bmp pil.bmp" \
  vips "vips shrink photo.bmp vips.bmp 4 4" gm "gm convert photo.bmp -scale 1000x750! gm.bmp"
row "scale-up-2" 1.0 "$Q photo.bmp --scale=8000x6000;nearest -o q.bmp" pillow "$PY peers.py nearest2 photo.bmp pil.bmp" im "convert photo.bmp -sample 200% im.bmp" \
  vips "vips zoom photo.bmp vips.bmp 2 2" gm "gm convert photo.bmp -sample 200% gm.bmp"
row "mix" 1.0 "$Q photo.bmp --mix=photo2.bmp -o q.bmp" pillow "$PY peers.py blend photo.bmp photo2.bmp pil.bmp" im "convert photo.bmp photo2.bmp -compose blend -define compose:args=50 -composite im.bmp" \
  gm "gm composite -dissolve 50 photo2.bmp photo.bmp gm.bmp"
$PY "$OLDPWD/bench/interleaved.py" --runs "$runs" < ops.jobs
thin=$(median q-thin2 "$Q lines.bmp --thin -o q.bmp")
for f in "--tidy2" "--thin --tidy" "--thin --straighten=10"; do
  t=$(median "q-line-$f" "$Q lines.bmp $f -o q.bmp")
  echo "lines $f | qel $t s | thin alone $thin s (the filter after thinning should add <= 0.5 x thin)"
done
if [ "$slow" = 1 ]; then
  : > ops.jobs
  row "transform-im-fx" 0.02 "$Q photo.bmp --transform=x+10*sin(y);y;abs(x-y)/8 -o q.bmp" im-fx "convert photo.bmp -fx p[i+10*sin(j*pi/180),j]+abs(i-j)/8/255 im.bmp"
  $PY "$OLDPWD/bench/interleaved.py" --runs 1 < ops.jobs
fi
