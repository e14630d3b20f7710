#!/usr/bin/env python3
"""Times one full merge job of the command-line program on a generated workload.

  bench/bench_job.py [--files 10] [--chats 20000] [--runs 3] [--bin build/linux/zantrel]

Generates the files (seeded), runs the job several times, checks the output
(chat numbers in order, last_res) and prints the median wall time and the peak
resident memory of the job, next to the time of a bare file copy of the same
inputs as a yardstick measured in the same run.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from measuring import run_measured, tail

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def measure(cmd, cwd):
    """Wall seconds and peak RSS (MiB) of one child process that must succeed."""
    errors = os.path.join(cwd, "stderr.txt")
    code, wall, peak, _ = run_measured(cmd, cwd, os.devnull, errors)
    if code != 0:
        sys.exit(f"{cmd[0]} failed with exit status {code}\n{tail(errors)}")
    return wall, peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", type=int, default=10)
    ap.add_argument("--chats", type=int, default=20000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "linux", "zantrel"))
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="zantrel-bench-")
    try:
        subprocess.run([sys.executable, os.path.join(HERE, "gen_workload.py"), work, "--files", str(args.files),
                        "--chats", str(args.chats), "--overlap", "0.5", "--seed", "1"],
                       check=True, stdout=subprocess.DEVNULL)
        inputs = sorted(n for n in os.listdir(work) if n.endswith(".xml"))
        size = sum(os.path.getsize(os.path.join(work, n)) for n in inputs)
        out = os.path.join(work, "merged.xml")
        walls, peaks = [], []
        for _ in range(args.runs):
            wall, peak = measure([os.path.abspath(args.bin), *inputs, "save=merged.xml"], work)
            walls.append(wall)
            peaks.append(peak)
        subprocess.run([sys.executable, os.path.join(HERE, "check_output.py"), out,
                        os.path.join(work, "expect.json")], check=True)
        copies = [measure(["/bin/cat", *inputs], work)[0] for _ in range(args.runs)]
        with open(os.path.join(work, "expect.json"), encoding="utf-8") as f:
            expect = json.load(f)
        print(json.dumps({
            "files": args.files, "chats_per_file": args.chats, "input_mib": round(size / 2**20, 1),
            "unique_chats": expect["expected_unique"],
            "median_wall_s": round(statistics.median(walls), 3),
            "peak_rss_mib": round(max(peaks), 1),
            "cat_inputs_median_s": round(statistics.median(copies), 4),
            "us_per_input_chat": round(statistics.median(walls) / (args.files * args.chats) * 1e6, 2),
        }, indent=2))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
