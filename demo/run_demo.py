#!/usr/bin/env python3
"""One whole update pass of zandro-updater against a catalogue served over https on loopback.

The demo package (demo/package: two files and their Setup.xml) is packed with zandro-pack and
offered as Zandro Reader 9.2.0.1 to an installed 9.1.0.5096. The reader's settings live in a
private folder, never the user's own, and the installer is demo/installUpdate, which copies
each file it gets into its own "installed" folder. With a display the user answers the windows;
without one the pass runs on a private Xvfb display and xdotool answers OK/Install.

The catalogue and the package are served by nginx over https, with a certificate from an
authority made for this run, and the package is signed with a throwaway minisign key. The
updater run is the build's zandro-updater-test, which trusts the build folder's throwaway keys and,
through ZANDRO_EXTRA_CA_FILE, this run's authority; the default zandro-updater trusts neither.
Exit status: 0 when every packaged file reached the installer intact, 1 otherwise.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import zandro_testbed as bed  # noqa: E402

INSTALLED_VERSION = "9.1.0.5096"
OFFERED_VERSION = "9.2.0.1"
PACKAGE_PATH = "/packages/zandro-reader-9.2.0.1.pkg"


def say(text=""):
    print(text, flush=True)


def packaged_files():
    """The names Setup.xml lists, in order, and the demo file each one is."""
    setup = os.path.join(HERE, "package", "Setup.xml")
    names = [e.get("name") for e in ElementTree.parse(setup).getroot() if e.tag == "file"]
    return setup, names


def pack(pack_tool, package):
    setup, names = packaged_files()
    os.makedirs(os.path.dirname(package), exist_ok=True)
    subprocess.run([pack_tool, "create", package, setup,
                    *[os.path.join(HERE, "package", n) for n in names]],
                   check=True, stdout=subprocess.DEVNULL)
    return names


def same_content(a, b):
    try:
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    except OSError:
        return False


def env(session, nginx, authority, display=None):
    """The updater's environment: the private folders, the https catalogue, this run's
    certificate authority as the one extra authority."""
    values = session.env(f"https://127.0.0.1:{nginx.port}", display)
    values["ZANDRO_EXTRA_CA_FILE"] = authority.ca
    return values


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--key", required=True,
                        help="the minisign secret key to sign with (one the updater trusts)")
    args = parser.parse_args()
    updater = os.path.abspath(args.updater)

    # A terminal's Ctrl-C or a kill still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    session = bed.Session(prefix="zandro-demo-")
    nginx = display = None
    try:
        installer = os.path.join(session.install, "installUpdate")
        shutil.copyfile(os.path.join(HERE, "installUpdate"), installer)
        os.chmod(installer, 0o755)

        package = os.path.join(session.www, PACKAGE_PATH.lstrip("/"))
        names = pack(args.pack, package)
        size = os.path.getsize(package)
        # Signed as a publisher would: for exactly the module name and version the catalogue
        # offers, which the trusted comment binds.
        subprocess.run([args.pack, "sign", "--key", args.key, "--name", "Zandro Reader",
                        "--version", OFFERED_VERSION, package], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        authority = bed.TestCA(os.path.join(session.base, "ca"))
        nginx = bed.Nginx(session.www, os.path.join(session.base, "nginx"), tls=authority)
        os.makedirs(nginx.work)
        nginx.start()
        url = nginx.url(PACKAGE_PATH)
        bed.write_catalogue(session.www, [dict(
            name="Zandro Reader", version=OFFERED_VERSION,
            description="Zandro Reader 9.2: the demo update.", size=f"{size}B", url=url,
            result="true", module_type="reader")])
        session.write_settings(
            f'type:"Update List",updater:"Manual",product:"ZandroReader",'
            f'version:"{INSTALLED_VERSION}"', old_path=session.install)

        say(f"==> catalogue on https://127.0.0.1:{nginx.port} offers Zandro Reader "
            f"{OFFERED_VERSION} (installed: {INSTALLED_VERSION})")
        say(f"==> package {url} ({size} bytes) holds: {', '.join(names)} and Setup.xml")
        say(f"==> signed with the throwaway key {args.key}; served with a certificate of an "
            f"authority made for this run")
        say(f"==> private settings store: {session.config} (yours is not touched)")

        if os.environ.get("DISPLAY"):
            say("==> running zandro-updater on your display: answer OK to the question,")
            say("    then \"Install\" for each file")
            run = bed.run_pass(updater, env(session, nginx, authority), None, [],
                               os.path.join(session.base, "updater.log"), timeout=600)
        else:
            display = bed.Display().start()
            say(f"==> no DISPLAY: running zandro-updater on a private Xvfb display "
                f"({display.name}); xdotool answers OK and \"Install\"")
            run = bed.run_pass(updater, env(session, nginx, authority, display.name),
                               display, ["Return"] * (2 + len(names)),
                               os.path.join(session.base, "updater.log"), timeout=120)

        say()
        requests = nginx.requests()
        fetched = [r for r in requests if r[0].startswith(f"GET {PACKAGE_PATH} ")]
        say(f"Catalogue queries: {sum(1 for r in requests if 'get_addons.php' in r[0])}, "
            f"package downloads: {len(fetched)}")
        for line in run.log.splitlines():
            for text in ("excute shell:", "excute result:", "Uncompress Failed", "update failed:",
                         "update finished:"):
                if text in line:
                    say("  updater log: " + line[line.index(text):].strip())
        unpacked = os.path.join(session.tmp, "ZandroQuillet", "uncompress")
        say(f"Unpacked into: {unpacked}")

        received = session.installer_calls("received.log")
        say("The installer received:")
        for count, argument in received:
            say(f"  {count} argument(s): {argument}")
        if not received:
            say("  nothing")
        target = os.path.join(session.install, "installed")
        say(f"Files installed into {target}:")
        installed = sorted(os.listdir(target)) if os.path.isdir(target) else []
        for name in installed:
            say(f"  {name} ({os.path.getsize(os.path.join(target, name))} bytes)")
        if not installed:
            say("  none")

        expected = [("1", os.path.join(unpacked, n)) for n in names]
        complete = all(same_content(os.path.join(HERE, "package", n), os.path.join(target, n))
                       for n in names)
        ok = run.exit_code == 0 and received == expected and complete
        say()
        if run.exit_code is None:
            say("zandro-updater did not end in time and was stopped.")
        else:
            say(f"zandro-updater ended with exit code {run.exit_code}.")
        say("The update was installed." if ok else "The update was NOT installed.")
        return 0 if ok else 1
    finally:
        if nginx:
            nginx.stop()
        if display:
            display.stop()
        session.cleanup()
        say(f"(server stopped; the demo's private folder {session.base} is removed)")


if __name__ == "__main__":
    sys.exit(main())
