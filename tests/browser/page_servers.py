"""The servers of the public-origin browser test, in threads of the test:
the site on a public-looking address (https and plain http), and on
loopback the two ports that are not the agent: another server, and a server
whose certificate no browser trusts."""
import functools
import http.server
import socket
import ssl
import threading


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler):
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        super().__init__(address, handler)


class _Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class _NotTheAgent(http.server.BaseHTTPRequestHandler):
    """Answers every request 404 with a page and no CORS headers, as a web
    server that happens to hold an agent port would."""

    def _answer(self):
        body = b"<html><body>404 Not Found</body></html>"
        self.send_response(404)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self._answer()

    do_GET = _answer

    def log_message(self, *args):
        pass


def _tls(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def _start(address, handler, context=None):
    server = _Server(address, handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def serve_site(folder, address, cert, key):
    """The site on https://address:443/ and http://address:80/."""
    handler = functools.partial(_Quiet, directory=folder)
    _start((address, 443), handler, _tls(cert, key))
    _start((address, 80), handler)


def serve_on_loopback(port, cert, key):
    """Another server on port (127.0.0.1 and ::1), with this certificate."""
    for host in ("127.0.0.1", "::1"):
        _start((host, port), _NotTheAgent, _tls(cert, key))
