"""Loopback test bed for whole update passes: a catalogue served by nginx, an isolated settings
store and temporary folder, a recording installer, and an X display driven with xdotool.

Used by the end-to-end tests and by demo.sh. Everything binds to 127.0.0.1 only.
"""
import os
import shutil
import socket
import subprocess
import tempfile
import time
from xml.sax.saxutils import quoteattr

QUERY_DIR = "addons/get_addons.php"  # the service is addressed as .../get_addons.php/get_addons.php


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TestCA:
    """A certificate authority made for one run, and a certificate for 127.0.0.1 signed by it.
    With self_signed, the server certificate signs itself and no authority vouches for it."""

    def __init__(self, folder, self_signed=False):
        os.makedirs(folder, exist_ok=True)
        self.ca = os.path.join(folder, "ca.pem")
        self.cert = os.path.join(folder, "server.pem")
        self.key = os.path.join(folder, "server.key")
        ca_key = os.path.join(folder, "ca.key")
        ext = os.path.join(folder, "server.ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                    "extendedKeyUsage=serverAuth\n")
        ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self_signed:
            subprocess.run(["openssl", "req", "-x509", *ec, "-keyout", self.key, "-out",
                            self.cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                            "-addext", "subjectAltName=IP:127.0.0.1"], **quiet)
            self.ca = None
            return
        subprocess.run(["openssl", "req", "-x509", *ec, "-keyout", ca_key, "-out", self.ca,
                        "-days", "2", "-subj", "/CN=Zandro test authority"], **quiet)
        csr = os.path.join(folder, "server.csr")
        subprocess.run(["openssl", "req", *ec, "-keyout", self.key, "-out", csr,
                        "-subj", "/CN=127.0.0.1"], **quiet)
        subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey", ca_key,
                        "-CAcreateserial", "-out", self.cert, "-days", "2", "-extfile", ext],
                       **quiet)


