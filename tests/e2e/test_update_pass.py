#!/usr/bin/env python3
"""Whole update passes of the real zandro-updater binary on a private X display.

A catalogue and a package built with zandro-pack are served by nginx on loopback, the reader's
settings live in a private XDG_CONFIG_HOME, and the installer is a script that records its
arguments. The windows are answered with real X input through xdotool.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import zandro_testbed as bed  # noqa: E402

UPDATER = None
PACK = None
SIGNED_UPDATER = None  # trusts the throwaway keys trusted1 and trusted2 in KEYS
KEYS = None
QUERY = ("GET /addons/get_addons.php/get_addons.php?addon=Update%20List&product=ZandroReader"
         "&version=9.1&build=0.5096&platform=x86&EmbededLanguage=en_us HTTP/1.1")
PACKAGE_PATH = "/packages/zandro-9.2.0.1.pkg"
QUERY_FILE = "addons/get_addons.php/get_addons.php"


class PassFixture:
    """A package built with zandro-pack, served by nginx with a catalogue, and a private
    settings store, temporary folder and install folder for the passes of one test."""

    NGINX_DIRECTIVES = ""
    TLS = None  # "ca": https with a certificate of a test authority; "self-signed"
    TRUST_CA = True  # hand the test authority to the updater as its extra authority

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
        self.ca = bed.TestCA(os.path.join(self.session.base, "ca"),
                             self_signed=self.TLS == "self-signed") if self.TLS else None
        self.nginx = bed.Nginx(self.session.www, os.path.join(self.session.base, "nginx"),
                               self.NGINX_DIRECTIVES, tls=self.ca)
        os.makedirs(self.nginx.work)
        self.nginx.start()
        self.addCleanup(self.nginx.stop)
        self.addCleanup(self.session.cleanup)

    def offer(self, result="true", url=None):
        size = os.path.getsize(self.package)
        bed.write_catalogue(self.session.www, [dict(
            name="Zandro Reader", version="9.2.0.1", description="Zandro Reader 9.2",
            size=f"{size}B", url=url or self.nginx.url(PACKAGE_PATH),
            result=result, module_type="reader")])

    def configure(self, manual=True):
        param = 'type:"Update List",product:"ZandroReader",version:"9.1.0.5096"'
        if manual:
            param += ',updater:"Manual"'
        self.session.write_settings(param, old_path=self.session.install)

    UPDATER_PROGRAM = "plain"  # "signed": the build that trusts the test keys

    def run_pass(self, answers, timeout=120, catalogue_host=None, **options):
        """Runs the updater, pressing the given keys on its message dialogs in order; options
        go to bed.run_pass (cwd, on_dialog)."""
        program = SIGNED_UPDATER if self.UPDATER_PROGRAM == "signed" else UPDATER
        host = catalogue_host or f"{self.nginx.scheme}://127.0.0.1:{self.nginx.port}"
        env = self.session.env(host, self.display.name)
        if self.ca and self.ca.ca and self.TRUST_CA:
            env["ZANDRO_EXTRA_CA_FILE"] = self.ca.ca
        result = bed.run_pass(program, env, self.display, answers,
                              os.path.join(self.session.base, "updater.log"), timeout, **options)
        if result.exit_code is None:
            self.fail("the updater did not end; dialogs answered: %r" % result.dialogs)
        return result

    def reinstall_old_version(self):
        """Puts the machine back as it was before the pass installed 9.2.0.1, so that the same
        offer counts as new again: the installer's record and the updater's record of the
        versions it installed go."""
        os.remove(os.path.join(self.session.install, "installer.log"))
        record = os.path.join(self.session.state, "zandro-updater", "installed-versions")
        if os.path.exists(record):
            os.remove(record)

    def unpacked(self, name):
        return os.path.join(self.session.tmp, "ZandroQuillet", "uncompress", name)

    def assert_installed_everything(self, calls):
        # zandro-pack lists the files in Setup.xml in the order they were given.
        expected = [("1", self.unpacked(name), hashlib.sha256(data).hexdigest())
                    for name, data in self.files.items()]
        self.assertEqual(calls, expected)

    def package_requests(self):
        return [r for r in self.nginx.requests() if r[0] == f"GET {PACKAGE_PATH} HTTP/1.1"]

    def damage_package(self):
        with open(self.package, "r+b") as f:
            f.seek(40)
            byte = f.read(1)
            f.seek(40)
            f.write(bytes([byte[0] ^ 0x01]))


class UpdatePassTest(PassFixture, unittest.TestCase):
    def test_interactive_pass_installs_each_file_and_a_second_pass_skips_the_download(self):
        self.offer()
        self.configure(manual=True)
        first = self.run_pass(["Return"] * 4)
        self.assertEqual(first.exit_code, 0, first.log)
        # The question, one confirmation per file, and the closing word.
        self.assertEqual(first.dialogs, ["Return"] * 4, first.log)
        self.assertEqual(first.presence, b"UpdaterRuning")
        self.assert_installed_everything(self.session.installer_calls())
        requests = self.nginx.requests()
        self.assertEqual(requests[0], (QUERY, "-", "200"))
        self.assertEqual(requests[1], (f"GET {PACKAGE_PATH} HTTP/1.1", "bytes=0-", "206"))
        self.assertEqual(len(requests), 2)

        # The package is still in the download folder with the announced size.
        self.reinstall_old_version()
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

    def test_damaged_package_is_deleted_and_downloaded_again_next_time(self):
        with open(self.package, "rb") as f:
            good = f.read()
        self.damage_package()
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return", "Return"])
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(run.dialogs, ["Return", "Return"])  # the question, then the failure
        self.assertIn("Uncompress Failed", run.log)
        self.assertEqual(failure_lines(run.log), [
            "cannot unpack %s: checksum mismatch (-2)" % self.cached_package()])
        self.assertEqual(self.session.installer_calls(), [])
        self.assertFalse(os.path.exists(self.cached_package()))

        # No poisoned cache: once the server has the right package, the next pass fetches it.
        with open(self.package, "wb") as f:
            f.write(good)
        again = self.run_pass(["Return", "Return", "Return"])
        self.assertEqual(again.exit_code, 0, again.log)
        self.assert_installed_everything(self.session.installer_calls())
        self.assertEqual(len(self.package_requests()), 2)

    def cached_package(self):
        return os.path.join(self.session.tmp, "ZandroQuillet", os.path.basename(PACKAGE_PATH))


OTHER_UID = 64123  # a user id that no account on a test machine has


def as_other_user(*command):
    """Runs a command as another local user, as an attacker sharing the machine would."""
    subprocess.run(["setpriv", f"--reuid={OTHER_UID}", f"--regid={OTHER_UID}", "--clear-groups",
                    *command], check=True)


class PrivateFolderTest(PassFixture, unittest.TestCase):
    """The working folder is this user's alone: planted links are never written through,
    another user's folder is passed over for a private one, and passes never mix their files."""

    def setUp(self):
        super().setUp()
        # The temporary folder is shared like /tmp: anybody may create in it.
        os.chmod(self.session.base, 0o755)
        os.chmod(self.session.tmp, 0o1777)
        self.victim = os.path.join(self.session.base, "victim")
        os.makedirs(self.victim)
        self.victim_file = os.path.join(self.victim, "notes.txt")
        with open(self.victim_file, "w") as f:
            f.write("precious\n")
        self.work = os.path.join(self.session.tmp, "ZandroQuillet")

    def assert_victim_untouched(self):
        with open(self.victim_file) as f:
            self.assertEqual(f.read(), "precious\n")
        self.assertEqual(sorted(os.listdir(self.victim)), ["notes.txt"])

    def test_planted_links_are_never_followed(self):
        names = ["update_tmpfile.xml", os.path.basename(PACKAGE_PATH),
                 os.path.basename(PACKAGE_PATH) + ".record", "uncompress"]
        for dangling in (False, True):
            with self.subTest(dangling=dangling):
                shutil.rmtree(self.work, ignore_errors=True)
                os.makedirs(self.work, mode=0o700)
                for name in names:
                    target = os.path.join(self.victim, "new-" + name) if dangling \
                        else self.victim_file
                    os.symlink(target, os.path.join(self.work, name))
                self.offer()
                self.configure(manual=False)
                run = self.run_pass(["Return", "Return"])
                self.assertEqual(run.exit_code, 0, run.log)
                self.assert_installed_everything(self.session.installer_calls())
                self.assert_victim_untouched()
                for name in names:
                    self.assertFalse(os.path.islink(os.path.join(self.work, name)), name)
                self.reinstall_old_version()

    def test_folder_left_open_to_all_is_made_private(self):
        old = os.umask(0)
        try:
            os.makedirs(os.path.join(self.work, "uncompress"), mode=0o777)
        finally:
            os.umask(old)
        modes = []

        def note_mode(dialog):
            modes.append(os.stat(os.path.join(self.work, "uncompress")).st_mode & 0o777)

        self.offer()
        self.configure(manual=False)
        run = self.run_pass(["Return", "Return"], on_dialog=note_mode)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(os.stat(self.work).st_mode & 0o777, 0o700)
        # Private while the files wait for the installer, and gone with the pass.
        self.assertEqual(modes, [0o700, 0o700])
        self.assertFalse(os.path.exists(os.path.join(self.work, "uncompress")))
        self.assert_installed_everything(self.session.installer_calls())

    def test_another_users_folder_is_passed_over(self):
        if os.geteuid() != 0:
            self.skipTest("playing another user needs root")
        # The other user gets there first and plants a link to the victim's file.
        as_other_user("mkdir", "-m", "0777", self.work)
        as_other_user("ln", "-s", self.victim_file,
                      os.path.join(self.work, os.path.basename(PACKAGE_PATH)))
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return", "Return", "Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertIn("working folder refused: " + self.work, run.log)
        fallback = os.path.join(self.session.cache, "zandro-updater", "uncompress")
        self.assertEqual([c[1] for c in self.session.installer_calls()],
                         [os.path.join(fallback, name) for name in self.files])
        self.assert_victim_untouched()
        self.assertEqual(os.stat(self.work).st_uid, OTHER_UID)

    def test_a_second_pass_ends_at_once_and_leaves_the_first_alone(self):
        self.offer()
        self.configure(manual=True)
        log_path = os.path.join(self.session.base, "first.log")
        env = self.session.env(f"127.0.0.1:{self.nginx.port}", self.display.name)
        with open(log_path, "w") as log:
            first = subprocess.Popen([UPDATER], stdout=log, stderr=log, env=env)
        try:
            answered = set()

            def next_message(timeout=60):
                deadline = time.time() + timeout
                while time.time() < deadline:
                    for wid, width, height in self.display.windows():
                        if bed.is_message(width, height) and wid not in answered:
                            time.sleep(0.3)
                            answered.add(wid)
                            return wid
                    time.sleep(0.1)
                self.fail("no message dialog appeared")

            self.display.press(next_message(), "Return")  # download it
            waiting = next_message()  # the first "Install" question stays open
            second = bed.run_pass(UPDATER, env, None, [],
                                  os.path.join(self.session.base, "second.log"), FAST + 30)
            self.assertEqual(second.exit_code, 0, second.log)
            self.assertLess(second.seconds, FAST)
            self.assertIn("another update pass is running", second.log)
            self.assertEqual(len(self.package_requests()), 1)
            self.display.press(waiting, "Return")
            self.display.press(next_message(), "Return")
            self.display.press(next_message(), "Return")  # the closing word
            self.assertEqual(first.wait(60), 0)
        finally:
            if first.poll() is None:
                first.kill()
                first.wait()
        self.assert_installed_everything(self.session.installer_calls())


