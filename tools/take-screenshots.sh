#!/usr/bin/env bash
# Takes screenshots of the updater's three windows from the real program under Xvfb, with a
# window manager so that the title bars and icons show: the checking dialog (against a
# catalogue server that never answers), the question of an interactive pass, and the download
# window of an automatic pass, a third of the way through its package. Needs xvfb-run, openbox and ImageMagick's import.
# With a LOCALE (de_DE, zh_CN, ...) the updater runs under that locale and the files are named
# window-*-LOCALE.png; without one it runs in English (en_US).
#   tools/take-screenshots.sh BUILD_DIR OUT_DIR [LOCALE]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs}")
locale=${3:-}
suffix=${locale:+-$locale}
mkdir -p "$out"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cat >"$work/reply.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<modules>
  <module name="Zandro Reader" version="11.2.0.512" result="true" size="48213504B"
          url="http://127.0.0.1:PORT/ZandroReader_11.2.0.512.zup"
          description="Zandro Reader 11.2 brings faster page rendering, a new comment panel and fixes for printing on network printers."/>
</modules>
XML

# One server that answers with the reply, one that accepts and never answers.
python3 - "$work" <<'PY' &
import http.server, socket, sys, threading, time
work = sys.argv[1]
PACKAGE_SIZE = 48213504
class Reply(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.endswith(".zup"):
            # A third of the package, then nothing: the download window shows a transfer under way.
            self.send_response(200)
            self.send_header("Content-Length", str(PACKAGE_SIZE))
            self.end_headers()
            for _ in range(16):
                self.wfile.write(bytes(1024 * 1024))
                time.sleep(0.05)
            time.sleep(60)
            return
        body = open(work + "/reply.xml", "rb").read()
        body = body.replace(b"PORT", str(self.server.server_address[1]).encode())
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *a):
        pass
reply = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Reply)
silent = socket.socket()
silent.bind(("127.0.0.1", 0))
silent.listen(8)
open(work + "/ports", "w").write("%d %d\n" % (reply.server_address[1], silent.getsockname()[1]))
threading.Thread(target=reply.serve_forever, daemon=True).start()
held = []
while True:
    held.append(silent.accept())
PY
while [ ! -s "$work/ports" ]; do sleep 0.1; done
read -r reply_port silent_port <"$work/ports"

shot() { # name param host crop-geometry
    local name=$1$suffix param=$2 host=$3
    export XDG_CONFIG_HOME="$work/config-$name" TMPDIR="$work/tmp-$name" XDG_STATE_HOME="$work/state-$name"
    mkdir -p "$XDG_CONFIG_HOME/Zandro Software" "$TMPDIR"
    printf '[General]\nQuillet_UpdateParam="%s"\n' "${param//\"/\\\"}" \
        >"$XDG_CONFIG_HOME/Zandro Software/Zandro Reader.conf"
    xvfb-run -a -s "-screen 0 1024x640x24" bash -c '
        openbox & sleep 1
        env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="$4.UTF-8" ZANDRO_CATALOGUE_HOST="$1" \
            "$2/zandro-updater" >/dev/null 2>&1 & sleep 3
        import -window root "$3"
        kill %2 %1 2>/dev/null || true' _ "$host" "$build" "$work/$name.png" "${locale:-en_US}"
    convert "$work/$name.png" -trim +repage -bordercolor white -border 8 "$out/$name.png"
}

shot window-checking 'type:"Update List",updater:"Manual"' "127.0.0.1:$silent_port"
shot window-question 'type:"Update List",updater:"Manual",product:"Reader",version:"11.1.0.100"' \
    "127.0.0.1:$reply_port"
shot window-download 'type:"Update List",updater:"Auto"' "127.0.0.1:$reply_port"
ls -l "$out"