class Nginx:
    """nginx serving a folder on 127.0.0.1; every request is logged with its Range header.
    With tls (a TestCA), it serves https on port and plain http on plain_port."""

    def __init__(self, root, work, directives="", tls=None):
        self.root = root
        self.work = work
        self.tls = tls
        self.plain_port = free_port() if tls else None
        # Extra lines inside the server block; @PLAIN_PORT@ stands for plain_port.
        self.directives = directives.replace("@PLAIN_PORT@", str(self.plain_port))
        self.port = free_port()
        self.access_log = os.path.join(work, "access.log")
        self.proc = None

    def start(self):
        os.makedirs(os.path.join(self.work, "tmp"), exist_ok=True)
        user = "user root root;" if os.geteuid() == 0 else ""
        conf = os.path.join(self.work, "nginx.conf")
        tls = plain = ""
        if self.tls:
            tls = f"ssl_certificate {self.tls.cert}; ssl_certificate_key {self.tls.key};"
            plain = f"server {{ listen 127.0.0.1:{self.plain_port}; root {self.root}; }}"
        with open(conf, "w") as f:
            f.write(f"""{user}
daemon off;
master_process off;
worker_processes 1;
pid {self.work}/nginx.pid;
error_log {self.work}/error.log;
events {{ worker_connections 64; }}
http {{
    log_format probe '$request|$http_range|$status';
    access_log {self.access_log} probe;
    client_body_temp_path {self.work}/tmp/body;
    proxy_temp_path {self.work}/tmp/proxy;
    fastcgi_temp_path {self.work}/tmp/fastcgi;
    uwsgi_temp_path {self.work}/tmp/uwsgi;
    scgi_temp_path {self.work}/tmp/scgi;
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{self.port}{" ssl" if self.tls else ""};
        {tls}
        root {self.root};
        {self.directives}
    }}
    {plain}
}}
""")
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        # -e: the error log is ours from the start, not the system's (which needs root).
        self.proc = subprocess.Popen([nginx, "-e", os.path.join(self.work, "error.log"),
                                      "-c", conf, "-p", self.work],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.05)
        raise RuntimeError("nginx did not start: " + self._error_log())

    def _error_log(self):
        try:
            with open(os.path.join(self.work, "error.log")) as f:
                return f.read()
        except OSError:
            return ""

    @property
    def scheme(self):
        return "https" if self.tls else "http"

    def url(self, path):
        return f"{self.scheme}://127.0.0.1:{self.port}{path}"

    def requests(self):
        """Logged requests as (request line, Range header or '-', status)."""
        try:
            with open(self.access_log) as f:
                return [tuple(line.rstrip("\n").split("|")) for line in f if line.strip()]
        except OSError:
            return []

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class ScriptServer:
    """tests/support/misbehaving_server.py on 127.0.0.1, for what a stock server will not do."""

    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support",
                          "misbehaving_server.py")

    def __init__(self, *args):
        self.proc = subprocess.Popen(["python3", self.SCRIPT, *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline().split()
        if len(line) != 2 or line[0] != "PORT":
            self.stop()
            raise RuntimeError("the script server did not start")
        self.port = int(line[1])

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()


def module_element(**attrs):
    return "  <module " + " ".join(f"{k}={quoteattr(str(v))}" for k, v in attrs.items()) + "/>"


def write_catalogue(root, modules):
    """Writes the catalogue reply (a list of attribute dicts) where the query path finds it."""
    folder = os.path.join(root, QUERY_DIR)
    os.makedirs(folder, exist_ok=True)
    body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modules>\n" + \
        "\n".join(module_element(**m) for m in modules) + "\n</modules>\n"
    with open(os.path.join(folder, "get_addons.php"), "w", encoding="utf-8") as f:
        f.write(body)


RECORDING_INSTALLER = """#!/bin/sh
# Records each call: its argument count, its argument, and the file's content digest.
log="$(dirname "$0")/installer.log"
if [ -f "$1" ]; then sum=$(sha256sum < "$1" | cut -d' ' -f1); else sum=missing; fi
printf '%s\\t%s\\t%s\\n' "$#" "$1" "$sum" >> "$log"
exit 0
"""


class Session:
    """Private folders for one pass: settings store, temporary folder and install folder."""

    def __init__(self, prefix="zandro-pass-"):
        self.base = tempfile.mkdtemp(prefix=prefix)
        self.config = os.path.join(self.base, "config")
        self.tmp = os.path.join(self.base, "tmp")
        # The updater's log file lands under here, never in the user's own state folder.
        self.state = os.path.join(self.base, "state")
        self.install = os.path.join(self.base, "install dir")  # a blank on purpose
        self.www = os.path.join(self.base, "www")
        self.cache = os.path.join(self.base, "cache")
        self.state = os.path.join(self.base, "state")
        for d in (self.config, self.tmp, self.install, self.www, self.cache, self.state):
            os.makedirs(d, exist_ok=True)
        installer = os.path.join(self.install, "installUpdate")
        with open(installer, "w") as f:
            f.write(RECORDING_INSTALLER)
        os.chmod(installer, 0o755)

    def write_settings(self, param, old_path=None):
        folder = os.path.join(self.config, "Zandro Software")
        os.makedirs(folder, exist_ok=True)
        esc = param.replace("\\", "\\\\").replace('"', '\\"')
        lines = ["[General]", f'Quillet_UpdateParam="{esc}"']
        if old_path is not None:
            lines.append(f'Quillet_UpdateOldPath="{old_path}"')
        with open(os.path.join(folder, "Zandro Reader.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def installer_calls(self, log_name="installer.log"):
        """The installer's log lines, split at tabs."""
        log = os.path.join(self.install, log_name)
        if not os.path.exists(log):
            return []
        with open(log) as f:
            return [tuple(line.rstrip("\n").split("\t")) for line in f]

    def env(self, catalogue_host, display=None):
        env = dict(os.environ)
        env.update(XDG_CONFIG_HOME=self.config, XDG_CACHE_HOME=self.cache,
                   XDG_STATE_HOME=self.state, TMPDIR=self.tmp,
                   ZANDRO_CATALOGUE_HOST=catalogue_host)
        env.pop("QT_QPA_PLATFORM", None)
        # The windows need no OpenGL. Without the GLX integration no GL driver is loaded and
        # unloaded again, which under the leak checker reports a leak from a vanished module.
        env.setdefault("QT_XCB_GL_INTEGRATION", "none")
        if display:
            env["DISPLAY"] = display
        return env

    def cleanup(self):
        shutil.rmtree(self.base, ignore_errors=True)


class Display:
    """A private Xvfb display, and xdotool to find and answer the updater's windows."""

    def __init__(self):
        self.proc = None
        self.name = None

    def start(self):
        # -noreset, as on a desktop where the session always holds a connection: a bare Xvfb
        # resets whenever its last client (xdotool polling, say) leaves, refusing clients meanwhile.
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-noreset", "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        return self

    def xdotool(self, *args):
        out = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.name),
                             capture_output=True, text=True, timeout=20)
        return out.stdout

    def windows(self, title="Zandro Updater"):
        """Visible windows with the title, as (id, width, height)."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", title).split():
            geometry = self.xdotool("getwindowgeometry", wid)
            for line in geometry.splitlines():
                if "Geometry:" in line:
                    w, h = line.split(":")[1].strip().split("x")
                    found.append((wid, int(w), int(h)))
        return found

    def press(self, wid, key):
        self.xdotool("windowfocus", "--sync", wid)
        self.xdotool("key", "--clearmodifiers", key)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


# The updater's windows are told apart by their fixed sizes.
MESSAGE_SIZE = (398, 125)


def is_message(width, height):
    """The message box: 398 wide, 125 high, or higher when it shows release notes."""
    return width == MESSAGE_SIZE[0] and height >= MESSAGE_SIZE[1]
DOWNLOAD_SIZE = (604, 222)
PRESENCE_PORT = 8999


def probe_presence():
    """What a client connecting to the updater's presence port receives."""
    try:
        with socket.create_connection(("127.0.0.1", PRESENCE_PORT), timeout=5) as s:
            data = b""
            while True:
                chunk = s.recv(64)
                if not chunk:
                    return data
                data += chunk
    except OSError as e:
        return repr(e).encode()


class Pass:
    """What one run of the updater showed, received and printed."""

    def __init__(self):
        self.dialogs = []          # keys pressed, one per message dialog, in order
        self.download_window = False
        self.presence = None       # the presence reply while the first dialog was up
        self.exit_code = None      # None when the run had to be killed
        self.log = ""
        self.seconds = None        # how long the run took
        self.max_rss_kb = None     # the most memory the process held at once


def _reap(proc, result):
    """True once proc has ended; its exit status and peak memory then go into result."""
    if proc.returncode is not None:
        return True
    pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
    if pid == 0:
        return False
    proc.returncode = os.waitstatus_to_exitcode(status)
    result.max_rss_kb = usage.ru_maxrss
    return True


def run_pass(updater, env, display, answers, log_path, timeout=120, cwd=None, on_dialog=None):
    """Runs the updater on display, pressing the given keys on its message dialogs in order
    ("Escape" once they run out). With display None nothing is answered: somebody else does.
    cwd is the folder it starts in; on_dialog(n), when given, is called before the n-th dialog
    (from 0) is answered, while it waits, as another program on the machine might act."""
    result = Pass()
    keys = list(answers)
    with open(log_path, "w") as log:
        proc = subprocess.Popen([updater], stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                env=env, cwd=cwd)
        started = time.time()
        try:
            answered = set()
            deadline = started + timeout
            while not _reap(proc, result) and time.time() < deadline:
                if display is None:
                    time.sleep(0.1)
                    continue
                for wid, width, height in display.windows():
                    if (width, height) == DOWNLOAD_SIZE:
                        result.download_window = True
                    if not is_message(width, height) or wid in answered:
                        continue
                    if result.presence is None:
                        result.presence = probe_presence()
                    time.sleep(0.3)  # let the dialog settle before typing into it
                    if on_dialog:
                        on_dialog(len(result.dialogs))
                    key = keys.pop(0) if keys else "Escape"
                    result.dialogs.append(key)
                    display.press(wid, key)
                    answered.add(wid)
                time.sleep(0.1)
            if _reap(proc, result):
                result.exit_code = proc.returncode
                result.seconds = time.time() - started
        finally:
            # A run that overstayed, or an interrupted caller, never leaves the updater behind.
            if not _reap(proc, result):
                proc.kill()
                proc.wait()
    with open(log_path, errors="replace") as f:
        result.log = f.read()
    return result
