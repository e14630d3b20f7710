"""Hostile and broken inputs: a clear error, nothing lost, nothing reached.

Feeds the program and the load operation directly with the conformance suite's
not-well-formed files, entity bombs, external resources, hostile style sheets and
saves that fail part-way.
"""
import concurrent.futures
import os
import resource
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest

from conformance import not_well_formed_cases

BIN = os.environ["ZANTREL_BIN"]
LOAD_CHECK = os.environ["ZANTREL_LOAD_CHECK"]
DATA = os.environ["ZANTREL_DATA"]
XMLCONF = os.environ["ZANTREL_XMLCONF"]
SANITIZED = os.environ.get("ZANTREL_SANITIZED") == "1"
LOAD_ERROR = "pDoc->load()[loadXML()]"
VALID = '<?xml version="1.0" encoding="UTF-8"?><packet><thread/><chat no="1">a</chat></packet>'
SHEET_HEAD = ('<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform" '
              'xmlns:exsl="http://exslt.org/common" extension-element-prefixes="exsl">')


class Listener:
    """A loopback TCP listener that counts the connections it gets."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.connections = 0
        self.stop = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stop:
            try:
                conn, _ = self.sock.accept()
                self.connections += 1
                conn.close()
            except OSError:
                pass

    def close(self):
        self.stop = True
        self.thread.join()
        self.sock.close()


class Folder:
    def __init__(self, testcase):
        self.path = tempfile.mkdtemp(prefix="zantrel-hostile-")
        testcase.addCleanup(shutil.rmtree, self.path, ignore_errors=True)
        shutil.copy2(BIN, os.path.join(self.path, "zantrel"))
        shutil.copy(os.path.join(DATA, "convert.xsl"), self.path)

    def file(self, name, content):
        with open(os.path.join(self.path, name), "wb") as f:
            f.write(content.encode("utf-8") if isinstance(content, str) else content)

    def run(self, *args, limit_file_size=None, limits=()):
        limits = list(limits) + ([(resource.RLIMIT_FSIZE, limit_file_size)] if limit_file_size else [])

        def set_limits():
            for kind, value in limits:
                resource.setrlimit(kind, (value, value))
        start = time.monotonic()
        proc = subprocess.Popen([os.path.join(self.path, "zantrel"), *args], cwd=self.path,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=set_limits)
        out, _ = proc.communicate(timeout=120)
        return proc.returncode, out.decode("utf-8", "replace").split("\n")[:-1], time.monotonic() - start

    def listing(self):
        return sorted(os.listdir(self.path))


class ConformanceSuite(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cases = not_well_formed_cases(XMLCONF)

    def test_suite_is_there(self):
        self.assertGreater(len(self.cases), 900)

    def test_load_refuses_every_not_well_formed_file(self):
        paths = "".join(path + "\n" for _, path in self.cases)
        out = subprocess.run([LOAD_CHECK], input=paths.encode(), stdout=subprocess.PIPE, timeout=600,
                             check=True).stdout.decode().split("\n")[:-1]
        self.assertEqual(len(out), len(self.cases))
        accepted = [case for case, result in zip(self.cases, out) if result != LOAD_ERROR]
        self.assertEqual(accepted, [])

    def test_program_refuses_every_not_well_formed_file(self):
        folder = Folder(self)
        folder.file("a.xml", VALID)
        program = os.path.join(folder.path, "zantrel")

        def run(case):
            test_id, path = case
            out_name = f"out-{test_id}.xml"
            proc = subprocess.run([program, "a.xml", path, "save=" + out_name], cwd=folder.path,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
            lines = proc.stdout.decode("utf-8", "replace").split("\n")[:-1]
            if not path.endswith(".xml"):
                # Not an input by name: refused before any job.
                return None if proc.returncode == 2 else (test_id, proc.returncode, lines[-1:])
            # Why, on standard error: one line that names the file.
            reason = f"zantrel: {os.path.basename(path)}:".encode()
            ok = (proc.returncode == 1 and lines[-1:] == [LOAD_ERROR] and proc.stderr.startswith(reason)
                  and proc.stderr.count(b"\n") == 1 and proc.stderr.endswith(b"\n"))
            return None if ok else (test_id, proc.returncode, lines[-1:], proc.stderr)

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            failures = [r for r in pool.map(run, self.cases) if r is not None]
        self.assertEqual(failures, [])
        self.assertEqual(folder.listing(), ["a.xml", "convert.xsl", "zantrel"])  # no output, no temporary


class HostileInputs(unittest.TestCase):
    def run_with(self, name, content, expected_last, expected_code=1, **run_args):
        folder = Folder(self)
        folder.file("a.xml", VALID)
        folder.file(name, content)
        before = folder.listing()
        code, out, seconds = folder.run("a.xml", name, "save=out.xml", **run_args)
        self.assertEqual(code, expected_code, "\n".join(out))
        if expected_last:
            self.assertEqual(out[-len(expected_last):], expected_last)
        self.assertLess(seconds, 60)
        if expected_code != 0:
            self.assertEqual(folder.listing(), before)
        return folder, out

    def test_documents_refused_at_load(self):
        secret = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
        secret.write("TOP-SECRET-CONTENT")
        secret.close()
        self.addCleanup(os.unlink, secret.name)
        listener = Listener()
        self.addCleanup(listener.close)
        url = f"http://127.0.0.1:{listener.port}/entity"
        laughs = "".join(f'<!ENTITY l{i} "{("&l%d;" % (i - 1)) * 10}">' for i in range(1, 10))
        cases = {
            "billion laughs": f'<!DOCTYPE packet [<!ENTITY l0 "lol">{laughs}]><packet>&l9;</packet>',
            "quadratic blowup": '<!DOCTYPE packet [<!ENTITY a "' + "x" * 50000 + '">]><packet>' + "&a;" * 50000 + "</packet>",
            "external entity, local file": f'<!DOCTYPE packet [<!ENTITY s SYSTEM "file://{secret.name}">]><packet><chat no="2">&s;</chat></packet>',
            "external entity, loopback": f'<!DOCTYPE packet [<!ENTITY s SYSTEM "{url}">]><packet>&s;</packet>',
            "external DTD": f'<!DOCTYPE packet SYSTEM "{url}"><packet/>',
            "nesting past the limit": "<packet>" + "<a>" * 100000 + "</a>" * 100000 + "</packet>",
            "empty file": "",
            "invalid UTF-8": b'<packet><chat no="2">\xc3\x28</chat></packet>',
            "undeclared prefix": '<packet><x:chat no="2"/></packet>',
        }
        for name, content in cases.items():
            with self.subTest(name):
                _, out = self.run_with("b.xml", content, ["読み込み：b.xml", LOAD_ERROR])
                self.assertNotIn("TOP-SECRET", "\n".join(out))
        self.assertEqual(listener.connections, 0)

    def test_inputs_answered_by_their_lines(self):
        utf16 = '<?xml version="1.0" encoding="UTF-16"?><packet><chat no="2">日本</chat></packet>'
        folder, out = self.run_with("b.xml", b"\xff\xfe" + utf16.encode("utf-16-le"), [], expected_code=0)
        self.assertIn("処理が完了しました", out)
        self.assertIn("日本".encode(), open(os.path.join(folder.path, "out.xml"), "rb").read())
        self.run_with("b.xml", '<packet><chat no="99999999999999999999"/></packet>',
                      ["重複コメントの削除中...bad lexical cast: source type value could not be interpreted as target"])
        folder = Folder(self)
        folder.file("a.xml", VALID)
        os.mkdir(os.path.join(folder.path, "x.xml"))
        code, out, _ = folder.run("a.xml", "x.xml", "save=out.xml")
        self.assertEqual((code, out[-2:]), (1, ["読み込み：x.xml", LOAD_ERROR]))

    def test_style_sheets_cannot_write_reach_out_or_run_away(self):
        listener = Listener()
        self.addCleanup(listener.close)
        cases = {
            "xsl:document": '<xsl:template match="/"><xsl:document href="written.xml"><x/></xsl:document><r/></xsl:template>',
            "exsl:document": '<xsl:template match="/"><exsl:document href="written.xml"><x/></exsl:document><r/></xsl:template>',
            "network read": f'<xsl:template match="/"><r><xsl:copy-of select="document(\'http://127.0.0.1:{listener.port}/x\')"/></r></xsl:template>',
            "endless recursion": '<xsl:template match="/"><xsl:call-template name="f"/></xsl:template>'
                                 '<xsl:template name="f"><x><xsl:call-template name="f"/></x></xsl:template>',
        }
        for name, body in cases.items():
            with self.subTest(name):
                folder = Folder(self)
                folder.file("a.xml", VALID)
                folder.file("b.xml", VALID)
                folder.file("convert.xsl", SHEET_HEAD + body + "</xsl:stylesheet>")
                before = folder.listing()
                code, out, seconds = folder.run("a.xml", "b.xml", "save=out.xml")
                self.assertEqual(code, 1, "\n".join(out))
                self.assertEqual(out[-3:-1], ["XSLT適用中...", "Unspecified error"])
                self.assertEqual(folder.listing(), before)
                self.assertLess(seconds, 60)
        self.assertEqual(listener.connections, 0)

    def test_failed_saves_keep_the_old_file(self):
        big = '<packet><thread/>' + "".join(f'<chat no="{i}">{"x" * 100}</chat>' for i in range(2000)) + "</packet>"
        cases = [("existing target, file size limit", "out.xml", {"limit_file_size": 65536}),
                 ("an input as target, file size limit", "a.xml", {"limit_file_size": 65536}),
                 ("read-only target", "out.xml", {})]
        for name, target, run_args in cases:
            with self.subTest(name):
                folder = Folder(self)
                folder.file("a.xml", big)
                folder.file("b.xml", VALID)
                old = b"OLD FILE " * 100
                if target == "out.xml":
                    folder.file("out.xml", old)
                if not run_args:
                    os.chmod(os.path.join(folder.path, "out.xml"), 0o444)
                before = {n: open(os.path.join(folder.path, n), "rb").read()
                          for n in folder.listing() if n.endswith(".xml")}
                code, out, _ = folder.run("a.xml", "b.xml", "save=" + target, **run_args)
                self.assertEqual(code, 1, "\n".join(out))
                self.assertEqual(out[-3], "保存：" + target)
                after = {n: open(os.path.join(folder.path, n), "rb").read()
                         for n in folder.listing() if n.endswith(".xml")}
                self.assertEqual(after, before)  # byte for byte, and no temporary file


    @unittest.skipIf(SANITIZED, "the sanitizers' own memory and files are past such limits")
    def test_machine_limits_say_what_ran_out(self):
        # Both ways of holding the comments: the bundled sheet (compact) and one that
        # does more than copy (the whole tree). Inputs need far more than the limit.
        own_sheet = SHEET_HEAD + ('<xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates '
                                  'select="@*|node()"/></xsl:copy></xsl:template>'
                                  '<xsl:template match="@mail"/></xsl:stylesheet>')
        memory = [(resource.RLIMIT_AS, 160 << 20)]
        handles = [(resource.RLIMIT_NOFILE, 4)]  # standard streams and one more
        cases = [("memory", memory, ["Not enough memory resources are available to complete this operation."]),
                 ("file handles", handles, ["Too many open files"])]
        for sheet in ("bundled", "own"):
            for name, limits, expected in cases:
                with self.subTest(name, sheet=sheet):
                    folder = Folder(self)
                    if sheet == "own":
                        folder.file("convert.xsl", own_sheet)
                    for f in range(3):
                        folder.file(f"{f}.xml", comment_file(150000 if name == "memory" else 10, 200, first=f * 150000))
                    before = folder.listing()
                    code, out, _ = folder.run("0.xml", "1.xml", "2.xml", "save=out.xml", limits=limits)
                    self.assertEqual(code, 1, "\n".join(out))
                    self.assertTrue(set(expected) & set(out[-2:]), "\n".join(out))
                    self.assertEqual(folder.listing(), before)


def comment_file(chats, text_size=100, first=0):
    return ('<packet><thread/>' + "".join(f'<chat no="{i}">{"x" * text_size}</chat>' for i in range(first, first + chats))
            + "</packet>")


def partly_written_files(pid, folder, known, smaller_than):
    """Names of the files in `folder`, other than the `known` ones, that the process
    holds open and that are not yet `smaller_than` bytes long."""
    names = []
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return names
    for fd in fds:
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            size = os.stat(f"/proc/{pid}/fd/{fd}").st_size
        except OSError:
            continue
        if os.path.dirname(target) == folder and os.path.basename(target) not in known and size < smaller_than:
            names.append(os.path.basename(target))
    return names


class Saving(unittest.TestCase):
    """Saves the file system makes hard: long names, kills, odd targets, full disks."""

    def test_long_target_names_save(self):
        names = [("248 bytes", "n" * 244 + ".xml"), ("255 bytes", "n" * 251 + ".xml"),
                 ("82 kanji", "花" * 82 + ".xml")]
        for label, name in names:
            for existing in (False, True):
                with self.subTest(label, existing=existing):
                    folder = Folder(self)
                    folder.file("a.xml", VALID)
                    folder.file("b.xml", VALID.replace('no="1"', 'no="2"'))
                    if existing:
                        folder.file(name, b"OLD")
                    expected = sorted(set(folder.listing()) | {name})
                    code, out, _ = folder.run("a.xml", "b.xml", "save=" + name)
                    self.assertEqual(code, 0, "\n".join(out))
                    self.assertEqual(folder.listing(), expected)  # and no temporary file
                    with open(os.path.join(folder.path, name), "rb") as f:
                        self.assertIn(b'<chat no="2">', f.read())

    def test_killed_mid_save_leaves_no_temporary_file(self):
        import signal
        content = comment_file(80000)

        def attempt(sig, existing):
            folder = Folder(self)
            folder.file("a.xml", content)
            folder.file("b.xml", VALID)
            if existing:
                folder.file("out.xml", b"OLD")
            before = folder.listing()
            proc = subprocess.Popen([os.path.join(folder.path, "zantrel"), "a.xml", "b.xml", "save=out.xml"],
                                    cwd=folder.path, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seen = []
            deadline = time.monotonic() + 120
            while not seen and proc.poll() is None and time.monotonic() < deadline:
                # Still being written, so well before it is given its name.
                seen = partly_written_files(proc.pid, folder.path, before, len(content) // 2)
            if seen:
                proc.send_signal(sig)
            return seen, proc.wait(timeout=120), folder, before

        for sig in (signal.SIGKILL, signal.SIGTERM):
            for existing in (False, True):
                with self.subTest(signal=sig.name, existing=existing):
                    for _ in range(20):  # a save that ends before it is seen is tried again
                        seen, code, folder, before = attempt(sig, existing)
                        if seen:
                            break
                    self.assertTrue(seen, "the save was never caught in progress")
                    self.assertEqual(code, -sig)
                    self.assertEqual(folder.listing(), before)
                    if existing:
                        with open(os.path.join(folder.path, "out.xml"), "rb") as f:
                            self.assertEqual(f.read(), b"OLD")

    def test_targets_that_are_no_regular_file_are_refused(self):
        def device(path):
            os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))

        def socket_file(path):
            sock = socket.socket(socket.AF_UNIX)
            self.addCleanup(sock.close)
            sock.bind(path)

        cases = [
            ("device", device, "Operation not permitted"),
            ("FIFO", os.mkfifo, "Operation not permitted"),
            ("socket", socket_file, "Operation not permitted"),
            ("link to a FIFO", lambda p: (os.mkfifo(p + ".fifo"), os.symlink(os.path.basename(p) + ".fifo", p)),
             "Operation not permitted"),
            ("dangling link", lambda p: os.symlink("nowhere.xml", p), "No such file or directory"),
            ("link loop", lambda p: os.symlink(os.path.basename(p), p), "Too many levels of symbolic links"),
        ]
        for label, make, reason in cases:
            with self.subTest(label):
                folder = Folder(self)
                folder.file("a.xml", VALID)
                folder.file("b.xml", VALID)
                target = os.path.join(folder.path, "out.xml")
                try:
                    make(target)
                except PermissionError:
                    self.skipTest(f"cannot make a {label} here")
                kind = os.lstat(target).st_mode
                link = os.readlink(target) if stat.S_ISLNK(kind) else None
                before = folder.listing()
                code, out, _ = folder.run("a.xml", "b.xml", "save=out.xml")
                self.assertEqual(code, 1, "\n".join(out))
                self.assertEqual(out[-3:-1], ["保存：out.xml", reason])
                self.assertEqual(folder.listing(), before)
                self.assertEqual(os.lstat(target).st_mode, kind)
                if link is not None:
                    self.assertEqual(os.readlink(target), link)

    def test_link_to_a_regular_file_replaces_that_file(self):
        folder = Folder(self)
        folder.file("a.xml", VALID)
        folder.file("b.xml", VALID.replace('no="1"', 'no="2"'))
        os.mkdir(os.path.join(folder.path, "real"))
        folder.file("real/kept.xml", b"OLD")
        os.symlink("real/kept.xml", os.path.join(folder.path, "out.xml"))
        code, out, _ = folder.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual(code, 0, "\n".join(out))
        self.assertEqual(os.readlink(os.path.join(folder.path, "out.xml")), "real/kept.xml")
        with open(os.path.join(folder.path, "real", "kept.xml"), "rb") as f:
            self.assertIn(b'<chat no="2">', f.read())
        self.assertEqual(os.listdir(os.path.join(folder.path, "real")), ["kept.xml"])

    def test_write_errors_past_the_first_buffer_keep_their_cause(self):
        content = comment_file(30000)  # about 3.5 MB: several of the 1 MiB writes
        self.assertGreater(len(content), 3 << 20)

        def file_size_limit(folder):
            return {"limit_file_size": 3 << 19}, "out.xml"

        def full_disk(folder):
            disk = os.path.join(folder.path, "disk")
            os.mkdir(disk)
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1536k", "tmpfs", disk],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
                self.skipTest("cannot mount a small tmpfs here")
            self.addCleanup(subprocess.run, ["umount", disk])
            return {}, "disk/out.xml"

        cases = [("file size limit", file_size_limit, "File too large"),
                 ("full disk", full_disk, "No space left on device")]
        for label, prepare, reason in cases:
            with self.subTest(label):
                folder = Folder(self)
                folder.file("a.xml", content)
                folder.file("b.xml", VALID)
                run_args, target = prepare(folder)
                code, out, _ = folder.run("a.xml", "b.xml", "save=" + target, **run_args)
                self.assertEqual(code, 1, "\n".join(out))
                self.assertEqual(out[-3:-1], ["保存：" + os.path.basename(target), reason])
                self.assertFalse(os.path.exists(os.path.join(folder.path, target)))
                self.assertEqual(sorted(os.listdir(os.path.dirname(os.path.join(folder.path, target)))),
                                 [] if "/" in target else ["a.xml", "b.xml", "convert.xsl", "zantrel"])


if __name__ == "__main__":
    unittest.main()
