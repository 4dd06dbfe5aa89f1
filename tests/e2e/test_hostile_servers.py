#!/usr/bin/env python3
"""Servers that lie: replies, notes, sizes and signatures that never end, and a slow drip; each is
cut at its bound and the pass says why.
"""
import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_update_pass as base  # noqa: E402

bed = base.bed
PACKAGE_NAME = os.path.basename(base.PACKAGE_PATH)
# Where the signed rows find a package whose signature is a sparse file of 2 GiB.
SPARSE_PATH = "/sparse/" + PACKAGE_NAME
CATALOGUE_LIMIT = 4 * 1024 * 1024
SIGNATURE_LIMIT = 4097
NOTES = "x" * (1024 * 1024)


class DiskWatch:
    """Records, while it runs, the largest size seen of each file in a folder."""

    def __init__(self, folder):
        self.folder = folder
        self.largest = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            try:
                with os.scandir(self.folder) as entries:
                    for entry in entries:
                        size = entry.stat(follow_symlinks=False).st_size
                        self.largest[entry.name] = max(size, self.largest.get(entry.name, 0))
            except OSError:
                pass  # the folder or a file came or went while it was read
            self._stop.wait(0.001)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


class HostileFixture(base.PassFixture):
    def offer_module(self, url, size=None, description="Zandro Reader 9.2"):
        size = size if size is not None else f"{os.path.getsize(self.package)}B"
        bed.write_catalogue(self.session.www, [dict(
            name="Zandro Reader", version="9.2.0.1", description=description, size=size,
            url=url, result="true", module_type="reader")])

    def work_folder(self):
        return os.path.join(self.session.tmp, "ZandroQuillet")

    def watched_pass(self, mode, bound, host=None):
        """Runs one pass, answering every dialog with Return, while watching the working folder."""
        self.configure(manual=mode == "M")
        os.makedirs(self.work_folder(), mode=0o700, exist_ok=True)
        with DiskWatch(self.work_folder()) as watch:
            run = self.run_pass(["Return"] * 4, timeout=bound + 30, catalogue_host=host)
        return run, watch.largest

    def assert_failed_once(self, run, mode, dialogs, reason, bound):
        self.assertLess(run.seconds, bound, run.log)
        self.assertEqual(run.exit_code, 1, run.log)
        lines = base.failure_lines(run.log)
        self.assertEqual(lines, [reason], run.log)
        log_file = os.path.join(self.session.state, "zandro-updater", "updater.log")
        with open(log_file, errors="replace") as f:
            self.assertEqual(base.failure_lines(f.read())[-1], reason)
        self.assertEqual(len(run.dialogs), 0 if mode == "A" else dialogs, run.log)
        self.assertEqual(self.session.installer_calls(), [])
        leftovers = [n for n in os.listdir(self.work_folder())
                     if n not in ("update_tmpfile.xml", "updater.lock")]
        self.assertEqual(leftovers, [], run.log)


# (name, catalogue or package route on the misbehaving server, catalogue size text, modes,
#  failure reason with {url} for the package address, file watched and its bound, seconds).
# Without their bounds the floods fill the disk and the drip holds the pass for days.
FLOODS = [
    ("catalogue of module elements without end", "catalogue:/endless/modules", None, "MA",
     "update check: the server sent more than the limit of 4194304 bytes",
     "update_tmpfile.xml", CATALOGUE_LIMIT, base.FAST),
    ("package of 1000 bytes announced as 2 GiB", "package:/endless/length/2147483648", "1000B",
     "MA", "download of {url}: the server announced 2147483648 bytes, more than the limit of 1000",
     PACKAGE_NAME, 0, base.FAST),
    ("package of 1000 bytes that never ends", "package:/endless/close", "1000B", "MA",
     "download of {url}: the server sent more than the limit of 1000 bytes",
     PACKAGE_NAME, 1000, base.FAST),
    # A byte every 20 s keeps the 30 s stall from ever firing.
    ("package that drips a byte every 20 s", "package:/drip/300000/20000", "300000B", "A",
     "download of {url}: slower than 1 KiB in 60 s", PACKAGE_NAME, 300000, 150),
]


