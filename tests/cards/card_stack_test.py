#!/usr/bin/python3
"""Smart cards through the whole stack: the real agent, its out-of-process
component, the p11-kit proxy, OpenSC, a pcscd of the test's own and virtual
PIV cards in the two slots of the vpcd virtual reader
(tests/support/virtual_piv_card.py), all in the test's own network and
mount namespaces. Clients send no Origin header, as curl does.

    card_stack_test.py AGENT_BINARY SOURCE_DIR TABLE

TABLE "agent": each behaviour of a card behind the agent is one row of
AGENT_ROWS, run in order (a row may go on from the state the one before
left). TABLE "chromium" or "firefox": the demo page signs with a card in
that browser. Exit 77 when the card stack or the browser is missing.
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "browser"))

import card_stack  # noqa: E402
import real_agent  # noqa: E402

PIN, PUK, OTHER_PIN = "123456", "12345678", "654321"
TEXT = "Pay 100 to Alice & Bob + 5% 同意"
CARD_MISSING = 224  # CKR_TOKEN_NOT_PRESENT
SOFT_TOKEN = "Vorlink Test"
DEMO_TOKEN = "Vorlink Demo"  # the label of the token ./run.sh makes
GENERAL_AUTHENTICATE = 0x87
CARD_ONE = "Vorlink Card One"
QUICK = 5.0  # seconds: an answer "within seconds"


def enter_namespace():
    if os.environ.get("VORLINK_PRIVATE_NETWORK") != "1":
        helper = os.path.join(HERE, "..", "support", "private_network.sh")
        # --pid: the doctor looks for this user's agent among the processes
        # it sees, which must be the test's alone.
        os.execv(helper, [helper, "--pid", sys.executable] + sys.argv)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs)


def der_of(pem):
    return subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER"], check=True, capture_output=True).stdout


def check(condition, why):
    if not condition:
        raise AssertionError(why)


class Context:
    """The running stack and what the rows share."""

    def __init__(self, agent_binary, src, work):
        self.agent_binary, self.src, self.work = agent_binary, src, work
        self.pcscd = card_stack.Pcscd(work)
        self.cards = {}
        self.agent = None
        self.client = None
        self.tokens = {}  # the DllToken kept for each token label (None: for listings)
        self.kept = {}  # DllTokens that a later row goes on with

    # --- the stack ---------------------------------------------------------

    def start(self, soft_token=SOFT_TOKEN, soft_pin=PIN):
        """pcscd, the two cards, a SoftHSM2 token labelled `soft_token` in
        the agent's environment, the agent."""
        real_agent.use_test_home(self.work)
        os.environ["OPENSC_CONF"] = card_stack.unblocking_opensc_conf(self.work)
        card_stack.bind_private_pcscd_folder(os.path.join(self.work, "pcscd-run"))
        self.pcscd.start()
        self.cards["one"] = card_stack.Card(os.path.join(self.work, "card-one"), 0,
                                            {0x9A: "rsa2048", 0x9D: "p384"}, CARD_ONE)
        self.cards["two"] = card_stack.Card(os.path.join(self.work, "card-two"), 1, {0x9A: "p256", 0x9C: "rsa2048"},
                                            "Vorlink Card Two")
        for card in self.cards.values():
            card.insert()
        if soft_token:
            self.soft = os.path.join(self.work, "soft-token")
            run(os.path.join(self.src, "tools", "make-softhsm-token.sh"), self.soft, soft_token, soft_pin, PUK,
                "Vorlink Test User")
            os.environ["SOFTHSM2_CONF"] = os.path.join(self.soft, "softhsm2.conf")
        self.agent = real_agent.RealAgent(self.agent_binary, self.work)
        self.agent.start()
        self.client = self.agent.client()
        self.wait_listed([c.name for c in self.cards.values()])

    def stop(self):
        if self.client:
            self.client.close()
        if self.agent:
            self.agent.stop()
        for card in self.cards.values():
            card.remove()
        self.pcscd.stop()

    def restart_pcscd(self, readers=True):
        self.pcscd.stop()
        self.pcscd.start(readers)
        if readers:
            for card in self.cards.values():
                card.insert()
            self.wait_listed([c.name for c in self.cards.values()])

    # --- talking to the agent ----------------------------------------------

    def call(self, token, method, *params):
        return self.client.member(token, method, *params)

    def listing(self, token):
        self.expect(token, "Enumerate_slots", [], 0)
        return json.loads(self.call(token, "get_get_enumerate_slots"))

    def wait_listed(self, labels, seconds=10):
        token = self.session()
        card_stack.wait_until(lambda: set(labels) <= {t["label"] for t in self.listing(token)}, seconds,
                              "%s listed" % labels)

    def session(self, select=None, login=True, pin=PIN):
        """The DllToken kept for the token labelled `select` (None: for
        listings), made once with the proxy loaded; a page may hold only a
        few, and they live until the idle timeout. With `select`, that token
        is chosen again and, with `login`, logged in."""
        token = self.tokens.get(select)
        if token is None:
            token = self.tokens[select] = self.client.init_dll()
            check(self.call(token, "Initialize", "") == 0, "Initialize failed")
        if select:
            self.expect(token, "Select_slot", [select], 0)
            if login:
                self.expect(token, "Login", [pin], 0)
        return token

    def expect(self, token, method, params, code):
        got = self.call(token, method, *params)
        if got != code:
            raise AssertionError("%s answered %s, not %s: %s" % (method, got, code, self.call(token, "get_getErrorMsg")))

    def timed(self, token, method, *params):
        started = time.monotonic()
        code = self.call(token, method, *params)
        return code, time.monotonic() - started

    # --- signatures ----------------------------------------------------------

    def choose_certificate(self, token, certificate_pem):
        """getCardCert on the chosen token's certificate that is
        `certificate_pem` (a module lists a card's certificates in an order
        of its own); fails when the token has no such certificate."""
        wanted = der_of(certificate_pem)
        for index in range(8):
            if self.call(token, "getCardCert", index) != 0:
                break
            if base64.b64decode(self.call(token, "get_getCert")) == wanted:
                return
        raise AssertionError("the chosen token has no certificate " + certificate_pem)

    def sign_and_verify(self, token, certificate_pem, ca_pem, detached=0, hash_bits=256):
        """Chooses the certificate (a DllToken keeps its choice), signs TEXT
        and checks the signature."""
        self.choose_certificate(token, certificate_pem)
        self.expect(token, "PKCS7Sign", [TEXT, detached, hash_bits], 0)
        verify_signature(self.work, self.call(token, "get_getSignature"), certificate_pem, ca_pem, detached,
                         hash_bits)


