#!/usr/bin/python3
"""A virtual PIV smart card for tests, behind the vpcd reader driver of a
pcscd that the test runs itself.

vpcd listens on TCP (35963 for its first slot, 35964 for its second); the
card connects to it, and is in the reader while the connection is up.
Every message either way is a 2-byte big-endian length and its payload. A
1-byte payload from the reader is a control (00 power off, 01 power on,
02 reset, 04 the ATR, which the card answers); anything longer is a command
APDU, answered with a response APDU.

The card answers as a PIV card application: SELECT of the PIV AID, GET DATA
of the CHUID, the discovery object and the four certificate objects,
VERIFY of the PIN (reference 80) with a tries counter and a lock, CHANGE
REFERENCE DATA of the PIN and the PUK, RESET RETRY COUNTER, GENERAL
AUTHENTICATE with raw RSA-2048, ECDSA P-256 and P-384 keys, GET RESPONSE
and command chaining. Its keys and certificates are generated at start
(issued by a throw-away authority) or imported from files.

Used as a module (VirtualCard) by the card tests, or as a program:

    virtual_piv_card.py [--port 35963] [--key 9a=rsa2048 ...] [--pin 123456]
                        [--puk 12345678] [--tries 3] [--guid HEX32]
                        [--name "Vorlink Card User"] [--out DIR] [--import DIR]

--out writes ca.pem and each slot's certificate (9a.pem ...) to DIR;
--import takes the authority and each slot's key and certificate from DIR
(ca.pem, 9a.key, 9a.pem ...) instead of generating them. The program then
reads commands on standard input, one per line: "remove", "insert",
"pull-on INS" (the card is pulled while the next command with that
instruction byte, in hex, is under way), "quit".
"""
import argparse
import datetime
import os
import socket
import sys
import threading

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa, utils
from cryptography.x509.oid import NameOID

PIV_AID = bytes.fromhex("A000000308000010000100")
PIV_PIX = PIV_AID[5:]
# Historical bytes: a compact-TLV category (80) with the application
# identifier (tag F, 9 bytes long): enough for OpenSC to take its PIV driver.
HISTORICAL = bytes.fromhex("80F9") + PIV_AID[:9]

# Slot (key reference) -> the GET DATA tag of its certificate object.
CERTIFICATE_TAGS = {0x9A: "5FC105", 0x9C: "5FC10A", 0x9D: "5FC10B", 0x9E: "5FC101"}
# Algorithm identifier of GENERAL AUTHENTICATE -> key kind.
ALGORITHMS = {0x07: "rsa2048", 0x11: "p256", 0x14: "p384"}
KINDS = {kind: alg for alg, kind in ALGORITHMS.items()}

SW_OK = b"\x90\x00"
SW_WRONG_LENGTH = b"\x67\x00"
SW_SECURITY = b"\x69\x82"
SW_BLOCKED = b"\x69\x83"
SW_CONDITIONS = b"\x69\x85"
SW_WRONG_DATA = b"\x6A\x80"
SW_NOT_FOUND = b"\x6A\x82"
SW_WRONG_P1P2 = b"\x6A\x86"
SW_NO_REFERENCE = b"\x6A\x88"
SW_NO_INS = b"\x6D\x00"
SW_NO_CLA = b"\x6E\x00"


def make_atr():
    """3B, T0 announcing TD1 and the historical bytes, TD1 (T=0, TD2
    follows), TD2 (T=1), the historical bytes, and TCK over T0..last."""
    body = bytes([0x80 | len(HISTORICAL), 0x80, 0x01]) + HISTORICAL
    check = 0
    for b in body:
        check ^= b
    return b"\x3B" + body + bytes([check])


# --- BER-TLV -----------------------------------------------------------------

def tlv(tag, value):
    tag = bytes.fromhex(tag) if isinstance(tag, str) else bytes([tag])
    n = len(value)
    if n < 0x80:
        length = bytes([n])
    elif n <= 0xFF:
        length = bytes([0x81, n])
    else:
        length = bytes([0x82, n >> 8, n & 0xFF])
    return tag + length + value


def parse_tlv(data):
    """The top-level (tag, value) pairs of BER-TLV data; tags as hex text.
    Raises ValueError on data that does not parse."""
    items, i = [], 0
    while i < len(data):
        start = i
        i += 1
        if data[start] & 0x1F == 0x1F:
            while i < len(data) and data[i] & 0x80:
                i += 1
            i += 1
        if i >= len(data):
            raise ValueError("truncated tag")
        tag = data[start:i].hex().upper()
        n = data[i]
        i += 1
        if n & 0x80:
            count = n & 0x7F
            if count not in (1, 2, 3) or i + count > len(data):
                raise ValueError("bad length")
            n = int.from_bytes(data[i:i + count], "big")
            i += count
        if i + n > len(data):
            raise ValueError("truncated value")
        items.append((tag, data[i:i + n]))
        i += n
    return items


