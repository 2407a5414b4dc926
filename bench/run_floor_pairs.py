#!/usr/bin/env python3
"""Paired runs of ofb2bmp against the read-and-write floor, kind by kind.

    bench/run_floor_pairs.py [runs, default 21] [OLDER_PROGRAM]

Builds the bench preset, writes two pairs of each kind with the sample writer (--large) on
/dev/shm, and for each set (the two direct-colour pairs, the two frame-bank pairs, the two
screen-bank pairs, all six) runs ofb2bmp and write_baseline in turn, `runs` times, the first of
each pair taking turns. write_baseline reads the set's archives through once and writes files
of the same names and sizes with one write each (the floor). Prints, for each set, the median
of the per-pair wall-time ratios ofb2bmp / floor with the lowest and highest, the median
processor time (user and system, all threads), and the load average at the start and end. With OLDER_PROGRAM, it runs in the same rounds and its ratios are
printed beside.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 21
older = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
subprocess.run("cmake --preset bench >/dev/null && cmake --build --preset bench --target ofb2bmp "
               "write_baseline sample_writer >/dev/null", shell=True, check=True, cwd=source)
build = os.path.join(source, "build", "bench")
work = "/dev/shm/ofb2bmp_floor.%d" % os.getpid()
os.makedirs(work + "/data")
try:
    os.chdir(work)
    subprocess.run([build + "/tools/sample_writer", "samples", "--large"], check=True,
                   stdout=subprocess.DEVNULL)
    for kind in ("PICS", "BFIL", "GFIL"):
        for copy in "AB":
            for ext in ("OFB", "BIN"):
                shutil.copy("samples/%s.%s" % (kind, ext), "data/%s%s.%s" % (kind, copy, ext))
    shutil.copy(build + "/ofb2bmp", "ofb2bmp")
    sets = {"direct colour": ["PICS"], "frame banks": ["BFIL"], "screen banks": ["GFIL"],
            "all six": ["PICS", "BFIL", "GFIL"]}
    print("load at start:", open("/proc/loadavg").read().split()[:3])
    for name, kinds in sets.items():
        indexes = ["data/%s%s.OFB" % (k, c) for k in kinds for c in "AB"]
        archives = [i[:-3] + "BIN" for i in indexes]
        subprocess.run(["./ofb2bmp", "-q", "-o", "out"] + indexes, check=True)
        with open("list", "w") as listing:
            for entry in sorted(os.listdir("out")):
                listing.write("%d %s\n" % (os.path.getsize("out/" + entry), entry))
        programs = {"ofb2bmp": ["./ofb2bmp", "-q", "-o", "out"] + indexes,
                    "floor": [build + "/bench/write_baseline", "list", "out"] + archives}
        if older:
            programs["older"] = [older, "-q", "-o", "out"] + indexes
        times = {who: [] for who in programs}
        cpu = {who: [] for who in programs}
        for run in range(runs):
            order = list(programs) if run % 2 == 0 else list(reversed(list(programs)))
            for who in order:
                shutil.rmtree("out", ignore_errors=True)
                os.makedirs("out")
                used = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run(programs[who], check=True, stdout=subprocess.DEVNULL)
                times[who].append(time.perf_counter() - start)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu[who].append(after.ru_utime + after.ru_stime - used.ru_utime - used.ru_stime)
        shutil.rmtree("out")
        line = "%s: floor %.1f ms (processor time %.0f ms)" % (
            name, statistics.median(times["floor"]) * 1e3, statistics.median(cpu["floor"]) * 1e3)
        for who in [w for w in programs if w != "floor"]:
            ratios = sorted(t / f for t, f in zip(times[who], times["floor"]))
            line += "; %s %.1f ms, ratio %.2f (%.2f-%.2f), processor time %.0f ms" % (
                who, statistics.median(times[who]) * 1e3, statistics.median(ratios), ratios[0],
                ratios[-1], statistics.median(cpu[who]) * 1e3)
        print(line, flush=True)
    print("load at end:", open("/proc/loadavg").read().split()[:3])
finally:
    os.chdir("/")
    shutil.rmtree(work, ignore_errors=True)