def verify_signature(work, signature, certificate_pem, ca_pem, detached, hash_bits):
    """The CMS SignedData verifies with openssl cms -verify against the
    card's authority, over TEXT, with the expected certificate and hash."""
    files = {n: os.path.join(work, n) for n in ("signature.der", "text.txt", "signed.txt", "signer.pem")}
    with open(files["signature.der"], "wb") as f:
        f.write(base64.b64decode(signature))
    with open(files["text.txt"], "w", encoding="utf-8") as f:
        f.write(TEXT)
    command = ["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in", files["signature.der"], "-CAfile",
               ca_pem, "-purpose", "any", "-signer", files["signer.pem"], "-out", files["signed.txt"]]
    if detached:
        command += ["-content", files["text.txt"]]
    verified = subprocess.run(command, capture_output=True, text=True)
    check(verified.returncode == 0, "openssl cms -verify refuses the signature: " + verified.stderr.strip())
    with open(files["signed.txt"], encoding="utf-8") as f:
        check(f.read() == TEXT, "the signed content is not the text")
    check(der_of(files["signer.pem"]) == der_of(certificate_pem), "signed with another certificate than " + certificate_pem)
    printed = run("openssl", "cms", "-cmsout", "-print", "-inform", "DER", "-in", files["signature.der"]).stdout
    check("algorithm: sha%d " % hash_bits in printed, "the signature's digest is not SHA-%d" % hash_bits)


# --- the rows ------------------------------------------------------------------

