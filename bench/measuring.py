"""What the benchmark scripts share: running a tool measured (wall time, peak
memory, CPU), checking its output, describing the machine, and naming files as
a report shows them."""
import glob
import os
import platform
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def shown(path):
    """A path as a report shows it: relative to the repository, else its name alone."""
    path = os.path.abspath(path)
    return os.path.relpath(path, ROOT) if path.startswith(ROOT + os.sep) else os.path.basename(path)


def shown_command(argv):
    """The command line that reproduces the run, without where its files went."""
    out, skip = [], False
    for arg in argv:
        if skip:
            skip = False
        elif arg in ("--report", "--json", "--keep"):
            skip = True
        elif not arg.startswith(("--report=", "--json=", "--keep=")):
            out.append(shown(arg) if os.path.exists(arg) else arg)
    return "python3 bench/run_bench.py " + " ".join(out)


def log(msg):
    sys.stderr.write(msg + "\n")
    sys.stderr.flush()


def fail(msg):
    sys.stderr.write("\nBENCHMARK FAILED: " + msg + "\n")
    sys.exit(1)


def run_measured(cmd, cwd, stdout_path, stderr_path):
    """(exit code, wall seconds, peak RSS MiB, CPU seconds) of one child process.

    The child's ru_maxrss can never be below the RSS this runner has when it
    forks (the kernel keeps the high-water mark across exec); see
    rss_baseline(), printed with the results."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            os.chdir(cwd)
            fd_in = os.open(os.devnull, os.O_RDONLY)
            fd_out = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            fd_err = os.open(stderr_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            os.dup2(fd_in, 0)
            os.dup2(fd_out, 1)
            os.dup2(fd_err, 2)
            os.execv(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    return (os.waitstatus_to_exitcode(status), wall, usage.ru_maxrss / 1024.0,
            usage.ru_utime + usage.ru_stime)


def tail(path, n=2000):
    try:
        with open(path, "rb") as f:
            data = f.read()
        return data[-n:].decode("utf-8", "replace")
    except OSError:
        return ""


def find_lxml_python():
    for py in (sys.executable, "/usr/bin/python3"):
        if py and os.path.exists(py) and subprocess.run(
                [py, "-c", "import lxml.etree"], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL).returncode == 0:
            return py
    return None


def find_saxon_jar():
    for pat in ("/usr/share/java/Saxon-HE.jar", "/usr/share/java/Saxon-HE*.jar",
                "/usr/share/java/saxon*he*.jar", "/usr/share/java/saxon9he.jar"):
        hits = sorted(glob.glob(pat))
        if hits:
            return hits[0]
    return None


def first_line(cmd):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
        return (p.stdout.strip().splitlines() or [""])[0]
    except (OSError, subprocess.SubprocessError):
        return "?"


def machine_info():
    cpu = "?"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "?"
    try:
        with open("/proc/meminfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    mem = "%.1f GiB" % (int(line.split()[1]) / 2**20)
                    break
    except OSError:
        pass
    return {"nproc": os.cpu_count(), "cpu": cpu, "memory": mem,
            "kernel": platform.release(), "os": first_line(["sh", "-c", ". /etc/os-release; echo $PRETTY_NAME"])}


def loadavg():
    try:
        with open("/proc/loadavg", encoding="utf-8") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def rss_baseline(work):
    """ru_maxrss of /bin/true started the same way: the least any child can show."""
    true = shutil.which("true") or "/bin/true"
    peaks = [run_measured([true], work, os.devnull, os.devnull)[2] for _ in range(3)]
    return max(peaks)


def check(out, expect, what):
    p = subprocess.run([sys.executable, os.path.join(HERE, "check_output.py"), out, expect],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if p.returncode != 0:
        fail("%s: output check failed:\n%s" % (what, p.stdout.strip()))


def fmt_ratio(x):
    return "%.2f" % x if x is not None else "n/a"
