"""The real agent for a Python test: started in the test's own folders with
a session bus of its own, and a client that calls it over TLS the way curl
does (no Origin header), trusting only the user's own authority.

    agent = RealAgent(agent_binary, work); agent.start()
    client = agent.client()
    token = client.init_dll()
    code, value = client.call(token, "Enumerate_slots")
"""
import http.client
import os
import ssl
import subprocess
import time
import urllib.parse

SERVING = "https 服務已經啟動, port = (int)"


def use_test_home(work):
    """HOME and the XDG folders inside `work`, for this process and every
    child (the agent, browsers, tools)."""
    for var, sub in (("HOME", "home"), ("XDG_RUNTIME_DIR", "run"), ("XDG_STATE_HOME", "state"),
                     ("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache")):
        os.environ[var] = os.path.join(work, sub)
        os.makedirs(os.environ[var], mode=0o700, exist_ok=True)
    os.environ["QT_QPA_PLATFORM"] = "offscreen"


def parse_answer(text):
    """"||code||value||" -> (code, value)."""
    if not (text.startswith("||") and text.endswith("||")):
        raise ValueError("not an answer: %r" % text[:200])
    code, _, value = text[2:-2].partition("||")
    return int(code), value


class AgentClient:
    """Keep-alive TLS connection to the agent on one port."""

    def __init__(self, port, ca_file, timeout=30):
        self.port = port
        context = ssl.create_default_context(cafile=ca_file)
        self.connection = http.client.HTTPSConnection("localhost", port, context=context, timeout=timeout)

    def post(self, fields, path="/"):
        body = urllib.parse.urlencode(fields)
        for attempt in (0, 1):
            try:
                self.connection.request("POST", path, body, {"Content-Type": "application/x-www-form-urlencoded"})
                return parse_answer(self.connection.getresponse().read().decode("utf-8"))
            except (http.client.RemoteDisconnected, BrokenPipeError, ConnectionResetError):
                # The agent closed an idle keep-alive connection: once more.
                self.connection.close()
                if attempt:
                    raise
            except BaseException:
                self.connection.close()  # the next request starts afresh
                raise

    def init_dll(self):
        code, value = self.post({"InitDLL": "PKCS11"}, "/ORVA")
        if code != 0:
            raise AssertionError("InitDLL answered %d %s" % (code, value))
        return value

    def call(self, token, method, *params):
        fields = {"DLLToken": token, "ExecMethod": method}
        for i, p in enumerate(params, 1):
            fields["Param%d" % i] = str(p)
        return self.post(fields)

    def member(self, token, method, *params):
        """A member's own result (the answer's value): text for property
        reads (get_...), a number for methods; raises when the agent did not
        reach the component."""
        code, value = self.call(token, method, *params)
        if code != 0:
            raise AssertionError("%s: the agent answered %d %s" % (method, code, value))
        return value if method.startswith("get_") else int(value)

    def close(self):
        self.connection.close()


class RealAgent:
    """vorlink45 notray, offscreen, on its own session bus; its log in
    $XDG_STATE_HOME/Vorlink."""

    def __init__(self, binary, work):
        self.binary, self.work = binary, work
        self.process = None
        self.bus_pid = None
        self.port = None

    @property
    def ca_file(self):
        return os.path.join(os.environ["XDG_DATA_HOME"], "vorlink", "identity", "ca.pem")

    @property
    def log_folder(self):
        return os.path.join(os.environ["XDG_STATE_HOME"], "Vorlink")

    def log_text(self):
        text = ""
        if os.path.isdir(self.log_folder):
            for name in sorted(os.listdir(self.log_folder)):
                with open(os.path.join(self.log_folder, name), encoding="utf-8", errors="replace") as f:
                    text += f.read()
        return text

    def start(self, timeout=20):
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=2"],
                             capture_output=True, text=True, check=True)
        self.bus_pid = int(bus.stderr.split()[0])
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus.stdout.strip())
        out = open(os.path.join(self.work, "agent.out"), "w")
        self.process = subprocess.Popen([self.binary, "notray"], stdout=out, stderr=subprocess.STDOUT, env=env)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = self.log_text()
            if SERVING in text:
                self.port = int(text.split(SERVING, 1)[1].split()[0])
                return self.port
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError("the agent did not start: " + self.log_text()[-2000:])

    def client(self):
        return AgentClient(self.port, self.ca_file)

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        if self.bus_pid:
            try:
                os.kill(self.bus_pid, 15)
            except ProcessLookupError:
                pass
            self.bus_pid = None