def listed(ctx):
    tokens = {t["label"]: t for t in ctx.listing(ctx.session())}
    for card in ctx.cards.values():
        check(card.name in tokens, "%s is not listed: %s" % (card.name, list(tokens)))
        entry = tokens[card.name]
        check((entry["serial"], entry["manufacturer"]) == (card.serial, "piv_II"), "listed as %s" % entry)
        check(entry["loginRequired"] and not entry["pinPad"] and "pinState" not in entry, "listed as %s" % entry)


def select_by(field):
    def row(ctx):
        for card in ctx.cards.values():
            ctx.choose_certificate(ctx.session(getattr(card, field), login=False), card.certificate_pem())
    return row


def two_cards(ctx):
    tokens = {name: ctx.session(card.name) for name, card in ctx.cards.items()}
    for name, card in ctx.cards.items():
        ctx.sign_and_verify(tokens[name], card.certificate_pem(), card.ca_pem)


# Key kind -> (card, key reference).
KEYS = {"RSA-2048": ("one", 0x9A), "ECDSA P-256": ("two", 0x9A), "ECDSA P-384": ("one", 0x9D)}


def signature(kind, detached, hash_bits):
    def row(ctx):
        name, reference = KEYS[kind]
        card = ctx.cards[name]
        ctx.sign_and_verify(ctx.session(card.name), card.certificate_pem(reference), card.ca_pem, detached, hash_bits)
    return row


def default_certificate(ctx):
    # Card two also holds a signature key (9C) that wants the PIN before
    # each use; with no certificate chosen, the one that signs after Login
    # is taken, wherever the module lists it.
    card = ctx.cards["two"]
    token = ctx.client.init_dll()  # a DllToken that has chosen nothing
    for method, params in (("Initialize", [""]), ("Select_slot", [card.name]), ("Login", [PIN]),
                           ("PKCS7Sign", [TEXT, 0, 256])):
        ctx.expect(token, method, params, 0)
    verify_signature(ctx.work, ctx.call(token, "get_getSignature"), card.certificate_pem(), card.ca_pem, 0, 256)


def pin_state(ctx, token, card):
    return next(t for t in ctx.listing(token) if t["label"] == card.name).get("pinState", "")


def wrong_pin(ctx):
    card = ctx.cards["two"]
    token = ctx.session(card.name, login=False)
    ctx.expect(token, "Login", [OTHER_PIN], 160)
    ctx.expect(token, "Login", [OTHER_PIN], 160)
    check(pin_state(ctx, token, card) == "finalTry", "the listing does not warn of the last try")
    ctx.expect(token, "Login", [PIN], 0)
    check(card.application.pin_tries == card.application.max_tries, "the right PIN did not reset the card's tries")


def locked(ctx):
    card = ctx.cards["two"]
    token = ctx.session(card.name, login=False)
    codes = [ctx.call(token, "Login", OTHER_PIN) for _ in range(3)]
    check(codes == [160, 160, 164], "three wrong PINs answered %s" % codes)
    ctx.expect(token, "Login", [PIN], 164)
    check(pin_state(ctx, token, card) == "locked", "the listing does not say locked")
    check(card.application.pin_tries == 0, "the card's own counter is %d" % card.application.pin_tries)
    ctx.kept["locked"] = token


def unblock(ctx):
    # With OpenSC's set_pin_in_unlogged_session, ChangePIN before any Login
    # takes the PUK as the old PIN.
    card, token = ctx.cards["two"], ctx.kept.pop("locked")
    ctx.expect(token, "ChangePIN", [PUK, PIN], 0)
    ctx.expect(token, "Login", [PIN], 0)
    ctx.sign_and_verify(token, card.certificate_pem(), card.ca_pem)


def change_pin(ctx):
    card = ctx.cards["two"]
    token = ctx.session(card.name)
    ctx.expect(token, "ChangePIN", [PIN, OTHER_PIN], 0)
    check(card.application.pin.startswith(OTHER_PIN.encode()), "the card kept its PIN")
    ctx.expect(token, "Select_slot", [card.name], 0)
    ctx.expect(token, "Login", [OTHER_PIN], 0)
    ctx.expect(token, "ChangePIN", [OTHER_PIN, PIN], 0)
    check(card.application.pin.startswith(PIN.encode()), "the card keeps another PIN")


