#!/usr/bin/env python3
"""Checks a WARC/1.1 file record by record, independently of the code that
wrote it, and lists what it holds.

  warc_check.py FILE

A file whose name ends in .gz must be gzip members holding one record each.
Every record must have the version line, the mandatory fields (WARC-Type,
WARC-Record-ID, WARC-Date, Content-Length), a block of exactly
Content-Length bytes and CR LF CR LF after it. Every WARC-Block-Digest and
WARC-Payload-Digest ("sha1:" and base32) must match: the payload of a
response is the body after its final head, its chunked framing removed.
Every WARC-Concurrent-To must name a record of the file, and a request and
its response must name each other.

Prints one JSON line per record: {"type", "uri", "id", "concurrent",
"status", "payload"} (payload: the hex SHA-1 of the payload; status: the
final head's), and exits 0; or prints "bad: ..." and exits 1.
"""
import base64
import gzip
import hashlib
import json
import sys
import zlib

MANDATORY = ("WARC-Type", "WARC-Record-ID", "WARC-Date", "Content-Length")


class Bad(Exception):
    pass


def members(data):
    """The decompressed gzip members of data, each whole."""
    out = []
    while data:
        d = zlib.decompressobj(16 + zlib.MAX_WBITS)
        try:
            text = d.decompress(data) + d.flush()
        except zlib.error as e:
            raise Bad("gzip member at byte %d: %s" % (len(data), e))
        if not d.eof:
            raise Bad("a gzip member is cut short")
        out.append(text)
        data = d.unused_data
    return out


def parse_records(data, one_only):
    records = []
    while data:
        end = data.find(b"\r\n\r\n")
        if end < 0:
            raise Bad("a record head has no end")
        lines = data[:end].split(b"\r\n")
        if lines[0] != b"WARC/1.1":
            raise Bad("version line %r" % lines[0])
        fields = {}
        for line in lines[1:]:
            name, sep, value = line.partition(b":")
            if not sep:
                raise Bad("field line %r" % line)
            fields[name.decode().strip()] = value.decode("latin-1").strip()
        for name in MANDATORY:
            if name not in fields:
                raise Bad("no %s in %r" % (name, fields))
        length = int(fields["Content-Length"])
        block = data[end + 4:end + 4 + length]
        if len(block) != length:
            raise Bad("block shorter than Content-Length")
        if data[end + 4 + length:end + 8 + length] != b"\r\n\r\n":
            raise Bad("no CR LF CR LF after the block")
        records.append((fields, block))
        data = data[end + 8 + length:]
        if one_only and data:
            raise Bad("a gzip member holds more than one record")
    return records


def sha1_label(data):
    return "sha1:" + base64.b32encode(hashlib.sha1(data).digest()).decode()


def dechunk(body):
    out = b""
    while True:
        line_end = body.find(b"\r\n")
        if line_end < 0:
            return out  # cut short: what came
        size = int(body[:line_end].split(b";")[0].strip() or b"0", 16)
        if size == 0:
            return out
        out += body[line_end + 2:line_end + 2 + size]
        body = body[line_end + 2 + size + 2:]


def final_head(block):
    """The final head's status, whether it is chunked, and the body after it."""
    while True:
        end = block.find(b"\r\n\r\n")
        if end < 0:
            return 0, False, b""
        head, block = block[:end], block[end + 4:]
        lines = head.split(b"\r\n")
        status = int(lines[0].split()[1]) if len(lines[0].split()) > 1 else 0
        chunked = any(l.lower().startswith(b"transfer-encoding:") and b"chunked" in l.lower()
                      for l in lines[1:])
        if not (100 <= status < 200 and status != 101):
            return status, chunked, block


def check(path):
    raw = open(path, "rb").read()
    if path.endswith(".gz"):
        records = []
        for member in members(raw):
            records += parse_records(member, True)
    else:
        records = parse_records(raw, False)
    ids = {fields["WARC-Record-ID"]: fields for fields, _ in records}
    listed = []
    for fields, block in records:
        if "WARC-Block-Digest" in fields and fields["WARC-Block-Digest"] != sha1_label(block):
            raise Bad("block digest of %s" % fields["WARC-Record-ID"])
        status, payload = 0, b""
        if fields["WARC-Type"] == "response":
            status, chunked, body = final_head(block)
            payload = dechunk(body) if chunked else body
            if fields.get("WARC-Payload-Digest") != sha1_label(payload):
                raise Bad("payload digest of %s" % fields["WARC-Record-ID"])
        concurrent = fields.get("WARC-Concurrent-To")
        if concurrent is not None:
            other = ids.get(concurrent)
            if other is None or other.get("WARC-Concurrent-To") != fields["WARC-Record-ID"]:
                raise Bad("WARC-Concurrent-To of %s" % fields["WARC-Record-ID"])
        listed.append({"type": fields["WARC-Type"], "uri": fields.get("WARC-Target-URI", ""),
                       "id": fields["WARC-Record-ID"], "concurrent": concurrent or "",
                       "status": status, "payload": hashlib.sha1(payload).hexdigest()})
    return listed


def main():
    try:
        for record in check(sys.argv[1]):
            print(json.dumps(record, sort_keys=True))
    except (Bad, ValueError, OSError) as e:
        print("bad: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
