#!/usr/bin/env python3
"""A page on a public https origin reaching the real agent, in headless
Chromium and Firefox, the way nearly every real page does: through the
browsers' local-network protection.

    public_origin_test.py AGENT_BINARY SOURCE_DIR BROWSER CASE

The test makes its own network and mount namespaces: the site lives on
203.0.113.10 (a documentation address, "public" to the browsers) on a veth
link that exists only in the namespace, named shop.example.test and
pub.example.test by a private /etc/hosts; browser policies are bind-mounted
over their system folders there. The agent is the real vorlink45 with its
component and a fresh SoftHSM2 token. Throw-away keys are made at test time.

Cases (BROWSER CASE):
  chromium sign       granted by the policy LoopbackNetworkAllowedForUrls: the demo
                      page signs, openssl cms -verify checks the signature
  chromium errors     granted in the profile's preferences: connect() finds the
                      agent, and names another server, an untrusted certificate,
                      a closed port
  chromium blocked    no grant (headless Chromium refuses without asking): "blocked"
  chromium http-page  the page over plain http: "insecure-page"
  firefox  sign       granted by the policy LocalNetworkAccess.SkipDomains: the
                      demo page signs, openssl checks
  firefox  errors     as for Chromium, under that policy
  chromium prompt     no grant, headful under Xvfb: connect() waits while Chromium
                      asks, past its own time limit; closing the question gives
                      "unanswered", Block "blocked", Allow the agent (one site each)
  firefox  prompt     no grant: the same with Firefox's question (Block, then
                      Allow in another tab)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

PUBLIC_ADDRESS = "203.0.113.10"
SITES = ("shop.example.test", "pub.example.test", "mall.example.test")
NOT_AGENT_PORT, UNTRUSTED_PORT, CLOSED_PORT = 48290, 48291, 48292
PIN = "123456"
TEXT = "Pay 100 to Alice & Bob + 5% 同意"


def skip(why):
    print("SKIP:", why)
    sys.exit(77)


def fail(why):
    print("FAIL:", why)
    sys.exit(1)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs)


# --- the namespace -----------------------------------------------------------

def enter_namespace():
    """Runs this script again in the tests' private network (no packet leaves
    the machine); its own veth, hosts file and policies go in there."""
    if os.environ.get("VORLINK_PRIVATE_NETWORK") == "1":
        return
    helper = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "private_network.sh")
    os.execv(helper, [helper, sys.executable] + sys.argv)


def bind_over(path, replacement):
    run("mount", "--bind", replacement, path)


def make_network(work):
    run("ip", "link", "set", "lo", "up")
    run("ip", "link", "add", "v0", "type", "veth", "peer", "name", "v1")
    run("ip", "addr", "add", PUBLIC_ADDRESS + "/24", "dev", "v0")
    run("ip", "link", "set", "v1", "up")
    run("ip", "link", "set", "v0", "up")
    hosts = os.path.join(work, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n::1 localhost\n%s %s\n" % (PUBLIC_ADDRESS, " ".join(SITES)))
    bind_over("/etc/hosts", hosts)


# --- throw-away keys ---------------------------------------------------------

def make_pki(work):
    """A test authority (trusted by the test's browsers) with certificates for
    the sites and for localhost, and a self-signed localhost certificate
    that nobody trusts."""
    pki = os.path.join(work, "pki")
    os.makedirs(pki)
    p = lambda name: os.path.join(pki, name)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Vorlink45 test sites CA",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        "-keyout", p("ca.key"), "-out", p("ca.crt"))
    for name, names in (("site", ",".join("DNS:" + s for s in SITES)), ("localhost", "DNS:localhost,IP:127.0.0.1,IP:::1")):
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", p(name + ".key"),
            "-out", p(name + ".csr"))
        with open(p(name + ".ext"), "w") as f:
            f.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % names)
        run("openssl", "x509", "-req", "-in", p(name + ".csr"), "-CA", p("ca.crt"), "-CAkey", p("ca.key"),
            "-CAcreateserial", "-days", "2", "-extfile", p(name + ".ext"), "-out", p(name + ".crt"))
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
        "-addext", "subjectAltName=DNS:localhost", "-keyout", p("untrusted.key"), "-out", p("untrusted.crt"))
    return p


# --- the agent and its trust -------------------------------------------------

# The agent's own trust installation is what the browsers rely on for the
# agent's certificate; this is the one place that knows where it lands.
# The agent's own authority is named "Vorlink45 Local CA <id>", per user.
AGENT_CA_NICKNAME_PREFIX = "Vorlink45 Local CA "


def agent_trust_databases(home, firefox_profile):
    """Where the browser reads the agent's authority: the Firefox profile, or
    Chromium's database (~/.pki/nssdb when that folder exists, else
    $XDG_DATA_HOME/pki/nssdb)."""
    if firefox_profile:
        return [firefox_profile]
    legacy = os.path.join(home, ".pki", "nssdb")
    return [legacy if os.path.isdir(legacy) else os.path.join(os.environ["XDG_DATA_HOME"], "pki", "nssdb")]


def wait_for_agent_trust(home, firefox_profile):
    for db in agent_trust_databases(home, firefox_profile):
        for _ in range(200):
            listed = subprocess.run(["certutil", "-L", "-d", "sql:" + db], capture_output=True, text=True)
            if any(line.startswith(AGENT_CA_NICKNAME_PREFIX) for line in listed.stdout.splitlines()):
                break
            time.sleep(0.1)
        else:
            fail("the agent's trust installation did not reach " + db)


def trust_test_sites(home, firefox_profile, ca):
    """The test's own authority (the sites, the stand-in servers), in the
    database the browser reads: Chromium's is ~/.pki/nssdb when that folder
    exists, else $XDG_DATA_HOME/pki/nssdb."""
    if firefox_profile:
        db = firefox_profile
    else:
        db = os.path.join(home, ".pki", "nssdb")
        if not os.path.isdir(db):
            db = os.path.join(os.environ["XDG_DATA_HOME"], "pki", "nssdb")
    if not os.path.exists(os.path.join(db, "cert9.db")):
        os.makedirs(db, exist_ok=True)
        run("certutil", "-N", "-d", "sql:" + db, "--empty-password")
    run("certutil", "-A", "-d", "sql:" + db, "-n", "Vorlink45 test sites CA", "-t", "C,,", "-i", ca)


def start_agent(agent_bin, src, work, procs):
    token = os.path.join(work, "token")
    run(os.path.join(src, "tools", "make-softhsm-token.sh"), token, "Vorlink Test", PIN, "12345678", "Vorlink Test User")
    os.environ["SOFTHSM2_CONF"] = os.path.join(token, "softhsm2.conf")
    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=2"],
                         capture_output=True, text=True, check=True)
    procs.append(int(bus.stderr.split()[0]))
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.strip()
    out = open(os.path.join(work, "agent.out"), "w")
    agent = subprocess.Popen([agent_bin, "notray"], stdout=out, stderr=subprocess.STDOUT)
    procs.append(agent.pid)
    logs = os.path.join(os.environ["XDG_STATE_HOME"], "Vorlink")
    for _ in range(150):
        for name in os.listdir(logs) if os.path.isdir(logs) else []:
            with open(os.path.join(logs, name), encoding="utf-8", errors="replace") as f:
                if "https 服務已經啟動, port = (int)48200" in f.read():
                    return token
        time.sleep(0.1)
    fail("the agent does not serve on 48200")


def start_display(work, procs):
    """Xvfb for a headful browser (headless Chromium never asks); the
    display number is Xvfb's choice, the screen 1280 pixels wide."""
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            skip(tool + " is not installed")
    number = os.path.join(work, "display")
    procs.append(subprocess.Popen(["sh", "-c", 'exec Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$0"', number],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).pid)
    for _ in range(100):
        text = open(number).read().strip() if os.path.exists(number) else ""
        if text:
            return ":" + text
        time.sleep(0.1)
    fail("Xvfb did not start")


