"""The Debian package and the installed layout, as a user gets them.

ZANTREL_DEB names the package built by `cpack -G DEB`; ZANTREL_BUILD the build
folder it came from (for `cmake --install`); ZANTREL_DATA the sample files. The
package is unpacked into a scratch root (nothing is installed on this machine)
and the program is run from there, in a folder far from the build tree.
"""
import glob
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

DEB = os.environ["ZANTREL_DEB"]
BUILD = os.environ["ZANTREL_BUILD"]
DATA = os.environ["ZANTREL_DATA"]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The one version: project(VERSION) of the build; every other place must show it.
with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
    VERSION = re.search(r"project\(\w+ VERSION ([0-9.]+)", f.read()).group(1)

LAYOUT = ["usr/bin/zantrel", "usr/share/doc/zantrel/README.md", "usr/share/doc/zantrel/changelog.gz",
          "usr/share/doc/zantrel/copyright",
          "usr/share/man/man1/zantrel.1.gz", "usr/share/zantrel/convert.xsl"]


def files_under(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _, names in os.walk(root) for f in names)


class PackageTest(unittest.TestCase):
    def scratch(self):
        path = tempfile.mkdtemp(prefix="zantrel-pkg-")
        self.addCleanup(shutil.rmtree, path, ignore_errors=True)
        return path

    def run_program(self, program, *args, cwd, env=None):
        return subprocess.run([program, *args], cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=120, env=env)

    def test_package_holds_the_layout_and_its_dependencies(self):
        root = self.scratch()
        subprocess.run(["dpkg-deb", "-x", DEB, root], check=True)
        self.assertEqual(files_under(root), LAYOUT)
        fields = subprocess.run(["dpkg-deb", "-f", DEB, "Package", "Version", "Depends", "Description"],
                                check=True, capture_output=True, text=True).stdout
        self.assertIn("Package: zantrel", fields)
        self.assertIn(f"Version: {VERSION}\n", fields)
        for library in ("libxml2", "libxslt1.1", "libc6", "libstdc++6"):
            self.assertIn(library, fields)
        self.assertIn("comment files", fields)

    def test_installed_program_merges_from_another_folder(self):
        for how in ("package", "cmake --install"):
            with self.subTest(how):
                root = self.scratch()
                if how == "package":
                    subprocess.run(["dpkg-deb", "-x", DEB, root], check=True)
                else:
                    subprocess.run(["cmake", "--install", BUILD, "--prefix", os.path.join(root, "usr")],
                                   check=True, capture_output=True)
                    self.assertEqual(files_under(root), LAYOUT)
                program = os.path.join(root, "usr", "bin", "zantrel")
                work = self.scratch()
                samples = sorted(glob.glob(os.path.join(DATA, "*.xml")))
                for sample in samples:
                    shutil.copy(sample, work)
                names = [os.path.basename(s) for s in samples]
                proc = self.run_program(program, *names, "save=$title_$date.xml", cwd=work)
                log = proc.stdout.decode("utf-8")
                self.assertEqual(proc.returncode, 0, log)
                self.assertIn("処理が完了しました", log)
                saved = ET.parse(os.path.join(work, "夏の花火大会_2026-08-01.xml")).getroot()
                numbers = [c.get("no") for c in saved.iter("chat")]
                self.assertEqual(len(numbers), 31)
                self.assertEqual(saved.find("thread").get("last_res"), "32")

    def test_version_help_and_the_user_settings_folder(self):
        root = self.scratch()
        subprocess.run(["dpkg-deb", "-x", DEB, root], check=True)
        program = os.path.join(root, "usr", "bin", "zantrel")
        work = self.scratch()
        proc = self.run_program(program, "--version", cwd=work)
        self.assertEqual((proc.returncode, proc.stdout), (0, f"zantrel {VERSION}\n".encode()))
        # Settings in the user's configuration folder are found and named by --help.
        config = self.scratch()
        os.makedirs(os.path.join(config, "zantrel"))
        with open(os.path.join(config, "zantrel", "Zantrel.ini"), "w", encoding="utf-8") as f:
            f.write("[main]\nsave=設定から_$file.xml\n")
        env = dict(os.environ, XDG_CONFIG_HOME=config)
        help_text = self.run_program(program, "--help", cwd=work, env=env).stdout.decode("utf-8")
        self.assertIn(os.path.join(root, "usr", "share", "zantrel", "convert.xsl") + "  (使用中)",
                      help_text.replace("/usr/bin/../", "/usr/"))
        self.assertIn(os.path.join(config, "zantrel", "Zantrel.ini") + "  (使用中)", help_text)
        for name, no in (("a.xml", 1), ("b.xml", 2)):
            with open(os.path.join(work, name), "w", encoding="utf-8") as f:
                f.write(f'<packet><thread/><chat no="{no}"/></packet>')
        proc = self.run_program(program, "a.xml", "b.xml", cwd=work, env=env)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode("utf-8"))
        self.assertTrue(os.path.exists(os.path.join(work, "設定から_a.xml")))
        self.assertEqual(sorted(os.listdir(work)), ["a.xml", "b.xml", "設定から_a.xml"])

    def test_lintian_finds_no_error_or_warning(self):
        proc = subprocess.run(["lintian", "--allow-root", "--fail-on", "error,warning", DEB],
                              capture_output=True, text=True, timeout=600)
        self.assertEqual((proc.returncode, proc.stdout), (0, ""), proc.stderr)

    def test_every_place_shows_the_one_version(self):
        root = self.scratch()
        subprocess.run(["dpkg-deb", "-x", DEB, root], check=True)
        with gzip.open(os.path.join(root, "usr/share/doc/zantrel/changelog.gz"), "rt", encoding="utf-8") as f:
            changelog = f.read()
        with open(os.path.join(SOURCE, "res", "zantrel.1"), encoding="utf-8") as f:
            manual = f.read()
        with open(os.path.join(SOURCE, "res", "README-user.txt"), encoding="utf-8") as f:
            read_me = f.readline()
        fields = subprocess.run(["dpkg-deb", "-f", DEB, "Version", "Maintainer"], check=True,
                                capture_output=True, text=True).stdout.splitlines()
        shown = {"changelog": re.match(r"zantrel \((.*?)\)", changelog).group(1),
                 "package": fields[0].split(": ")[1],
                 "manual page": " ".join(sorted(set(re.findall(r"zantrel (\d[\d.]*)", manual)))),
                 "read-me of the zip": read_me.split()[1]}
        self.assertEqual(shown, dict.fromkeys(shown, VERSION))
        # The latest entry is signed by the package's maintainer.
        self.assertIn(f"\n -- {fields[1].split(': ')[1]}  ", changelog)

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(SOURCE, "res", "zantrel.1")
        proc = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                              env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="0"))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, "")
        plain = re.sub(".\b", "", proc.stdout)  # bold and underline are overstrikes
        for heading in ("SYNOPSIS", "OPTIONS", "OUTPUT NAME", "FILES", "EXIT STATUS", "SAFETY", "EXAMPLES"):
            self.assertIn("\n" + heading + "\n", plain)


if __name__ == "__main__":
    unittest.main()
