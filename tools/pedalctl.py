#!/usr/bin/python3
"""Remote control of the pedal over TCP or USB serial, with the Python standard library only.

Examples:
  pedalctl.py --tcp 127.0.0.1:8080 browse root
  pedalctl.py --serial /dev/ttyACM0 --password secret write 'root\\app\\amp\\gain' 7
  pedalctl.py --tcp pedal.local upload-slot 'root\\app\\irs' 3 "Room" room.wav
  pedalctl.py --tcp pedal.local firmware app_run

The protocol is described in docs/remote-protocol.md.
"""

import argparse
import binascii
import gzip
import json
import math
import os
import select
import socket
import struct
import sys
import termios
import time

# The product key of the token answer (docs/remote-security.md); public, it binds answers to this product.
PRODUCT_KEY = bytes([0xD0, 0x06, 0x8D, 0x37, 0xC7, 0xAA, 0x63, 0x04,
                     0x1D, 0x41, 0x5C, 0x81, 0x40, 0x32, 0xB4, 0x22])
SEPARATOR = "\r\n"
NAME_RECORD_SIZE = 128
NAME_FIELD_SIZE = 64
DEFAULT_PORT = 8080
TIMEOUT_S = 20.0


class PedalError(Exception):
    pass


class LinkError(PedalError):
    """The connection broke or no reply came: the pedal may or may not have taken the request."""


def same_value(taken, wanted):
    """True when the pedal holds the wanted value; numbers are stored as 32-bit floats."""
    numbers = (int, float)
    if isinstance(taken, numbers) and isinstance(wanted, numbers) and not isinstance(wanted, bool):
        return math.isclose(taken, wanted, rel_tol=1e-6, abs_tol=1e-9)
    return taken == wanted


# Requests and replies are bytes; node texts are UTF-8, and any other byte survives the round trip.
def encode(text):
    return text.encode("utf-8", "surrogateescape")


def decode(data):
    return data.decode("utf-8", "surrogateescape")


def siphash24(key, message):
    """SipHash-2-4 of message under a 16-byte key; the 8 result bytes, least significant first."""
    mask = 0xFFFFFFFFFFFFFFFF

    def rotl(x, b):
        return ((x << b) | (x >> (64 - b))) & mask

    k0, k1 = struct.unpack("<QQ", key)
    v = [k0 ^ 0x736F6D6570736575, k1 ^ 0x646F72616E646F6D,
         k0 ^ 0x6C7967656E657261, k1 ^ 0x7465646279746573]

    def rounds(count):
        for _ in range(count):
            v[0] = (v[0] + v[1]) & mask
            v[1] = rotl(v[1], 13) ^ v[0]
            v[0] = rotl(v[0], 32)
            v[2] = (v[2] + v[3]) & mask
            v[3] = rotl(v[3], 16) ^ v[2]
            v[0] = (v[0] + v[3]) & mask
            v[3] = rotl(v[3], 21) ^ v[0]
            v[2] = (v[2] + v[1]) & mask
            v[1] = rotl(v[1], 17) ^ v[2]
            v[2] = rotl(v[2], 32)

    whole = len(message) - len(message) % 8
    for offset in range(0, whole, 8):
        (m,) = struct.unpack_from("<Q", message, offset)
        v[3] ^= m
        rounds(2)
        v[0] ^= m
    last = (len(message) & 0xFF) << 56
    for i, byte in enumerate(message[whole:]):
        last |= byte << (8 * i)
    v[3] ^= last
    rounds(2)
    v[0] ^= last
    v[2] ^= 0xFF
    rounds(4)
    return struct.pack("<Q", v[0] ^ v[1] ^ v[2] ^ v[3])


def token_answer(password, token):
    """The answer to a token: SipHash-2-4 of the password's bytes followed by the token's, upper-case hex."""
    data = encode(password) + token.encode("ascii")
    return siphash24(PRODUCT_KEY, data).hex().upper()


def parse_address(address):
    """HOST, HOST:PORT, [IPV6] or [IPV6]:PORT (a bare IPv6 address takes the default port)."""
    host, port = address, str(DEFAULT_PORT)
    if address.startswith("["):
        end = address.find("]")
        rest = address[end + 1:] if end > 0 else "?"
        if end < 0 or (rest and not rest.startswith(":")):
            raise PedalError("bad TCP address %r (HOST[:PORT], an IPv6 address as [ADDRESS]:PORT)" % address)
        host = address[1:end]
        if rest:
            port = rest[1:]
    elif address.count(":") == 1:
        host, port = address.split(":")
    if not host or not port.isdigit() or not 0 < int(port) < 65536:
        raise PedalError("bad TCP address %r (HOST[:PORT], an IPv6 address as [ADDRESS]:PORT)" % address)
    return host, int(port)


