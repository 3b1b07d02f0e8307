#!/usr/bin/env python3
"""Whole `vupdate` processes against their references, measured in this same run.

Each figure is the median processor time (user + system, from wait4) of RUNS runs; the rows print the
ratio against their reference. The power-cut sweep of a maximum image has an absolute goal (wall time on
this machine's two cores); it is printed beside one whole run, median of three.
Usage: bench/tools.py [BUILD_DIR] [RUNS]  (default build/default, 21)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/default"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
vupdate = os.path.realpath(os.path.join(build, "vupdate"))
keys = "left,left,left,centre,right"


def measure(args, prepare=None, count=None):
    """Median CPU and wall milliseconds of COUNT runs (default RUNS); prepare(i) runs untimed before run i
    and may return the arguments to use instead."""
    cpu, wall = [], []
    for i in range(count or runs):
        run_args = (prepare(i) if prepare else None) or args
        started = time.monotonic()
        p = subprocess.Popen(run_args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(p.pid, 0)
        wall.append((time.monotonic() - started) * 1000)
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            sys.exit(f"tools.py: exit {code}: {' '.join(run_args)}")
        cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
    return statistics.median(cpu), statistics.median(wall)


def cpu_ms(args, prepare=None):
    return measure(args, prepare)[0]


def row(what, measured, reference, goal):
    ratio = measured / reference if reference > 0 else float("inf")
    print(f"{what:<46} {measured:9.2f} ms {reference:9.2f} ms {ratio:7.2f}x  (goal <= {goal})")


with tempfile.TemporaryDirectory(prefix="vestra-tools-bench.") as work:
    image = os.path.join(work, "image.bin")
    with open(image, "wb") as f:
        f.write(bytes((i * 131 + (i >> 11)) & 255 for i in range(0x1FFFFF)))
    code = os.path.join(work, "code.bin")
    subprocess.run([vupdate, "pack", "--image", image, "--out", code, "--firmware", "0x01100000",
                    "--ccs", "0x01000000", "--region", "1", "--installer", "0x01000000",
                    "--vendor", "Norvale Co., Ltd.", "--product", "Calyte QR", "--serial-min", "0",
                    "--serial-max", "0xFFFFFFFF"], check=True, stdout=subprocess.DEVNULL)
    camera = os.path.join(work, "camera.toml")
    with open(camera, "w") as f:
        f.write('vendor = "Norvale Co., Ltd."\nproduct = "Calyte QR"\n')
    card = os.path.join(work, "card")
    flash = os.path.join(work, "flash.bin")
    shots = os.path.join(work, "shots")

    def fresh_card(_=None):
        shutil.rmtree(card, ignore_errors=True)
        if os.path.exists(flash):
            os.remove(flash)
        os.makedirs(os.path.join(card, "SYSTEM"))
        shutil.copyfile(code, os.path.join(card, "SYSTEM", "QR40BENCH.BIN"))
        for name in ("UPDATE.CAM", "UPDATE.CRS"):
            with open(os.path.join(card, "SYSTEM", name), "w") as f:
                f.write("x")

    run_args = [vupdate, "run", "--card", card, "--camera", camera, "--flash", flash, "--keys", keys]

    # Each --shots run writes into a folder of its own: emptying one folder again and again would time the
    # file system's search past freed entries, not vupdate.
    def fresh_shots(i):
        fresh_card()
        return run_args + ["--shots", os.path.join(work, f"shots{i}")]

    print(f"{'row':<46} {'measured':>12} {'reference':>12} {'ratio':>8}   ({runs} runs each, median CPU)")
    inspect = cpu_ms([vupdate, "inspect", code])
    row("inspect / sum -s", inspect, cpu_ms(["sum", "-s", code]), 1.3)
    row("inspect --camera / inspect", cpu_ms([vupdate, "inspect", code, "--camera", camera]), inspect, 2)
    setup = cpu_ms([vupdate, "--help"])  # loaded and started, no work
    run, run_wall = measure(run_args, fresh_card)
    row(f"run - set-up ({setup:.2f} ms) / cp of the image", run - setup,
        cpu_ms(["cp", image, os.path.join(work, "copy.bin")]), 6)
    with_shots = cpu_ms(run_args, fresh_shots)
    frames = len(os.listdir(os.path.join(work, "shots0")))
    row(f"run --shots ({frames} files) / run", with_shots, run, 2)

    fresh_card()
    sweep = [vupdate, "sweep", "--card", card, "--camera", camera, "--flash", flash, "--jobs", "2"]
    _, sweep_wall = measure(sweep, count=3)
    print(f"{'sweep, default points, 2 jobs (wall) / one run':<46} {sweep_wall / 1000:9.2f} s  "
          f"{run_wall:9.2f} ms {sweep_wall / run_wall:7.0f}x  (goal: sweep <= 60 s)")