# --- the browsers ------------------------------------------------------------

class Browser:
    """One headless browser on a fresh profile: load(url), value(expression),
    wait(expression), prompt(answer) (Firefox), quit()."""

    def __init__(self, name, exe, home, profile, grant, display=None):
        self.name = name
        self.display = display
        if name == "chromium":
            from chromium_cdp import Chromium
            profile = os.path.join(home, "chromium")
            os.makedirs(os.path.join(profile, "Default"))
            if grant and grant[0] == "preferences":
                with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
                    json.dump(grant[1], f)
            if grant and grant[0] == "policy":
                chromium_policy(home, grant[1])
            env = dict(os.environ, DISPLAY=display) if display else dict(os.environ)
            self.driver = Chromium(exe, profile, "about:blank", env, headless=display is None)
        else:
            from firefox_marionette import Firefox
            if grant:
                firefox_policy(home, grant[1])
            self.driver = Firefox(exe, profile, dict(os.environ))

    def load(self, url):
        if self.name == "chromium":
            self.driver.send("Page.navigate", {"url": url}, self.driver.session)
        else:
            self.driver.navigate(url)

    def value(self, expression):
        if self.name == "chromium":
            return self.driver.js(expression)
        return self.driver.js("return " + expression)

    def wait(self, expression, seconds=60, what="the page did not finish"):
        for _ in range(seconds * 10):
            try:
                if self.value(expression):
                    return
            except RuntimeError:
                pass  # still loading
            time.sleep(0.1)
        fail("%s: %s" % (what, self.value("document.body ? document.body.innerText.slice(0, 800) : ''")))

    def prompt(self, answer=None):
        if self.name == "chromium":
            return self.driver.prompt(self.display, answer)
        return self.driver.prompt(answer)

    def quit(self):
        self.driver.quit()


