"""Drives headless Chromium through the DevTools protocol over a pipe
(--remote-debugging-pipe: commands on its descriptor 3, replies on 4, each
a JSON text ended by a NUL byte), so no port and no WebSocket library.

    chromium = Chromium(exe, profile, url, env)
    chromium.js("document.title")     # an expression in the page, awaited
    chromium.quit()
"""
import fcntl
import json
import os
import subprocess
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class Chromium:
    def __init__(self, exe, profile, url, env):
        commands_in, self.commands = os.pipe()
        self.replies, replies_out = os.pipe()
        # Out of the way of 3 and 4 before they are put there in the child.
        commands_in = fcntl.fcntl(commands_in, fcntl.F_DUPFD, 10)
        replies_out = fcntl.fcntl(replies_out, fcntl.F_DUPFD, 10)

        def descriptors():
            os.dup2(commands_in, 3)
            os.dup2(replies_out, 4)

        self.log = open(os.path.join(profile, "..", "chromium.log"), "w")
        self.proc = subprocess.Popen(
            [exe] + FLAGS + ["--user-data-dir=" + profile, "--remote-debugging-pipe", url],
            env=env, stdout=self.log, stderr=subprocess.STDOUT, preexec_fn=descriptors, close_fds=False)
        os.close(commands_in)
        os.close(replies_out)
        self.buffer = b""
        self.last_id = 0
        page = next(t for t in self.send("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.send("Target.attachToTarget", {"targetId": page["targetId"], "flatten": True})["sessionId"]

    def send(self, method, params=None, session=None):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.replies, 65536)
                if not chunk:
                    raise RuntimeError("chromium ended")
                self.buffer += chunk
            text, self.buffer = self.buffer.split(b"\0", 1)
            reply = json.loads(text)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def js(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True, "returnByValue": True},
                           self.session)
        return result["result"].get("value")

    def wait(self, expression, seconds=60):
        """Polls expression until it is true; False when time runs out."""
        for _ in range(seconds * 10):
            try:
                if self.js(expression):
                    return True
            except RuntimeError:
                pass  # the page is still loading
            time.sleep(0.1)
        return False

    def quit(self):
        try:
            self.send("Browser.close")
        except (RuntimeError, OSError):
            pass
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
