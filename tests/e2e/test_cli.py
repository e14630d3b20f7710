"""End-to-end tests of the command-line program, run as a script would run it.

Each test gets a folder of its own holding a copy of the program, its own
convert.xsl and, where needed, Zantrel.ini; standard output is compared line by
line with the expected log (time lines by their form), with the exit status and
with the saved file's chats and last_res.
"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from golden import ANY_TIME, assert_log, golden_log

BIN = os.environ["ZANTREL_BIN"]
DATA = os.environ["ZANTREL_DATA"]

IDENTITY_WITHOUT_THREAD = """<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output encoding="UTF-8"/>
<xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy></xsl:template>
<xsl:template match="thread"/>
</xsl:stylesheet>"""


def comment_xml(numbers):
    chats = "".join(f'  <chat no="{n}">コメント{n} &amp; &lt;x&gt;</chat>\n' for n in numbers)
    head = '  <thread thread="1" last_res="0"/>\n'
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<packet>\n{head}{chats}</packet>\n'


def merge_lines(merge_ticks, removal_ticks):
    return ["コメント結合中..." + "|" * merge_ticks + " 完了",
            "重複コメントの削除中..." + "|" * removal_ticks + " 完了"]


JOB_HEAD = ["", "------------------------------", "変換開始"]


def job_tail(out_name, sheet="convert.xsl"):
    return [f"XSLT読み込み：{sheet}", "XSLT適用中...", "last_res値の設定", f"保存：{out_name}",
            "処理が完了しました", "開始時間：" + ANY_TIME, "終了時間：" + ANY_TIME]


class Folder:
    """A folder with its own copy of the program and style sheet."""

    def __init__(self, testcase, sheet=True):
        self.path = tempfile.mkdtemp(prefix="zantrel-e2e-")
        testcase.addCleanup(shutil.rmtree, self.path, ignore_errors=True)
        self.program = os.path.join(self.path, "zantrel")
        shutil.copy2(BIN, self.program)
        if sheet:
            shutil.copy(os.path.join(DATA, "convert.xsl"), self.path)

    def file(self, name, text):
        full = os.path.join(self.path, name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)
        return full

    def run(self, *args, cwd=None):
        proc = subprocess.run([self.program, *args], cwd=cwd or self.path, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8").split("\n")[:-1], proc.stderr.decode("utf-8")

    def listing(self):
        return sorted(os.listdir(self.path))


def chats_and_last_res(path):
    root = ET.parse(path).getroot()
    thread = root.find("thread")
    return ([c.get("no") for c in root.iter("chat")],
            None if thread is None else thread.get("last_res"))


class CommandLineTest(unittest.TestCase):
    def assertLog(self, actual, expected):
        assert_log(self, actual, expected)

    def test_two_files_with_save_argument(self):
        d = Folder(self)
        d.file("a.xml", comment_xml([1, 2, 3]))
        d.file("b.xml", comment_xml([3, 4]))
        code, out, err = d.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual((code, err), (0, ""))  # nothing on standard error when the job succeeds
        self.assertLog(out, [f"{d.program} a.xml b.xml save=out.xml", "対象 : a.xml", "対象 : b.xml",
                             f"保存先 : {d.path}/out.xml", *golden_log("two_inputs.log")])
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "out.xml")), (["1", "2", "3", "4"], "4"))

    def test_three_files_out_of_order_name_from_first_given(self):
        d = Folder(self)
        d.file("Show[03].xml", comment_xml([5, 6]))
        d.file("Show[01].xml", comment_xml([1, 2, 3]))
        d.file("Show[02].xml", comment_xml([3, 4, 5]))
        code, out, _ = d.run("Show[03].xml", "-autoexit", "Show[01].xml", "Show[02].xml", "save=$title-$date.xml")
        self.assertEqual(code, 0)
        self.assertLog(out, [out[0], "対象 : Show[01].xml", "対象 : Show[02].xml", "対象 : Show[03].xml",
                             f"保存先 : {d.path}/Show-03.xml", *JOB_HEAD, "読み込み：Show[01].xml",
                             "読み込み：Show[02].xml", *merge_lines(0, 1), "( 1 / 2 完了)",
                             "読み込み：Show[03].xml", *merge_lines(1, 2), "( 2 / 2 完了 )",
                             *job_tail("Show-03.xml")])
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "Show-03.xml")),
                         (["1", "2", "3", "4", "5", "6"], "6"))

    def test_pattern_from_settings_and_save_argument_beats_it(self):
        d = Folder(self)
        d.file("Zantrel.ini", "[main]\nleft=10\nsave=結合/$title_全部.xml\n")
        os.mkdir(os.path.join(d.path, "結合"))
        d.file("花火[1].xml", comment_xml([1, 2]))
        d.file("花火[2].xml", comment_xml([2, 3]))
        code, out, _ = d.run("花火[1].xml", "花火[2].xml")
        self.assertEqual(code, 0)
        self.assertEqual(out[3], f"保存先 : {d.path}/結合/花火_全部.xml")
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "結合", "花火_全部.xml")), (["1", "2", "3"], "3"))
        code, out, _ = d.run("花火[1].xml", "花火[2].xml", "save=$date.xml")
        self.assertEqual(code, 0)
        self.assertEqual(out[3], f"保存先 : {d.path}/1.xml")
        self.assertTrue(os.path.exists(os.path.join(d.path, "1.xml")))

    def test_refusals_before_a_job_exit_2(self):
        cases = [
            ("no usable file", ["x.txt", "missing.xml", "-autoexit"], ["有効なファイルが入力されていません"]),
            ("one usable file", ["a.xml", "save=o.xml"],
             ["対象 : a.xml", "保存先 : {p}/o.xml", "ファイルが1つしか指定されませんでした"]),
            ("no pattern and no terminal", ["a.xml", "b.xml"],
             ["対象 : a.xml", "対象 : b.xml", "保存先 : ", "保存先パスが設定されていません"]),
        ]
        for name, args, lines in cases:
            with self.subTest(name):
                d = Folder(self)
                d.file("a.xml", comment_xml([1]))
                d.file("b.xml", comment_xml([2]))
                d.file("x.txt", "not xml")
                code, out, _ = d.run(*args)
                self.assertEqual(code, 2)
                self.assertLog(out, [out[0]] + [l.format(p=d.path) for l in lines])
                self.assertEqual(d.listing(), ["a.xml", "b.xml", "convert.xsl", "x.txt", "zantrel"])

    def test_failed_jobs_exit_1_and_write_nothing(self):
        # The log as it always read; the reason of a refused input or style sheet on
        # standard error, one line ("bad.xml" None: a folder of that name).
        refused = golden_log("second_input_malformed.log")
        bad = ["a.xml", "bad.xml", "save=out.xml"]
        sheet_step = [*JOB_HEAD, "読み込み：a.xml", "読み込み：b.xml", *merge_lines(0, 1), "( 1 / 1 完了)",
                      "XSLT読み込み：convert.xsl", "XSLT適用中..."]
        head = '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">\n'
        cases = [
            ("missing style sheet", {}, False, ["a.xml", "b.xml", "save=out.xml"],
             ["ファイルが見つかりませんでした : convert.xsl"], ""),
            ("malformed input", {"bad.xml": "<packet><chat no='1'></packet>"}, True, bad, refused,
             "bad.xml:1:31: Opening and ending tag mismatch: chat line 1 and packet"),
            ("truncated input", {"bad.xml": '<packet><chat no="1">abc'}, True, bad, refused,
             "bad.xml:1:25: Premature end of data in tag chat line 1"),
            ("document type declaration", {"bad.xml": '<!DOCTYPE packet SYSTEM "/etc/passwd"><packet/>'}, True,
             bad, refused, "bad.xml:1:38: documents with a document type declaration are not accepted"),
            ("attribute flood", {"bad.xml": "<packet><chat" + ' a="1"' * 5000 + "/></packet>"}, True, bad, refused,
             "bad.xml: an element has too many attributes"),
            ("folder named like an input", {"bad.xml": None}, True, bad, refused, "bad.xml: not a regular file"),
            ("style sheet that does not load", {"convert.xsl": head + "<xsl:template match='/'><r></xsl:template>"},
             False, ["a.xml", "b.xml", "save=out.xml"], [*sheet_step, "pXslt->loadXML()"],
             "convert.xsl:2:43: Opening and ending tag mismatch: r line 2 and xsl:template"),
            ("style sheet that does not compile",
             {"convert.xsl": head + "<xsl:template match='/'>\n<xsl:value-of select='count(('/></xsl:template></xsl:stylesheet>"},
             False, ["a.xml", "b.xml", "save=out.xml"],
             [*sheet_step, "Unspecified error", "Invalid expression / compilation error: file {p}/convert.xsl line 3 "
              "element value-of / xsl:value-of : could not compile select expression 'count(('"],
             "convert.xsl:3: xsl:value-of : could not compile select expression 'count(('"),
            ("output folder missing", {}, True, ["a.xml", "b.xml", "save=nowhere/out.xml"],
             [*JOB_HEAD, "読み込み：a.xml", "読み込み：b.xml", *merge_lines(0, 1), "( 1 / 1 完了)",
              "XSLT読み込み：convert.xsl", "XSLT適用中...", "last_res値の設定", "保存：out.xml",
              "No such file or directory", "{p}/nowhere/out.xml"], ""),
        ]
        for name, files, sheet, args, lines, reason in cases:
            with self.subTest(name):
                d = Folder(self, sheet=sheet)
                d.file("a.xml", comment_xml([1]))
                d.file("b.xml", comment_xml([2]))
                for fname, text in files.items():
                    d.file(fname, text) if text is not None else os.mkdir(os.path.join(d.path, fname))
                before = d.listing()
                code, out, err = d.run(*args)
                self.assertEqual(code, 1)
                self.assertLog(out, out[:4] + [l.format(p=d.path) for l in lines])
                self.assertEqual(err, f"zantrel: {reason}\n" if reason else "")
                self.assertEqual(d.listing(), before)

    def test_style_sheet_without_thread_still_saves(self):
        d = Folder(self)
        d.file("convert.xsl", IDENTITY_WITHOUT_THREAD)
        d.file("a.xml", comment_xml([1, 2, 3]))
        d.file("b.xml", comment_xml([3, 4]))
        code, out, _ = d.run("a.xml", "b.xml", "save=out.xml")
        self.assertEqual(code, 0)
        self.assertLog(out[4:], golden_log("style_sheet_drops_thread.log"))
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "out.xml")), (["1", "2", "3", "4"], None))

    def test_output_that_is_an_input(self):
        d = Folder(self)
        d.file("a.xml", comment_xml([1, 2]))
        d.file("b.xml", comment_xml([2, 3]))
        code, _, _ = d.run("a.xml", "b.xml", "save=a.xml")
        self.assertEqual(code, 0)
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "a.xml")), (["1", "2", "3"], "3"))
        self.assertEqual(d.listing(), ["a.xml", "b.xml", "convert.xsl", "zantrel"])

    def test_arguments_with_blanks_and_relative_paths(self):
        d = Folder(self)
        d.file("in dir/first file.xml", comment_xml([1]))
        d.file("second.xml", comment_xml([2]))
        code, out, _ = d.run("../in dir/first file.xml", "../second.xml", "", "save=../r.xml",
                             cwd=os.path.join(d.path, "in dir"))
        self.assertEqual(code, 0)
        self.assertEqual(out[0], f'{d.program} "../in dir/first file.xml" ../second.xml "" save=../r.xml')
        self.assertEqual(out[1:3], ["対象 : first file.xml", "対象 : second.xml"])
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "r.xml")), (["1", "2"], "2"))

    def test_file_names_that_are_not_utf8(self):
        # Names from other systems are bytes: they are read under their real names and
        # the output name keeps them; the log shows what cannot be decoded as U+FFFD.
        d = Folder(self)
        latin1, cp932 = b"caf\xe9[1].xml", b"\x89\xd4\x89\xce[2].xml"
        for name, numbers in ((latin1, [1, 2]), (cp932, [2, 3])):
            with open(os.path.join(os.fsencode(d.path), name), "w", encoding="utf-8") as f:
                f.write(comment_xml(numbers))
        code, out, _ = d.run(latin1, cp932, "save=$title_$file.xml")
        self.assertEqual(code, 0, "\n".join(out))
        # (0xD4 0x89 happens to be valid UTF-8: U+0509.)
        self.assertEqual(out[1:3], ["対象 : caf\ufffd[1].xml", "対象 : \ufffd\u0509\ufffd[2].xml"])
        saved = os.path.join(os.fsencode(d.path), b"caf\xe9_caf\xe9[1].xml")
        self.assertEqual(chats_and_last_res(saved), (["1", "2", "3"], "3"))

    def test_dot_dot_after_a_symbolic_link(self):
        # sl/../a.xml is deep/a.xml, as for every other program, not ./a.xml.
        d = Folder(self)
        d.file("deep/sub/.keep", "")
        d.file("deep/a.xml", comment_xml([1, 2]))
        d.file("a.xml", comment_xml([7, 8]))
        d.file("z.xml", comment_xml([2, 3]))
        os.symlink("deep/sub", os.path.join(d.path, "sl"))
        code, out, _ = d.run("sl/../a.xml", "z.xml", "save=sl/../out.xml")
        self.assertEqual(code, 0, "\n".join(out))
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "deep", "out.xml")), (["1", "2", "3"], "3"))
        self.assertFalse(os.path.exists(os.path.join(d.path, "out.xml")))

    def test_shift_jis_text_comes_out_unchanged(self):
        # Characters where code page 932 and strict JIS part, and its extensions.
        text = "~\\～－∥￢①Ⅲ㈱髙"
        sjis_out = IDENTITY_WITHOUT_THREAD.replace('encoding="UTF-8"', 'encoding="Shift_JIS"')
        for name in ("Shift_JIS", "SJIS", "MS_Kanji"):
            for sheet in ("bundled", "Shift_JIS out"):
                with self.subTest(name=name, sheet=sheet):
                    d = Folder(self)
                    if sheet != "bundled":
                        d.file("convert.xsl", sjis_out)
                    for fname, no in (("a.xml", 1), ("b.xml", 2)):
                        doc = (f'<?xml version="1.0" encoding="{name}"?>\n<packet><thread/>'
                               f'<chat no="{no}">{text}</chat></packet>\n')
                        with open(os.path.join(d.path, fname), "wb") as f:
                            f.write(doc.encode("cp932"))
                    code, out, _ = d.run("a.xml", "b.xml", "save=out.xml")
                    self.assertEqual(code, 0, "\n".join(out))
                    with open(os.path.join(d.path, "out.xml"), "rb") as f:
                        saved = f.read().decode("utf-8" if sheet == "bundled" else "cp932")
                    self.assertEqual(re.findall(r"<chat no=\"\d\">(.*?)</chat>", saved), [text, text])

    def test_settings_in_the_japanese_ansi_code_page(self):
        d = Folder(self)
        with open(os.path.join(d.path, "Zantrel.ini"), "wb") as f:
            f.write("[main]\r\nsave=結合_$title.xml\r\n".encode("cp932"))
        d.file("花火[1].xml", comment_xml([1]))
        d.file("花火[2].xml", comment_xml([2]))
        code, out, _ = d.run("花火[1].xml", "花火[2].xml")
        self.assertEqual(code, 0, "\n".join(out))
        self.assertEqual(out[3], f"保存先 : {d.path}/結合_花火.xml")

    def test_no_arguments_and_help(self):
        d = Folder(self)
        code, out, err = d.run()
        self.assertEqual((code, out), (2, ["結合するコメントファイルをまとめてドラッグ&ドロップして下さい"]))
        code, out, _ = d.run("--help")
        self.assertEqual(code, 0)
        self.assertEqual(err, "".join(line + "\n" for line in out))  # the usage, as --help gives it
        self.assertEqual(out[0], "使い方: zantrel [-autoexit] [-hide] [save=保存先パターン] ファイル.xml ファイル.xml ...")
        # The files looked for, the one found marked.
        self.assertIn(f"    {d.path}/convert.xsl  (使用中)", out)
        self.assertIn(f"    {d.path}/Zantrel.ini", out)
        code, out, _ = d.run("--version")
        self.assertEqual((code, out), (0, ["zantrel 0.10"]))
        self.assertEqual(d.listing(), ["convert.xsl", "zantrel"])

    def test_bundled_samples(self):
        d = Folder(self)
        for name in os.listdir(DATA):
            if name.endswith(".xml"):
                shutil.copy(os.path.join(DATA, name), d.path)
        samples = sorted(n for n in os.listdir(d.path) if n.endswith(".xml"))
        code, out, _ = d.run(*samples, "save=$title_$date_merged.xml")
        self.assertEqual(code, 0, "\n".join(out))
        saved = os.path.join(d.path, "夏の花火大会_2026-08-01_merged.xml")
        numbers, last_res = chats_and_last_res(saved)
        self.assertEqual(len(numbers), len(set(numbers)))
        self.assertEqual(last_res, numbers[-1])

    def test_save_question_on_a_terminal(self):
        import pty
        import select
        d = Folder(self)
        d.file("a.xml", comment_xml([1]))
        d.file("b.xml", comment_xml([2]))
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(d.path)
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
        read_until("終了時間".encode())
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        self.assertEqual(chats_and_last_res(os.path.join(d.path, "answer.xml")), (["1", "2"], "2"))


if __name__ == "__main__":
    unittest.main()