def chromium_policy(home, policy):
    etc = os.path.join(home, "etc-chromium")
    shutil.copytree("/etc/chromium", etc)
    os.makedirs(os.path.join(etc, "policies", "managed"))
    with open(os.path.join(etc, "policies", "managed", "test.json"), "w") as f:
        json.dump(policy, f)
    bind_over("/etc/chromium", etc)


def firefox_policy(home, policies):
    dist = os.path.join(home, "distribution")
    shutil.copytree("/usr/lib/firefox-esr/distribution", dist)
    with open(os.path.join(dist, "policies.json"), "w") as f:
        json.dump({"policies": policies}, f)
    bind_over("/usr/lib/firefox-esr/distribution", dist)


def firefox_profile(exe, home):
    """A profile made before the agent starts, so that its trust
    installation finds it."""
    root = os.path.join(home, ".mozilla", "firefox")
    profile = os.path.join(root, "test.default")
    os.makedirs(root)
    subprocess.run(["timeout", "60", exe, "--headless", "-CreateProfile", "test " + profile], capture_output=True)
    if not os.path.isdir(profile):
        fail("firefox did not create its profile")
    return profile


# --- what the cases check -----------------------------------------------------

def demo_url(site):
    query = urllib.parse.urlencode({"token": "Vorlink Test", "pin": PIN, "detached": "0", "text": TEXT, "run": "1"})
    return "https://%s/demo.html?%s" % (site, query)


def check_signature(work, token, status, signature, certificate, answers):
    """The demo page's attached signature verifies against the token's
    authority, over the page's text, made and shown with the token's
    certificate."""
    import base64
    if status != "done":
        fail("the demo page ended '%s': %s" % (status, answers))
    files = {name: os.path.join(work, name) for name in ("signature.der", "signed.txt", "signer.pem")}
    with open(files["signature.der"], "wb") as f:
        f.write(base64.b64decode(signature))
    verify = subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in", files["signature.der"],
                             "-CAfile", os.path.join(token, "ca.pem"), "-signer", files["signer.pem"],
                             "-out", files["signed.txt"]], capture_output=True, text=True)
    if verify.returncode != 0:
        fail("the signature does not verify: " + verify.stderr)
    with open(files["signed.txt"], encoding="utf-8") as f:
        if f.read() != TEXT:
            fail("the signed content is not the page's text")
    der = lambda pem: subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER"], capture_output=True, check=True).stdout
    user = der(os.path.join(token, "user.pem"))
    if der(files["signer.pem"]) != user or (certificate is not None and base64.b64decode(certificate) != user):
        fail("the signer or the certificate shown is not the token's")
    print("signature verified with openssl cms -verify")