def pulled_mid_signature(ctx):
    one, two = ctx.cards["one"], ctx.cards["two"]
    token = ctx.session(one.name)
    one.pull_on(GENERAL_AUTHENTICATE)
    code, seconds = ctx.timed(token, "PKCS7Sign", TEXT, 0, 256)
    check(code != 0 and seconds < QUICK, "the pulled card's signature answered %d after %.1f s" % (code, seconds))
    check(not one.inserted, "the card was not pulled")
    check(ctx.agent.alive(), "the agent ended")
    ctx.sign_and_verify(ctx.session(SOFT_TOKEN), os.path.join(ctx.soft, "user.pem"), os.path.join(ctx.soft, "ca.pem"))
    ctx.sign_and_verify(ctx.session(two.name), two.certificate_pem(), two.ca_pem)
    one.wait_seen_out()
    one.insert()
    ctx.wait_listed([one.name])


def card_out(ctx):
    one = ctx.cards["one"]
    token = ctx.session(one.name)
    one.remove()
    card_stack.wait_until(lambda: ctx.call(token, "Login", PIN) == CARD_MISSING, QUICK, "Login answers 224")
    for method, params in (("Login", [PIN]), ("Logout", []), ("PKCS7Sign", [TEXT, 0, 256]), ("getCardCert", [0]),
                           ("CardCertSerial", []), ("ChangePIN", [PIN, OTHER_PIN]), ("signFile", ["a.txt", ""])):
        code = ctx.call(token, method, *params)
        words = ctx.call(token, "get_getErrorMsg")
        check(code == CARD_MISSING and "is not in its reader" in words,
              "%s with the card out answered %d: %s" % (method, code, words))
    ctx.kept["out"] = token


def back_and_signing(ctx, card, token):
    """The card in its reader again (if it is not): the same DllToken
    chooses it, logs in and signs."""
    card.insert()
    card_stack.wait_until(lambda: ctx.call(token, "Select_slot", card.name) == 0, QUICK, "Select_slot answers 0")
    ctx.expect(token, "Login", [PIN], 0)
    ctx.sign_and_verify(token, card.certificate_pem(), card.ca_pem)


def card_back(ctx):
    back_and_signing(ctx, ctx.cards["one"], ctx.kept.pop("out"))


def swapped_unseen(ctx):
    # Out and in again while the DllToken is idle: the module has not seen
    # the card go and still holds its login, while the card, powered anew,
    # has forgotten the PIN.
    one = ctx.cards["one"]
    token = ctx.session(one.name)
    ctx.sign_and_verify(token, one.certificate_pem(), one.ca_pem)
    one.remove()
    back_and_signing(ctx, one, token)


def pcscd_restarted(ctx):
    one = ctx.cards["one"]
    token = ctx.session(one.name)
    soft = ctx.session(SOFT_TOKEN)
    ctx.pcscd.stop()
    for method, params in (("Login", [PIN]), ("PKCS7Sign", [TEXT, 0, 256]), ("Enumerate_slots", [])):
        code, seconds = ctx.timed(token, method, *params)
        check(seconds < QUICK, "%s took %.1f s without pcscd" % (method, seconds))
        check(code != 0 or method == "Enumerate_slots", "%s answered 0 without pcscd" % method)
    ctx.sign_and_verify(soft, os.path.join(ctx.soft, "user.pem"), os.path.join(ctx.soft, "ca.pem"))
    ctx.restart_pcscd()
    back_and_signing(ctx, one, token)


def doctor(ctx):
    """vorlink45 --doctor's lines, run without the agent's environment."""
    env = {k: v for k, v in os.environ.items() if k != "SOFTHSM2_CONF"}
    out = subprocess.run([ctx.agent_binary, "--doctor"], capture_output=True, text=True, env=env, timeout=60).stdout
    return out.splitlines()


def has(lines, start, part=""):
    return any(l.startswith(start) and part in l for l in lines)


