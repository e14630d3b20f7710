#!/usr/bin/env python3
"""A job under an address-space limit near what it needs, against the same job
without a limit, measured in the same run.

  bench/memory_floor.py [--files 10] [--chats 40000] [--from 120] [--to 220] [--step 5]
                        [--runs 3] [--bin build/linux/zantrel]

For each limit (MiB of address space, as `ulimit -v` sets it) prints the exit
status, the wall time and its ratio to the median unlimited time. Below the
floor the job must fail soon with the out-of-memory report; above it, it must
finish in about its usual time (at most twice it).
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run(cmd, cwd, limit_mib=None):
    """(exit status, wall seconds, last log line) of one job."""
    def limit():
        if limit_mib is not None:
            resource.setrlimit(resource.RLIMIT_AS, (limit_mib << 20, limit_mib << 20))
    start = time.perf_counter()
    proc = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, preexec_fn=limit, timeout=600)
    wall = time.perf_counter() - start
    lines = proc.stdout.decode("utf-8", "replace").splitlines()
    return proc.returncode, wall, lines[-1] if lines else ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", type=int, default=10)
    ap.add_argument("--chats", type=int, default=40000)
    ap.add_argument("--from", dest="low", type=int, default=120)
    ap.add_argument("--to", dest="high", type=int, default=220)
    ap.add_argument("--step", type=int, default=5)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "linux", "zantrel"))
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="zantrel-floor-")
    try:
        subprocess.run([sys.executable, os.path.join(HERE, "gen_workload.py"), work, "--files", str(args.files),
                        "--chats", str(args.chats), "--overlap", "0.5", "--seed", "1"],
                       check=True, stdout=subprocess.DEVNULL)
        inputs = sorted(n for n in os.listdir(work) if n.endswith(".xml"))
        cmd = [os.path.abspath(args.bin), *inputs, "save=merged.xml"]
        free = statistics.median(run(cmd, work)[1] for _ in range(args.runs))
        print(f"{args.files} files x {args.chats} chats; unlimited: {free:.2f} s (median of {args.runs})")
        print("| limit (MiB) | exit | wall (s) | x unlimited | last line |")
        print("|---|---|---|---|---|")
        worst = 0.0
        for limit in range(args.low, args.high + 1, args.step):
            code, wall, last = run(cmd, work, limit)
            worst = max(worst, wall / free)
            print(f"| {limit} | {code} | {wall:.2f} | {wall / free:.2f} | {last[:40]} |")
        print(f"slowest against unlimited: {worst:.2f}x")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
