#!/usr/bin/env python3
"""vupdate sweep --points all of a maximum image beside the sampled sweep, in the same script.

Each figure is the median wall time of RUNS rounds (default 3); every round runs the four sweeps in turn, so a
row and its reference see the same load on a shared machine. Goals: every bus operation judged within 60 s,
and with --retry-faults default within 10 minutes; the ratio is against the default (sampled) sweep.
Usage: bench/sweep_all.py [BUILD_DIR] [RUNS] [JOBS]  (default build/default, 3, 2)
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/default"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
jobs = sys.argv[3] if len(sys.argv) > 3 else "2"
vupdate = os.path.realpath(os.path.join(build, "vupdate"))


def timed(args):
    """Wall seconds, standard output and peak resident memory (MiB, of the largest process: the walk) of one
    sweep, which must find nothing lost."""
    started = time.monotonic()
    with subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as p:
        out = p.stdout.read()
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - started
    if p.returncode != 0:
        sys.exit(f"sweep_all.py: exit {p.returncode}: {' '.join(args)}\n{out}")
    return wall, out, usage.ru_maxrss / 1024


with tempfile.TemporaryDirectory(prefix="vestra-sweep-bench.") as work:
    image = os.path.join(work, "image.bin")
    with open(image, "wb") as f:
        f.write(bytes((i * 131 + (i >> 11)) & 255 for i in range(0x1FFFFF)))
    card = os.path.join(work, "card")
    os.makedirs(os.path.join(card, "SYSTEM"))
    subprocess.run([vupdate, "pack", "--image", image, "--out", os.path.join(card, "SYSTEM", "QR40BENCH.BIN"),
                    "--firmware", "0x01100000", "--ccs", "0x01000000", "--region", "1", "--installer",
                    "0x01000000", "--vendor", "Norvale Co., Ltd.", "--product", "Calyte QR", "--serial-min", "0",
                    "--serial-max", "0xFFFFFFFF"], check=True, stdout=subprocess.DEVNULL)
    for name in ("UPDATE.CAM", "UPDATE.CRS"):
        with open(os.path.join(card, "SYSTEM", name), "w") as f:
            f.write("x")
    camera = os.path.join(work, "camera.toml")
    with open(camera, "w") as f:
        f.write('vendor = "Norvale Co., Ltd."\nproduct = "Calyte QR"\n')
    sweep = [vupdate, "sweep", "--card", card, "--camera", camera, "--flash", os.path.join(work, "none.bin"),
             "--jobs", jobs]
    commands = {
        "sampled": sweep,
        "all": sweep + ["--points", "all"],
        "sampled, faults": sweep + ["--retry-faults", "default"],
        "all, faults": sweep + ["--points", "all", "--retry-faults", "default"],
    }
    walls = {name: [] for name in commands}
    outputs = {}
    peak = {name: 0.0 for name in commands}
    for _ in range(runs):
        for name, args in commands.items():
            wall, outputs[name], mib = timed(args)
            walls[name].append(wall)
            peak[name] = max(peak[name], mib)
    median = {name: statistics.median(v) for name, v in walls.items()}

    def classes(out):
        m = re.search(r"judged: (\d+) classes", out)
        per_fault = sum(int(c) for c in re.findall(r"^\S+\s+\d+\s+(\d+)\s+\d+\s+\d+$", out, re.M))
        return f"{m.group(1) if m else '?'} classes" + (f", {per_fault} more over the faults" if per_fault else "")

    print(f"{'row':<52} {'wall':>9} {'reference':>10} {'ratio':>7}   ({runs} rounds, median, --jobs {jobs})")
    for row, ref, goal in (("all", "sampled", 60), ("all, faults", "sampled, faults", 600)):
        print(f"{'sweep --points all' + (' --retry-faults default' if 'faults' in row else ''):<52} "
              f"{median[row]:8.1f}s {median[ref]:9.1f}s {median[row] / median[ref]:6.1f}x  "
              f"(goal <= {goal} s; {classes(outputs[row])}; peak {peak[row]:.0f} MiB)")
