#!/usr/bin/env bash
# Runs a broad set of qel-batch command lines with two builds and compares what each printed,
# its exit status and every file it wrote, byte for byte. For changes inside qel-batch that must
# not change what it does.
#   compare_batch.sh OLD_QEL_BATCH NEW_QEL_BATCH
set -uo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
here=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT

# Inputs, made once with the old build: every depth, thinned line art, a palette file, bad files.
in="$t/in"
mkdir -p "$in/dir/sub"
cp "$here"/samples/*.bmp "$in/"
for f in pal1 pal4 pal4rle pal8 pal8os2 pal8topdown rgb16-565 rgb24 rgb32bf; do
    cp "$here/tests/data/bmpsuite/g/$f.bmp" "$in/$f.bmp"
done
"$old" --new=37x23 --fractal -o "$in/f24.bmp"
"$old" --new=37x23 --fractal --to-256 -o "$in/f8.bmp"
"$old" --new=37x23 --fractal --to-16 -o "$in/f4.bmp"
"$old" --new=37x23 --fractal --to-256 --black-white=128 -o "$in/f1.bmp"
"$old" --new=37x23 --fractal -o "$in/f24.png"
"$old" --new=37x23 --fractal --quality=80 -o "$in/f24.jpg"
"$old" "$in/lineart.bmp" --thin -o "$in/thin8.bmp"
"$old" "$in/colours16.bmp" --save-palette="$in/pal.pal"
printf 'BM\x10\x00\x00\x00garbage' > "$in/bad.bmp"
printf 'not a picture' > "$in/text.bmp"
: > "$in/empty.bmp"
cp "$in/f24.bmp" "$in/dir/a.bmp"; cp "$in/f8.bmp" "$in/dir/b.bmp"; cp "$in/f4.bmp" "$in/dir/sub/c.bmp"
cp "$in/f24.png" "$in/dir/sub/d.png"; cp "$in/bad.bmp" "$in/dir/e.bmp"
for i in 1 2 3 4 5 6; do "$old" --new=$((20 + i))x$((15 + i)) --fractal -o "$in/dir/sub/r$i.bmp"; done
printf '%s\n' "$in/f24.bmp" "$in/f8.bmp" "$in/missing.bmp" > "$in/list.txt"

chains=()
add() { chains+=("$*"); }
# One picture of each depth through every operation both builds list in --help, those taking a value
# with the sample values below (an operation without them stops the comparison).
declare -A samples=(
    [--black-white]="--black-white=0 --black-white=255" [--straighten]="--straighten=1 --straighten=10"
    [--scale]="--scale=1x1 --scale=40x30 --scale=40x30;nearest" [--quantize]="--quantize=2 --quantize=16;dither --quantize=256"
    [--mix]="--mix=$in/f24.bmp --mix=$in/f8.bmp;0.3;1,2,10,10;3,4;0,0,0"
    [--transform]="--transform=x+3;y;z --transform=y;x;255-z;0.5,1,-1;forward" [--palette]="--palette=$in/pal.pal"
    [--save-palette]="--save-palette=out.pal" [--approximate]="--approximate=0 --approximate=50000"
    [--merge-near]="--merge-near=0 --merge-near=10000000" [--calc]="--calc=rand(9)"
    [--crop]="--crop=0,0,1,1 --crop=3,2,20,15" [--despeckle]="--despeckle=1 --despeckle=8"
    [--adaptive-bw]="--adaptive-bw --adaptive-bw=5,0.5")
operations() { "$1" --help | sed -n '/^Operations:/,/^$/p' | awk '/^  --/ {print $1}'; }
mapfile -t listed < <(operations "$new")
ops=()
for o in "${listed[@]}"; do
    name=${o%%[[=]*}  # "--black-white=T", "--adaptive-bw[=W,K]": the option's name
    operations "$old" | grep -q -- "^$name\(=\|$\)" || continue  # new in this build: nothing to compare
    if [ "$name" = "$o" ]; then ops+=("$o"); continue; fi
    [ -n "${samples[$name]:-}" ] || { echo "compare_batch.sh: no sample values for $o" >&2; exit 1; }
    read -ra values <<< "${samples[$name]}"
    ops+=("${values[@]}")
done
for p in f24.bmp f8.bmp f4.bmp f1.bmp photo.bmp colours16.bmp pal8os2.bmp rgb16-565.bmp f24.jpg thin8.bmp; do
    for op in "${ops[@]}"; do
        add "$in/$p $op -o out.bmp"
    done
done
# Chains: the thinned flag, the working palette kept between options, outputs of every format.
add "$in/lineart.bmp --thin --tidy --straighten=5 --tidy -o out.bmp"
add "$in/lineart.bmp --tidy2 --straighten=3 -o out.png"
add "$in/lineart.bmp --thin --to-24bit --to-256 --tidy"
add "$in/thin8.bmp --tidy"
add "$in/thin8.bmp --thinned --tidy -o out.bmp"
add "$in/colours16.bmp --palette=$in/pal.pal --merge-near=3000 --organise --save-palette=p.pal -o out.bmp"
add "$in/colours16.bmp --sort-palette --approximate=100 --remap --fit-palette --set-palette -o out.png"
add "$in/colours16.bmp --merge-near=5000 --info --organise --count-colours -o out.tif"
add "$in/photo.bmp --reduce-256 --to-256 -o out.webp"
add "$in/photo.bmp --quality=50 -o out.webp"
add "$in/photo.bmp --quality=1 -o out.jpg"
add "$in/photo.bmp --quality=100 --grey -o out.jpeg"
add "$in/photo.bmp --grey -o out.tiff"
add "$in/photo.bmp --to-16 -o out.png"
add "$in/photo.bmp --transform=x+10*sin(y);y;abs(x-y)/8 -o out.bmp"
add "$in/f24.bmp --transform=x;y;rand(200);-1,-1,-1 -o out.bmp"
add "$in/f24.bmp --transform=rand(5)+x;y;frand(9) --transform=x;y;rand(50) -o out.bmp"
add "--calc=sin(30)+2^3"
add "--calc=rand(100) --calc=rand(100) --calc=frand(1)"
add "--calc=1/0"
add "--calc=(("
add "--calc= --calc=3"
add "--new=10x10 -o out.bmp"
add "--new=1x1 --fractal --to-256 --info -o out.png"
add "--new=65535x1 --info"
add "--new=65536x1"
add "--new=0x5"
add "--new=axb"
add "--new"
add "--new= --info"
add "--new=10x10 $in/f24.bmp"
add "--new=20x20 --scale=30000x1 --info"
add "--new=20x20 --scale=30001x1"
add "--new=20x20 --scale=0x1"
add "--new=20x20 --scale=20000x20000"
add "--new=20x20 --scale=2x2;fast"
add "--new=20x20 --scale=2"
add "--new=20x20 --mix="
add "--new=20x20 --mix=$in/missing.bmp"
add "--new=20x20 --mix=$in/text.bmp"
add "--new=20x20 --mix=$in/f24.png"
add "--new=20x20 --mix=$in/pal1.bmp"
add "--new=20x20 --mix=$in/f24.bmp;2"
add "--new=20x20 --mix=$in/f24.bmp;0.5;1,2,3"
add "--new=20x20 --mix=$in/f24.bmp;0.5;1,2,3,30001"
add "--new=20x20 --mix=$in/f24.bmp;0.5;0,0,5,5;1"
add "--new=20x20 --mix=$in/f24.bmp;0.5;0,0,5,5;1,1;256,0,0"
add "--new=20x20 --mix=$in/f24.bmp;1;0,0,30000,30000;0,0;255,255,255 -o out.bmp"
add "--new=20x20 --mix=a;b;c;d;e;f"
add "--new=20x20 --transform=x"
add "--new=20x20 --transform=x;y;z;1,2"
add "--new=20x20 --transform=x;y;z;1,2,x"
add "--new=20x20 --transform=x;y;z;1,2,256"
add "--new=20x20 --transform=x;y;z;1,1,1;sideways"
add "--new=20x20 --transform=x;y;z;1,1,1;inverse -o out.bmp"
add "--new=20x20 --transform=x+;y;z"
add "--new=20x20 --transform=$(printf 'x%.0s' $(seq 300));y;z"
add "--new=20x20 --transform=x;y;z;1,1,1;forward;more"
add "$in/f8.bmp --transform=bad"
add "$in/f24.bmp --black-white=128"
add "$in/f8.bmp --black-white=-1"
add "$in/f8.bmp --black-white=256"
add "$in/f8.bmp --black-white=x"
add "$in/f8.bmp --black-white="
add "$in/f8.bmp --black-white"
add "$in/f8.bmp --straighten=0"
add "$in/f8.bmp --straighten=abc"
add "$in/f8.bmp --straighten=5"
add "$in/f24.bmp --straighten=5"
add "$in/f8.bmp --approximate=50001"
add "$in/f8.bmp --approximate=-1"
add "$in/f8.bmp --merge-near=10000001"
add "$in/f8.bmp --merge-near=x"
add "$in/f8.bmp --palette=$in/missing.pal"
add "$in/f8.bmp --palette=$in/text.bmp"
add "$in/f8.bmp --save-palette=/nonexistent/dir/p.pal"
add "$in/f24.bmp --palette=$in/pal.pal"
add "$in/f24.bmp --to-24bit"
add "$in/f8.bmp --to-256"
add "$in/f4.bmp --to-16"
add "$in/f8.bmp --reduce-256"
add "$in/f24.bmp --thin"
add "$in/f8.bmp --tidy"
add "$in/f24.bmp --fractal=3"
add "$in/f24.bmp --grey=1"
add "$in/f24.bmp --info --unknown"
add "$in/f24.bmp --info=x"
add "$in/f24.bmp -ox.bmp"
add "$in/f24.bmp -o"
add "$in/f24.bmp -o a.bmp -o b.bmp"
add "$in/f24.bmp -o out.gif"
add "$in/f24.bmp -o out.xyz"
add "$in/f24.bmp -o /nonexistent/dir/out.bmp"
add "$in/f24.bmp --quality=0"
add "$in/f24.bmp --quality=101"
add "$in/f24.bmp --quality=x"
add "$in/missing.bmp --info"
add "$in/bad.bmp --info"
add "$in/text.bmp --info"
add "$in/empty.bmp --info"
add "$in/dir --info"
add "$in/f24.bmp $in/f8.bmp --info"
add "--info"
add ""
add "--help"
add "-h"
add "--version"
add "--info --help"
add "--bogus"
# Many pictures.
add "--grey --out-dir o $in/dir"
add "--grey --out-dir o -r $in/dir"
add "--grey --out-dir o -r -j 1 $in/dir"
add "--grey --to-16 --out-dir o -r -j 2 $in/dir"
add "--to-256 --thin --tidy -r -j 3 --out-dir o --format=png --suffix=-t $in/dir"
add "--info --count-colours -r -j 2 --out-dir o $in/dir"
add "--info -r -j 1 --json --out-dir o $in/dir"
add "--grey -r -j 2 --json --quiet --out-dir o $in/dir"
add "--grey --out-dir o @$in/list.txt"
add "--grey --out-dir o @$in/missing.txt"
add "--grey --out-dir o --format=gif $in/dir"
add "--grey --out-dir o --format=xyz $in/dir"
add "--grey -r --out-dir o --memory=1000 $in/dir"
add "--grey -r --out-dir o --memory=1G -j 4 $in/dir"
add "--grey -r --out-dir o --memory=x $in/dir"
add "--grey -r --out-dir o -j 0 $in/dir"
add "--grey -r --out-dir o -j x $in/dir"
add "--grey --out-dir o $in/f24.bmp $in/f8.bmp -o x.bmp"
add "--grey --out-dir o --new=5x5 $in/f24.bmp"
add "--grey --out-dir $in/dir $in/dir"
add "--tidy --thinned -r --out-dir o $in/dir"
add "--tidy -r --out-dir o $in/dir"
add "--transform=x;y;rand(200);-1,-1,-1 -r -j 1 --out-dir o $in/dir/sub"
add "--calc=1 --out-dir o $in/dir"
add "--scale=9x9 -r --out-dir o --force $in/dir"

run() {  # run BINARY CHAIN DIR
    mkdir -p "$3"
    ( cd "$3" && eval "\"$1\" $2" > ../stdout 2> ../stderr < /dev/null; echo $? > ../status )
    # --json reports the time each file took: the only thing allowed to differ.
    sed -i 's/"milliseconds":[0-9]*/"milliseconds":T/' "$3/../stdout"
    # Several workers report files in the order they finish.
    case "$2" in *--out-dir*|*/dir*) for f in stdout stderr; do sort -o "$3/../$f" "$3/../$f"; done ;; esac
}
failed=0
n=0
for c in "${chains[@]}"; do
    n=$((n + 1))
    rm -rf "$t/a" "$t/b"
    mkdir -p "$t/a" "$t/b"
    # Quote the chain's words that hold ';' or '(' for the shell.
    q=""
    for w in $c; do q+=" '${w//\'/\'\\\'\'}'"; done
    run "$old" "$q" "$t/a/w"
    run "$new" "$q" "$t/b/w"
    if ! diff -r "$t/a" "$t/b" > "$t/diff"; then
        failed=$((failed + 1))
        echo "DIFFERS: qel-batch $c"
        head -20 "$t/diff"
    fi
done
echo "$n command lines, $failed differ"
[ "$failed" = 0 ]