def doctor_sees_cards(ctx):
    lines = doctor(ctx)
    atr = card_stack.virtual_piv_card.make_atr().hex().upper()
    for reader, card in zip(card_stack.READER_NAMES, ctx.cards.values()):
        check(has(lines, 'readers   ok       reader "%s": a card (ATR %s), taken up by module opensc-pkcs11 as token '
                  '"%s"' % (reader, atr, card.name)), "no line for %s in %s" % (card.name, lines))
    check(has(lines, "tokens    ok       module softhsm2", 'token "%s"' % SOFT_TOKEN),
          "the agent's software token is not reported: %s" % lines)


def doctor_problem(area, words, readers):
    def row(ctx):
        ctx.pcscd.stop()
        if readers is False:
            ctx.pcscd.start(readers=False)
        try:
            lines = doctor(ctx)
            at = [i for i, l in enumerate(lines) if l.startswith("%-10sPROBLEM  " % area) and words in l]
            check(at and lines[at[0] + 1].strip().startswith("fix: "), "no problem '%s' with a fix: %s" % (words, lines))
        finally:
            ctx.restart_pcscd()
    return row


AGENT_ROWS = [
    ("listed with label, serial and manufacturer", listed),
    ("Select_slot by label chooses that card", select_by("name")),
    ("Select_slot by serial chooses that card", select_by("serial")),
    ("two cards, one in each of the reader's slots, each signs", two_cards),
    ("no certificate chosen: the key that signs after Login, not one wanting the PIN each use", default_certificate),
] + [
    ("%s signature, %s, SHA-%d, accepted by openssl cms -verify" % (kind, "detached" if detached else "attached", bits),
     signature(kind, detached, bits))
    for kind in KEYS for detached in (0, 1) for bits in (256, 384)
] + [
    ("a wrong PIN answers 160; the listing warns before the last try", wrong_pin),
    ("the last wrong PIN answers 164 and the card stays locked", locked),
    ("ChangePIN with the PUK before Login unblocks the card (RESET RETRY COUNTER)", unblock),
    ("ChangePIN changes the card's PIN (CHANGE REFERENCE DATA)", change_pin),
    ("a card pulled during a signature: that call answers within seconds, the agent and other tokens go on",
     pulled_mid_signature),
    ("card out: every token call answers 224, words saying the card is not in its reader", card_out),
    ("card back: the same DllToken's Select_slot, Login and PKCS7Sign work", card_back),
    ("out and in while the DllToken is idle: Login after Select_slot really logs in", swapped_unseen),
    ("pcscd stopped: calls answer within seconds; pcscd back: works without restarting the agent", pcscd_restarted),
    ("--doctor: each reader, its card, the module that takes it up; the agent's own tokens", doctor_sees_cards),
    ("--doctor: pcscd not running is a problem with its fix", doctor_problem("pcscd", "does not answer", None)),
    ("--doctor: no card reader is a problem with its fix", doctor_problem("readers", "no card reader", False)),
]


# --- the demo page in a browser --------------------------------------------------

def allow_page_origin(origin):
    """The one place where the demo page's origin is let through to the
    agent's tokens. Today every origin reaches them; a per-site consent
    switch is wired in here."""
    return origin


def demo_page(browser_name, token_label):
    """The demo page does all its steps in the browser: with `token_label`
    it is asked for that token, else it chooses by itself. The signature
    must verify, made with the card's certificate (or the demo token's)."""
    def row(ctx):
        from public_origin_test import Browser, wait_for_agent_trust
        exe = shutil.which("chromium") if browser_name == "chromium" else (shutil.which("firefox-esr")
                                                                            or shutil.which("firefox"))
        home = os.environ["HOME"]
        wait_for_agent_trust(home, ctx.firefox_profile)
        card = ctx.cards["one"]
        # The demo token's PIN is not the card's: typed into the card, it would cost a try.
        query = {"ports": ctx.agent.port, "pin": PIN if token_label else OTHER_PIN, "text": TEXT, "detached": 0,
                 "run": 1}
        if token_label:
            query["token"] = token_label
        url = "%s/demo.html?%s" % (allow_page_origin(ctx.page_origin), urllib.parse.urlencode(query))
        shutil.rmtree(os.path.join(home, "chromium"), ignore_errors=True)  # a fresh Chromium profile per row
        browser = Browser(browser_name, exe, home, ctx.firefox_profile, None)
        try:
            browser.load(url)
            browser.wait("['done', 'failed'].includes(document.getElementById('status')?.dataset.state)")
            state = browser.value("document.getElementById('status').dataset.state")
            words = browser.value("document.getElementById('status').textContent + ' ' + "
                                  "document.getElementById('answers').textContent")
            check(state == "done", "the demo page ended %s: %s" % (state, words[:600]))
            signature = browser.value("document.getElementById('signature').textContent")
        finally:
            browser.quit()
        if token_label:
            verify_signature(ctx.work, signature, card.certificate_pem(), card.ca_pem, 0, 256)
        else:
            verify_signature(ctx.work, signature, os.path.join(ctx.soft, "user.pem"), os.path.join(ctx.soft, "ca.pem"),
                             0, 256)
        check(card.application.pin_tries == card.application.max_tries, "the demo page spent a try of the card's PIN")
    return row


