#!/usr/bin/python3
"""Packs a picture's bytes the way src/ui/picture_codec.cpp unpacks them.

Format: "TLZ1", the unpacked size (32 bits, little-endian), then commands
until exactly that many bytes are out:
  0nnnnnnn            n + 1 literal bytes follow
  1nnnnnnn lo hi      copy n + 3 bytes from distance hi * 256 + lo (1 or more)
                      back in the output; a copy may overlap what it writes.
  11111111 lo hi LO HI  the same with n = 127 + HI * 256 + LO: a long copy.

Run as a script to pack a file: picture_codec.py IN OUT.
"""

import struct
import sys

MAGIC = b"TLZ1"
MIN_MATCH = 3
LONG = 0x7F
MAX_MATCH = LONG + 0xFFFF + MIN_MATCH
MAX_LITERALS = 0x80
MAX_DISTANCE = 0xFFFF
CHAIN = 16


def encode(data):
    data = bytes(data)
    out = bytearray(MAGIC + struct.pack("<I", len(data)))
    literals = bytearray()

    def flush():
        for i in range(0, len(literals), MAX_LITERALS):
            chunk = literals[i:i + MAX_LITERALS]
            out.append(len(chunk) - 1)
            out.extend(chunk)
        literals.clear()

    heads = {}  # three bytes -> the latest positions that start with them
    n = len(data)
    pos = 0
    while pos < n:
        best_len, best_dist = 0, 0
        if pos + MIN_MATCH <= n:
            key = data[pos:pos + MIN_MATCH]
            limit = min(MAX_MATCH, n - pos)
            for cand in reversed(heads.get(key, ())):
                dist = pos - cand
                if dist > MAX_DISTANCE:
                    break
                length = 0
                for chunk in (4096, 256, 16, 1):
                    while length + chunk <= limit and \
                            data[cand + length:cand + length + chunk] == data[pos + length:pos + length + chunk]:
                        length += chunk
                if length > best_len:
                    best_len, best_dist = length, dist
                    if length == limit:
                        break
        step = best_len if best_len >= MIN_MATCH else 1
        for p in range(pos, min(pos + step, n - MIN_MATCH + 1)):
            chain = heads.setdefault(data[p:p + MIN_MATCH], [])
            chain.append(p)
            if len(chain) > CHAIN:
                del chain[0]
        if best_len >= MIN_MATCH:
            flush()
            extra = best_len - MIN_MATCH
            out.append(0x80 | min(extra, LONG))
            out.extend(struct.pack("<H", best_dist))
            if extra >= LONG:
                out.extend(struct.pack("<H", extra - LONG))
        else:
            literals.append(data[pos])
        pos += step
    flush()
    return bytes(out)


def decode(packed):
    """The reference unpacker: raises on anything malformed."""
    if packed[:4] != MAGIC or len(packed) < 8:
        raise ValueError("not a packed picture")
    size = struct.unpack_from("<I", packed, 4)[0]
    out = bytearray()
    at = 8
    while len(out) < size:
        control = packed[at]
        at += 1
        if control < 0x80:
            out.extend(packed[at:at + control + 1])
            at += control + 1
        else:
            dist = struct.unpack_from("<H", packed, at)[0]
            at += 2
            n = control & 0x7F
            if n == LONG:
                n += struct.unpack_from("<H", packed, at)[0]
                at += 2
            if dist == 0 or dist > len(out):
                raise ValueError("distance out of range")
            for _ in range(n + MIN_MATCH):
                out.append(out[-dist])
    if len(out) != size or at != len(packed):
        raise ValueError("size mismatch")
    return bytes(out)


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    packed = encode(raw)
    assert decode(packed) == raw
    with open(sys.argv[2], "wb") as f:
        f.write(packed)