# --- APDUs -------------------------------------------------------------------

class Apdu:
    """A command APDU of any ISO 7816-4 case, short or extended."""

    def __init__(self, raw):
        if len(raw) < 4:
            raise ValueError("short APDU")
        self.cla, self.ins, self.p1, self.p2 = raw[:4]
        self.data, self.le = b"", None
        body = raw[4:]
        if not body:
            return
        if len(body) == 1:
            self.le = body[0] or 256
        elif body[0] != 0:
            lc = body[0]
            if len(body) not in (1 + lc, 2 + lc):
                raise ValueError("Lc does not match")
            self.data = body[1:1 + lc]
            if len(body) == 2 + lc:
                self.le = body[-1] or 256
        elif len(body) == 3:
            self.le = int.from_bytes(body[1:3], "big") or 65536
        else:
            lc = int.from_bytes(body[1:3], "big")
            if len(body) not in (3 + lc, 5 + lc):
                raise ValueError("extended Lc does not match")
            self.data = body[3:3 + lc]
            if len(body) == 5 + lc:
                self.le = int.from_bytes(body[-2:], "big") or 65536


# --- keys and certificates ---------------------------------------------------

def new_key(kind):
    if kind == "rsa2048":
        return rsa.generate_private_key(public_exponent=65537, key_size=2048)
    if kind == "p256":
        return ec.generate_private_key(ec.SECP256R1())
    if kind == "p384":
        return ec.generate_private_key(ec.SECP384R1())
    raise ValueError("unknown key kind " + kind)


def kind_of(key):
    if isinstance(key, rsa.RSAPrivateKey) and key.key_size == 2048:
        return "rsa2048"
    if isinstance(key, ec.EllipticCurvePrivateKey):
        return {"secp256r1": "p256", "secp384r1": "p384"}.get(key.curve.name)
    return None


def issue(ca_key, ca_name, subject, public_key, is_ca=False):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(ca_name).public_key(public_key)
               .serial_number(x509.random_serial_number()).not_valid_before(now - datetime.timedelta(minutes=5))
               .not_valid_after(now + datetime.timedelta(days=2))
               .add_extension(x509.BasicConstraints(ca=is_ca, path_length=None), critical=True))
    if is_ca:
        usage = dict(key_cert_sign=True, crl_sign=True, digital_signature=False)
    else:
        usage = dict(key_cert_sign=False, crl_sign=False, digital_signature=True)
    builder = builder.add_extension(x509.KeyUsage(content_commitment=False, key_encipherment=False,
                                                  data_encipherment=False, key_agreement=False,
                                                  encipher_only=False, decipher_only=False, **usage), critical=True)
    return builder.sign(ca_key, hashes.SHA256())


def generated_credentials(kinds, name):
    """A throw-away authority and, per slot, a key of the asked kind with a
    certificate for `name` that the authority issued."""
    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "Vorlink45 virtual card CA")])
    ca = issue(ca_key, ca_name, ca_name, ca_key.public_key(), is_ca=True)
    slots = {}
    for slot, kind in kinds.items():
        key = new_key(kind)
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name),
                             x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, "slot %02X %s" % (slot, kind))])
        slots[slot] = (key, issue(ca_key, ca_name, subject, key.public_key()))
    return ca, slots


def imported_credentials(folder):
    """ca.pem and each slot's <slot>.key and <slot>.pem from `folder`."""
    with open(os.path.join(folder, "ca.pem"), "rb") as f:
        ca = x509.load_pem_x509_certificate(f.read())
    slots = {}
    for slot in CERTIFICATE_TAGS:
        key_path = os.path.join(folder, "%02x.key" % slot)
        if not os.path.exists(key_path):
            continue
        with open(key_path, "rb") as f:
            key = serialization.load_pem_private_key(f.read(), password=None)
        with open(os.path.join(folder, "%02x.pem" % slot), "rb") as f:
            slots[slot] = (key, x509.load_pem_x509_certificate(f.read()))
    return ca, slots


def write_credentials(folder, ca, slots):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "ca.pem"), "wb") as f:
        f.write(ca.public_bytes(serialization.Encoding.PEM))
    for slot, (_, certificate) in slots.items():
        with open(os.path.join(folder, "%02x.pem" % slot), "wb") as f:
            f.write(certificate.public_bytes(serialization.Encoding.PEM))


