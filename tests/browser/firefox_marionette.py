"""Drives Firefox ESR through its Marionette protocol (Debian ships no
geckodriver): a fresh profile's start, page scripts, chrome scripts (the
permission prompt), quit.

    ff = Firefox(exe, profile, env)          # the profile folder must exist
    ff.navigate("https://shop.example.test/page.html")
    ff.js("return document.title")           # an async function body in the page
    ff.chrome_js("return Services.appinfo.version")
    ff.quit()
"""
import json
import os
import socket
import subprocess
import time

PORT = 2828  # only inside the test's own network namespace

# Keeps Firefox from reaching for the network, and Marionette on.
PREFS = {
    "marionette.port": PORT,
    "browser.shell.checkDefaultBrowser": False,
    "browser.aboutwelcome.enabled": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.enabled": False,
    "extensions.update.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "network.trr.mode": 5,
    "services.settings.server": "https://127.0.0.1:9/",
}


class Marionette:
    def __init__(self, timeout=60):
        deadline = time.time() + timeout
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=5)
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.2)
        self.sock.settimeout(120)
        self.buffer = b""
        self.last_id = 0
        self._read()  # the greeting

    def _read(self):
        while b":" not in self.buffer:
            self.buffer += self.sock.recv(65536)
        size, rest = self.buffer.split(b":", 1)
        while len(rest) < int(size):
            rest += self.sock.recv(65536)
        self.buffer = rest[int(size):]
        return json.loads(rest[: int(size)])

    def send(self, name, params=None):
        self.last_id += 1
        message = json.dumps([0, self.last_id, name, params or {}]).encode()
        self.sock.sendall(str(len(message)).encode() + b":" + message)
        while True:
            reply = self._read()
            if reply[0] == 1 and reply[1] == self.last_id:
                break
        if reply[2]:
            raise RuntimeError("%s: %s" % (name, reply[2]))
        return reply[3]


class Firefox:
    def __init__(self, exe, profile, env):
        with open(os.path.join(profile, "user.js"), "a", encoding="utf-8") as f:
            for key, value in PREFS.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value)))
        # Chrome scripts (answering the prompt) need system access.
        env = dict(env, MOZ_REMOTE_ALLOW_SYSTEM_ACCESS="1")
        self.log = open(os.path.join(profile, "..", "firefox.log"), "w")
        self.proc = subprocess.Popen(
            [exe, "--headless", "--marionette", "--no-remote", "--profile", profile, "about:blank"],
            env=env, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            self.m = Marionette()
            self.m.send("WebDriver:NewSession", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": False}}})
            self.m.send("WebDriver:SetTimeouts", {"script": 120000, "pageLoad": 60000})
        except Exception:
            self.proc.kill()
            raise

    def navigate(self, url):
        self.m.send("WebDriver:Navigate", {"url": url})

    def new_tab(self):
        handle = self.m.send("WebDriver:NewWindow", {"type": "tab"})["handle"]
        self.m.send("WebDriver:SwitchToWindow", {"handle": handle})

    def js(self, body, args=None):
        script = "return (async () => {%s})()" % body
        return self.m.send("WebDriver:ExecuteScript", {"script": script, "args": args or []})["value"]

    def chrome_js(self, body, args=None):
        self.m.send("Marionette:SetContext", {"value": "chrome"})
        try:
            return self.js(body, args)
        finally:
            self.m.send("Marionette:SetContext", {"value": "content"})

    # The local-network question of the selected tab: "allow" or "block"
    # clicks its button; None asks whether it is showing.
    def prompt(self, answer=None):
        return self.chrome_js("""
          const win = Services.wm.getMostRecentWindow("navigator:browser");
          const shown = win.PopupNotifications.getNotification("loopback-network", win.gBrowser.selectedBrowser);
          if (!shown || arguments[0] === null) return !!shown;
          const element = win.PopupNotifications.panel.querySelector("popupnotification");
          (arguments[0] === "allow" ? element.button : element.secondaryButton).click();
          return true;""", [answer])

    def quit(self):
        try:
            self.m.send("Marionette:Quit", {"flags": ["eForceQuit"]})
        except Exception:
            pass
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
