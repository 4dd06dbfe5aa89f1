#!/usr/bin/env python3
"""Another local user shares the machine: folders, files and programs that user could plant or
swap are never read, run or handed to the installer, and nothing unpacked outlives the pass.
"""
import hashlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402
from test_update_pass import OTHER_UID, as_other_user, failure_lines  # noqa: E402


def needs_root(test):
    return unittest.skipUnless(os.geteuid() == 0, "playing another user needs root")(test)


class SharedMachineTest(base.PassFixture, unittest.TestCase):
    def setUp(self):
        super().setUp()
        # Like a home or /tmp, the test's own folder lets the other user pass through.
        os.chmod(self.session.base, 0o755)
        self.fallback = os.path.join(self.session.cache, "zandro-updater")

    def sha(self, name):
        return hashlib.sha256(self.files[name]).hexdigest()

    def assert_nothing_unpacked_is_left(self, work):
        self.assertFalse(os.path.exists(os.path.join(work, "uncompress")),
                         os.listdir(work) if os.path.isdir(work) else work)

    @needs_root
    def test_a_temporary_folder_the_other_user_owns_is_passed_over(self):
        # The other user made the victim's TMPDIR, open to all, and waits for the pass to make
        # its folder there; while the first "Install" question waits, that folder is renamed
        # away and one with the other user's own bytes is put in its place.
        tmp = os.path.join(self.session.base, "their-tmp")
        os.mkdir(tmp)
        os.chown(tmp, OTHER_UID, OTHER_UID)
        os.chmod(tmp, 0o777)
        self.session.tmp = tmp
        shared = os.path.join(tmp, "ZandroQuillet")
        evil = os.path.join(self.session.base, "evil.bin")
        with open(evil, "wb") as f:
            f.write(b"the other user's program\n")
        os.chmod(evil, 0o644)

        def swap(dialog):
            if dialog != 1:
                return
            if os.path.exists(shared):
                as_other_user("mv", shared, shared + ".away")
            as_other_user("mkdir", "-p", os.path.join(shared, "uncompress"))
            as_other_user("cp", evil, os.path.join(shared, "uncompress", "reader.bin"))

        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return"] * 4, on_dialog=swap)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertIn("working folder refused: %s: a folder above it is not safe: %s: "
                      "belongs to another user (uid %d)" % (shared, tmp, OTHER_UID), run.log)
        self.assertEqual(self.session.installer_calls(), [
            ("1", os.path.join(self.fallback, "uncompress", name), self.sha(name))
            for name in self.files])
        self.assert_nothing_unpacked_is_left(self.fallback)

    def test_an_entry_swapped_while_its_question_waits_is_not_installed(self):
        work = os.path.join(self.session.tmp, "ZandroQuillet")
        planted = os.path.join(self.session.base, "planted.bin")

        def swap(dialog):
            if dialog == 1:
                with open(planted, "wb") as f:
                    f.write(b"not what was unpacked\n")
                os.rename(planted, os.path.join(work, "uncompress", "reader.bin"))

        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return"] * 4, on_dialog=swap)
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(self.session.installer_calls(), [
            ("1", self.unpacked("read me.txt"), self.sha("read me.txt"))])
        self.assertEqual(failure_lines(run.log), [
            "installation failed for reader.bin (changed after it was unpacked, not installed); "
            "Installed: read me.txt. Declined: none."])
        self.assert_nothing_unpacked_is_left(work)

    def test_installers_that_are_not_the_readers_own_never_run(self):
        planted_cwd = os.path.join(self.session.base, "downloads")
        os.makedirs(planted_cwd)
        planted = os.path.join(planted_cwd, "installUpdate")
        with open(planted, "w") as f:
            f.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/planted-ran\"\n")
        os.chmod(planted, 0o755)
        installer = os.path.join(self.session.install, "installUpdate")
        rows = [
            # (name, stored install folder, change, reason in the log)
            ("current folder", ".", None, 'the install folder "." is not an absolute path'),
            ("empty folder", "", None, 'the install folder "" is not an absolute path'),
            ("installer writable by others", None, "chmod-program",
             installer + ": is writable by other users"),
            ("install folder writable by others", None, "chmod-folder",
             installer + ": a folder above it is not safe: %s: is writable by other users"
             % self.session.install),
            ("another user's installer", None, "chown-program",
             installer + ": belongs to another user (uid %d)" % OTHER_UID),
        ]
        for name, old_path, change, reason in rows:
            with self.subTest(row=name):
                if change and change.startswith("chown") and os.geteuid() != 0:
                    continue
                os.chmod(installer, 0o755)
                os.chown(installer, 0, 0)
                os.chmod(self.session.install, 0o755)
                if change == "chmod-program":
                    os.chmod(installer, 0o757)
                elif change == "chmod-folder":
                    os.chmod(self.session.install, 0o777)
                elif change == "chown-program":
                    os.chown(installer, OTHER_UID, OTHER_UID)
                self.offer()
                self.session.write_settings(
                    'type:"Update List",product:"ZandroReader",version:"9.1.0.5096"',
                    old_path=self.session.install if old_path is None else old_path)
                run = self.run_pass(["Return"] * 2, cwd=planted_cwd)
                self.assertEqual(run.exit_code, 1, run.log)
                self.assertIn("installer refused: " + reason, run.log)
                self.assertFalse(os.path.exists(os.path.join(planted_cwd, "planted-ran")))
                self.assertEqual(self.session.installer_calls(), [])
                self.assertEqual(failure_lines(run.log), [
                    "installation failed for reader.bin (the installer could not be started), "
                    "read me.txt (the installer could not be started); Installed: none. "
                    "Declined: none."])
        os.chmod(self.session.install, 0o755)

    def test_a_list_that_names_a_file_the_package_lacks_installs_nothing(self):
        src = os.path.join(self.session.base, "src")
        setup = os.path.join(src, "Setup.xml")
        with open(setup, "w") as f:
            f.write('<setup><folder name="reader.bin"/><file name="reader.bin"/>'
                    '<file name="not-in-the-package.bin"/></setup>')
        subprocess.run([base.PACK, "create", "--preset", "1", self.package, setup,
                        os.path.join(src, "reader.bin")], check=True)
        self.offer()
        self.configure(manual=False)
        run = self.run_pass([])
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(run.dialogs, [])
        cached = os.path.join(self.session.tmp, "ZandroQuillet", os.path.basename(self.package))
        self.assertEqual(failure_lines(run.log), [
            'package %s lists "not-in-the-package.bin", which is not a file it holds' % cached])
        self.assertEqual(self.session.installer_calls(), [])
        self.assertFalse(os.path.exists(cached))
        self.assert_nothing_unpacked_is_left(os.path.dirname(cached))

    def test_a_temporary_folder_that_does_not_exist_uses_the_per_user_folder(self):
        existed = os.path.exists("/ZandroQuillet")
        self.session.tmp = os.path.join(self.session.base, "gone")
        # Missing parents of the per-user folder are made private whatever the umask.
        self.session.cache = os.path.join(self.session.base, "new", "cache")
        self.fallback = os.path.join(self.session.cache, "zandro-updater")
        self.offer()
        self.configure(manual=False)
        old = os.umask(0)
        try:
            run = self.run_pass(["Return"] * 2)
        finally:
            os.umask(old)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertIn('working folder refused: the temporary folder "" does not exist', run.log)
        self.assertEqual([c[1] for c in self.session.installer_calls()],
                         [os.path.join(self.fallback, "uncompress", n) for n in self.files])
        for folder in (os.path.join(self.session.base, "new"), self.session.cache, self.fallback):
            self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700, folder)
        if not existed:
            self.assertFalse(os.path.exists("/ZandroQuillet"))
        self.assert_nothing_unpacked_is_left(self.fallback)


if __name__ == "__main__":
    base.main()
