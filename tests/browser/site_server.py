#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for a browser test and writes the body of
each POST /report to REPORT_FILE. Usage: site_server.py FOLDER PORT REPORT_FILE"""
import functools
import http.server
import sys

folder, port, report_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path == "/report":
            with open(report_file + ".tmp", "wb") as f:
                f.write(body)
            import os
            os.replace(report_file + ".tmp", report_file)
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


Handler.extensions_map[".js"] = "text/javascript"
http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=folder)).serve_forever()