# The commands whose effect a second copy would repeat.
STATE_CHANGING = ("write", "dwrite", "dswap", "supd", "upd")


class TcpLink:
    def __init__(self, address):
        self.address = parse_address(address)
        self.sock = None
        # Connections made so far: a download that meets a new one starts over, as the pedal keeps the copy
        # it downloads from per connection.
        self.connections = 0

    def _connect(self):
        try:
            self.sock = socket.create_connection(self.address, timeout=TIMEOUT_S)
            self.connections += 1
        except OSError as error:
            raise PedalError("cannot connect to %s port %d: %s" % (self.address[0], self.address[1],
                                                                  error.strerror or error))

    def exchange(self, request, resend=True):
        """One request and its reply. The pedal closes a connection that is quiet for 5 s, so a request that
        meets a closed connection is sent again on a new one, but only when resend allows it: a request that
        may have been taken before the connection broke is never sent twice."""
        for attempt in range(2):
            if self.sock is None:
                self._connect()
            try:
                self.sock.sendall(request + b"\0")
                return self._reply()
            except (OSError, PedalError) as error:
                self.close()
                if attempt == 1 or not resend:
                    raise LinkError("connection lost: %s" % error)
        raise PedalError("no reply")

    def _reply(self):
        data = bytearray()
        while b"\0" not in data:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise PedalError("connection closed by the pedal")
            data += chunk
        end = data.index(b"\0")
        if end != len(data) - 1:
            raise PedalError("bytes after the reply's end")
        return bytes(data[:end])

    def close(self):
        if self.sock is not None:
            self.sock.close()
        self.sock = None


class SerialLink:
    # Quiet time that ends the resynchronisation: the pedal sends a reply as fast as the line takes it.
    QUIET_S = 0.2
    connections = 1

    def __init__(self, path):
        try:
            self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        except OSError as error:
            raise PedalError("cannot open the serial port %s: %s" % (path, error.strerror or error))
        try:
            attributes = termios.tcgetattr(self.fd)
        except termios.error:
            os.close(self.fd)
            raise PedalError("%s is not a serial port" % path)
        iflag, oflag, cflag, lflag = attributes[0:4]
        iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP | termios.INLCR |
                   termios.IGNCR | termios.ICRNL | termios.IXON | termios.IXOFF | termios.IXANY)
        oflag &= ~termios.OPOST
        lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
        cflag = (cflag & ~(termios.CSIZE | termios.PARENB)) | termios.CS8
        attributes[0:4] = [iflag, oflag, cflag, lflag]
        attributes[6][termios.VMIN] = 1
        attributes[6][termios.VTIME] = 0
        termios.tcsetattr(self.fd, termios.TCSANOW, attributes)
        termios.tcflush(self.fd, termios.TCIOFLUSH)
        self._resynchronise()

    def _resynchronise(self):
        """Discards what an earlier client left: the rest of a reply still coming, or half a request in the
        pedal. A lone NUL ends such a request (an empty request is answered "\\r\\n" and changes nothing);
        what arrives until a NUL has come and the line has been quiet for a moment is dropped."""
        self._write(b"\0")
        deadline = time.monotonic() + TIMEOUT_S
        ended = False
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise PedalError("no answer from the serial port")
            readable, _, _ = select.select([self.fd], [], [], min(remaining, self.QUIET_S))
            if not readable:
                if ended:
                    return
                continue
            ended = b"\0" in self._read() or ended

    def _write(self, data):
        while data:
            written = os.write(self.fd, data)
            data = data[written:]

    def _read(self):
        try:
            data = os.read(self.fd, 65536)
        except OSError as error:
            raise PedalError("serial port lost: %s" % (error.strerror or error))
        if not data:
            raise PedalError("serial port lost")
        return data

    def exchange(self, request, resend=True):
        self._write(request + b"\0")
        reply = bytearray()
        deadline = time.monotonic() + TIMEOUT_S
        while b"\0" not in reply:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise LinkError("no reply from the serial port")
            readable, _, _ = select.select([self.fd], [], [], remaining)
            if readable:
                reply += self._read()
        end = reply.index(b"\0")
        return bytes(reply[:end])

    def close(self):
        os.close(self.fd)