class HttpsTest(PassFixture, unittest.TestCase):
    """Catalogue and package over https from nginx, with a certificate authority made for the
    test and handed to the updater as its one extra authority."""

    TLS = "ca"
    NGINX_DIRECTIVES = "location = /down.pkg { return 302 http://127.0.0.1:@PLAIN_PORT@%s; }" \
        % PACKAGE_PATH

    def test_https_pass_installs(self):
        self.offer()
        self.configure(manual=False)
        run = self.run_pass(["Return", "Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assert_installed_everything(self.session.installer_calls())

    def test_redirect_from_https_to_http_is_refused(self):
        self.offer(url=self.nginx.url("/down.pkg"))
        self.configure(manual=True)
        run = self.run_pass(["Return", "Return"])
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(len(run.dialogs), 2)
        lines = failure_lines(run.log)
        self.assertEqual(len(lines), 1, run.log)
        self.assertTrue(lines[0].endswith("refused a redirect from https to http"), lines[0])
        self.assertEqual(self.session.installer_calls(), [])


class UntrustedCertificateTest(PassFixture, unittest.TestCase):
    TLS = "self-signed"

    def test_self_signed_certificate_fails_with_its_reason(self):
        self.offer()
        self.configure(manual=True)
        run = self.run_pass(["Return"])
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(len(run.dialogs), 1)
        lines = failure_lines(run.log)
        self.assertEqual(len(lines), 1, run.log)
        self.assertTrue(lines[0].startswith("update check: TLS: "), lines[0])
        self.assertIn("self signed", lines[0].lower().replace("-", " "))


def sign(path, key="trusted1", name="Zandro Reader", version="9.2.0.1", comment=None,
         legacy=False):
    """Signs path with a throwaway test key into path + ".minisig", as a publisher would: the
    trusted comment binds the module name and version, unless comment replaces it ("" keeps
    minisign's own default comment)."""
    if comment is None:
        comment = f'zandro-package name="{name}" version={version}'
    subprocess.run(["minisign", "-S", *(["-l"] if legacy else []),
                    "-s", os.path.join(KEYS, key + ".key"), "-m", path,
                    "-x", path + ".minisig", *(["-t", comment] if comment else [])],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


NOT_THE_FORM = 'trusted comment is not of the form zandro-package name="NAME" version=VERSION'


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class SignedUpdateTest(PassFixture, unittest.TestCase):
    """The build with keys: over https, no byte reaches installUpdate unless a built-in key
    signed the package, in the prehashed form, for the offered module name and version."""

    TLS = "ca"
    UPDATER_PROGRAM = "signed"

    def offer_signed(self, digest=None, offered_version="9.2.0.1", **signing):
        sign(self.package, **signing)
        size = os.path.getsize(self.package)
        module = dict(name="Zandro Reader", version=offered_version,
                      description="Zandro Reader 9.2", size=f"{size}B",
                      url=self.nginx.url(PACKAGE_PATH), result="true", module_type="reader")
        if digest:
            module["sha256"] = digest
        bed.write_catalogue(self.session.www, [module])

    def assert_nothing_left(self):
        self.assertEqual(self.session.installer_calls(), [])
        cached = os.path.join(self.session.tmp, "ZandroQuillet", os.path.basename(PACKAGE_PATH))
        self.assertFalse(os.path.exists(cached))
        self.assertFalse(os.path.exists(self.unpacked(next(iter(self.files)))))

    def remake_package(self):
        """Makes the server's copy good again for the next row."""
        subprocess.run([PACK, "create", "--preset", "1", self.package,
                        *[os.path.join(self.session.base, "src", n) for n in self.files]],
                       check=True)

    def assert_refused(self, run, reason):
        self.assertEqual(run.exit_code, 1, run.log)
        self.assertEqual(len(run.dialogs), 2, run.log)  # the question and the failure
        lines = failure_lines(run.log)
        self.assertEqual(len(lines), 1, run.log)
        self.assertIn(reason, lines[0])
        self.assert_nothing_left()

    def test_signed_package_installs(self):
        for key in ("trusted1", "trusted2"):
            with self.subTest(key=key):
                self.offer_signed(digest=sha256_of(self.package), key=key)
                self.configure(manual=True)
                run = self.run_pass(["Return"] * 4)
                self.assertEqual(run.exit_code, 0, run.log)
                self.assert_installed_everything(self.session.installer_calls())
                self.reinstall_old_version()
                shutil.rmtree(os.path.join(self.session.tmp, "ZandroQuillet"))

    def test_refusals(self):
        rows = [
            ("tampered package", dict(), "tamper", "package does not match its signature"),
            ("no signature", dict(), "unsigned", "download of the signature http"),
            ("key not built in", dict(key="untrusted"), None, "signature made with an unknown key"),
            ("legacy form", dict(legacy=True), None,
             "legacy signature: only the prehashed form (ED) is accepted"),
            ("older version signed", dict(version="9.2.0.0"), None,
             "signed for version 9.2.0.0, not 9.2.0.1"),
            ("signed for another module", dict(name="Zandro OCR_Engine plug-in"), None,
             'signed for module "Zandro OCR_Engine plug-in", not "Zandro Reader"'),
            ("minisign's default comment", dict(comment=""), None, NOT_THE_FORM),
            ("free-form comment naming the version", dict(comment="Zandro Reader 9.2.0.1"), None,
             NOT_THE_FORM),
            ("another module in free form", dict(comment="Zandro OCR_Engine plug-in 9.2.0.1"),
             None, NOT_THE_FORM),
            ("digest mismatch", dict(digest="0" * 64), None,
             "its SHA-256 does not match the catalogue's"),
        ]
        for name, signing, change, reason in rows:
            with self.subTest(row=name):
                self.offer_signed(**signing)
                if change == "tamper":
                    with open(self.package, "r+b") as f:
                        f.seek(-1, os.SEEK_END)
                        last = f.read(1)
                        f.seek(-1, os.SEEK_END)
                        f.write(bytes([last[0] ^ 0x01]))
                elif change == "unsigned":
                    os.remove(self.package + ".minisig")
                self.configure(manual=True)
                self.assert_refused(self.run_pass(["Return"] * 2), reason)
                self.remake_package()

    def test_a_word_of_the_comment_offered_as_the_version_installs_nothing(self):
        # Such a version is not newer than the installed 9.1.0.5096, so the offer may be dropped
        # before any download; if it reaches the signature check instead, it is refused there.
        rows = [
            ("last word of minisign's default comment", dict(comment=""), "hashed"),
            ("first word of a free-form comment", dict(comment="Zandro Reader 9.2.0.1"), "Zandro"),
            ("second word of a free-form comment", dict(comment="Zandro Reader 9.2.0.1"),
             "Reader"),
        ]
        for name, signing, offered in rows:
            with self.subTest(row=name):
                self.offer_signed(offered_version=offered, **signing)
                self.configure(manual=True)
                fetched = len(self.package_requests())
                run = self.run_pass(["Return"] * 2)
                lines = failure_lines(run.log)
                if run.exit_code == 0:  # dropped: "up to date", the package never fetched
                    self.assertEqual(lines, [], run.log)
                    self.assertEqual(len(self.package_requests()), fetched)
                else:
                    self.assertEqual(run.exit_code, 1, run.log)
                    self.assertEqual(len(lines), 1, run.log)
                    self.assertIn(NOT_THE_FORM, lines[0])
                self.assert_nothing_left()

    def test_cached_package_altered_on_disk_is_downloaded_again(self):
        self.offer_signed()
        self.configure(manual=False)
        first = self.run_pass(["Return"] * 2)
        self.assertEqual(first.exit_code, 0, first.log)
        cached = os.path.join(self.session.tmp, "ZandroQuillet", os.path.basename(PACKAGE_PATH))
        with open(cached, "r+b") as f:  # same size, one byte changed
            f.seek(-1, os.SEEK_END)
            last = f.read(1)
            f.seek(-1, os.SEEK_END)
            f.write(bytes([last[0] ^ 0x01]))
        self.reinstall_old_version()
        second = self.run_pass(["Return"] * 2)
        self.assertEqual(second.exit_code, 0, second.log)
        self.assertIn("cached package refused, downloading it again", second.log)
        self.assert_installed_everything(self.session.installer_calls())
        self.assertEqual(len(self.package_requests()), 2)


def crc32_package(data):
    """The package header's checksum: CRC-32 with polynomial 0x19780625, most significant bit
    first, initial value 0, no final XOR."""
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x19780625) if c & 0x80000000 else (c << 1)
        table.append(c & 0xFFFFFFFF)
    crc = 0
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ table[(crc >> 24) ^ b]
    return crc


def failure_lines(log):
    """The reasons of the log's "update failed: " lines."""
    marker = ": update failed: "
    return [line.split(marker, 1)[1] for line in log.splitlines() if marker in line]


# Failure rows: (name, catalogue, package url, modes, expected reason start, bound in seconds).
# catalogue: "nginx" (the real one), "down", "404", "html", or a misbehaving server path that
# answers every request. package: a path on nginx, "script:<path>" on the misbehaving server,
# "refused", or a whole address. A row known at once must end well inside the old 60 s.
FAST = 40
FAILURES = [
    ("catalogue down", "down", None, "MA", "update check: Connection refused", FAST),
    ("catalogue 404", "404", None, "MA", "update check: the server answered 404 Not Found", FAST),
    ("catalogue 500", "/status/500", None, "MA", "update check: the server answered 500", FAST),
    ("catalogue silent", "silent", None, "M", "update check: no answer within 10 s", 45),
    ("captive portal", "html", None, "MA", "update check: the answer is not an update list", FAST),
    ("package 404", "nginx", "/packages/missing.pkg", "MA",
     "download of http://127.0.0.1:{nginx}/packages/missing.pkg: the server answered 404", FAST),
    ("package 500", "nginx", "script:/status/500", "M", "download of", FAST),
    ("package refused", "nginx", "refused", "MA", "download of", FAST),
    ("reset mid-body", "nginx", "script:/reset/300000/100000", "M", "download of", FAST),
    ("short body", "nginx", "script:/drop/300000/100000", "A", "download of", FAST),
    ("stall after the headers", "nginx", "script:/stall/300000/0", "M", "download of", 90),
    ("stall mid-body", "nginx", "script:/stall/300000/100000", "A", "download of", 90),
    ("sixth redirect", "nginx", "script:/redirect/6", "M", "download of", FAST),
    ("gzip body", "nginx", "script:/gzip/1000000", "A", "download of", FAST),
    ("ftp address", "nginx", "ftp://127.0.0.1/zandro.pkg", "MA",
     "download: the package address is not an http or https address", FAST),
    ("file address", "nginx", "file:///etc/passwd", "M",
     "download: the package address is not an http or https address", FAST),
    ("address of the unpack folder", "nginx", "/packages/uncompress", "M",
     "download: the package address names no file", FAST),
]


class FailureRouteTest(PassFixture, unittest.TestCase):
    """Every failure ends the pass by itself, says why once in the log, shows one message in an
    interactive pass and none in an automatic one, exits with 1, and leaves no package behind."""

    def catalogue_host(self, catalogue, servers):
        if catalogue == "nginx":
            return None
        if catalogue == "down":
            return f"127.0.0.1:{bed.free_port()}"
        if catalogue == "404":
            os.remove(os.path.join(self.session.www, QUERY_FILE))
            return None
        if catalogue == "html":
            with open(os.path.join(self.session.www, QUERY_FILE), "w") as f:
                f.write("<!DOCTYPE html>\n<html><head><title>Sign in</title></head>"
                        "<body><form>Wi-Fi</form></body></html>\n")
            return None
        server = bed.ScriptServer("--silent") if catalogue == "silent" else \
            bed.ScriptServer("--default", catalogue)
        servers.append(server)
        return f"127.0.0.1:{server.port}"

    def package_url(self, package, servers):
        if package is None:
            return None
        if package == "refused":
            return f"http://127.0.0.1:{bed.free_port()}/zandro.pkg"
        if package.startswith("script:"):
            if not servers:
                servers.append(bed.ScriptServer())
            return servers[-1].url(package[len("script:"):])
        if package.startswith("/"):
            return f"http://127.0.0.1:{self.nginx.port}{package}"
        return package

    def test_failures(self):
        for name, catalogue, package, modes, reason, bound in FAILURES:
            for mode in modes:
                with self.subTest(row=name, mode="interactive" if mode == "M" else "automatic"):
                    servers = []
                    try:
                        self.offer(url=self.package_url(package, servers))
                        host = self.catalogue_host(catalogue, servers)
                        self.configure(manual=mode == "M")
                        run = self.run_pass(["Return"] * 3, timeout=bound + 30,
                                            catalogue_host=host)
                    finally:
                        for server in servers:
                            server.stop()
                    self.assertLess(run.seconds, bound, run.log)
                    self.assertEqual(run.exit_code, 1, run.log)
                    lines = failure_lines(run.log)
                    self.assertEqual(len(lines), 1, run.log)
                    self.assertTrue(lines[0].startswith(reason.format(nginx=self.nginx.port)),
                                    lines[0])
                    # Support can read the same line in the log file alone.
                    log_file = os.path.join(self.session.state, "zandro-updater", "updater.log")
                    with open(log_file, errors="replace") as f:
                        self.assertEqual(failure_lines(f.read())[-1], lines[0])
                    # The question (package rows), then the one failure message.
                    shown = 0 if mode == "A" else (1 if package is None else 2)
                    self.assertEqual(len(run.dialogs), shown, run.log)
                    self.assertEqual(self.session.installer_calls(), [])
                    downloads = os.path.join(self.session.tmp, "ZandroQuillet")
                    leftovers = [n for n in os.listdir(downloads)
                                 if n not in ("update_tmpfile.xml", "updater.lock")] \
                        if os.path.isdir(downloads) else []
                    self.assertEqual(leftovers, [], run.log)
                    bed.write_catalogue(self.session.www, [])

    def test_redirect_is_followed(self):
        self.offer(url=f"http://127.0.0.1:{self.nginx.port}/moved.pkg")
        self.configure(manual=False)
        run = self.run_pass(["Return", "Return"])
        self.assertEqual(run.exit_code, 0, run.log)
        self.assert_installed_everything(self.session.installer_calls())

    NGINX_DIRECTIVES = f"location = /moved.pkg {{ return 302 {PACKAGE_PATH}; }}"

    def test_lzma_bombs_are_refused_with_bounded_disk_and_memory(self):
        # A few kilobytes that decode to 64 MiB behind a table of 1000 bytes, and a header that
        # asks for a 1.5 GiB dictionary.
        src = os.path.join(self.session.base, "bomb")
        os.makedirs(src)
        with open(os.path.join(src, "zeros"), "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["xz", "--format=lzma", "-1", os.path.join(src, "zeros")], check=True)
        with open(os.path.join(src, "one"), "wb") as f:
            f.write(bytes(1000))
        for kind in ("end marker", "dictionary"):
            with self.subTest(kind=kind):
                subprocess.run([PACK, "create", "--no-setup", "--stream",
                                os.path.join(src, "zeros.lzma"), self.package,
                                os.path.join(src, "one")], check=True)
                if kind == "dictionary":
                    with open(self.package, "r+b") as f:
                        data = bytearray(f.read())
                        data[29:33] = (0x60000000).to_bytes(4, "little")
                        crc = crc32_package(bytes(data[28:]))
                        data[8:12] = crc.to_bytes(4, "little")
                        f.seek(0)
                        f.write(data)
                self.offer()
                self.configure(manual=False)
                run = self.run_pass([], timeout=FAST + 30)
                self.assertEqual(run.exit_code, 1, run.log)
                self.assertLess(run.seconds, FAST, run.log)
                lines = failure_lines(run.log)
                self.assertEqual(len(lines), 1, run.log)
                self.assertIn("cannot unpack", lines[0])
                if kind == "dictionary":
                    self.assertIn("LZMA dictionary of 1610612736 bytes refused", run.log)
                else:
                    self.assertIn("beyond the 1000 bytes it may give", run.log)
                # Far below the dictionary it asked for, even with the sanitizers' own overhead.
                self.assertLess(run.max_rss_kb, 600 * 1024)
                self.assertFalse(os.path.exists(self.unpacked("one")))

    def test_fifo_settings_file_is_no_store(self):
        folder = os.path.join(self.session.config, "Zandro Software")
        os.makedirs(folder, exist_ok=True)
        os.mkfifo(os.path.join(folder, "Zandro Reader.conf"))
        run = self.run_pass([], timeout=FAST + 30)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertLess(run.seconds, FAST)
        self.assertEqual(run.dialogs, [])
        self.assertEqual(failure_lines(run.log), [])
        self.assertIn("settings store is not a regular file, ignored", run.log)


def main(argv=None):
    """Runs the unittest classes of the calling module with the programs named on the command
    line; the other end-to-end files share this fixture and call it too."""
    global UPDATER, PACK, SIGNED_UPDATER, KEYS
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--signed-updater", required=True)
    parser.add_argument("--keys", required=True)
    args, rest = parser.parse_known_args(argv)
    UPDATER, PACK = args.updater, args.pack
    SIGNED_UPDATER, KEYS = args.signed_updater, args.keys
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
