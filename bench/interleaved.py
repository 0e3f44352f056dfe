#!/usr/bin/python3
"""Times whole commands round by round (each round runs every command once, in turn, so a machine
busy with other work slows all of them alike) and prints a Markdown table: median seconds, peak
memory, the output's size, and each row's time and size against the job's first row (qel's), then
for each job the first row's time against the fastest peer's (the rows not named qel...).
    interleaved.py [--runs N] < JOBS
JOBS: one command a line, "JOB | NAME | OUTPUT | COMMAND" (OUTPUT "-" for none); the first line of
each job is the row the others are compared with. With --goal, for each peer row of a job whose
name starts with "qel", the fastest qel row writing a file no larger in at most half the time.
Not part of the tests."""
import os
import shlex
import statistics
import subprocess
import sys
import time

runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
rows = []
for line in sys.stdin:
    if line.strip() and not line.startswith("#"):
        job, name, output, command = (part.strip() for part in line.split("|", 3))
        rows.append({"job": job, "name": name, "output": output, "command": command, "times": []})

for r in rows:  # one untimed run each: page cache, the peers' libraries
    subprocess.run(shlex.split(r["command"]), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
for _ in range(runs):
    for r in rows:
        if r["output"] != "-" and os.path.exists(r["output"]):
            os.remove(r["output"])
        start = time.perf_counter()
        child = subprocess.Popen(shlex.split(r["command"]), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = 0  # reaped here
        ok = os.waitstatus_to_exitcode(status) == 0
        r["times"].append(time.perf_counter() - start if ok else float("nan"))
        r["peak"] = max(r.get("peak", 0), usage.ru_maxrss // 1024)
for r in rows:
    r["median"] = statistics.median(r["times"])
    r["size"] = os.path.getsize(r["output"]) if r["output"] != "-" and os.path.exists(r["output"]) else None

print(f"median of {runs} interleaved runs, whole process; ratios against the job's first row\n")
print("| job | program | seconds | peak MB | bytes | time / first | size / first |")
print("|---|---|---:|---:|---:|---:|---:|")
first = {}
for r in rows:
    f = first.setdefault(r["job"], r)
    size = f"{r['size']:,}" if r["size"] is not None else ""
    size_ratio = f"{r['size'] / f['size']:.3f}" if r["size"] and f["size"] else ""
    print(f"| {r['job']} | {r['name']} | {r['median']:.3f} | {r['peak']} | {size} | {r['median'] / f['median']:.2f} | {size_ratio} |")

print("\n| job | first row | fastest peer | time ratio |")
print("|---|---|---|---:|")
for job, f in first.items():
    others = [r for r in rows if r["job"] == job and not r["name"].startswith("qel") and r["median"] == r["median"]]
    if others:
        fastest = min(others, key=lambda r: r["median"])
        print(f"| {job} | {f['name']} {f['median']:.3f} s | {fastest['name']} {fastest['median']:.3f} s | "
              f"{f['median'] / fastest['median']:.2f} |")

if "--goal" in sys.argv:
    print("\n| job | peer | peer s | peer bytes | fastest qel row no larger | its s | its bytes | time ratio (goal <= 0.5) |")
    print("|---|---|---:|---:|---|---:|---:|---:|")
    for peer in rows:
        if peer["name"].startswith("qel") or peer["size"] is None:
            continue
        fits = [q for q in rows if q["job"] == peer["job"] and q["name"].startswith("qel") and q["size"] is not None
                and q["size"] <= peer["size"]]
        if not fits:
            print(f"| {peer['job']} | {peer['name']} | {peer['median']:.3f} | {peer['size']:,} | none | | | |")
            continue
        q = min(fits, key=lambda q: q["median"])
        print(f"| {peer['job']} | {peer['name']} | {peer['median']:.3f} | {peer['size']:,} | {q['name']} | "
              f"{q['median']:.3f} | {q['size']:,} | {q['median'] / peer['median']:.2f} |")