class Pedal:
    """One client session: sends requests, keeps the token of the last reply and answers it."""

    def __init__(self, link, password=None):
        self.link = link
        self.password = password
        self.token = None
        # Set when the last request was refused for want of a password: its guarded commands did nothing.
        self.refused = False

    def request(self, lines, resend=True):
        """Sends the lines as one request and returns the reply text without its token line. resend=False:
        never send the request twice (a refused one is sent again: it did nothing). A request that changes
        state is never sent twice in any case: had the pedal taken it before the connection broke, a second
        copy would change the state again (a swap swapped back, a chunk taken twice)."""
        if any(line.split(" ", 1)[0] in STATE_CHANGING for line in lines):
            resend = False
        for attempt in range(2):
            if self.password is not None and self.token is None:
                self._fetch_token()
            body = SEPARATOR.join(lines)
            if self.password is not None:
                body = "token " + token_answer(self.password, self.token) + SEPARATOR + body
            reply = self.link.exchange(encode(body), resend)
            text, accepted = self._strip_token(decode(reply))
            self.refused = not accepted
            if accepted or self.password is None:
                return text
            # Another client of the same TCP transport may have taken the token: fetch a new one once.
            self.token = None
        raise PedalError("the pedal refused the password")

    def _fetch_token(self):
        reply = self.link.exchange(b"token -")
        self._strip_token(decode(reply))
        if self.token is None:
            # No token line: the pedal has no password, so no answer is needed.
            self.password = None

    def _strip_token(self, text):
        if not text.startswith("token "):
            return text, True
        line, _, rest = text.partition(SEPARATOR)
        parts = line.split(" ")
        if len(parts) != 3:
            raise PedalError("malformed token line: " + line)
        self.token = parts[1]
        return rest, parts[2] == "y"

    def browse(self, path):
        text = self.request(["browse " + path])
        if not text.strip(SEPARATOR):
            raise PedalError("no node " + path)
        return text

    def read(self, path):
        text = self.request(["read " + path])
        # A folder without changes reads as nothing: only a browse tells whether it is there.
        if not text.strip(SEPARATOR):
            self.browse(path)
        return text

    def write(self, path, value):
        """Writes the value and reads it back in the same request; a node that is missing or took another
        value is an error. Returns the write's reply piece (the argument and "\\r\\n")."""
        argument = "%s:%s" % (path, json.dumps({"value": value}, ensure_ascii=False, separators=(",", ":")))
        try:
            text = self.request(["write " + argument, "read " + path])
        except LinkError as error:
            # The write may have been taken: what the pedal holds now tells.
            try:
                taken = self.describe(path)
            except PedalError as failure:
                raise PedalError("the write's reply was lost (%s) and the value cannot be read back (%s)" %
                                 (error, failure))
            self._check_taken(path, taken, value)
            return argument + SEPARATOR
        if self.refused:
            return ""
        entry = text[len(argument + SEPARATOR):] if text.startswith(argument + SEPARATOR) else ""
        prefix = path + ":"
        if not entry.startswith(prefix):
            raise PedalError("no node " + path)
        self._check_taken(path, json.loads(entry[len(prefix):]), value)
        return argument + SEPARATOR

    @staticmethod
    def _check_taken(path, taken, value):
        if "set" in taken:
            # A secret reads as "" and tells only whether it holds a value.
            if taken["set"] != (value != ""):
                raise PedalError("the pedal did not take the new value of " + path)
        elif not same_value(taken.get("value"), value):
            raise PedalError("the pedal took %s instead of %s for %s" % (
                json.dumps(taken.get("value"), ensure_ascii=False), json.dumps(value, ensure_ascii=False), path))

    def describe(self, path):
        """The full description of one node as a dictionary."""
        text = self.browse(path).split(SEPARATOR)[0]
        prefix = path + ":"
        if not text.startswith(prefix):
            raise PedalError("no node " + path)
        return json.loads(text[len(prefix):])

    def upload_slot(self, path, index, name, data):
        info = self.describe(path)
        chunk = int(info.get("chunk", 128))
        stream = gzip.compress(data) if info.get("gzip") else data
        encoded = name.encode("utf-8")
        if not encoded or len(encoded) >= NAME_FIELD_SIZE:
            raise PedalError("a slot name has 1 to %d bytes" % (NAME_FIELD_SIZE - 1))
        record = encoded.ljust(NAME_FIELD_SIZE, b"\0") + struct.pack("<II", len(stream), len(data))
        record = record.ljust(NAME_RECORD_SIZE, b"\0")
        pieces = [record] + [stream[i:i + chunk] for i in range(0, len(stream), chunk)]
        for number, piece in enumerate(pieces):
            body = json.dumps({"index": index, "chunk": number, "value": piece.hex().upper()}, separators=(",", ":"))
            status = self._list_status(self.request(["dwrite %s:%s" % (path, body)]), "dwrite ", path)
            if status.get("chunk") != number or status.get("index") != index:
                raise PedalError("the pedal refused chunk %d of %d" % (number, len(pieces) - 1))

    def download_slot(self, path, index):
        """The name and data of one version of the slot. The pedal serves a download from a copy it keeps per
        connection, so after a reconnection (or an empty answer: the pedal holds no copy) it starts over at
        chunk 0; a size or length that disagrees with chunk 0's is an error, never a file of two versions."""
        info = self.describe(path)
        for _ in range(3):
            first = self._read_chunk(path, index, 0)
            connection = self.link.connections
            record = bytes.fromhex(first.get("value", ""))
            if len(record) != NAME_RECORD_SIZE:
                raise PedalError("unexpected reply to chunk 0 of slot %d" % index)
            name = record[:NAME_FIELD_SIZE].split(b"\0")[0].decode("utf-8", "replace")
            if not name:
                raise PedalError("slot %d of %s is empty" % (index, path))
            size = int(first.get("size", 0))
            stream = self._read_stream(path, index, size, connection)
            if stream is None:
                continue
            data = bytes(stream)
            if info.get("gzip") and data:
                try:
                    data = gzip.decompress(data)
                except (OSError, EOFError) as error:
                    raise PedalError("the data of slot %d does not unpack: %s" % (index, error))
            stored = struct.unpack_from("<I", record, NAME_FIELD_SIZE + 4)[0]
            if len(data) != stored:
                raise PedalError("slot %d holds %d bytes, not the %d announced" % (index, len(data), stored))
            return name, data
        raise PedalError("slot %d kept changing while it was downloaded" % index)

    def _read_stream(self, path, index, size, connection):
        """The chunks after chunk 0 up to size bytes; None when the download must start over."""
        stream = bytearray()
        number = 1
        while len(stream) < size:
            piece = self._read_chunk(path, index, number, may_be_empty=True)
            if piece is None or self.link.connections != connection:
                return None
            if int(piece.get("size", -1)) != size:
                raise PedalError("slot %d changed during the download (size %d, then %s)" % (
                    index, size, piece.get("size")))
            value = bytes.fromhex(piece.get("value", ""))
            if not value:
                raise PedalError("the pedal sent %d of the %d bytes of slot %d" % (len(stream), size, index))
            stream += value
            number += 1
        return stream

    def swap_slots(self, path, first, second):
        """True when the pedal swapped the slots. When the reply is lost the slot names, read back on a new
        connection, tell whether the swap happened; a swap that cannot be told from no swap is an error."""
        line = "dswap %s:%s" % (path, json.dumps({"index": first, "index2": second}, separators=(",", ":")))
        names = self.describe(path).get("value", [])
        try:
            return self.request([line]) == line
        except PedalError as error:
            lost = error
        try:
            after = self.describe(path).get("value", [])
        except PedalError as error:
            raise PedalError("the swap's reply was lost (%s) and the slots cannot be read back (%s)" % (lost, error))
        valid = all(0 <= i < min(len(names), len(after)) for i in (first, second))
        before = (names[first], names[second]) if valid else None
        now = (after[first], after[second]) if valid else None
        if not valid or before[0] == before[1] or now not in (before, before[::-1]):
            raise PedalError("the swap's reply was lost (%s); whether the slots were swapped is unknown" % lost)
        return now == before[::-1]

    def _read_chunk(self, path, index, number, may_be_empty=False):
        body = json.dumps({"index": index, "chunk": number}, separators=(",", ":"))
        reply = self.request(["dread %s:%s" % (path, body)])
        if may_be_empty and not reply.strip(SEPARATOR):
            return None
        return self._list_status(reply, "dread ", path)

    @staticmethod
    def _list_status(reply, word, path):
        prefix = word + path + ":"
        if not reply.startswith(prefix):
            raise PedalError("unexpected reply: " + reply[:200])
        return json.loads(reply[len(prefix):])

    def install_firmware(self, image, progress=None):
        if not image:
            raise PedalError("the image is empty")
        reply = self.request(["supd %d" % len(image)], resend=False)
        if self.refused:
            raise PedalError("the pedal refused the upload: it has a password (use --password)")
        try:
            batch = int(reply)
        except ValueError:
            raise PedalError("the pedal did not start the upload: " + reply[:200])
        if batch <= 0:
            raise PedalError("the pedal refused the upload size")
        for offset in range(0, len(image), batch):
            piece = image[offset:offset + batch]
            try:
                # A chunk is never sent twice: if the connection broke after the pedal took it, a second copy
                # would be stored as the next bytes of the image.
                reply = self.request(["upd " + piece.hex().upper()], resend=False)
            except PedalError as error:
                raise PedalError("upload interrupted at byte %d (%s); the image was not installed" % (offset, error))
            expected = min(offset + len(piece), len(image))
            if reply == "0" and offset == 0:
                raise PedalError("the pedal refused the upload (size %d)" % len(image))
            if reply != str(expected):
                raise PedalError("upload failed at byte %d: the pedal answered %r" % (offset, reply[:200]))
            if progress:
                progress(expected, len(image))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Remote control of the pedal over TCP or USB serial.")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--tcp", metavar="HOST[:PORT]", help="the pedal's TCP address (port 8080 by default)")
    where.add_argument("--serial", metavar="PATH", help="the pedal's USB serial port, such as /dev/ttyACM0")
    parser.add_argument("--password", help="the remote-control password, when one is set")
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("request", help="send raw lines as one request").add_argument("lines", nargs="+")
    commands.add_parser("browse", help="full description of a node and its subtree").add_argument("path")
    commands.add_parser("read", help="values changed since the last look").add_argument("path")
    write = commands.add_parser("write", help="set a node; the value is JSON (7, \"text\")")
    write.add_argument("path")
    write.add_argument("value")
    commands.add_parser("set-password", help="set the remote-control password ('' removes it)").add_argument("new")
    upload = commands.add_parser("upload-slot", help="write a file into a list slot")
    upload.add_argument("path")
    upload.add_argument("index", type=int)
    upload.add_argument("name")
    upload.add_argument("file")
    download = commands.add_parser("download-slot", help="read a list slot into a file")
    download.add_argument("path")
    download.add_argument("index", type=int)
    download.add_argument("file")
    swap = commands.add_parser("swap-slots", help="exchange two slots of a list")
    swap.add_argument("path")
    swap.add_argument("first", type=int)
    swap.add_argument("second", type=int)
    commands.add_parser("firmware", help="upload a firmware image").add_argument("file")
    args = parser.parse_args(argv)

    link = None
    out = sys.stdout
    try:
        link = TcpLink(args.tcp) if args.tcp else SerialLink(args.serial)
        pedal = Pedal(link, args.password)
        if args.command == "request":
            out.write(pedal.request(args.lines))
        elif args.command == "browse":
            out.write(pedal.browse(args.path))
        elif args.command == "read":
            out.write(pedal.read(args.path))
        elif args.command == "write":
            try:
                value = json.loads(args.value)
            except ValueError:
                raise PedalError("the value %s is not JSON (a number, or a text in double quotes: '\"text\"')"
                                 % args.value)
            out.write(pedal.write(args.path, value))
        elif args.command == "set-password":
            out.write(pedal.write("root\\sys\\pwd", args.new))
        elif args.command == "upload-slot":
            with open(args.file, "rb") as source:
                pedal.upload_slot(args.path, args.index, args.name, source.read())
            out.write("uploaded")
        elif args.command == "download-slot":
            name, data = pedal.download_slot(args.path, args.index)
            with open(args.file, "wb") as target:
                target.write(data)
            out.write(name)
        elif args.command == "swap-slots":
            if not pedal.swap_slots(args.path, args.first, args.second):
                raise PedalError("the pedal refused the swap")
            out.write("swapped")
        elif args.command == "firmware":
            with open(args.file, "rb") as source:
                pedal.install_firmware(source.read())
            out.write("installed")
        out.write("\n")
        if pedal.refused:
            sys.stderr.write("pedalctl: the pedal has a password; only browse and read ran (use --password)\n")
            return 2
    except (PedalError, OSError, ValueError, termios.error) as error:
        sys.stderr.write("pedalctl: %s\n" % error)
        return 1
    finally:
        if link is not None:
            link.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
