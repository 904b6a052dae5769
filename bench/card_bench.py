#!/usr/bin/python3
"""Signatures with a smart card through the agent, against pkcs11-tool on
the same card in the same run, and how soon a page hears that the card was
pulled. The card is the tests' virtual PIV card (RSA-2048 in 9A) behind a
pcscd of the benchmark's own, in its own network and mount namespaces
(tests/support/card_stack.py).

    bench/card_bench.py [BUILD_DIR] [ROUNDS]      (defaults: build/test, 30)

Reports medians:
  - one signature (PKCS7Sign, attached, SHA-256) on a logged-in DllToken,
    against `pkcs11-tool --sign` (SHA256-RSA-PKCS) on the same card: ratio.
    pkcs11-tool is a whole program run: module load, card detection, login
    and the signature; the agent's full page sequence for one signature
    (InitDLL, Initialize, Select_slot, Login, PKCS7Sign) is reported beside
    it, with its ratio;
  - a card pulled during PKCS7Sign: from the moment the card drops its
    connection to the page's error answer;
  - a card pulled while idle: from its removal until pcscd (which polls the
    virtual reader every 400 ms) reports the reader empty, after which
    every call answers 224.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(SRC, "tests", "support"))

import card_stack  # noqa: E402
import real_agent  # noqa: E402

PIN, TEXT = "123456", "Pay 100 to Alice"


def median_ms(samples):
    return statistics.median(samples) * 1000


def timed(action):
    started = time.monotonic()
    action()
    return time.monotonic() - started


def agent_signature(client, token):
    if client.member(token, "PKCS7Sign", TEXT, 0, 256) != 0:
        raise RuntimeError("PKCS7Sign failed: " + client.member(token, "get_getErrorMsg"))


def agent_sequence(client, label):
    token = client.init_dll()
    for method, params in (("Initialize", [""]), ("Select_slot", [label]), ("Login", [PIN])):
        if client.member(token, method, *params) != 0:
            raise RuntimeError(method + " failed")
    agent_signature(client, token)


def pkcs11_tool_signature(work):
    subprocess.run(["pkcs11-tool", "--module", card_stack.OPENSC_MODULE, "--login", "--pin", PIN, "--sign", "-m",
                    "SHA256-RSA-PKCS", "--id", "01", "-i", os.path.join(work, "text.txt"), "-o",
                    os.path.join(work, "signature")], check=True, capture_output=True)


def pulled_during_signature(client, token, card):
    """The pull happens in the card's own thread when the signature's
    command arrives; the time runs from there to the answer."""
    pulled = {}
    original = card.card._answer

    def answer(message):
        reply = original(message)
        if reply is False:
            pulled["at"] = time.monotonic()
        return reply

    card.card._answer = answer
    card.pull_on(0x87)
    code = client.member(token, "PKCS7Sign", TEXT, 0, 256)
    answered = time.monotonic()
    card.card._answer = original
    if code == 0 or "at" not in pulled:
        raise RuntimeError("the pulled card's signature answered %d" % code)
    return answered - pulled["at"]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(SRC, "build", "test")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    agent_binary = os.path.abspath(os.path.join(build, "bin", "vorlink45"))
    if os.environ.get("VORLINK_PRIVATE_NETWORK") != "1":
        helper = os.path.join(SRC, "tests", "support", "private_network.sh")
        os.execv(helper, [helper, "--pid", sys.executable, os.path.abspath(__file__), build, str(rounds)])
    work = tempfile.mkdtemp(prefix="vorlink-card-bench.")
    real_agent.use_test_home(work)
    card_stack.bind_private_pcscd_folder(os.path.join(work, "pcscd-run"))
    pcscd = card_stack.Pcscd(work)
    pcscd.start()
    card = card_stack.Card(os.path.join(work, "card"), 0, {0x9A: "rsa2048"}, "Bench Card")
    card.insert()
    with open(os.path.join(work, "text.txt"), "w") as f:
        f.write(TEXT)
    agent = real_agent.RealAgent(agent_binary, work)
    try:
        agent.start()
        client = agent.client()
        token = client.init_dll()
        client.member(token, "Initialize", "")
        card_stack.wait_until(lambda: client.member(token, "Select_slot", card.name) == 0, 10, "the card listed")
        client.member(token, "Login", PIN)
        agent_signature(client, token)  # warm: the certificate and key found once
        pkcs11_tool_signature(work)

        warm, tool, sequence = [], [], []
        for _ in range(rounds):  # interleaved, so drift hits both alike
            warm.append(timed(lambda: agent_signature(client, token)))
            tool.append(timed(lambda: pkcs11_tool_signature(work)))
        for _ in range(min(rounds, 10)):  # each InitDLL holds a component until the idle timeout
            sequence.append(timed(lambda: agent_sequence(client, card.name)))

        pulls, seen_out = [], []
        for _ in range(5):
            pulls.append(pulled_during_signature(client, token, card))
            card.wait_seen_out()
            card.insert()
            card_stack.wait_until(lambda: client.member(token, "Select_slot", card.name) == 0, 10, "the card back")
            client.member(token, "Login", PIN)
            removed = time.monotonic()
            card.remove()  # waits for pcscd to report the reader empty
            seen_out.append(time.monotonic() - removed)
            card.insert()
            card_stack.wait_until(lambda: client.member(token, "Select_slot", card.name) == 0, 10, "the card back")
            client.member(token, "Login", PIN)

        print("one signature with the virtual card (median of %d):" % rounds)
        print("  agent, PKCS7Sign on a logged-in DllToken   %7.1f ms" % median_ms(warm))
        print("  pkcs11-tool --sign (whole run)             %7.1f ms" % median_ms(tool))
        print("  ratio agent / pkcs11-tool                  %7.2f" % (median_ms(warm) / median_ms(tool)))
        print("  agent, InitDLL..PKCS7Sign (median of %2d)   %7.1f ms, ratio %.2f"
              % (len(sequence), median_ms(sequence), median_ms(sequence) / median_ms(tool)))
        print("card pulled during PKCS7Sign -> the page's error answer (median of %d)  %7.1f ms (max %.1f)"
              % (len(pulls), median_ms(pulls), max(pulls) * 1000))
        print("card pulled while idle -> pcscd reports it out, calls answer 224 (median of %d)  %7.1f ms"
              % (len(seen_out), median_ms(seen_out)))
    finally:
        agent.stop()
        card.card.remove()
        pcscd.stop()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