# --- the card application ----------------------------------------------------

def padded_pin(pin):
    return pin.encode() + b"\xFF" * (8 - len(pin))


class PivApplication:
    """The card's state and its answer to each command. Not thread-safe:
    the connection's thread is its only user, except for the counters the
    test reads."""

    def __init__(self, slots, pin="123456", puk="12345678", tries=3, guid=None):
        self.slots = slots  # key reference -> (private key, certificate)
        self.pin, self.puk = padded_pin(pin), padded_pin(puk)
        self.max_tries = tries
        self.pin_tries, self.puk_tries = tries, tries
        self.guid = guid or os.urandom(16)
        self.objects = self._objects()
        self.reset()

    def _objects(self):
        fasc_n = bytes.fromhex("D4E739DA739CED39CE739D836858210842108421C84210C3EB")
        chuid = tlv(0x30, fasc_n) + tlv(0x34, self.guid) + tlv(0x35, b"20991231") + tlv(0x3E, b"") + tlv(0xFE, b"")
        objects = {"5FC102": tlv(0x53, chuid),
                   # Discovery: the PIV AID; the PIN policy says the PIV
                   # application PIN is the one to use.
                   "7E": tlv(0x7E, tlv(0x4F, PIV_AID) + tlv("5F2F", b"\x40\x00"))}
        for slot, (_, certificate) in self.slots.items():
            der = certificate.public_bytes(serialization.Encoding.DER)
            objects[CERTIFICATE_TAGS[slot]] = tlv(0x53, tlv(0x70, der) + tlv(0x71, b"\x00") + tlv(0xFE, b""))
        return objects

    def reset(self):
        """Power on or reset: nothing selected, the PIN not verified."""
        self.selected = False
        self.verified = False
        self.chain = None  # (INS, P1, P2, data so far) of a chained command
        self.pending = b""  # response data left for GET RESPONSE

    # Each handler returns (data, status word).
    def process(self, raw):
        try:
            apdu = Apdu(raw)
        except ValueError:
            return SW_WRONG_LENGTH
        if apdu.cla & ~0x10 not in (0x00,):
            return SW_NO_CLA
        if apdu.ins == 0xC0:
            return self._get_response(apdu)
        self.pending = b""
        if apdu.cla & 0x10:
            if self.chain and self.chain[:3] != (apdu.ins, apdu.p1, apdu.p2):
                self.chain = None
                return SW_CONDITIONS
            data = (self.chain[3] if self.chain else b"") + apdu.data
            self.chain = (apdu.ins, apdu.p1, apdu.p2, data)
            return SW_OK
        if self.chain:
            if self.chain[:3] != (apdu.ins, apdu.p1, apdu.p2):
                self.chain = None
                return SW_CONDITIONS
            apdu.data = self.chain[3] + apdu.data
            self.chain = None
        data, sw = self._dispatch(apdu)
        return self._respond(data, sw, apdu.le)

    def _respond(self, data, sw, le):
        if not data or sw != SW_OK:
            return sw
        limit = le if le is not None else 0
        self.pending = data[limit:]
        if self.pending:
            return data[:limit] + bytes([0x61, min(len(self.pending), 256) & 0xFF])
        return data + SW_OK

    def _get_response(self, apdu):
        if not self.pending:
            return SW_CONDITIONS
        data, self.pending = self.pending, b""
        return self._respond(data, SW_OK, apdu.le or 256)

    def _dispatch(self, apdu):
        handlers = {0xA4: self._select, 0xCB: self._get_data, 0x20: self._verify, 0x24: self._change_reference,
                    0x2C: self._reset_retry_counter, 0x87: self._general_authenticate}
        handler = handlers.get(apdu.ins)
        if not handler:
            return b"", SW_NO_INS
        if apdu.ins != 0xA4 and not self.selected:
            return b"", SW_CONDITIONS
        return handler(apdu)

    def _select(self, apdu):
        if apdu.p1 != 0x04 or len(apdu.data) < 5 or not PIV_AID.startswith(apdu.data):
            return b"", SW_NOT_FOUND
        self.selected = True
        algorithms = b"".join(tlv(0x80, bytes([alg])) for alg in sorted(ALGORITHMS)) + tlv(0x06, b"\x00")
        template = (tlv(0x4F, PIV_PIX) + tlv(0x79, tlv(0x4F, PIV_AID[:5])) + tlv(0x50, b"Vorlink virtual PIV")
                    + tlv(0xAC, algorithms))
        return tlv(0x61, template), SW_OK

    def _get_data(self, apdu):
        if (apdu.p1, apdu.p2) != (0x3F, 0xFF):
            return b"", SW_WRONG_P1P2
        try:
            items = dict(parse_tlv(apdu.data))
        except ValueError:
            return b"", SW_WRONG_DATA
        if "5C" not in items:
            return b"", SW_WRONG_DATA
        found = self.objects.get(items["5C"].hex().upper())
        return (found, SW_OK) if found else (b"", SW_NOT_FOUND)

    def _tries_word(self, tries):
        return bytes([0x63, 0xC0 | min(tries, 15)])

    def _check(self, attempt, reference, counter):
        """Compares a PIN or PUK, counting a wrong one; returns the status
        word."""
        tries = getattr(self, counter)
        if tries == 0:
            return SW_BLOCKED
        if attempt != reference:
            setattr(self, counter, tries - 1)
            return self._tries_word(tries - 1)
        setattr(self, counter, self.max_tries)
        return SW_OK

    def _verify(self, apdu):
        if apdu.p1 not in (0x00, 0xFF):
            return b"", SW_WRONG_P1P2
        if apdu.p2 != 0x80:  # only the PIN is verified; the PUK only unblocks
            return b"", SW_NO_REFERENCE
        if apdu.p1 == 0xFF:  # reset the security status
            self.verified = False
            return b"", SW_OK
        if not apdu.data:  # the status: verified, else the tries left
            if self.verified:
                return b"", SW_OK
            return b"", SW_BLOCKED if self.pin_tries == 0 else self._tries_word(self.pin_tries)
        if len(apdu.data) != 8:
            return b"", SW_WRONG_DATA
        sw = self._check(apdu.data, self.pin, "pin_tries")
        self.verified = sw == SW_OK
        return b"", sw

    def _change_reference(self, apdu):
        if apdu.p1 != 0x00 or apdu.p2 not in (0x80, 0x81):
            return b"", SW_WRONG_P1P2
        if len(apdu.data) != 16:
            return b"", SW_WRONG_DATA
        old, new = apdu.data[:8], apdu.data[8:]
        field, counter = ("pin", "pin_tries") if apdu.p2 == 0x80 else ("puk", "puk_tries")
        sw = self._check(old, getattr(self, field), counter)
        if sw == SW_OK:
            setattr(self, field, new)
        if apdu.p2 == 0x80:
            self.verified = sw == SW_OK
        return b"", sw

    def _reset_retry_counter(self, apdu):
        if (apdu.p1, apdu.p2) != (0x00, 0x80):
            return b"", SW_WRONG_P1P2
        if len(apdu.data) != 16:
            return b"", SW_WRONG_DATA
        sw = self._check(apdu.data[:8], self.puk, "puk_tries")
        if sw == SW_OK:
            self.pin, self.pin_tries, self.verified = apdu.data[8:], self.max_tries, False
        return b"", sw

    def _general_authenticate(self, apdu):
        slot = self.slots.get(apdu.p2)
        if not slot or ALGORITHMS.get(apdu.p1) != kind_of(slot[0]):
            return b"", SW_WRONG_P1P2
        if apdu.p2 != 0x9E and not self.verified:
            return b"", SW_SECURITY
        try:
            template = dict(parse_tlv(apdu.data))
            inner = dict(parse_tlv(template["7C"]))
            challenge = inner["81"]
        except (ValueError, KeyError):
            return b"", SW_WRONG_DATA
        key = slot[0]
        if apdu.p2 == 0x9C:  # the signature key wants the PIN right before each use
            self.verified = False
        try:
            answer = raw_rsa(key, challenge) if isinstance(key, rsa.RSAPrivateKey) else ecdsa(key, challenge)
        except ValueError:
            return b"", SW_WRONG_DATA
        return tlv(0x7C, tlv(0x82, answer)), SW_OK


