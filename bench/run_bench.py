#!/usr/bin/env python3
"""Compares one Zantrel merge job with other ways of doing the same merge.

  bench/run_bench.py [--runs 5] [--saxon-runs N] [--workloads W1,W2,W3]
                     [--bin build/linux/zantrel] [--floor build/linux/bench/bench_floor]
                     [--tools zantrel,lxml,xsltproc,saxon,floor] [--sheet FILE.xsl]
                     [--before OTHER/zantrel] [--report FILE.md] [--json FILE.json] [--keep DIR]

Workloads (generated with gen_workload.py, seed 1, overlap 0.5):
  W1  10 files x 20,000 chats
  W2  100 files x 2,000 chats
  W3  one file of 300,000 chats plus one small file of 2,000 chats (--big)
  W4  4 files x 250,000 chats (large files: memory against the output's size)
  W5  10 files x 500,000 chats (not run by default: needs several GiB for the peers)
  W4Q W4 with attribute values in single quotes (chats the serialiser writes otherwise)
  W4S W4 declared and written in Shift_JIS (read through an encoder)
Tools, all on the same files in the same run, interleaved round by round:
  zantrel   the program (a snapshot of --bin and the convert.xsl beside it, so a
            rebuild during the run cannot change what is measured)
  lxml      bench/peers/merge_lxml.py under a Python that has lxml
  xsltproc  bench/peers/merge.xsl (XSLT 1.0 + EXSLT)
  saxon     bench/peers/merge3.xsl (XSLT 3.0, Saxon-HE; skipped with a note if
            java or the jar is missing); --saxon-runs to give it fewer runs
  before    with --before: another build of the program, side by side
  floor     bench_floor: parse all inputs + write the output once, nothing else;
            its time is its own clock (it parses an output-shaped tree first,
            outside the clock), its memory is the process's peak RSS
  xmllint   the yardstick: `xmllint --stream --noout` over the same inputs, one
            thread, only reading them; zantrel's wall and CPU are also given as
            ratios to it
--sheet gives zantrel (and the build before) and lxml a style sheet other than
the bundled one, as a user's own in place of convert.xsl; xsltproc, Saxon and
the floor do not apply it (leave them out with --tools).
Every run's output is checked with check_output.py (chat numbers in order,
last_res); any failure stops the benchmark with a message. Wall time is the
median over the runs, measured around fork/exec/wait4; peak memory is the
largest ru_maxrss that wait4 reported over the runs. Progress goes to stderr,
the report (machine, Markdown tables) to stdout and, with --report, to a file.
"""
import argparse
import datetime
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

from measuring import (ROOT, check, fail, find_lxml_python, find_saxon_jar, first_line, fmt_ratio, log,
                       loadavg, machine_info, rss_baseline, run_measured, shown, shown_command, tail)

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")