# connect() outcomes on a granted public origin: port list, expected.
ERROR_TABLE = [
    ("", "found https://localhost:48200/"),
    (str(NOT_AGENT_PORT), "not-agent"),
    (str(UNTRUSTED_PORT), "not-reached"),
    (str(CLOSED_PORT), "not-reached"),
    ("%d,%d,48200" % (CLOSED_PORT, UNTRUSTED_PORT), "found https://localhost:48200/"),
]


def outcome(result):
    return "found " + result["found"] if "found" in result else result["reason"]


def check_results(results, expected):
    got = [outcome(r) for r in results]
    for r, want in zip(results, expected):
        print("  %-34s %s" % (outcome(r), r.get("message", "")[:160]))
    if got != expected:
        fail("connect() gave %s, expected %s" % (got, expected))


def connect_url(site, lists, scheme="https"):
    return "%s://%s/connect_page.html?ports=%s" % (scheme, site, urllib.parse.quote("|".join(lists)))


def text_of(browser, id):
    return browser.value("document.getElementById(%s).textContent" % json.dumps(id))


def connect_results(browser, url):
    browser.load(url)
    browser.wait("document.getElementById('result')?.dataset.state === 'done'")
    return json.loads(text_of(browser, "result"))


ORIGIN = "https://" + SITES[0]
# How each case lets the page through: ("policy", policy) or ("preferences", Chromium profile preferences).
GRANTS = {
    ("chromium", "sign"): ("policy", {"LoopbackNetworkAllowedForUrls": [ORIGIN]}),
    ("chromium", "errors"): ("preferences", {"profile": {"content_settings": {"exceptions": {
        "loopback_network": {ORIGIN + ":443,*": {"setting": 1}}}}}}),
    ("firefox", "sign"): ("policy", {"LocalNetworkAccess": {"SkipDomains": [SITES[0]]}}),
    ("firefox", "errors"): ("policy", {"LocalNetworkAccess": {"SkipDomains": [SITES[0]]}}),
}


def write_doc_example(src, site):
    """The whole page of docs/web-client.md (its first html block), as
    example.html: what a page author copies must sign."""
    with open(os.path.join(src, "docs", "web-client.md"), encoding="utf-8") as f:
        doc = f.read()
    start = doc.index("```html\n") + len("```html\n")
    with open(os.path.join(site, "example.html"), "w", encoding="utf-8") as f:
        f.write(doc[start:doc.index("```\n", start)])


