"""Hostile and broken inputs: a clear error, nothing lost, nothing reached.

Feeds the program with the conformance suite's not-well-formed files, entity
bombs, external resources, a style sheet that reads the network, machine limits,
and saves that cannot be made.
"""
import concurrent.futures
import os
import pathlib
import resource
import signal
import socket
import stat
import subprocess
import tempfile
import time
import unittest

from conformance import not_well_formed_cases
from program import Folder

XMLCONF = os.environ["ZANTREL_XMLCONF"]
SANITIZED = os.environ.get("ZANTREL_SANITIZED") == "1"
LOAD_ERROR = "pDoc->load()[loadXML()]"
VALID = '<?xml version="1.0" encoding="UTF-8"?><packet><thread/><chat no="1">a</chat></packet>'
SHEET_HEAD = '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">'


def listener(testcase):
    """A loopback TCP listener and its URL; connections() counts what reached it."""
    sock = socket.socket()
    testcase.addCleanup(sock.close)
    sock.bind(("127.0.0.1", 0))
    sock.listen(8)
    sock.setblocking(False)
    return sock, f"http://127.0.0.1:{sock.getsockname()[1]}"


def connections(sock):
    count = 0
    while True:
        try:
            sock.accept()[0].close()
            count += 1
        except BlockingIOError:
            return count


def comment_file(chats, text_size=100, first=0):
    return ('<packet><thread/>' + "".join(f'<chat no="{i}">{"x" * text_size}</chat>' for i in range(first, first + chats))
            + "</packet>")


def state(folder):
    """Every entry of `folder`: a regular file's bytes, a link's target, else its kind."""
    entries = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        mode = os.lstat(path).st_mode
        entries[name] = (pathlib.Path(path).read_bytes() if stat.S_ISREG(mode)
                         else os.readlink(path) if stat.S_ISLNK(mode) else stat.S_IFMT(mode))
    return entries


class ConformanceSuite(unittest.TestCase):
    def test_program_refuses_every_not_well_formed_file(self):
        cases = not_well_formed_cases(XMLCONF)
        self.assertGreater(len(cases), 900)
        folder = Folder(self)
        folder.file("a.xml", VALID)

        def run(case):
            test_id, path = case
            r = folder.run("a.xml", path, f"save=out-{test_id}.xml")
            # A file not named .xml is no input: refused before any job. The others say
            # why on standard error, in one line that names the file.
            if not path.endswith(".xml"):
                return None if r.code == 2 else (test_id, r.code, r.out[-1:])
            said = r.err.startswith(f"zantrel: {os.path.basename(path)}:") and r.err.count("\n") == 1
            ok = (r.code, r.out[-1:]) == (1, [LOAD_ERROR]) and said and r.err.endswith("\n")
            return None if ok else (test_id, r.code, r.out[-1:], r.err)

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            failures = [r for r in pool.map(run, cases) if r is not None]
        self.assertEqual(failures, [])
        self.assertEqual(folder.listing(), ["a.xml", "convert.xsl", "zantrel"])  # no output, no temporary


