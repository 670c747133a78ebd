#!/usr/bin/env python3
"""An HTTP server on loopback that is not a CMP server, for the client's
reasons: 'silent' accepts and reads, then never answers; 'status N' answers
every POST with HTTP N and a short text; 'html' answers 200 with a web page.
Prints its URL on standard output once it listens."""

import http.server
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        mode = self.server.mode
        if mode == "silent":
            # Holds the connection open without a byte of answer until the
            # client gives up (or the server is stopped).
            while True:
                time.sleep(60)
        if mode == "html":
            status, kind, body = 200, "text/html", b"<html><body><h1>Sign in</h1></body></html>\n"
        else:
            status, kind, body = int(mode), "text/plain", b"not here\n"
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, fmt, *args):
        sys.stderr.write("not_cmp_server: " + fmt % args + "\n")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: not_cmp_server.py silent|html|STATUS")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.mode = sys.argv[1]
    print("http://127.0.0.1:%d/pkix/" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
