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
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
SOURCE_DATA = os.path.join(HERE, "..", "data", "zip")
REAL_TOOLS = ["infozip_fz.zip", "infozip_pipe.zip", "python_zip64.zip", "jar_cf.zip"]
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


def pack(members_):
    """A plain archive of (name, method, flags, crc, data, size, attributes) entries."""
    out, central = b"", b""
    for name, method, flags, crc, data, usize, attrs in members_:
        raw = name.encode("cp437")
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0x6000, 0x5A65, crc, len(data), usize,
                           len(raw), 0) + raw + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0x6000, 0x5A65, crc,
                               len(data), usize, len(raw), 0, 0, 0, 0, attrs, offset) + raw
    return out + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members_), len(members_), len(central),
                                       len(out), 0)


# One small member of each method family (their pattern.dat, 50000 bytes each), a
# stored file in a folder and the folder entry: small enough to cut at every offset.
SMALL_METHODS = [("legacy_shrink.zip", "pattern.dat", "shrunk.dat"),
                 ("legacy_reduce4.zip", "pattern.dat", "reduced4.dat"),
                 ("legacy_implode_8k_3trees.zip", "pattern.dat", "imploded.dat"),
                 ("hwzip_deflate.zip", "pattern.dat", "deflated.dat")]


def small_methods(testdata):
    chosen = []
    for archive, entry, new_name in SMALL_METHODS:
        blob = open(os.path.join(testdata, archive), "rb").read()
        for name, method, flags, data, usize in members(blob):
            if name == entry:
                crc = struct.unpack_from("<I", blob, blob.find(data) - 30 - len(name) + 14)[0]
                chosen.append((new_name, method, flags, crc, data, usize, 0x20))
    stored = b"stored in a folder\r\n"
    chosen.append(("sub/", 0, 0, 0, b"", 0, 0x10))
    chosen.append(("sub/stored.txt", 0, 0, zlib.crc32(stored), stored, len(stored), 0x20))
    return pack(chosen)


# Recorded server answers for the response reader: the option byte of
# http_target.h, then the bytes as a server sent them.
HTTP_ANSWERS = {
    "length": b"\x00HTTP/1.1 200 OK\r\nDate: Mon, 01 Dec 2025 10:00:00 GMT\r\nServer: nginx\r\n"
              b"Content-Type: application/zip\r\nContent-Length: 12\r\nConnection: keep-alive\r\n\r\nPK\x03\x04abcdefgh",
    "chunked": b"\x01HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
               b"a ext=1\r\n0123456789\r\n0\r\n\r\n",
    "until_close": b"\x02HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nbody until the close",
    "continue": b"\x03HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 Partial Content\r\n"
                b"Content-Range: bytes 0-3/10\r\nContent-Length: 4\r\nX-Long: a\r\n  continued\r\n\r\nabcd",
    "refused": b"\x04HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
               b"Set-Cookie: a=b; Path=/\r\n\r\nnot found",
    "redirect": b"\x00HTTP/1.1 302 Found\r\nLocation: http://example.com/x.zip\r\n"
                b"Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
    "no_content": b"\x00HTTP/1.1 204 No Content\r\nProxy-Connection: close\r\n\r\n",
    "lf_only": b"\x05HTTP/1.1 200 OK\nContent-Length: 2, 2\nContent-length: 2\n\nok",
}


def main(testdata):
    written = 0
    os.makedirs(os.path.join(CORPUS, "http"), exist_ok=True)
    for name, answer in HTTP_ANSWERS.items():
        open(os.path.join(CORPUS, "http", name), "wb").write(answer)
        written += 1
    os.makedirs(os.path.join(CORPUS, "unzip"), exist_ok=True)
    open(os.path.join(CORPUS, "unzip", "small_methods.zip"), "wb").write(small_methods(testdata))
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
    # Archives as real tools write them (ZIP64, data descriptors, folder entries
    # without the folder attribute), made by tests/data/zip/make.sh.
    for archive in REAL_TOOLS:
        blob = open(os.path.join(SOURCE_DATA, archive), "rb").read()
        open(os.path.join(CORPUS, "unzip", os.path.splitext(archive)[0]), "wb").write(blob)
        written += 1
    print("wrote %d seeds under %s" % (written, CORPUS))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/work/shared/testdata/zip")
