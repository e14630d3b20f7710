"""The built program as a script runs it, each test in a folder of its own holding
a copy of the program and of the bundled convert.xsl (ZANTREL_BIN, ZANTREL_DATA)."""
import collections
import os
import resource
import shutil
import subprocess
import tempfile
import time

BIN = os.environ["ZANTREL_BIN"]
DATA = os.environ["ZANTREL_DATA"]
Run = collections.namedtuple("Run", "code out err seconds")


def comment_xml(numbers, text="x"):
    chats = "".join(f'  <chat no="{n}">{text}</chat>\n' for n in numbers)
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<packet>\n  <thread thread="1" last_res="0"/>\n{chats}</packet>\n'


class Folder:
    def __init__(self, testcase, sheet=True):
        self.path = tempfile.mkdtemp(prefix="zantrel-test-")
        testcase.addCleanup(shutil.rmtree, self.path, ignore_errors=True)
        self.program = os.path.join(self.path, "zantrel")
        shutil.copy2(BIN, self.program)
        if sheet:
            shutil.copy(os.path.join(DATA, "convert.xsl"), self.path)

    def file(self, name, content):
        """Writes a file (text as UTF-8) and the folders it needs; its path."""
        full = os.path.join(self.path, name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content.encode("utf-8") if isinstance(content, str) else content)
        return full

    def run(self, *args, cwd=None, limits=(), stdout=subprocess.PIPE):
        """Runs the program with standard input closed and `limits` (resource, value) set;
        standard error keeps bytes that are not UTF-8 as os.fsdecode does."""
        def set_limits():
            for kind, value in limits:
                resource.setrlimit(kind, (value, value))
        start = time.monotonic()
        proc = subprocess.run([self.program, *args], cwd=cwd or self.path, stdin=subprocess.DEVNULL, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=120, preexec_fn=set_limits)
        return Run(proc.returncode, (proc.stdout or b"").decode("utf-8").split("\n")[:-1],
                   proc.stderr.decode("utf-8", "surrogateescape"), time.monotonic() - start)

    def listing(self):
        return sorted(os.listdir(self.path))