def run_case(browser, case, work, token):
    if case == "sign":
        browser.load(demo_url(SITES[0]))
        browser.wait("['done', 'failed'].includes(document.getElementById('status')?.dataset.state)")
        check_signature(work, token, browser.value("document.getElementById('status').dataset.state"),
                        text_of(browser, "signature"), text_of(browser, "certificate"),
                        text_of(browser, "answers") + text_of(browser, "status"))
        browser.load("https://%s/example.html" % SITES[0])
        # Once the page's module has run (it sets the button's handler).
        browser.wait("document.getElementById('sign')?.onclick && (document.getElementById('pin').value = %s, "
                     "document.getElementById('text').value = %s, document.getElementById('sign').click(), true)"
                     % (json.dumps(PIN), json.dumps(TEXT)))
        browser.wait("document.getElementById('out').textContent !== ''")
        out = text_of(browser, "out")
        check_signature(work, token, "done" if out.startswith("MII") else out, out, None, out)
    elif case == "errors":
        check_results(connect_results(browser, connect_url(SITES[0], [p for p, _ in ERROR_TABLE])),
                      [e for _, e in ERROR_TABLE])
    elif case == "blocked":
        check_results(connect_results(browser, connect_url(SITES[0], [""])), ["blocked"])
    elif case == "http-page":
        check_results(connect_results(browser, connect_url(SITES[0], [""], "http")), ["insecure-page"])
    elif case == "prompt":
        # Each answer for its own site (Chromium keeps answers per site) and,
        # in Firefox, in its own tab (it keeps an answer without "Remember"
        # for the tab). 12 s is past the 10 s after which connect() used to
        # give up.
        found = "found https://localhost:48200/"
        answers = {"chromium": ((SITES[0], "dismiss", 2, "unanswered"), (SITES[1], "block", 2, "blocked"),
                                (SITES[2], "allow", 12, found)),
                   "firefox": ((SITES[0], "block", 2, "blocked"), (SITES[1], "allow", 12, found))}
        for site, answer, wait, expected in answers[browser.name]:
            if answer == "allow" and browser.name == "firefox":
                browser.driver.new_tab()
            loaded = time.monotonic()
            browser.load(connect_url(site, [""]))
            # The question is up once the page says so (a loaded machine can
            # take more than a second to get there); then the answer waits
            # until `wait` seconds after the load.
            browser.wait("(r => r && r.dataset.state === 'running' && r.dataset.prompted === 'yes')"
                         "(document.getElementById('result'))", 20, "connect() never said the browser is asking")
            time.sleep(max(0.0, wait - (time.monotonic() - loaded)))
            state = browser.value("[document.getElementById('result').dataset.state, document.getElementById('result').dataset.prompted]")
            if state != ["running", "yes"]:
                fail("after %d s of the question connect() is %s, prompted %s: %s" % (wait, state[0], state[1], text_of(browser, "result")))
            if not browser.prompt(answer):
                fail("the browser shows no local-network question")
            browser.wait("document.getElementById('result').dataset.state === 'done'")
            print("%s after %d s:" % (answer, wait))
            check_results(json.loads(text_of(browser, "result")), [expected])
    else:
        fail("unknown case " + case)


def main():
    agent_bin, src, browser, case = sys.argv[1:5]
    exe = shutil.which("chromium") if browser == "chromium" else shutil.which("firefox-esr") or shutil.which("firefox")
    if not exe:
        skip(browser + " is not installed")
    if not os.path.exists("/usr/lib/softhsm/libsofthsm2.so"):
        skip("SoftHSM2 is not installed")
    enter_namespace()
    work = tempfile.mkdtemp()
    procs = []
    try:
        home = os.path.join(work, "home")
        for var, sub in (("HOME", "home"), ("XDG_RUNTIME_DIR", "run"), ("XDG_STATE_HOME", "state"),
                         ("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache")):
            os.environ[var] = os.path.join(work, sub)
            os.makedirs(os.environ[var], mode=0o700)
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
        make_network(work)
        pki = make_pki(work)
        site = os.path.join(work, "site")
        os.makedirs(site)
        for f in ("web/vorlink.js", "web/demo.html", "tests/browser/connect_page.html"):
            os.symlink(os.path.join(src, f), os.path.join(site, os.path.basename(f)))
        write_doc_example(src, site)
        import page_servers
        page_servers.serve_site(site, PUBLIC_ADDRESS, pki("site.crt"), pki("site.key"))
        page_servers.serve_on_loopback(NOT_AGENT_PORT, pki("localhost.crt"), pki("localhost.key"))
        page_servers.serve_on_loopback(UNTRUSTED_PORT, pki("untrusted.crt"), pki("untrusted.key"))

        profile = firefox_profile(exe, home) if browser == "firefox" else None
        token = start_agent(agent_bin, src, work, procs)
        wait_for_agent_trust(home, profile)
        trust_test_sites(home, profile, pki("ca.crt"))
        display = start_display(work, procs) if (browser, case) == ("chromium", "prompt") else None
        driver = Browser(browser, exe, home, profile, GRANTS.get((browser, case)), display)
        try:
            run_case(driver, case, work, token)
        finally:
            driver.quit()
    finally:
        for pid in reversed(procs):
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass
        time.sleep(0.5)
        shutil.rmtree(work, ignore_errors=True)
    print("PASS")


if __name__ == "__main__":
    main()
