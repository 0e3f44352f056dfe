#!/usr/bin/env bash
# The README's GNU parallel recipe, on this machine only (a login file naming the local host),
# writes the same bytes as one qel-batch run with -j over the same folder.
#   parallel_recipe.sh QEL_BATCH
set -euo pipefail
q=$(realpath "$1")
command -v parallel >/dev/null || { echo "GNU parallel is not installed: skipped"; exit 77; }
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
mkdir -p "$t/in/a/b"
"$q" --new=61x40 --fractal -o "$t/in/one.bmp"
"$q" --new=30x47 --fractal --to-256 -o "$t/in/a/two.bmp"
"$q" --new=52x33 --fractal --scale=20x70 -o "$t/in/a/b/three.bmp"
echo : > "$t/hosts"  # ":" is this machine; a cluster lists user@host lines
"$q" --grey --to-16 -j 2 -r --out-dir "$t/out-j" "$t/in"
(cd "$t/in" && find . -name '*.bmp' -printf '%P\n' |
   parallel --will-cite --sshloginfile "$t/hosts" "$q" --grey --to-16 --quiet --out-dir ../out-p {})
[ "$(find "$t/out-p" -type f | wc -l)" = 3 ] || { echo "expected 3 outputs"; exit 1; }
diff -r "$t/out-j" "$t/out-p"
echo "GNU parallel and -j wrote the same files"