class HostileInputs(unittest.TestCase):
    def test_documents_refused_at_load(self):
        secret = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
        secret.write("TOP-SECRET-CONTENT")
        secret.close()
        self.addCleanup(os.unlink, secret.name)
        sock, url = listener(self)
        laughs = "".join(f'<!ENTITY l{i} "{("&l%d;" % (i - 1)) * 10}">' for i in range(1, 10))
        cases = {
            "billion laughs": f'<!DOCTYPE packet [<!ENTITY l0 "lol">{laughs}]><packet>&l9;</packet>',
            "quadratic blowup": '<!DOCTYPE packet [<!ENTITY a "' + "x" * 50000 + '">]><packet>' + "&a;" * 50000 + "</packet>",
            "external entity, local file": f'<!DOCTYPE packet [<!ENTITY s SYSTEM "file://{secret.name}">]><packet><chat no="2">&s;</chat></packet>',
            "external entity, loopback": f'<!DOCTYPE packet [<!ENTITY s SYSTEM "{url}/e">]><packet>&s;</packet>',
            "external DTD": f'<!DOCTYPE packet SYSTEM "{url}/d"><packet/>',
            "nesting past the limit": "<packet>" + "<a>" * 100000 + "</a>" * 100000 + "</packet>",
            "empty file": "",
            "invalid UTF-8": b'<packet><chat no="2">\xc3\x28</chat></packet>',
            "undeclared prefix": '<packet><x:chat no="2"/></packet>',
        }
        for name, content in cases.items():
            with self.subTest(name):
                folder = Folder(self)
                folder.file("a.xml", VALID)
                folder.file("b.xml", content)
                before = folder.listing()
                r = folder.run("a.xml", "b.xml", "save=out.xml")
                self.assertEqual((r.code, r.out[-2:]), (1, ["読み込み：b.xml", LOAD_ERROR]))
                self.assertNotIn("TOP-SECRET", "\n".join(r.out))
                self.assertLess(r.seconds, 60)
                self.assertEqual(folder.listing(), before)
        self.assertEqual(connections(sock), 0)

    def test_utf16_input_is_read(self):
        folder = Folder(self)
        folder.file("a.xml", VALID)
        utf16 = '<?xml version="1.0" encoding="UTF-16"?><packet><chat no="2">日本</chat></packet>'
        folder.file("b.xml", b"\xff\xfe" + utf16.encode("utf-16-le"))
        r = folder.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual(r.code, 0, "\n".join(r.out))
        self.assertIn('<chat no="2">日本</chat>'.encode(), pathlib.Path(folder.path, "out.xml").read_bytes())

    def test_style_sheet_cannot_reach_the_network(self):
        sock, url = listener(self)
        folder = Folder(self)
        folder.file("a.xml", VALID)
        folder.file("b.xml", VALID)
        folder.file("convert.xsl", SHEET_HEAD + f'<xsl:template match="/"><r><xsl:copy-of select="document(\'{url}/x\')"/>'
                    "</r></xsl:template></xsl:stylesheet>")
        before = folder.listing()
        r = folder.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual((r.code, r.out[-3:-1]), (1, ["XSLT適用中...", "Unspecified error"]), "\n".join(r.out))
        self.assertEqual(folder.listing(), before)
        self.assertEqual(connections(sock), 0)

    @unittest.skipIf(SANITIZED, "the sanitizers' own memory and files are past such limits")
    def test_machine_limits_say_what_ran_out(self):
        # Both ways of holding the comments: the bundled sheet (compact) and one that
        # does more than copy (the whole tree). Inputs need far more than the limit.
        own_sheet = SHEET_HEAD + ('<xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates '
                                  'select="@*|node()"/></xsl:copy></xsl:template>'
                                  '<xsl:template match="@mail"/></xsl:stylesheet>')
        memory = [(resource.RLIMIT_AS, 160 << 20)]
        handles = [(resource.RLIMIT_NOFILE, 4)]  # standard streams and one more
        # What ran out, the limit, the size of the inputs, the log's text and the
        # reason on standard error. Trap: whether an input or the save finds no
        # handle depends on how the two reading threads meet; either says why.
        cases = [("memory", memory, 150000, "Not enough memory resources are available to complete this operation.",
                  None),
                 ("file handles", handles, 10, "Too many open files",
                  r"^zantrel: (out|[012])\.xml: Too many open files\n$")]
        for sheet in ("bundled", "own"):
            for name, limits, chats, expected, reason in cases:
                with self.subTest(name, sheet=sheet):
                    folder = Folder(self)
                    if sheet == "own":
                        folder.file("convert.xsl", own_sheet)
                    for f in range(3):
                        folder.file(f"{f}.xml", comment_file(chats, 200, first=f * 150000))
                    before = folder.listing()
                    r = folder.run("0.xml", "1.xml", "2.xml", "save=out.xml", limits=limits)
                    self.assertEqual(r.code, 1, "\n".join(r.out))
                    self.assertIn(expected, r.out[-2:], "\n".join(r.out))
                    self.assertEqual(folder.listing(), before)
                    if reason:
                        self.assertRegex(r.err, reason)


