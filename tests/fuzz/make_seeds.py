#!/usr/bin/env python3
"""Writes the decoder and archive seed corpora from the shared test archives.

Decoder seeds are each member's raw compressed bytes behind the 4-byte header of
decoder_targets.h (options, declared size); archive seeds are the small archives
whole. Members are found through the central directory, so data descriptors and
program stubs do not matter. Run again when the test archives change:
    tests/fuzz/make_seeds.py /work/shared/testdata/zip
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
MAX_DECLARED = (1 << 22) - 1
MAX_SEED = 24 * 1024      # keep the corpora small enough to fuzz fast
MAX_ARCHIVE = 64 * 1024


def members(blob):
    """(name, method, flags, compressed bytes, uncompressed size) of every entry."""
    end = blob.rfind(b"PK\x05\x06")
    if end < 0:
        return
    count, dir_size, dir_offset = struct.unpack_from("<HII", blob, end + 10)
    # Archives with a stub whose offsets count from the zip part.
    shift = (end - dir_size) - dir_offset
    pos = dir_offset + shift
    for _ in range(count):
        if blob[pos:pos + 4] != b"PK\x01\x02":
            return
        (flags, method, csize, usize, nlen, xlen, clen, local) = struct.unpack_from(
            "<8xHH8xII HHH8xI".replace(" ", ""), blob, pos)
        name = blob[pos + 46:pos + 46 + nlen].decode("cp437")
        pos += 46 + nlen + xlen + clen
        lpos = local + shift
        lnlen, lxlen = struct.unpack_from("<HH", blob, lpos + 26)
        data = blob[lpos + 30 + lnlen + lxlen:lpos + 30 + lnlen + lxlen + csize]
        yield name, method, flags, data, usize


def target_of(method):
    return {8: "inflate", 9: "inflate64", 1: "unshrink", 2: "unreduce", 3: "unreduce",
            4: "unreduce", 5: "unreduce", 6: "explode"}.get(method)


def options_of(method, flags):
    if 2 <= method <= 5:
        return method - 2                  # Reduce factor - 1
    if method == 6:
        return flags & 6                   # Implode window and trees
    return 0


def main(testdata):
    written = 0
    for archive in sorted(os.listdir(testdata)):
        if not archive.endswith((".zip", ".exe")):
            continue
        blob = open(os.path.join(testdata, archive), "rb").read()
        base = os.path.splitext(archive)[0]
        if len(blob) <= MAX_ARCHIVE:
            os.makedirs(os.path.join(CORPUS, "unzip"), exist_ok=True)
            open(os.path.join(CORPUS, "unzip", base), "wb").write(blob)
            written += 1
        for name, method, flags, data, usize in members(blob):
            target = target_of(method)
            if target is None or flags & 1 or len(data) > MAX_SEED or usize == 0:
                continue
            header = bytes([options_of(method, flags)]) + struct.pack("<I", min(usize, MAX_DECLARED))[:3]
            folder = os.path.join(CORPUS, target)
            os.makedirs(folder, exist_ok=True)
            leaf = base + "-" + name.replace("/", "_")
            open(os.path.join(folder, leaf), "wb").write(header + data)
            written += 1
    print("wrote %d seeds under %s" % (written, CORPUS))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/work/shared/testdata/zip")
