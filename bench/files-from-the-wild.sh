#!/usr/bin/env bash
# What a file costs and what Qel writes, against two other writers:
#   bench/files-from-the-wild.sh [QEL-BATCH]
# 1. Peak memory of qel-batch reading refused files under 1 KB whose headers claim 16384 x 16384
#    (goal: under 64 MB), and valid 4000 x 3000 files read to BMP (goal: within 1.5 x the
#    picture's 36 MB).
# 2. PNG and TIFF sizes of a photo, a grey photo and a smooth gradient against Pillow and
#    ImageMagick (goal: PNG within 1.15 x the smaller of the two), with qel's time.
set -euo pipefail
cd "$(dirname "$0")/.."
Q="${1:-$PWD/build/qel-batch}"
PY=/usr/bin/python3
work="${TMPDIR:-/tmp}/qel-wild"
mkdir -p "$work"
cd "$work"
[ -f photo.bmp ] || $PY "$OLDPWD/bench/make_pictures.py" . >/dev/null

$PY - <<'PY'
import io, os, struct, zlib
import numpy as np
from PIL import Image
photo = Image.open('photo.bmp')
if not os.path.exists('grey.bmp'):
    photo.convert('L').save('grey.bmp')
    y, x = np.mgrid[0:3000, 0:4000].astype(np.float32)
    g = np.stack([x * 255 / 4000, y * 255 / 3000, (x + y) * 255 / 7000], axis=-1).astype(np.uint8)
    Image.fromarray(g, 'RGB').save('gradient.bmp')
    photo.save('photo.png'); photo.save('photo.jpg', quality=90)
    photo.save('photo.tif', compression='tiff_deflate'); photo.save('photo.webp', lossless=True)
if not os.path.exists('photo-lossy.webp'):
    photo.save('photo-lossy.webp', quality=90)
rng = np.random.default_rng(1)
def noise(w, h): return Image.fromarray(rng.integers(0, 256, (h, w, 3), dtype=np.uint8), 'RGB')
# JPEG: frame header patched to 16384 x 16384, cut in its scan.
b = io.BytesIO(); noise(256, 64).save(b, 'JPEG', quality=90); j = bytearray(b.getvalue())
i = j.find(b'\xff\xc0'); j[i + 5:i + 9] = bytes([0x40, 0, 0x40, 0]); open('tiny.jpg', 'wb').write(j[:900])
# WebP lossless: the 14-bit sizes after the signature byte patched to 16384.
b = io.BytesIO(); noise(16, 16).save(b, 'WEBP', lossless=True); w = bytearray(b.getvalue())
bits = struct.unpack('<I', w[21:25])[0] & 0xF0000000 | 16383 << 14 | 16383
w[21:25] = struct.pack('<I', bits); open('tiny.webp', 'wb').write(w[:600])
# GIF: a 16383 x 16383 screen and frame, its data cut.
b = io.BytesIO(); noise(64, 64).convert('1').save(b, 'GIF'); g = bytearray(b.getvalue())
g[6:10] = struct.pack('<HH', 16383, 16383)
k = 13 + (3 << ((g[10] & 7) + 1) if g[10] & 0x80 else 0)
while g[k] == 0x21:  # extensions: label, then sub-blocks up to a zero length
    k += 2
    while g[k]: k += g[k] + 1
    k += 1
g[k + 5:k + 9] = struct.pack('<HH', 16383, 16383); open('tiny.gif', 'wb').write(g[:k + 70])
# PNG: IHDR patched to 16384 x 16384 (refused from the sizes alone).
b = io.BytesIO(); noise(16, 16).save(b, 'PNG'); p = bytearray(b.getvalue())
p[16:24] = struct.pack('>II', 16384, 16384)
p[29:33] = struct.pack('>I', zlib.crc32(bytes(p[12:29])) & 0xFFFFFFFF); open('tiny.png', 'wb').write(p)
PY

peak() { /usr/bin/time -f %M -o rss.txt "$Q" "$@" >/dev/null 2>&1 || true; echo $(( $(tail -n 1 rss.txt) / 1024 )); }
echo "refused files under 1 KB claiming 16384 x 16384: peak MB (goal < 64)"
for f in tiny.jpg tiny.webp tiny.gif tiny.png; do
  printf '  %-10s %5d bytes  %4d MB\n' "$f" "$(stat -c %s "$f")" "$(peak "$f" -o out.bmp)"
done
echo "valid 4000 x 3000 files read to BMP: peak MB (picture 36 MB, goal <= 54)"
# Lossless WebP is the exception: libwebp's decoder keeps its own 32-bit copy of the whole picture.
for f in photo.png photo.jpg photo.tif photo-lossy.webp photo.webp; do
  printf '  %-16s %4d MB\n' "$f" "$(peak "$f" -o out.bmp)"
done

echo "sizes in bytes (goal: qel PNG <= 1.15 x the smaller peer)"
for pic in photo grey gradient; do
  $PY -c "from PIL import Image; Image.open('$pic.bmp').save('$pic-pil.png')"
  convert "$pic.bmp" "$pic-im.png"
  start=$(date +%s.%N); "$Q" "$pic.bmp" -o "$pic-q.png"; end=$(date +%s.%N)
  q=$(stat -c %s "$pic-q.png"); p=$(stat -c %s "$pic-pil.png"); m=$(stat -c %s "$pic-im.png")
  small=$(( p < m ? p : m ))
  printf '  %-8s png: qel %9d (%.2f s)  pillow %9d  imagemagick %9d  qel/smaller %.3f\n' "$pic" "$q" \
    "$(echo "$end - $start" | bc)" "$p" "$m" "$(echo "scale=3; $q / $small" | bc)"
done
"$Q" grey.bmp -o grey-q.tif
convert grey.bmp -compress zip -define tiff:predictor=2 grey-im.tif
printf '  grey     tif: qel %9d  imagemagick (zip, predictor) %9d\n' "$(stat -c %s grey-q.tif)" "$(stat -c %s grey-im.tif)"
