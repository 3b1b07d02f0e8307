#!/usr/bin/env python3
"""Whole `vupdate` processes against their references, measured in this same run.

Each figure is the median processor time (user + system, from wait4) of RUNS rounds, each round running
every command once in turn; the rows print the ratio against their reference. The power-cut sweep of a
maximum image has an absolute goal (wall time on this machine's two cores); it is printed beside one whole
run, median of three.
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


def run_once(run_args):
    """CPU and wall milliseconds of one process."""
    started = time.monotonic()
    p = subprocess.Popen(run_args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = (time.monotonic() - started) * 1000
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"tools.py: exit {code}: {' '.join(run_args)}")
    return (usage.ru_utime + usage.ru_stime) * 1000, wall


def measure_rounds(commands, count):
    """Median CPU and wall milliseconds of each named command. Every round runs each command once, in turn:
    a row and its reference see the same load on a shared machine, however it changes during the run.
    A command is (args, prepare): prepare(i) runs untimed before round i and may return the arguments."""
    cpu = {name: [] for name in commands}
    wall = {name: [] for name in commands}
    for i in range(count):
        for name, (args, prepare) in commands.items():
            c, w = run_once((prepare(i) if prepare else None) or args)
            cpu[name].append(c)
            wall[name].append(w)
    return ({name: statistics.median(v) for name, v in cpu.items()},
            {name: statistics.median(v) for name, v in wall.items()})


def row(what, measured, reference, goal):
    ratio = measured / reference if reference > 0 else float("inf")
    goal = f"goal <= {goal}" if isinstance(goal, (int, float)) else goal
    print(f"{what:<46} {measured:9.2f} ms {reference:9.2f} ms {ratio:7.2f}x  ({goal})")


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

    # The same run with the simulated flash replaced by one that does its work at once and nothing else:
    # what a run costs apart from the device (the module, the screens, the card, the process).
    ideal_bus = os.path.join(os.path.dirname(vupdate), "vupdate-ideal-bus")
    commands = {
        "inspect": ([vupdate, "inspect", code], None),
        "sum": (["sum", "-s", code], None),
        "camera": ([vupdate, "inspect", code, "--camera", camera], None),
        "setup": ([vupdate, "--help"], None),  # loaded and started, no work
        "run": (run_args, fresh_card),
        "copy": (["cp", image, os.path.join(work, "copy.bin")], None),
        "shots": (None, fresh_shots),
    }
    if os.path.exists(ideal_bus):
        commands["floor"] = ([ideal_bus] + run_args[1:], fresh_card)
    cpu, wall = measure_rounds(commands, runs)

    print(f"{'row':<46} {'measured':>12} {'reference':>12} {'ratio':>8}   ({runs} rounds, median CPU)")
    row("inspect / sum -s", cpu["inspect"], cpu["sum"], 1.3)
    row("inspect --camera / inspect", cpu["camera"], cpu["inspect"], 2)
    setup = cpu["setup"]
    row(f"run - set-up ({setup:.2f} ms) / cp of the image", cpu["run"] - setup, cpu["copy"], 6)
    if "floor" in cpu:
        row("  the same on an ideal flash / cp of the image", cpu["floor"] - setup, cpu["copy"],
            "the floor under the goal")
        row("  run / the same on an ideal flash", cpu["run"] - setup, cpu["floor"] - setup,
            "the simulated device's cost")
    frames = len(os.listdir(os.path.join(work, "shots0")))
    row(f"run --shots ({frames} files) / run", cpu["shots"], cpu["run"], 2)

    fresh_card()
    sweep = [vupdate, "sweep", "--card", card, "--camera", camera, "--flash", flash, "--jobs", "2"]
    sweep_wall = measure_rounds({"sweep": (sweep, None)}, 3)[1]["sweep"]
    print(f"{'sweep, default points, 2 jobs (wall) / one run':<46} {sweep_wall / 1000:9.2f} s  "
          f"{wall['run']:9.2f} ms {sweep_wall / wall['run']:7.0f}x  (goal: sweep <= 60 s)")
