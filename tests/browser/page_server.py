#!/usr/bin/env python3
"""Serves the browser test's page on 127.0.0.1 and records what the page
reports. Usage: page_server.py PORT AGENT_PORT REPORT_FILE"""
import http.server
import sys
import urllib.parse

port, agent_port, report_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]

PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>trust test</title></head><body>
<pre id="result">pending</pre>
<script>
function ask(url, headers) {
  try {
    const xhr = new XMLHttpRequest();
    xhr.open("POST", url, false);
    xhr.setRequestHeader("Content-Type", "text/plain");
    for (const [k, v] of Object.entries(headers)) xhr.setRequestHeader(k, v);
    xhr.send("DLLToken=1&ExecMethod=GetVersion");
    return xhr.status + " " + xhr.responseText;
  } catch (e) {
    return "error " + e.name;
  }
}
const agent = "https://localhost:AGENT_PORT/ORVA";
const simple = ask(agent, {});
const preflighted = ask(agent, {"X-Request-With": "test"});
const text = "simple=" + simple + "\\npreflighted=" + preflighted;
document.getElementById("result").textContent = text;
const report = new XMLHttpRequest();
report.open("GET", "/report?" + encodeURIComponent(text), false);
report.send();
</script></body></html>""".replace("AGENT_PORT", str(agent_port))


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/report?"):
            with open(report_file, "w", encoding="utf-8") as f:
                f.write(urllib.parse.unquote(self.path[len("/report?"):]))
            body = b"ok"
        else:
            body = PAGE.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


http.server.HTTPServer(("127.0.0.1", port), Handler).serve_forever()