def raw_rsa(key, block):
    """The RSA private-key operation on a block as long as the modulus (the
    host did the padding)."""
    numbers = key.private_numbers()
    n = numbers.public_numbers.n
    size = (n.bit_length() + 7) // 8
    m = int.from_bytes(block, "big")
    if len(block) != size or m >= n:
        raise ValueError("block does not fit the key")
    # CRT: two half-size exponentiations.
    s1 = pow(m, numbers.dmp1, numbers.p)
    s2 = pow(m, numbers.dmq1, numbers.q)
    h = (numbers.iqmp * (s1 - s2)) % numbers.p
    return (s2 + h * numbers.q).to_bytes(size, "big")


def ecdsa(key, digest):
    """An ECDSA signature (DER) over a digest as the host sent it."""
    by_size = {20: hashes.SHA1(), 28: hashes.SHA224(), 32: hashes.SHA256(), 48: hashes.SHA384(), 64: hashes.SHA512()}
    if len(digest) not in by_size:
        raise ValueError("digest of an unknown size")
    return key.sign(digest, ec.ECDSA(utils.Prehashed(by_size[len(digest)])))


# --- the connection to the reader --------------------------------------------

class VirtualCard:
    """One card in one vpcd slot: insert() connects, remove() disconnects,
    pull_on(ins) pulls it during the next command with that instruction."""

    def __init__(self, application, port=35963, host="127.0.0.1"):
        self.application = application
        self.address = (host, port)
        self.atr = make_atr()
        self.commands = []  # instruction bytes seen, for tests
        self._lock = threading.Lock()
        self._socket = None
        self._pull_on = None
        self._thread = None

    @property
    def inserted(self):
        return self._socket is not None

    def insert(self, timeout=10.0):
        with self._lock:
            if self._socket:
                return
            sock = socket.create_connection(self.address, timeout=timeout)
            self.application.reset()  # a card put in has no power, nothing selected, no PIN verified
            sock.settimeout(None)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self._socket = sock
            self._thread = threading.Thread(target=self._serve, args=(sock,), daemon=True)
            self._thread.start()

    def remove(self):
        with self._lock:
            sock, self._socket = self._socket, None
        if sock:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()

    def pull_on(self, ins):
        self._pull_on = ins

    def _serve(self, sock):
        try:
            while True:
                message = self._receive(sock)
                if message is None:
                    break
                answer = self._answer(message)
                if answer is False:
                    break
                if answer is not None:
                    sock.sendall(len(answer).to_bytes(2, "big") + answer)
        except OSError:
            pass
        if self._socket is sock:
            self.remove()

    def _receive(self, sock):
        header = self._read(sock, 2)
        if header is None:
            return None
        return self._read(sock, int.from_bytes(header, "big"))

    @staticmethod
    def _read(sock, n):
        data = b""
        while len(data) < n:
            # vpcd writes a command's length and its body separately: an
            # acknowledgement held back 40 ms would delay every APDU.
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            chunk = sock.recv(n - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def _answer(self, message):
        """The reply to one message: bytes, None for no reply, False when the
        card is pulled now."""
        if len(message) == 1:
            if message[0] in (0x00, 0x01, 0x02):
                self.application.reset()
                return None
            return self.atr if message[0] == 0x04 else None
        if len(message) >= 2:
            self.commands.append(message[1])
        if self._pull_on is not None and len(message) >= 2 and message[1] == self._pull_on:
            self._pull_on = None
            return False
        return self.application.process(message)


def parse_keys(specs):
    kinds = {}
    for spec in specs:
        slot, _, kind = spec.partition("=")
        slot = int(slot, 16)
        if slot not in CERTIFICATE_TAGS or kind not in KINDS:
            raise SystemExit("bad --key %s: slot 9a, 9c, 9d or 9e = rsa2048, p256 or p384" % spec)
        kinds[slot] = kind
    return kinds or {0x9A: "rsa2048"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=35963)
    parser.add_argument("--key", action="append", default=[])
    parser.add_argument("--pin", default="123456")
    parser.add_argument("--puk", default="12345678")
    parser.add_argument("--tries", type=int, default=3)
    parser.add_argument("--guid")
    parser.add_argument("--name", default="Vorlink Card User")
    parser.add_argument("--out")
    parser.add_argument("--import", dest="import_from")
    args = parser.parse_args()
    if args.import_from:
        ca, slots = imported_credentials(args.import_from)
    else:
        ca, slots = generated_credentials(parse_keys(args.key), args.name)
    if args.out:
        write_credentials(args.out, ca, slots)
    card = VirtualCard(PivApplication(slots, args.pin, args.puk, args.tries,
                                      bytes.fromhex(args.guid) if args.guid else None), args.port)
    card.insert()
    print("inserted", flush=True)
    for line in sys.stdin:
        word, _, rest = line.strip().partition(" ")
        if word == "remove":
            card.remove()
        elif word == "insert":
            card.insert()
        elif word == "pull-on":
            card.pull_on(int(rest, 16))
        elif word == "quit":
            break
        print("ok " + word, flush=True)
    card.remove()


if __name__ == "__main__":
    main()
