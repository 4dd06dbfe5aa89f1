#!/usr/bin/env python3
"""What the updater keeps between passes (the highest versions it installed, the state file) and what
it writes to its log, against a hostile catalogue and a second user.
"""
import os
import re
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402
from test_update_pass import FAST, OTHER_UID, QUERY, as_other_user, bed, failure_lines  # noqa: E402

DROPPED = "offer dropped, not newer than the installed version: "
# How every line the updater writes begins: its time stamp.
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


def needs_root(test):
    return unittest.skipUnless(os.geteuid() == 0, "playing another user needs root")(test)


class StateFixture(base.PassFixture):
    def offer_version(self, version, url=None):
        """The catalogue offers the fixture's package as the given version of the reader."""
        size = os.path.getsize(self.package)
        bed.write_catalogue(self.session.www, [dict(
            name="Zandro Reader", version=version, description="Zandro Reader",
            size=f"{size}B", url=url or self.nginx.url(base.PACKAGE_PATH), result="true",
            module_type="reader")])

    def log_folder(self):
        return os.path.join(self.session.state, "zandro-updater")

    def log_file_text(self):
        with open(os.path.join(self.log_folder(), "updater.log"), errors="replace") as f:
            return f.read()

    def assert_up_to_date_without_download(self, run, earlier_downloads=0):
        """An interactive pass that said "up to date" (its one dialog) and fetched no package."""
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(run.dialogs, ["Return"], run.log)
        self.assertFalse(run.download_window)
        self.assertEqual(len(self.package_requests()), earlier_downloads)
        self.assertEqual(self.session.installer_calls(), [])


