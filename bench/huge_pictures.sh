#!/usr/bin/env bash
# Peak memory of qel-batch on pictures at the size limits: a 16000 x 16000 24-bit
# picture and a 65535 x 4096 8-bit one (line strokes on white). Each operation
# runs as its own process; the peak resident size is compared with the bound
#   3 x the picture's bytes + its display bitmap (4 bytes a pixel).
# Plain conversions between PNG and JPEG pass the rows through a window of a few bands: their
# peak at 8000 x 6000 (144 MB of pixels) is held to 64 MB.
# The window program's commands are measured the same way through qel-sequence --huge when it is built.
# Then an operation runs under an address-space limit: it must end with
# "not enough memory" and status 2, and leave no output file behind.
#   bench/huge_pictures.sh [BUILD_DIR]     (default: build; needs qel-batch built there)
# Needs about 6 GB of memory and a few minutes. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
batch=${1:-build}/qel-batch
[ -x "$batch" ] || { echo "no $batch: build the qel-batch target first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A BMP of the given size and depth: black strokes (every 7th column and row) on white.
make_picture() {
  python3 - "$1" "$2" "$3" "$4" <<'EOF'
import struct, sys
path, w, h, depth = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
stride = ((w * depth + 31) // 32) * 4
table = b''.join(bytes((i, i, i, 0)) for i in range(256)) if depth == 8 else b''
px = 3 if depth == 24 else 1
white, black = b'\xff' * px, b'\x00' * px
stroke = bytearray(white * w + b'\0' * (stride - px * w))
for x in range(0, w, 7):
    stroke[x * px:(x + 1) * px] = black
full = (black * w + b'\0' * (stride - px * w))
offset = 14 + 40 + len(table)
with open(path, 'wb') as f:
    f.write(b'BM' + struct.pack('<IHHI', offset + stride * h, 0, 0, offset))
    f.write(struct.pack('<IiiHHIIiiII', 40, w, h, 1, depth, 0, stride * h, 4740, 4740, 0, 0))
    f.write(table)
    for y in range(h):
        f.write(full if y % 7 == 0 else stroke)
EOF
}

# Runs qel-batch and prints the peak resident size against the bound.
measure() {
  local label=$1 bytes=$2 pixels=$3; shift 3
  local bound=$(( (3 * bytes + 4 * pixels) / 1024 ))
  local start=$(date +%s.%N) log="$work/time.log" status=0
  /usr/bin/time -f '%M' -o "$log" "$batch" "$@" >/dev/null 2>"$work/err.log" || status=$?
  local peak; peak=$(tail -1 "$log")
  local verdict=ok; [ "$peak" -le "$bound" ] || verdict=OVER
  printf '%-34s %8d MB peak  %8d MB bound  %6.1f s  status %d  %s\n' "$label" $((peak / 1024)) $((bound / 1024)) \
    "$(echo "$(date +%s.%N) - $start" | bc)" "$status" "$verdict"
  [ "$status" -eq 0 ] || sed 's/^/    /' "$work/err.log"
}

echo "writing the pictures..."
make_picture "$work/big24.bmp" 16000 16000 24
make_picture "$work/wide8.bmp" 65535 4096 8
b24=$((16000 * 3 * 16000)); p24=$((16000 * 16000))
b8=$((65536 * 4096)); p8=$((65535 * 4096))

# A conversion's peak against the fixed bound of 64 MB.
convert() {
  local label=$1; shift
  local log="$work/time.log" status=0
  /usr/bin/time -f '%M %e' -o "$log" "$batch" "$@" >/dev/null 2>"$work/err.log" || status=$?
  read -r peak seconds < <(tail -1 "$log")
  local verdict=ok; [ "$peak" -le $((64 * 1024)) ] || verdict=OVER
  printf '%-34s %8d MB peak  %8d MB bound  %6.1f s  status %d  %s\n' "$label" $((peak / 1024)) 64 "$seconds" "$status" "$verdict"
}
make_picture "$work/conv.bmp" 8000 6000 24
"$batch" "$work/conv.bmp" -o "$work/conv.png"
"$batch" "$work/conv.bmp" -o "$work/conv.jpg"
rm "$work/conv.bmp"
echo "8000 x 6000 conversions, 24 bits (137 MB of pixels):"
convert "PNG -> JPEG" "$work/conv.png" -o "$work/out.jpg"
convert "PNG -> PNG" "$work/conv.png" -o "$work/out.png"
convert "JPEG -> JPEG" "$work/conv.jpg" -o "$work/out.jpg"
convert "JPEG -> PNG" "$work/conv.jpg" -o "$work/out.png"
rm -f "$work"/conv.* "$work"/out.*

echo "16000 x 16000, 24 bits ($((b24 / 1048576)) MB of pixels):"
measure "open + save" $b24 $p24 "$work/big24.bmp" -o "$work/out.bmp"
measure "grey" $b24 $p24 "$work/big24.bmp" --grey -o "$work/out.bmp"
measure "to 256 colours" $b24 $p24 "$work/big24.bmp" --to-256 -o "$work/out.bmp"
measure "scale to 8000x8000" $b24 $p24 "$work/big24.bmp" --scale=8000x8000 -o "$work/out.bmp"
measure "to 256 + thin" $b24 $p24 "$work/big24.bmp" --to-256 --thin -o "$work/out.bmp"
echo "65535 x 4096, 8 bits ($((b8 / 1048576)) MB of pixels):"
measure "open + save" $b8 $p8 "$work/wide8.bmp" -o "$work/out.bmp"
measure "thin" $b8 $p8 "$work/wide8.bmp" --thin -o "$work/out.bmp"
measure "to 24 bits (bound at 24 bits)" $((3 * b8)) $p8 "$work/wide8.bmp" --to-24bit -o "$work/out.bmp"
measure "grey" $b8 $p8 "$work/wide8.bmp" --grey -o "$work/out.bmp"

# The window program (when built): each command's peak, undo snapshot and display raster included.
sequence=${1:-build}/qel-sequence
if [ -x "$sequence" ]; then
  echo "window program, 16000 x 16000 24 bits (bound $(( (3 * b24 + 4 * p24) / 1048576 )) MB):"
  QT_QPA_PLATFORM=offscreen "$sequence" --huge "$work/big24.bmp" --fields 8000,8000 \
    --commands 32786,57643,32783,57643,57644,32773,32771,57643 2>/dev/null | sed 's/^/  /'
  echo "window program, 65535 x 4096 8 bits (bound $(( (3 * b8 + 4 * p8) / 1048576 )) MB, at 24 bits $(( (9 * b8 + 4 * p8) / 1048576 )) MB):"
  QT_QPA_PLATFORM=offscreen "$sequence" --huge "$work/wide8.bmp" \
    --commands 32771,57643,32783,57643,57644,32778,57643 2>/dev/null | sed 's/^/  /'
fi

echo "under an address-space limit of 850 MB (the picture fits, 256 colours does not):"
rm -f "$work/out.bmp"
status=0
prlimit --as=$((850 * 1024 * 1024)) "$batch" "$work/big24.bmp" --to-256 -o "$work/out.bmp" 2>"$work/err.log" || status=$?
echo "  status $status: $(cat "$work/err.log")"
if [ "$status" -eq 2 ] && grep -q "not enough memory" "$work/err.log" && [ ! -e "$work/out.bmp" ]; then
  echo "  ok: clear message, no output file"
else
  echo "  FAILED: expected status 2, \"not enough memory\" and no output file"; exit 1
fi
