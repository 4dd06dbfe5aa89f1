#!/usr/bin/env python3
"""Whole update passes of the real zandro-updater binary on a private X display.

A catalogue and a package built with zandro-pack are served by nginx on loopback, the reader's
settings live in a private XDG_CONFIG_HOME, and the installer is a script that records its
arguments. The windows are answered with real X input through xdotool.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import zandro_testbed as bed  # noqa: E402

UPDATER = None
PACK = None
QUERY = ("GET /addons/get_addons.php/get_addons.php?addon=Update%20List&product=ZandroReader"
         "&version=9.1&build=0.5096&platform=x86&EmbededLanguage=en_us HTTP/1.1")
PACKAGE_PATH = "/packages/zandro-9.2.0.1.pkg"


class UpdatePassTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = bed.Display().start()

    @classmethod
    def tearDownClass(cls):
        cls.display.stop()

    def setUp(self):
        self.session = bed.Session()
        self.files = {
            "reader.bin": os.urandom(200000),
            "read me.txt": "Zandro Reader 9.2 — notes\n".encode() * 50,
        }
        src = os.path.join(self.session.base, "src")
        os.makedirs(src)
        paths = []
        for name, data in self.files.items():
            path = os.path.join(src, name)
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
        package = os.path.join(self.session.www, PACKAGE_PATH.lstrip("/"))
        os.makedirs(os.path.dirname(package))
        subprocess.run([PACK, "create", "--preset", "1", package, *paths], check=True)
        self.package = package
        self.nginx = bed.Nginx(self.session.www, os.path.join(self.session.base, "nginx"))
        os.makedirs(self.nginx.work)
        self.nginx.start()
        self.addCleanup(self.nginx.stop)
        self.addCleanup(self.session.cleanup)

    def offer(self, result="true"):
        size = os.path.getsize(self.package)
        bed.write_catalogue(self.session.www, [dict(
            name="Zandro Reader", version="9.2.0.1", description="Zandro Reader 9.2",
            size=f"{size}B", url=f"http://127.0.0.1:{self.nginx.port}{PACKAGE_PATH}",
            result=result, module_type="reader")])

    def configure(self, manual=True):
        param = 'type:"Update List",product:"ZandroReader",version:"9.1.0.5096"'
        if manual:
            param += ',updater:"Manual"'
        self.session.write_settings(param, old_path=self.session.install)

    def run_pass(self, answers, timeout=120):
        """Runs the updater, pressing the given keys on its message dialogs in order."""
        result = bed.run_pass(UPDATER, self.session.env(f"127.0.0.1:{self.nginx.port}",
                                                        self.display.name),
                              self.display, answers,
                              os.path.join(self.session.base, "updater.log"), timeout)
        if result.exit_code is None:
            self.fail("the updater did not end; dialogs answered: %r" % result.dialogs)
        return result

    def unpacked(self, name):
        return os.path.join(self.session.tmp, "ZandroQuillet", "uncompress", name)

    def assert_installed_everything(self, calls):
        # zandro-pack lists the files in Setup.xml in the order they were given.
        expected = [("1", self.unpacked(name), hashlib.sha256(data).hexdigest())
                    for name, data in self.files.items()]
        self.assertEqual(calls, expected)

    def test_interactive_pass_installs_each_file_and_a_second_pass_skips_the_download(self):
        self.offer()
        self.configure(manual=True)
        first = self.run_pass(["Return", "Return", "Return"])
        self.assertEqual(first.exit_code, 0, first.log)
        self.assertEqual(first.dialogs, ["Return"] * 3, first.log)
        self.assertEqual(first.presence, b"UpdaterRuning")
        self.assert_installed_everything(self.session.installer_calls())
        requests = self.nginx.requests()
        self.assertEqual(requests[0], (QUERY, "-", "200"))
        self.assertEqual(requests[1], (f"GET {PACKAGE_PATH} HTTP/1.1", "bytes=0-", "206"))
        self.assertEqual(len(requests), 2)

        # The package is still in the download folder with the announced size.
        os.remove(os.path.join(self.session.install, "installer.log"))
        second = self.run_pass(["Return", "Return", "Return"])
        self.assertEqual(second.exit_code, 0, second.log)
        self.assertFalse(second.download_window)
        self.assert_installed_everything(self.session.installer_calls())
        self.assertEqual([r[0] for r in self.nginx.requests()[2:]], [QUERY])

    def test_automatic_pass_asks_no_question(self):
        self.offer()
        self.configure(manual=False)
        run = self.run_pass(["Return", "Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(len(run.dialogs), 2, run.log)  # one confirmation per file, no question
        self.assert_installed_everything(self.session.installer_calls())

    def test_declining_the_question_downloads_nothing(self):
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Escape"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(run.dialogs, ["Escape"])
        self.assertEqual([r[0] for r in self.nginx.requests()], [QUERY])
        self.assertEqual(self.session.installer_calls(), [])

    def test_declining_one_file_still_offers_the_next(self):
        self.offer()
        self.configure(manual=False)
        run = self.run_pass(["Escape", "Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        name, data = list(self.files.items())[1]
        self.assertEqual(self.session.installer_calls(),
                         [("1", self.unpacked(name), hashlib.sha256(data).hexdigest())])
        self.assertIn("excute result: -1", run.log)

    def test_nothing_offered_says_up_to_date(self):
        self.offer(result="false")
        self.configure(manual=True)
        run = self.run_pass(["Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(run.dialogs, ["Return"])
        self.assertEqual([r[0] for r in self.nginx.requests()], [QUERY])

    def test_damaged_package_is_not_installed_and_the_pass_ends(self):
        with open(self.package, "r+b") as f:
            f.seek(40)
            byte = f.read(1)
            f.seek(40)
            f.write(bytes([byte[0] ^ 0x01]))
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertIn("Uncompress Failed", run.log)
        self.assertEqual(self.session.installer_calls(), [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--pack", required=True)
    args, rest = parser.parse_known_args()
    UPDATER, PACK = args.updater, args.pack
    unittest.main(argv=[sys.argv[0], "-v", *rest])
