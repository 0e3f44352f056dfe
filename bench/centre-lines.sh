#!/usr/bin/env bash
# Centre-line SVG on the peer benchmark's 4000 x 3000 line drawing (bench/make_pictures.py):
# the trace's time against thinning's, and the SVG's size and path points against the outline
# SVG potrace (Debian's package, -s, default settings) makes of the same unthinned drawing.
#   bench/centre-lines.sh [--runs N]      median of N runs each (default 5), whole process
# Trace time = (thin and write .svg) - (thin alone); thinning time = (thin alone) - (load alone).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
[ "${1:-}" = --runs ] && runs="$2"
. bench/peers-setup.sh potrace hyperfine python3-pil python3-numpy
PY=/usr/bin/python3
work="${TMPDIR:-/tmp}/qel-peers"
mkdir -p "$work"
cd "$work"
[ -f lines.bmp ] || $PY "$OLDPWD/bench/make_pictures.py" .
median() {
  hyperfine -N --style none --warmup 1 --runs "$runs" --export-json t.json "$1" >/dev/null 2>&1 || { echo nan; return; }
  python3 -c "import json,statistics;print('%.3f'%statistics.median(json.load(open('t.json'))['results'][0]['times']))"
}
load=$(median "$Q lines.bmp --info")
thin=$(median "$Q lines.bmp --thin")
svg=$(median "$Q lines.bmp --thin -o q.svg")
pot=$(median "potrace -s lines.bmp -o potrace.svg")
python3 - "$load" "$thin" "$svg" "$pot" <<'PY'
import os, re, sys
load, thin, svg, pot = map(float, sys.argv[1:])
def paths(name):
    return re.findall(r' d="([^"]*)"', open(name).read())
def pairs(name):  # coordinate pairs of every path command (potrace: M, m, l, c; qel: m with pairs)
    return sum(len(re.findall(r'-?[0-9.]+', d)) for d in paths(name)) // 2
def nodes(name):  # ends and junctions: where one, or three or more, open subpaths end
    ends = {}
    loops = dots = 0
    for d in paths(name):
        x = y = 0.0
        for sub in re.findall(r'm[^m]*', d):
            n = [float(v) for v in re.findall(r'-?[0-9.]+', sub)]
            x += n[0]; y += n[1]
            sx, sy = x, y
            if sub.endswith('h0'): dots += 1; continue
            for i in range(2, len(n), 2): x += n[i]; y += n[i + 1]
            if sub.endswith('z'): loops += 1; x, y = sx, sy; continue
            for p in ((round(sx, 2), round(sy, 2)), (round(x, 2), round(y, 2))): ends[p] = ends.get(p, 0) + 1
    return sum(v == 1 for v in ends.values()), sum(v >= 3 for v in ends.values()), loops, dots
trace, thinning = svg - thin, thin - load
q, p = os.path.getsize('q.svg'), os.path.getsize('potrace.svg')
print(f"load {load:.3f} s, thin {thinning:.3f} s, trace and write {trace:.3f} s: trace / thin {trace / thinning:.2f} (goal <= 0.5)")
print(f"SVG size: qel {q} bytes, potrace {p} bytes: qel / potrace {q / p:.3f} (goal <= 0.5); potrace took {pot:.3f} s")
print(f"path points: qel {pairs('q.svg')}, potrace {pairs('potrace.svg')} (goal: fewer)")
e, j, l, d = nodes('q.svg')
print(f"qel's graph: {e} ends, {j} junctions, {l} closed loops, {d} dots")
PY
