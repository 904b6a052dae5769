"""The smart-card stack of a test: a pcscd of its own with the vpcd virtual
reader (two slots), and virtual PIV cards in them. Runs only inside
private_network.sh (network and mount namespaces of the test): the
pcscd's /run/pcscd is a folder of the test, bound there in the test's mount
namespace, so the machine's own pcscd, if any, is never touched and never
seen.
"""
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import virtual_piv_card  # noqa: E402  (beside this file)

VPCD_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
OPENSC_MODULE = "/usr/lib/x86_64-linux-gnu/pkcs11/opensc-pkcs11.so"
VPCD_PORTS = (35963, 35964)
PCSCD_RUN = "/run/pcscd"
# pcscd names the virtual reader's two slots so.
READER_NAMES = ("Virtual PCD 00 00", "Virtual PCD 00 01")


def missing_parts():
    """Why the card stack cannot run on this machine, or None."""
    if not shutil.which("pcscd"):
        return "pcscd is not installed"
    if not os.path.exists(VPCD_DRIVER):
        return "vsmartcard-vpcd (the virtual reader driver) is not installed"
    if not os.path.exists(OPENSC_MODULE):
        return "opensc-pkcs11 is not installed"
    return None


def bind_private_pcscd_folder(folder):
    """Makes `folder` this mount namespace's /run/pcscd. Outside the
    private network this would replace the machine's: refused."""
    if os.environ.get("VORLINK_PRIVATE_NETWORK") != "1":
        raise RuntimeError("the card stack runs only inside tests/support/private_network.sh")
    os.makedirs(folder, exist_ok=True)
    # The mount point itself; pcscd's package makes it too on a real system.
    # Without it, and not root, there is nothing to bind over.
    os.makedirs(PCSCD_RUN, exist_ok=True)
    subprocess.run(["mount", "--bind", folder, PCSCD_RUN], check=True)


def unblocking_opensc_conf(folder):
    """An OpenSC configuration (for OPENSC_CONF) under which C_SetPIN in a
    session not logged in unblocks the PIN, the PUK given as the old PIN
    (RESET RETRY COUNTER); OpenSC's default allows no unblocking at all."""
    path = os.path.join(folder, "opensc.conf")
    with open(path, "w") as f:
        f.write("app default {\n  framework pkcs15 {\n  }\n}\n"
                "app opensc-pkcs11 {\n  pkcs11 {\n    user_pin_unblock_style = set_pin_in_unlogged_session;\n  }\n}\n")
    return path


class Pcscd:
    """pcscd in the foreground, its reader configuration holding only the
    vpcd entry (or nothing, for "no reader")."""

    def __init__(self, work):
        self.work = work
        self.process = None
        self.log_path = os.path.join(work, "pcscd.log")

    def start(self, readers=True):
        config = os.path.join(self.work, "reader.conf.d" if readers else "no-reader.conf.d")
        os.makedirs(config, exist_ok=True)
        if readers:
            with open(os.path.join(config, "vpcd"), "w") as f:
                f.write('FRIENDLYNAME "Virtual PCD"\nDEVICENAME   /dev/null:0x%X\nLIBPATH      %s\n'
                        'CHANNELID    0x%X\n' % (VPCD_PORTS[0], VPCD_DRIVER, VPCD_PORTS[0]))
        log = open(self.log_path, "a")
        self.process = subprocess.Popen(["pcscd", "--foreground", "--config", config], stdout=log,
                                        stderr=subprocess.STDOUT)
        socket_path = os.path.join(PCSCD_RUN, "pcscd.comm")
        for _ in range(100):
            if os.path.exists(socket_path):
                return
            time.sleep(0.05)
        raise RuntimeError("pcscd did not make its socket: " + open(self.log_path).read()[-2000:])

    def stop(self):
        if not self.process:
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process = None

    @property
    def running(self):
        return self.process is not None and self.process.poll() is None


class Card:
    """A virtual PIV card for slot `slot` of the virtual reader, with keys
    (key reference -> "rsa2048", "p256" or "p384") issued by a throw-away
    authority written to `folder` (ca.pem, 9a.pem ...)."""

    def __init__(self, folder, slot=0, keys=None, name="Vorlink Card User", pin="123456", puk="12345678",
                 tries=3, guid=None):
        ca, slots = virtual_piv_card.generated_credentials(keys or {0x9A: "rsa2048"}, name)
        virtual_piv_card.write_credentials(folder, ca, slots)
        self.folder = folder
        self.name = name
        self.application = virtual_piv_card.PivApplication(slots, pin, puk, tries, guid)
        self.card = virtual_piv_card.VirtualCard(self.application, VPCD_PORTS[slot])
        self.reader = READER_NAMES[slot]
        # OpenSC's token serial: the second half of the CHUID's GUID, in hex.
        self.serial = self.application.guid[8:].hex()

    def certificate_pem(self, slot=0x9A):
        return os.path.join(self.folder, "%02x.pem" % slot)

    @property
    def ca_pem(self):
        return os.path.join(self.folder, "ca.pem")

    def insert(self, timeout=10.0):
        """Connects to the reader, waiting for vpcd to listen."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.card.insert()
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def remove(self):
        """Takes the card out and waits until pcscd has seen it go: vpcd
        learns of a removal only from its next poll (every 400 ms), and a
        command sent to the card before that can leave it stuck."""
        self.card.remove()
        self.wait_seen_out()

    def wait_seen_out(self, seconds=5):
        wait_until(lambda: not reader_has_card(self.reader), seconds, "pcscd sees %s empty" % self.reader)

    def pull_on(self, ins):
        self.card.pull_on(ins)

    @property
    def inserted(self):
        return self.card.inserted


def reader_has_card(reader):
    """Whether pcscd reports a card in `reader` (opensc-tool's reader list:
    "Nr.  Card  Features  Name", then one line per reader)."""
    listed = subprocess.run(["opensc-tool", "--list-readers"], capture_output=True, text=True).stdout
    return any(line.split()[1:2] == ["Yes"] and line.endswith(reader) for line in listed.splitlines()[2:])


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("%s within %s s" % (what, seconds))

