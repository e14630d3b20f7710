"""Zantrel.exe under Wine, as a script or a person would run it.

Each test gets its own folder with a copy of the program and convert.xsl. Checks
the saved file, the settings file (five keys, in order) and the exit code that
tells scripts the outcome; takes a screenshot of the window after a job.
"""
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
import zipfile

from golden import assert_log, golden_log

EXE = os.environ["ZANTREL_EXE"]
ZIP = os.environ["ZANTREL_ZIP"]
POKE = os.environ["ZANTREL_POKE"]
DATA = os.environ["ZANTREL_DATA"]
WINE = os.environ["ZANTREL_WINE"]
SCREENSHOT = os.environ["ZANTREL_SCREENSHOT"]


def comment_xml(numbers):
    chats = "".join(f'<chat no="{n}">コメント{n}</chat>' for n in numbers)
    return f'<?xml version="1.0" encoding="UTF-8"?><packet><thread last_res="0"/>{chats}</packet>'


def ini_keys(path):
    with open(path, "rb") as f:
        raw = f.read()
    text = raw[2:].decode("utf-16-le") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8", "replace")
    return [line.split("=", 1) for line in text.replace("\r", "").split("\n") if "=" in line]


class WindowsProgram(unittest.TestCase):
    def folder(self):
        path = tempfile.mkdtemp(prefix="zantrel-win-")
        self.addCleanup(shutil.rmtree, path, ignore_errors=True)
        shutil.copy(EXE, path)
        shutil.copy(os.path.join(DATA, "convert.xsl"), path)
        return path

    def run_exe(self, folder, *args, timeout=120):
        return subprocess.run([WINE, os.path.join(folder, "Zantrel.exe"), *args], cwd=folder,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode

    def test_hidden_job_saves_and_reports_the_outcome(self):
        d = self.folder()
        for name, numbers in (("a[1].xml", [1, 2, 3]), ("b[2].xml", [3, 4]), ("日本[3].xml", [4, 5])):
            with open(os.path.join(d, name), "w", encoding="utf-8") as f:
                f.write(comment_xml(numbers))
        code = self.run_exe(d, "-hide", "日本[3].xml", "a[1].xml", "b[2].xml", "save=$title_全部.xml")
        self.assertEqual(code, 0)
        root = ET.parse(os.path.join(d, "日本_全部.xml")).getroot()
        self.assertEqual([c.get("no") for c in root.iter("chat")], ["1", "2", "3", "4", "5"])
        self.assertEqual(root.find("thread").get("last_res"), "5")
        self.assertEqual([k for k, _ in ini_keys(os.path.join(d, "Zantrel.ini"))],
                         ["left", "top", "width", "height", "save"])

    def test_outcome_codes_with_auto_exit(self):
        d = self.folder()
        with open(os.path.join(d, "a.xml"), "w", encoding="utf-8") as f:
            f.write(comment_xml([1]))
        with open(os.path.join(d, "bad.xml"), "w", encoding="utf-8") as f:
            f.write("<packet>")
        self.assertEqual(self.run_exe(d, "-hide"), 2)  # no file: no job
        self.assertEqual([k for k, _ in ini_keys(os.path.join(d, "Zantrel.ini"))],
                         ["left", "top", "width", "height", "save"])
        self.assertEqual(self.run_exe(d, "-autoexit", "-hide", "a.xml", "bad.xml", "save=out.xml"), 1)
        self.assertFalse(os.path.exists(os.path.join(d, "out.xml")))

    def test_settings_pattern_in_japanese_round_trips(self):
        d = self.folder()
        with open(os.path.join(d, "Zantrel.ini"), "wb") as f:
            f.write(b"\xff\xfe" + "[main]\r\nsave=結合_$title.xml\r\n".encode("utf-16-le"))
        for name, numbers in (("夏[1].xml", [1]), ("夏[2].xml", [2])):
            with open(os.path.join(d, name), "w", encoding="utf-8") as f:
                f.write(comment_xml(numbers))
        self.assertEqual(self.run_exe(d, "-hide", "夏[1].xml", "夏[2].xml"), 0)
        self.assertTrue(os.path.exists(os.path.join(d, "結合_夏.xml")))
        self.assertIn(["save", "結合_$title.xml"], ini_keys(os.path.join(d, "Zantrel.ini")))

    def test_root_relative_paths_hang_from_the_current_drive(self):
        # Under Wine the folder is on drive Z:, which is also the current drive.
        d = self.folder()
        for name, numbers in (("a.xml", [1, 2]), ("b.xml", [2, 3])):
            with open(os.path.join(d, name), "w", encoding="utf-8") as f:
                f.write(comment_xml(numbers))
        slashes = d.rstrip("/") + "/"
        backslashes = slashes.replace("/", "\\")
        for root in (slashes, backslashes):
            with self.subTest(root=root):
                out = os.path.join(d, "out.xml")
                if os.path.exists(out):
                    os.remove(out)
                code = self.run_exe(d, "-hide", root + "a.xml", root + "b.xml", "save=" + root + "out.xml")
                self.assertEqual(code, 0)
                root_element = ET.parse(out).getroot()
                self.assertEqual([c.get("no") for c in root_element.iter("chat")], ["1", "2", "3"])

    def test_foreign_messages_leave_the_job_alone(self):
        # Another program posts the number the log's message once had and the log's
        # registered message, with lParam 0 and a random one, while the job runs.
        d = self.folder()
        for name, numbers in (("a.xml", [1, 2, 3]), ("b.xml", [3, 4])):
            with open(os.path.join(d, name), "w", encoding="utf-8") as f:
                f.write(comment_xml(numbers))
        proc = subprocess.Popen([WINE, os.path.join(d, "Zantrel.exe"), "a.xml", "b.xml", "save=out.xml"],
                                cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            poke = subprocess.run([WINE, POKE], cwd=d, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=180)
            self.assertEqual(poke.returncode, 0)
            lines = poke.stdout.decode("utf-8").split("\r\n")
            # After the command line as Wine passed it on, the folder on drive Z:
            windows_dir = "Z:" + d.replace("/", "\\")
            assert_log(self, lines[1:-1], ["対象 : a.xml", "対象 : b.xml", f"保存先 : {windows_dir}\\out.xml",
                                           *golden_log("two_inputs.log")])
            self.assertEqual(lines[-1], "")
            self.assertIsNone(proc.poll())  # still running, its window open
            root = ET.parse(os.path.join(d, "out.xml")).getroot()
            self.assertEqual([c.get("no") for c in root.iter("chat")], ["1", "2", "3", "4"])
        finally:
            proc.terminate()
            proc.wait(timeout=30)

    def test_zip_holds_the_program_stripped(self):
        with zipfile.ZipFile(ZIP) as z:
            self.assertEqual(sorted(z.namelist()), ["README.txt", "Zantrel.exe", "convert.xsl"])
            exe = z.read("Zantrel.exe")
        coff = struct.unpack_from("<I", exe, 0x3C)[0] + 4  # after the "PE\0\0" signature
        _, sections, _, symbols, _, optional, _ = struct.unpack_from("<HHIIIHH", exe, coff)
        table = coff + 20 + optional
        names = [exe[table + 40 * i:table + 40 * i + 8].rstrip(b"\0") for i in range(sections)]
        # Stripped: no symbol table, no debug section (their long names are "/n").
        self.assertEqual(symbols, 0)
        self.assertEqual([n for n in names if n.startswith((b"/", b".debug"))], [])
        self.assertIn(b".rsrc", names)

    def test_screenshot_after_a_job_shows_the_log(self):
        import re
        if not os.environ.get("DISPLAY") or shutil.which("import") is None or shutil.which("convert") is None:
            self.skipTest("needs an X display and ImageMagick")
        d = self.folder()
        for name in sorted(os.listdir(DATA)):
            if name.endswith(".xml"):
                shutil.copy(os.path.join(DATA, name), d)
        samples = sorted(n for n in os.listdir(d) if n.endswith(".xml"))
        proc = subprocess.Popen([WINE, os.path.join(d, "Zantrel.exe"), *samples, "save=$title_merged.xml"],
                                cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            saved = os.path.join(d, "夏の花火大会_merged.xml")
            for _ in range(600):
                if os.path.exists(saved):
                    break
                time.sleep(0.1)
            self.assertTrue(os.path.exists(saved))
            time.sleep(2)  # the last log lines and a repaint
            subprocess.run(["import", "-window", "root", SCREENSHOT], check=True, timeout=60)
            pgm = subprocess.run(["convert", SCREENSHOT, "-colorspace", "Gray", "-depth", "8", "pgm:-"],
                                 check=True, capture_output=True, timeout=60).stdout
        finally:
            proc.terminate()
            proc.wait(timeout=30)
        # What a user sees: the log's light page on the screen, and on it lines of
        # dark text, one band of dark rows per log line.
        header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+255\s", pgm)
        width, height = int(header.group(1)), int(header.group(2))
        rows = [pgm[header.end() + y * width:header.end() + (y + 1) * width] for y in range(height)]
        page = [y for y, row in enumerate(rows) if sum(v >= 200 for v in row) >= 150]
        self.assertTrue(page, "no light page on the screen")
        columns = [x for x in range(width) if sum(rows[y][x] >= 200 for y in page) >= 100]
        left, right = min(columns) + 2, max(columns) - 20  # not the frame, not a scroll bar
        text = [any(v < 100 for v in rows[y][left:right]) for y in range(min(page), max(page) + 1)]
        bands = sum(1 for y in range(1, len(text)) if text[y] and not text[y - 1])
        self.assertGreaterEqual(bands, 8, "the log shows no lines of text")


if __name__ == "__main__":
    unittest.main()
