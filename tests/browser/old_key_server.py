#!/usr/bin/env python3
"""A server that presents the certificate and key every earlier version of
the agent shipped (anyone could extract them) and answers like the agent,
on 127.0.0.1 and ::1: what another local user could run on the agent's
port. Every request body it receives is appended to LOG_FILE; it prints
READY once it listens.
Usage: old_key_server.py PORT CERT_PEM KEY_PEM LOG_FILE TOKEN_LABEL"""
import http.server
import json
import socket
import ssl
import sys
import threading
import urllib.parse

port, cert, key, log_file, label = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
lock = threading.Lock()


def answer(fields):
    if "InitDLL" in fields:
        return "||0||4242||"
    method = fields.get("ExecMethod", "")
    if method == "get_get_enumerate_slots":
        return "||0||" + json.dumps([{"index": 0, "label": label, "manufacturer": "x", "model": "x", "serial": "1"}]) + "||"
    if method == "get_getSignature":
        return "||0||MAA=||"
    if fields.get("DLLToken") == "0":
        return "||-1||no such token||"
    return "||0||0||"


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode("utf-8", "replace")
        with lock, open(log_file, "a", encoding="utf-8") as f:
            f.write(body + "\n")
        fields = {k: v[0] for k, v in urllib.parse.parse_qs(body, keep_blank_values=True).items()}
        out = answer(fields).encode("utf-8")
        self.send_response(200)
        self.send_header("Access-Control-Allow-Origin", self.headers.get("Origin", "*"))
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(out)))
        self.end_headers()
        self.wfile.write(out)

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    def __init__(self, family, address):
        self.address_family = family
        super().__init__((address, port), Handler)


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    server = Server(family, address)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
print("READY", flush=True)
threading.Event().wait()