class FloodTest(HostileFixture, unittest.TestCase):
    """Whatever a server keeps sending, the pass ends by itself with one reason, and no file in
    the working folder grows past the bound of what it holds."""

    def test_floods(self):
        for name, route, size, modes, reason, watched, most, bound in FLOODS:
            kind, path = route.split(":", 1)
            for mode in modes:
                with self.subTest(row=name, mode=mode):
                    server = bed.ScriptServer(*(["--default", path] if kind == "catalogue"
                                                else []))
                    try:
                        url = server.url(path) if kind == "package" else \
                            self.nginx.url(base.PACKAGE_PATH)
                        self.offer_module(url, size=size)
                        host = f"127.0.0.1:{server.port}" if kind == "catalogue" else None
                        run, largest = self.watched_pass(mode, bound, host)
                    finally:
                        server.stop()
                    self.assert_failed_once(run, mode, 1 if kind == "catalogue" else 2,
                                            reason.format(url=url), bound)
                    self.assertLessEqual(largest.get(watched, 0), most, largest)
                    # The reply is refused long before it could be parsed into a tree.
                    self.assertLess(run.max_rss_kb, 600 * 1024)

    def pass_with_long_notes(self, manual, answers):
        self.offer_module(self.nginx.url(base.PACKAGE_PATH), description=NOTES)
        self.configure(manual=manual)
        # Generous: the notes used to keep the window busy for many minutes.
        run = self.run_pass(["Return"] * answers, timeout=120)
        self.assertEqual(run.exit_code, 0, run.log)
        self.assertEqual(len(run.dialogs), answers, run.log)
        self.assert_installed_everything(self.session.installer_calls())
        self.assertEqual(base.failure_lines(run.log), [])

    # The question shows the notes in an interactive pass, the download window in both. One
    # pass per test: an installed version is never offered again.
    def test_a_mebibyte_of_notes_without_a_space_interactive(self):
        self.pass_with_long_notes(True, 4)

    def test_a_mebibyte_of_notes_without_a_space_automatic(self):
        self.pass_with_long_notes(False, 2)


class SignatureFloodTest(HostileFixture, unittest.TestCase):
    """The build with keys over https: a signature that never ends, or announces 2 GiB, is cut
    at 4097 bytes while it downloads and takes the package with it."""

    TLS = "ca"
    UPDATER_PROGRAM = "signed"

    def setUp(self):
        self.script = bed.ScriptServer()
        self.addCleanup(self.script.stop)
        # nginx hands the endless body on as it comes, without keeping it in temporary files.
        self.NGINX_DIRECTIVES = (
            f"location = {base.PACKAGE_PATH}.minisig {{ proxy_buffering off; "
            f"proxy_pass http://127.0.0.1:{self.script.port}/endless/close; }}")
        super().setUp()
        sparse = os.path.join(self.session.www, SPARSE_PATH.lstrip("/"))
        os.makedirs(os.path.dirname(sparse))
        os.link(self.package, sparse)
        with open(sparse + ".minisig", "wb") as f:
            f.truncate(2 << 30)

    def test_signatures_without_end(self):
        rows = [
            ("streamed without end", base.PACKAGE_PATH,
             "the server sent more than the limit of 4097 bytes"),
            ("announced as 2 GiB", SPARSE_PATH,
             "the server announced 2147483648 bytes, more than the limit of 4097"),
        ]
        for name, path, reason in rows:
            for mode in "MA":
                with self.subTest(row=name, mode=mode):
                    url = self.nginx.url(path)
                    self.offer_module(url)
                    run, largest = self.watched_pass(mode, base.FAST)
                    self.assert_failed_once(
                        run, mode, 2, f"download of the signature {url}.minisig: {reason}",
                        base.FAST)
                    self.assertLessEqual(largest.get(PACKAGE_NAME + ".minisig", 0),
                                         SIGNATURE_LIMIT, largest)
                    self.assertFalse(os.path.exists(self.unpacked(next(iter(self.files)))))


if __name__ == "__main__":
    base.main()
