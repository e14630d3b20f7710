"""End-to-end tests of the command-line program, run as a script would run it:
what the program itself adds to the job (its log on standard output, exit codes,
the files it looks for beside itself, file names as bytes, the question on a
terminal). The job's steps, intake and naming are the unit tests' concern.
"""
import os
import unittest
import xml.etree.ElementTree as ET

from golden import assert_log, golden_log
from program import Folder, comment_xml


def chats_and_last_res(path):
    root = ET.parse(path).getroot()
    return [c.get("no") for c in root.iter("chat")], root.find("thread").get("last_res")


class CommandLineTest(unittest.TestCase):
    def test_job_log_on_standard_output_with_the_pattern_beside_the_program(self):
        # The settings in the Japanese ANSI code page; the name from the first file given.
        d = Folder(self)
        d.file("Zantrel.ini", "[main]\r\nsave=結合_$file/out.xml\r\n".encode("cp932"))
        d.file("a.xml", comment_xml([1, 2, 3]))
        d.file("b.xml", comment_xml([3, 4]))
        os.mkdir(os.path.join(d.path, "結合_b"))
        r = d.run("b.xml", "-autoexit", "a.xml")
        self.assertEqual((r.code, r.err), (0, ""))  # nothing on standard error when the job succeeds
        assert_log(self, r.out, [f"{d.program} b.xml -autoexit a.xml", "対象 : a.xml", "対象 : b.xml",
                                 f"保存先 : {d.path}/結合_b/out.xml", *golden_log("two_inputs.log")])
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "結合_b", "out.xml")), (["1", "2", "3", "4"], "4"))
        # Its reader gone (`| head -1`): the log is lost, the job is not.
        reader, writer = os.pipe()
        os.close(reader)
        r = d.run("a.xml", "b.xml", "save=o.xml", stdout=writer)
        os.close(writer)
        self.assertEqual((r.code, r.err), (0, ""))
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "o.xml")), (["1", "2", "3", "4"], "4"))

    def test_outcomes_exit_with_their_codes_and_write_nothing_else(self):
        cases = [  # name, style sheet beside the program, arguments, exit code, log after the command line
            ("one usable file", True, ["a.xml", "save=o.xml"], 2,
             ["対象 : a.xml", "保存先 : {p}/o.xml", "ファイルが1つしか指定されませんでした"]),
            ("no pattern and no terminal", True, ["a.xml", "b.xml"], 2,
             ["対象 : a.xml", "対象 : b.xml", "保存先 : ", "保存先パスが設定されていません"]),
            ("missing style sheet", False, ["a.xml", "b.xml", "save=out.xml"], 1,
             ["対象 : a.xml", "対象 : b.xml", "保存先 : {p}/out.xml", "ファイルが見つかりませんでした : convert.xsl"]),
            ("malformed input", True, ["a.xml", "bad.xml", "save=out.xml"], 1,
             ["対象 : a.xml", "対象 : bad.xml", "保存先 : {p}/out.xml", *golden_log("second_input_malformed.log")]),
        ]
        for name, sheet, args, code, lines in cases:
            with self.subTest(name):
                d = Folder(self, sheet=sheet)
                d.file("a.xml", comment_xml([1]))
                d.file("b.xml", comment_xml([2]))
                d.file("bad.xml", "<packet><chat no='1'></packet>")
                before = d.listing()
                r = d.run(*args)
                self.assertEqual(r.code, code)
                assert_log(self, r.out[1:], [line.format(p=d.path) for line in lines])
                self.assertEqual(d.listing(), before)

    def test_a_refused_file_says_why_on_standard_error(self):
        # The log reads as it always did; the reason is one line beside it.
        head = '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">\n'
        cases = [  # name, file written (None: a folder), last log line, standard error after "zantrel: "
            ("malformed input", "bad.xml", "<packet><chat no='1'></packet>", "pDoc->load()[loadXML()]",
             "bad.xml:1:31: Opening and ending tag mismatch: chat line 1 and packet"),
            ("truncated input", "bad.xml", '<packet><chat no="1">abc', "pDoc->load()[loadXML()]",
             "bad.xml:1:25: Premature end of data in tag chat line 1"),
            ("document type declaration", "bad.xml", '<!DOCTYPE packet SYSTEM "/etc/passwd"><packet/>',
             "pDoc->load()[loadXML()]", "bad.xml:1:38: documents with a document type declaration are not accepted"),
            ("attribute flood", "bad.xml", "<packet><chat" + ' a="1"' * 5000 + "/></packet>", "pDoc->load()[loadXML()]",
             "bad.xml: an element has too many attributes"),
            ("folder named like an input", "bad.xml", None, "pDoc->load()[loadXML()]", "bad.xml: not a regular file"),
            ("style sheet that does not load", "convert.xsl", head + "<xsl:template match='/'><r></xsl:template>",
             "pXslt->loadXML()", "convert.xsl:2:43: Opening and ending tag mismatch: r line 2 and xsl:template"),
            ("style sheet that does not compile", "convert.xsl",
             head + "<xsl:template match='/'>\n<xsl:value-of select='count(('/></xsl:template></xsl:stylesheet>",
             None, "convert.xsl:3: xsl:value-of : could not compile select expression 'count(('"),
        ]
        # The name's bytes as they are, UTF-8 or not.
        cases += [(f"malformed input named {n!r}", os.fsdecode(n), *cases[0][2:4], os.fsdecode(n) + cases[0][4][7:])
                  for n in ("壊れた.xml".encode(), b"\x83\x65.xml")]
        for name, fname, content, last, reason in cases:
            with self.subTest(name):
                d = Folder(self)
                d.file("a.xml", comment_xml([1]))
                d.file("b.xml", comment_xml([2]))
                d.file(fname, content) if content is not None else os.mkdir(os.path.join(d.path, fname))
                r = d.run("a.xml", "b.xml" if fname == "convert.xsl" else fname, "save=out.xml")
                self.assertEqual((r.code, r.err), (1, f"zantrel: {reason}\n"))
                if last:
                    self.assertEqual(r.out[-1], last)
                self.assertNotIn("out.xml", os.listdir(d.path))

    def test_file_names_that_are_not_utf8(self):
        # Names from other systems are bytes: they are read under their real names and
        # the output name keeps them; the log shows what cannot be decoded as U+FFFD.
        d = Folder(self)
        latin1, cp932 = b"caf\xe9[1].xml", b"\x89\xd4\x89\xce[2].xml"
        for name, numbers in ((latin1, [1, 2]), (cp932, [2, 3])):
            d.file(os.fsdecode(name), comment_xml(numbers))
        r = d.run(latin1, cp932, "save=$title_$file.xml")
        self.assertEqual(r.code, 0, "\n".join(r.out))
        # (0xD4 0x89 happens to be valid UTF-8: U+0509.)
        self.assertEqual(r.out[1:3], ["対象 : caf\ufffd[1].xml", "対象 : \ufffd\u0509\ufffd[2].xml"])
        saved = os.path.join(os.fsencode(d.path), b"caf\xe9_caf\xe9[1].xml")
        self.assertEqual(chats_and_last_res(saved), (["1", "2", "3"], "3"))

    def test_no_arguments_and_help(self):
        d = Folder(self)
        r = d.run()
        self.assertEqual((r.code, r.out), (2, ["結合するコメントファイルをまとめてドラッグ&ドロップして下さい"]))
        help_run = d.run("--help")
        self.assertEqual(help_run.code, 0)
        self.assertEqual(r.err, "".join(line + "\n" for line in help_run.out))  # the usage, as --help gives it
        self.assertEqual(help_run.out[0],
                         "使い方: zantrel [-autoexit] [-hide] [save=保存先パターン] ファイル.xml ファイル.xml ...")
        # The files looked for, the one found marked.
        self.assertIn(f"    {d.path}/convert.xsl  (使用中)", help_run.out)
        self.assertIn(f"    {d.path}/Zantrel.ini", help_run.out)
        self.assertEqual(d.run("--version")[:2], (0, ["zantrel 0.10"]))
        self.assertEqual(d.listing(), ["convert.xsl", "zantrel"])

    def test_save_question_on_a_terminal(self):
        import pty
        import select
        d = Folder(self)
        d.file("a.xml", comment_xml([1]))
        d.file("b.xml", comment_xml([2]))
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(d.path)
            # The log piped elsewhere: the person at the terminal is still asked.
            os.dup2(os.open("log.txt", os.O_WRONLY | os.O_CREAT, 0o644), 1)
            os.execv(d.program, [d.program, "b.xml", "a.xml"])
        seen = b""

        def read_until(marker):
            nonlocal seen
            while marker not in seen:
                ready, _, _ = select.select([fd], [], [], 60)
                self.assertTrue(ready, seen.decode("utf-8", "replace"))
                try:
                    seen += os.read(fd, 4096)
                except OSError:
                    break

        read_until("保存先 > ".encode())
        self.assertIn("候補 : a.xml".encode(), seen)
        os.write(fd, "answer.txt\n".encode())
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        with open(os.path.join(d.path, "log.txt"), encoding="utf-8") as log:
            self.assertIn("終了時間", log.read())
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "answer.xml")), (["1", "2"], "2"))


if __name__ == "__main__":
    unittest.main()