class Saving(unittest.TestCase):
    """Saves the file system makes hard: kills, odd targets, size limits, full disks."""

    def test_saves_that_cannot_be_made_leave_every_entry_as_it_was(self):
        small, large = comment_file(2000), comment_file(30000)  # one write at the end; several 1 MiB writes
        self.assertGreater(len(large), 3 << 20)
        fsize = resource.RLIMIT_FSIZE

        def old(path):
            pathlib.Path(path).write_bytes(b"OLD FILE " * 100)

        def read_only(path):
            old(path)
            os.chmod(path, 0o444)

        def small_disk(path):
            os.mkdir(os.path.dirname(path))
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1536k", "tmpfs", os.path.dirname(path)],
                              capture_output=True).returncode != 0:
                self.skipTest("cannot mount a small tmpfs here")
            self.addCleanup(subprocess.run, ["umount", os.path.dirname(path)])

        def device(path):
            os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))

        def socket_file(path):
            sock = socket.socket(socket.AF_UNIX)
            self.addCleanup(sock.close)
            sock.bind(path)

        refused = "Operation not permitted"
        cases = [  # name, first input, target, how the target is made, limits, the reason logged
            ("file size limit at the last write", small, "out.xml", old, [(fsize, 65536)], "File too large"),
            ("file size limit past the first write", large, "out.xml", None, [(fsize, 3 << 19)], "File too large"),
            ("an input as target", small, "a.xml", None, [(fsize, 65536)], "File too large"),
            ("read-only target", small, "out.xml", read_only, [], "Permission denied"),
            ("full disk", large, "disk/out.xml", small_disk, [], "No space left on device"),
            ("device", small, "out.xml", device, [], refused),
            ("FIFO", small, "out.xml", os.mkfifo, [], refused),
            ("socket", small, "out.xml", socket_file, [], refused),
            ("link to a FIFO", small, "out.xml", lambda p: (os.mkfifo(p + ".fifo"), os.symlink("out.xml.fifo", p)),
             [], refused),
            ("dangling link", small, "out.xml", lambda p: os.symlink("nowhere.xml", p), [], "No such file or directory"),
            ("link loop", small, "out.xml", lambda p: os.symlink("out.xml", p), [], "Too many levels of symbolic links"),
        ]
        for name, content, target, make, limits, reason in cases:
            with self.subTest(name):
                folder = Folder(self)
                folder.file("a.xml", content)
                folder.file("b.xml", VALID)
                path = os.path.join(folder.path, target)
                try:
                    if make:
                        make(path)
                except PermissionError:
                    self.skipTest(f"cannot make a {name} here")
                before = state(os.path.dirname(path))
                r = folder.run("a.xml", "b.xml", "save=" + target, limits=limits)
                self.assertEqual((r.code, r.out[-3:-1]), (1, ["保存：" + os.path.basename(target), reason]),
                                 "\n".join(r.out))
                self.assertEqual(state(os.path.dirname(path)), before)  # and no temporary file

    def test_link_to_a_regular_file_replaces_that_file(self):
        folder = Folder(self)
        folder.file("a.xml", VALID)
        folder.file("b.xml", VALID.replace('no="1"', 'no="2"'))
        folder.file("real/kept.xml", b"OLD")
        os.symlink("real/kept.xml", os.path.join(folder.path, "out.xml"))
        r = folder.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual(r.code, 0, "\n".join(r.out))
        self.assertEqual(os.readlink(os.path.join(folder.path, "out.xml")), "real/kept.xml")
        self.assertIn(b'<chat no="2">', pathlib.Path(folder.path, "real", "kept.xml").read_bytes())
        self.assertEqual(os.listdir(os.path.join(folder.path, "real")), ["kept.xml"])

    def test_killed_mid_save_leaves_no_temporary_file(self):
        content = comment_file(80000)

        def attempt(existing):
            folder = Folder(self)
            folder.file("a.xml", content)
            folder.file("b.xml", VALID)
            if existing:
                folder.file("out.xml", b"OLD")
            before = state(folder.path)
            proc = subprocess.Popen([folder.program, "a.xml", "b.xml", "save=out.xml"], cwd=folder.path,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seen = False
            deadline = time.monotonic() + 120
            while not seen and proc.poll() is None and time.monotonic() < deadline:
                # Looked at while held still, so the save seen is the one killed.
                proc.send_signal(signal.SIGSTOP)
                _, status = os.waitpid(proc.pid, os.WUNTRACED)
                if not os.WIFSTOPPED(status):
                    proc.returncode = os.waitstatus_to_exitcode(status)
                    break
                seen = being_written(proc.pid, folder.path, before, len(content) // 2)
                proc.send_signal(signal.SIGKILL if seen else signal.SIGCONT)
            return seen, proc.wait(timeout=120), folder, before

        for existing in (False, True):
            with self.subTest(existing=existing):
                for _ in range(20):  # a save that ends before it is seen is tried again
                    seen, code, folder, before = attempt(existing)
                    if seen:
                        break
                self.assertTrue(seen, "the save was never caught in progress")
                self.assertEqual(code, -signal.SIGKILL)
                self.assertEqual(state(folder.path), before)


def being_written(pid, folder, known, smaller_than):
    """Whether the process holds open a file in `folder`, other than the `known`
    ones, not yet `smaller_than` bytes long: its save, well before it is named."""
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return False
    for fd in fds:
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            size = os.stat(f"/proc/{pid}/fd/{fd}").st_size
        except OSError:
            continue
        if os.path.dirname(target) == folder and os.path.basename(target) not in known and size < smaller_than:
            return True
    return False


if __name__ == "__main__":
    unittest.main()
