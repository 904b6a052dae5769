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

# A headful window sits at a known place, so its questions can be found on screen.
WINDOW = ["--window-position=0,0", "--window-size=1200,800"]
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class Chromium:
    def __init__(self, exe, profile, url, env, headless=True):
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
            [exe] + (FLAGS if headless else FLAGS[1:] + WINDOW) + ["--user-data-dir=" + profile, "--remote-debugging-pipe", url],
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

    # The local-network question under the address bar (headful, on
    # display): "allow" or "block" clicks its button, "dismiss" presses
    # Escape; None asks whether it is showing.
    def prompt(self, display, answer=None):
        buttons = prompt_buttons(display)
        if not buttons or answer is None:
            return bool(buttons)
        env = dict(os.environ, DISPLAY=display)
        if answer == "dismiss":
            subprocess.run(["xdotool", "key", "Escape"], env=env, check=True)
        else:
            x, y = buttons[0] if answer == "block" else buttons[1]
            subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=True)
        return True

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


# The question's two buttons ([Block] [Allow]) are the only two short runs
# of their light blue side by side on one screen row (the tab strip's blue
# spans the window). Returns their centres, or None.
BUTTON_BLUE = (211, 227, 253)


def prompt_buttons(display, width=1280):
    raw = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"],
                         capture_output=True, check=True).stdout
    for y in range(100, min(len(raw) // (3 * width), 600)):
        row = raw[3 * width * y: 3 * width * (y + 1)]
        runs, start = [], None
        for x in range(width + 1):
            blue = x < width and tuple(row[3 * x: 3 * x + 3]) == BUTTON_BLUE
            if blue and start is None:
                start = x
            elif not blue and start is not None:
                runs.append((start, x))
                start = None
        buttons = [(a + b) // 2 for a, b in runs if 40 <= b - a <= 120]
        if len(buttons) == 2 and len(runs) == 2:
            return [(buttons[0], y + 15), (buttons[1], y + 15)]
    return None