class RollbackTest(StateFixture, unittest.TestCase):
    """A catalogue, over plain http anybody's, never takes the machine back to an older release,
    even with a genuine package of it."""

    def test_an_older_reader_than_the_installed_one_is_up_to_date(self):
        for version in ("9.0.0.1", "9.1.0.5096"):
            with self.subTest(version=version):
                self.offer_version(version)
                self.configure(manual=True)
                run = self.run_pass(["Return"])
                self.assert_up_to_date_without_download(run)
                self.assertIn(f'{DROPPED}"Zandro Reader" {version} <= 9.1.0.5096', run.log)
                self.assertEqual(failure_lines(run.log), [])

    def test_after_an_install_the_same_or_an_older_version_is_dropped(self):
        self.offer_version("9.2.0.1")
        self.configure(manual=False)
        first = self.run_pass(["Return", "Return"])
        self.assertEqual(first.exit_code, 0, first.log)
        self.assert_installed_everything(self.session.installer_calls())
        os.remove(os.path.join(self.session.install, "installer.log"))

        self.configure(manual=True)
        for version in ("9.2.0.1", "9.2.0.0"):
            with self.subTest(version=version):
                self.offer_version(version)
                run = self.run_pass(["Return"])
                self.assert_up_to_date_without_download(run, earlier_downloads=1)
                self.assertIn(f'{DROPPED}"Zandro Reader" {version} <= 9.2.0.1', run.log)
        # Only what is newer still is: the question comes, and is declined here.
        self.offer_version("9.2.0.2")
        run = self.run_pass(["Escape"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(run.dialogs, ["Escape"])
        self.assertNotIn(DROPPED, run.log)
        self.assertEqual(len(self.package_requests()), 1)


class PlantedStateFileTest(StateFixture, unittest.TestCase):
    """Another user's UpdaterInfo.xml in the folder the updater starts in, a shared one like
    /tmp, is never read."""

    def setUp(self):
        super().setUp()
        os.chmod(self.session.base, 0o755)
        self.shared = os.path.join(self.session.base, "shared")
        os.mkdir(self.shared)
        os.chmod(self.shared, 0o1777)
        self.state_file = os.path.join(self.shared, "UpdaterInfo.xml")

    @needs_root
    def test_an_entry_at_version_999_does_not_freeze_the_offer(self):
        as_other_user("sh", "-c", "printf '%s' '<updater_info><m name=\"Zandro Reader\" "
                      "version=\"999\"/></updater_info>' > " + self.state_file)
        self.offer()
        self.configure(manual=False)
        run = self.run_pass(["Return", "Return"], cwd=self.shared)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertIn("state file ignored: %s: belongs to another user (uid %d)"
                      % (self.state_file, OTHER_UID), run.log)
        self.assert_installed_everything(self.session.installer_calls())

    @needs_root
    def test_a_fifo_does_not_hang_the_pass(self):
        as_other_user("mkfifo", self.state_file)
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Escape"], timeout=FAST + 30, cwd=self.shared)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertLess(run.seconds, FAST)
        self.assertEqual(run.dialogs, ["Escape"])  # the question: the offer stands
        self.assertIn("state file ignored: %s: is not a regular file" % self.state_file, run.log)


class LogFileTest(StateFixture, unittest.TestCase):
    """The log file support asks for: nobody can write a line into it, flood it away, or take it
    over."""

    def test_a_url_with_a_line_end_forges_no_line(self):
        forged = ("2026-12-11 10:00:00.000 info updater/src/dlgdownload.cpp:416 "
                  "void DlgDownload::installAll(): update finished: The update of Zandro Reader "
                  "9.2.0.1 is complete. Installed: reader.bin.")
        self.offer(url=self.nginx.url("/packages/none.pkg") + "\n" + forged)
        self.configure(manual=False)
        run = self.run_pass([])
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(len(failure_lines(run.log)), 1, run.log)
        for where, text in (("standard error", run.log), ("log file", self.log_file_text())):
            with self.subTest(where=where):
                lines = [line for line in text.splitlines() if line]
                self.assertEqual([line for line in lines if not STAMP.match(line)], [])
                self.assertEqual([line for line in lines if "update finished:" in line
                                  and "\\n" + forged not in line], [])
                self.assertIn("\\n" + forged, text)

    def test_a_flood_of_probes_leaves_the_log_alone(self):
        log_path = os.path.join(self.log_folder(), "updater.log")
        sizes = []
        answers = []

        def flood(dialog):
            sizes.append(os.path.getsize(log_path))
            for _ in range(5000):
                with socket.create_connection(("127.0.0.1", bed.PRESENCE_PORT), timeout=5) as s:
                    data = b""
                    while True:
                        chunk = s.recv(64)
                        if not chunk:
                            break
                        data += chunk
                    answers.append(data)
            sizes.append(os.path.getsize(log_path))

        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Escape"], on_dialog=flood)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(set(answers), {b"UpdaterRuning"})
        self.assertEqual(len(answers), 5000)
        # One line each would be some 700 KB; a rotation would have moved the file away.
        self.assertLess(sizes[1] - sizes[0], 4096, run.log[-2000:])
        self.assertFalse(os.path.exists(log_path + ".1"))
        # The pass's end still tells how many were answered: all but the first probe.
        counts = [int(line.rsplit(" ", 1)[1]) for line in run.log.splitlines()
                  if "presence probes answered since the last line: " in line]
        self.assertEqual(run.log.count("UpdateListener newLocalConnection()"), 1, run.log)
        self.assertEqual(sum(counts), 5000)  # run_pass's own probe came first

    @needs_root
    def test_an_open_folder_is_repaired_and_a_foreign_log_replaced(self):
        os.chmod(self.session.base, 0o755)
        os.chmod(self.session.state, 0o755)
        folder = self.log_folder()
        os.mkdir(folder)
        os.chmod(folder, 0o777)
        log_path = os.path.join(folder, "updater.log")
        as_other_user("sh", "-c", "echo 'their line' > '%s'" % log_path)
        self.offer(result="false")
        self.configure(manual=True)
        run = self.run_pass(["Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700)
        info = os.stat(log_path)
        self.assertEqual((info.st_uid, info.st_mode & 0o777), (os.geteuid(), 0o600))
        text = self.log_file_text()
        self.assertNotIn("their line", text)
        replaced = "log file replaced: %s: belongs to another user (uid %d)" % (log_path,
                                                                              OTHER_UID)
        self.assertIn(replaced, text.splitlines()[0])
        self.assertEqual(run.log.count(replaced), 1)
        self.assertIn("zandro-updater ", text)  # the pass's own lines follow
        self.assertEqual([r[0] for r in self.nginx.requests()], [QUERY])


if __name__ == "__main__":
    base.main()
