#!/usr/bin/env python3
"""A loopback stand-in for the connectivity check Claude Code makes before its first screen,
for tools/record-assistant-sandbox.sh: GET or HEAD of a path ending in /hello answers 200,
everything else 404.

    record-assistant-standin.py CERTIFICATE KEY
"""
import http.server
import ssl
import sys


class Hello(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200 if self.path.split("?")[0].endswith("/hello") else 404)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"{}")

    do_HEAD = do_GET
    do_POST = do_GET

    def log_message(self, *arguments):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Hello)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
