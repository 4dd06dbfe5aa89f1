#!/usr/bin/env python3
"""Serves one file for every GET on 127.0.0.1 and reports each request.

Usage: reply_server.py FILE
Prints "PORT <n>" once listening, then "GET <path and query>" per request, flushing each line.
Stops when its standard input is closed.
"""
import http.server
import sys
import threading


def main():
    body_path = sys.argv[1]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            with open(body_path, "rb") as f:
                body = f.read()
            print("GET " + self.path, flush=True)
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