BROWSER_ROWS = {
    "chromium": [("the demo page signs with a card in Chromium, openssl accepts it", demo_page("chromium", CARD_ONE)),
                 ("asked for no token, the demo page chooses the demo token, never a card",
                  demo_page("chromium", None))],
    "firefox": [("the demo page signs with a card in Firefox, openssl accepts it", demo_page("firefox", CARD_ONE))],
}


def serve_demo_page(ctx):
    site = os.path.join(ctx.work, "site")
    os.makedirs(site)
    for name in ("vorlink.js", "demo.html"):
        os.symlink(os.path.join(ctx.src, "web", name), os.path.join(site, name))
    server = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", site, "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    # "Serving HTTP on 127.0.0.1 port N (...)": the port the server chose.
    port = int(server.stdout.readline().split(" port ")[1].split()[0])
    ctx.page_origin = "http://127.0.0.1:%d" % port
    return server


# --- running a table -------------------------------------------------------------

def run_rows(ctx, rows):
    passed = failed = 0
    for name, row in rows:
        started = time.monotonic()
        try:
            row(ctx)
            passed += 1
            print("ok    %-100s %.1f s" % (name, time.monotonic() - started), flush=True)
        except (AssertionError, SystemExit, Exception) as e:  # a row's failure never stops the table
            failed += 1
            print("FAIL  %s: %s" % (name, e), flush=True)
            if not isinstance(e, (AssertionError, SystemExit)):
                traceback.print_exc()
    print("%d passed, %d failed" % (passed, failed))
    return failed == 0


def main():
    agent_binary, src, table = sys.argv[1:4]
    why = card_stack.missing_parts()
    if why:
        print("SKIP:", why)
        sys.exit(77)
    if table != "agent":
        exe = shutil.which("chromium") if table == "chromium" else shutil.which("firefox-esr") or shutil.which("firefox")
        if not exe:
            print("SKIP: %s is not installed" % table)
            sys.exit(77)
    enter_namespace()
    if not os.path.isdir(card_stack.PCSCD_RUN) and not os.access(os.path.dirname(card_stack.PCSCD_RUN), os.W_OK):
        print("SKIP: %s is missing and cannot be made (run as root, or install pcscd)" % card_stack.PCSCD_RUN)
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="vorlink-cards.")
    ctx = Context(agent_binary, src, work)
    server = None
    try:
        if table == "agent":
            ctx.start()
            ok = run_rows(ctx, AGENT_ROWS)
        else:
            real_agent.use_test_home(work)
            ctx.firefox_profile = None
            if table == "firefox":
                from public_origin_test import firefox_profile
                ctx.firefox_profile = firefox_profile(shutil.which("firefox-esr") or shutil.which("firefox"),
                                                      os.environ["HOME"])
            ctx.start(soft_token=DEMO_TOKEN, soft_pin=OTHER_PIN)
            server = serve_demo_page(ctx)
            ok = run_rows(ctx, BROWSER_ROWS[table])
    except Exception:
        traceback.print_exc()
        print("agent log:\n" + (ctx.agent.log_text()[-3000:] if ctx.agent else ""))
        ok = False
    finally:
        if server:
            server.terminate()
        ctx.stop()
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