WORKLOADS = {
    "W1": {"desc": "10 files x 20,000 chats, overlap 0.5", "args": ["--files", "10", "--chats", "20000"]},
    "W2": {"desc": "100 files x 2,000 chats, overlap 0.5", "args": ["--files", "100", "--chats", "2000"]},
    "W3": {"desc": "1 file of 300,000 chats + 1 file of 2,000 chats, overlap 0.5",
           "args": ["--chats", "300000", "--big", "2000"]},
    "W4": {"desc": "4 files x 250,000 chats, overlap 0.5", "args": ["--files", "4", "--chats", "250000"]},
    "W5": {"desc": "10 files x 500,000 chats, overlap 0.5", "args": ["--files", "10", "--chats", "500000"]},
    "W4Q": {"desc": "4 files x 250,000 chats, overlap 0.5, single quotes",
            "args": ["--files", "4", "--chats", "250000", "--quote", "single"]},
    "W4S": {"desc": "4 files x 250,000 chats, overlap 0.5, Shift_JIS",
            "args": ["--files", "4", "--chats", "250000", "--encoding", "Shift_JIS"]},
}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--saxon-runs", type=int, default=None, help="runs for Saxon (default: --runs)")
    ap.add_argument("--workloads", default="W1,W2,W3")
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "linux", "zantrel"))
    ap.add_argument("--floor", default=os.path.join(ROOT, "build", "linux", "bench", "bench_floor"))
    ap.add_argument("--report", help="also write the report (Markdown) to this file")
    ap.add_argument("--json", help="write all measurements to this file")
    ap.add_argument("--keep", help="work in this directory and keep it (default: a temporary one)")
    ap.add_argument("--tools", default="zantrel,before,lxml,xsltproc,saxon,floor,xmllint",
                    help="which tools to run (zantrel always; before only with --before)")
    ap.add_argument("--sheet", help="the style sheet for zantrel and lxml (default: convert.xsl beside --bin)")
    ap.add_argument("--before", help="another zantrel build to measure side by side")
    a = ap.parse_args()
    wl_names = [w.strip().upper() for w in a.workloads.split(",") if w.strip()]
    for w in wl_names:
        if w not in WORKLOADS:
            ap.error("unknown workload %s (known: %s)" % (w, ",".join(WORKLOADS)))
    if a.runs < 1 or (a.saxon_runs is not None and a.saxon_runs < 1):
        ap.error("runs must be >= 1")
    saxon_runs = a.saxon_runs if a.saxon_runs is not None else a.runs

    zbin = os.path.abspath(a.bin)
    zxsl = os.path.abspath(a.sheet) if a.sheet else os.path.join(os.path.dirname(zbin), "convert.xsl")
    floor = os.path.abspath(a.floor)
    for p, what in ((zbin, "zantrel (build it: cmake --preset linux && cmake --build --preset linux)"),
                    (zxsl, "convert.xsl beside zantrel"),
                    (floor, "bench_floor (cmake --build --preset linux --target bench_floor)")):
        if not os.path.isfile(p):
            fail("missing %s: %s" % (what, p))
    lxml_py = find_lxml_python()
    if lxml_py is None:
        fail("no Python with lxml found (Debian: python3-lxml)")
    xsltproc = shutil.which("xsltproc")
    if xsltproc is None:
        fail("xsltproc not found (Debian: xsltproc)")
    java = shutil.which("java")
    jar = find_saxon_jar()
    notes = []
    if java is None or jar is None:
        notes.append("Saxon skipped: %s not found." % ("java" if java is None else "the Saxon-HE jar"))

    if a.keep:
        work = os.path.abspath(a.keep)
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="zantrel-run-bench-")
    try:
        # Snapshot of the program under test.
        snap = os.path.join(work, "bin")
        os.makedirs(snap, exist_ok=True)
        shutil.copy2(zbin, os.path.join(snap, "zantrel"))
        shutil.copy2(zxsl, os.path.join(snap, "convert.xsl"))
        zbin_s = os.path.join(snap, "zantrel")
        xsl_s = os.path.join(snap, "convert.xsl")
        before_s = None
        if a.before:
            bsnap = os.path.join(work, "before")
            os.makedirs(bsnap, exist_ok=True)
            shutil.copy2(os.path.abspath(a.before), os.path.join(bsnap, "zantrel"))
            shutil.copy2(zxsl, os.path.join(bsnap, "convert.xsl"))
            before_s = os.path.join(bsnap, "zantrel")
        git_rev = first_line(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"])
        git_dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no", "src"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()

        info = machine_info()
        versions = {
            "zantrel": "%s (binary built %s; repo HEAD %s%s)" % (
                shown(a.bin), datetime.datetime.fromtimestamp(os.path.getmtime(zbin)).strftime("%Y-%m-%d %H:%M"),
                git_rev, ", src/ has uncommitted edits" if git_dirty else ""),
            "lxml": first_line([lxml_py, "-c", "import lxml.etree as e; print('lxml %s, libxml2 %s, libxslt %s' % "
                                "('.'.join(map(str, e.LXML_VERSION)), '.'.join(map(str, e.LIBXML_VERSION)), "
                                "'.'.join(map(str, e.LIBXSLT_VERSION))))"]) + " (" + shown(lxml_py) + ")",
            "xsltproc": first_line([xsltproc, "--version"]),
        }
        if a.sheet:
            versions["style sheet"] = "%s for zantrel and lxml" % shown(a.sheet)
        if before_s:
            versions["before"] = shown(a.before)
        if java and jar:
            versions["saxon"] = "%s; %s" % (os.path.basename(os.path.realpath(jar)), first_line([java, "-version"]))
        base_rss = rss_baseline(work)
        load_start = loadavg()

        wanted = set(a.tools.split(","))
        xmllint = shutil.which("xmllint") if "xmllint" in wanted else None
        if "xmllint" in wanted and xmllint is None:
            notes.append("xmllint skipped: not found (Debian: libxml2-utils).")
        if xmllint:
            versions["xmllint"] = first_line([xmllint, "--version"])
        tools = [t for t in ["zantrel", "before", "lxml", "xsltproc", "saxon", "floor", "xmllint"]
                 if t == "zantrel" or (t in wanted and (t != "saxon" or (java and jar))
                                       and (t != "before" or before_s) and (t != "xmllint" or xmllint))]
        results = {}
        for wl in wl_names:
            wdir = os.path.join(work, wl)
            if os.path.isdir(wdir):
                shutil.rmtree(wdir)
            indir = os.path.join(wdir, "in")
            outdir = os.path.join(wdir, "out")
            os.makedirs(outdir)
            log("[%s] generating: %s" % (wl, WORKLOADS[wl]["desc"]))
            subprocess.run([sys.executable, os.path.join(HERE, "gen_workload.py"), indir, "--overlap", "0.5",
                            "--seed", "1"] + WORKLOADS[wl]["args"], check=True, stdout=subprocess.DEVNULL)
            expect = os.path.join(indir, "expect.json")
            with open(expect, encoding="utf-8") as f:
                exp = json.load(f)
            inputs = sorted(os.path.join(indir, n) for n in os.listdir(indir) if n.endswith(".xml"))
            uris = " ".join(pathlib.Path(p).as_uri() for p in inputs)
            in_mib = sum(os.path.getsize(p) for p in inputs) / 2**20

            # Output-shaped tree for the floor: a checked zantrel result (untimed).
            shape = os.path.join(wdir, "shape.xml")
            code, _, _, _ = run_measured([zbin_s, *inputs, "save=" + shape], wdir,
                                      os.path.join(outdir, "shape.stdout"), os.path.join(outdir, "shape.stderr"))
            if code != 0:
                fail("[%s] zantrel (shape run) exit %d:\n%s" % (wl, code, tail(os.path.join(outdir, "shape.stdout"))))
            check(shape, expect, "[%s] zantrel shape run" % wl)
            out_mib = os.path.getsize(shape) / 2**20

            def command(tool, out):
                if tool == "zantrel":
                    return [zbin_s, *inputs, "save=" + out]
                if tool == "before":
                    return [before_s, *inputs, "save=" + out]
                if tool == "lxml":
                    return [lxml_py, os.path.join(PEERS, "merge_lxml.py"), *inputs, "--out", out, "--xsl", xsl_s]
                if tool == "xsltproc":
                    return [xsltproc, "-o", out, "--stringparam", "files", uris,
                            os.path.join(PEERS, "merge.xsl"), inputs[0]]
                if tool == "saxon":
                    return [java, "-cp", jar, "net.sf.saxon.Transform", "-it:main",
                            "-xsl:" + os.path.join(PEERS, "merge3.xsl"), "-o:" + out, "files=" + uris]
                if tool == "xmllint":
                    return [xmllint, "--stream", "--noout", *inputs]
                return [floor, "--shape", shape, "--out", out, *inputs]

            runs_of = {t: (saxon_runs if t == "saxon" else a.runs) for t in tools}
            meas = {t: {"wall": [], "rss": [], "cpu": [], "self": []} for t in tools}
            for r in range(max(runs_of.values())):
                for tool in tools:
                    if r >= runs_of[tool]:
                        continue
                    out = os.path.join(outdir, tool + ".xml")
                    if os.path.exists(out):
                        os.unlink(out)
                    so, se = os.path.join(outdir, tool + ".stdout"), os.path.join(outdir, tool + ".stderr")
                    code, wall, rss, cpu = run_measured(command(tool, out), wdir, so, se)
                    if code != 0:
                        fail("[%s] %s run %d: exit status %d\nstdout:\n%s\nstderr:\n%s"
                             % (wl, tool, r + 1, code, tail(so), tail(se)))
                    if tool != "xmllint":  # it only reads
                        if not os.path.isfile(out):
                            fail("[%s] %s run %d: no output file %s" % (wl, tool, r + 1, out))
                        check(out, expect, "[%s] %s run %d" % (wl, tool, r + 1))
                    meas[tool]["wall"].append(wall)
                    meas[tool]["rss"].append(rss)
                    meas[tool]["cpu"].append(cpu)
                    if tool == "floor":
                        with open(so, encoding="utf-8") as f:
                            vals = [line.split("=", 1)[1] for line in f if line.startswith("floor_seconds=")]
                        if not vals:
                            fail("[%s] floor printed no floor_seconds" % wl)
                        meas[tool]["self"].append(float(vals[0]))
                    log("[%s] run %d %-8s wall %7.3f s  cpu %7.3f s  peak %7.1f MiB"
                        % (wl, r + 1, tool, wall, cpu, rss))
            results[wl] = {"desc": WORKLOADS[wl]["desc"], "input_files": len(inputs), "input_mib": in_mib,
                           "output_mib": out_mib, "total_chats": exp["total_chats"],
                           "unique_chats": exp["expected_unique"], "runs": runs_of, "measurements": meas}

        # Report.
        now = datetime.datetime.now().astimezone()
        cmdline = shown_command(sys.argv[1:])
        lines = ["## Machine", "",
                 "- date: %s" % now.strftime("%Y-%m-%d %H:%M %Z"),
                 "- nproc: %s; CPU: %s; memory: %s" % (info["nproc"], info["cpu"], info["memory"]),
                 "- OS: %s, kernel %s" % (info["os"], info["kernel"]),
                 "- load average (1, 5, 15 min) at start: %s; at end: %s" % (load_start, loadavg()),
                 "- command: `%s`" % cmdline, ""]
        lines += ["Tools:", ""] + ["- %s: %s" % (k, v) for k, v in versions.items()]
        lines += ["- floor: %s (parse all inputs with xmlReadMemory + one xmlSaveFormatFileEnc of an "
                  "output-sized tree; time = its own clock)" % shown(a.floor), ""]
        lines += ["Wall time: median over the runs (fork to wait4, includes process start-up, JVM start "
                  "for Saxon). Peak: largest ru_maxrss from wait4 over the runs; no child can show less "
                  "than %.1f MiB here (the runner's own RSS, kept across exec; /bin/true measured the same "
                  "way). CPU: user + system seconds of the process and its threads (Saxon's JVM "
                  "uses several). Ratios: tool / zantrel (time ratio on median wall)." % base_rss, ""]
        lines += ["- " + n for n in notes] + ([""] if notes else [])
        per_chat = {}
        for wl in wl_names:
            res = results[wl]
            meas = res["measurements"]
            zt = statistics.median(meas["zantrel"]["wall"])
            zm = max(meas["zantrel"]["rss"])
            per_chat[wl] = zt / res["total_chats"]
            lines += ["## %s: %s" % (wl, res["desc"]), "",
                      "%d input files, %.1f MiB, %d chats in; %d unique chats out (%.1f MiB output)."
                      % (res["input_files"], res["input_mib"], res["total_chats"], res["unique_chats"],
                         res["output_mib"]), "",
                      "| tool | runs | median wall s | min–max s | median CPU s | peak MiB "
                      "| time / zantrel | memory / zantrel |",
                      "|---|---:|---:|---:|---:|---:|---:|---:|"]
            for tool in tools:
                m = meas[tool]
                walls = m["self"] if tool == "floor" else m["wall"]
                t = statistics.median(walls)
                peak = max(m["rss"])
                name = tool + (" (own clock¹)" if tool == "floor" else "")
                cpu = "–" if tool == "floor" else "%.3f" % statistics.median(m["cpu"])
                lines.append("| %s | %d | %.3f | %.3f–%.3f | %s | %.1f | %s | %s |"
                             % (name, len(walls), t, min(walls), max(walls), cpu, peak,
                                fmt_ratio(t / zt if zt else None), fmt_ratio(peak / zm if zm else None)))
            if "xmllint" in meas:
                xw = statistics.median(meas["xmllint"]["wall"])
                xc = statistics.median(meas["xmllint"]["cpu"])
                zc = statistics.median(meas["zantrel"]["cpu"])
                lines += ["", "zantrel against the one-thread `xmllint --stream --noout` read of the same "
                          "files: wall %s, CPU %s (%.3f s and %.3f s against %.3f s and %.3f s)."
                          % (fmt_ratio(zt / xw if xw else None), fmt_ratio(zc / xc if xc else None),
                             zt, zc, xw, xc)]
            if "floor" not in meas:
                lines.append("")
                continue
            fw = statistics.median(meas["floor"]["wall"])
            lines += ["", "¹ floor: self-reported seconds (read + parse every input, write the output once); "
                      "its whole process took %.3f s wall (median), including parsing the shape file "
                      "before its clock. Its peak MiB is the whole process: an output-sized tree plus one input "
                      "tree at a time, which is not a lower bound when the output is mostly one input (W3)."
                      % fw, ""]
        if "W1" in per_chat and "W2" in per_chat:
            lines += ["## Scaling", "",
                      "zantrel, W2 time per input chat / W1 time per input chat: %.2f "
                      "(%.2f µs vs %.2f µs per input chat)"
                      % (per_chat["W2"] / per_chat["W1"], per_chat["W2"] * 1e6, per_chat["W1"] * 1e6), ""]
        report = "\n".join(lines)
        sys.stdout.write(report + "\n")
        if a.report:
            with open(a.report, "w", encoding="utf-8") as f:
                f.write(report + "\n")
        if a.json:
            with open(a.json, "w", encoding="utf-8") as f:
                json.dump({"date": now.isoformat(), "machine": info, "versions": versions,
                           "rss_baseline_mib": base_rss, "command": cmdline, "results": results}, f, indent=1)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
