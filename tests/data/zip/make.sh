#!/bin/sh
# Re-creates the archives of this folder and their manifest (archive, entry, type,
# size, sha256, expect, password), from member contents generated with a fixed
# seed. Run from this folder. The tools:
#   Info-ZIP zip 3.0 and 7-Zip       zip*.zip, 7z_*.zip, infozip_*.zip (the longest
#                                    comment is put in here: zip -z breaks its lines)
#   jar (any JDK)                    jar_*.zip
#   bsdtar (libarchive)              bsdtar_*.zip
#   Python 3                         python_*.zip, and this script itself
#   Node and npm (yazl, archiver installed into a scratch folder, so the network
#   is needed once per run)          node_*.zip
#   the shared test set (../shared/testdata/zip, or $LU_SHARED_TESTDATA)
#                                    legacy_methods.zip, one member of every older
#                                    method copied byte for byte out of it
# An archive whose tool is missing is kept as it is, with a message; its manifest
# rows are made from the kept archive.
set -eu
here=$(pwd)
shared=${LU_SHARED_TESTDATA:-$here/../../../../shared/testdata/zip}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

have() {
  if command -v "$1" >/dev/null 2>&1; then return 0; fi
  echo "skipped: $2 ($1 not found, the committed archive stays)" >&2
  return 1
}

python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rnd = random.Random(20250305)
words = "the weather station reports wind rain snow sun cloud pressure humidity forecast".split()
def put(root, name, data, mode=0o644):
    path = os.path.join(work, root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
# The first tree: the archives made with Info-ZIP and 7-Zip options.
put("src", "readme.txt", " ".join(rnd.choice(words) for _ in range(2500)).encode())
put("src", "data.bin", bytes(rnd.getrandbits(8) for _ in range(3000)))
put("src", "empty.txt", b"")
put("src", "run.sh", b"#!/bin/sh\necho kestrova\n", 0o755)
put("src", "docs/deep/notes.ini", ("[station]\n" + "".join("key%d=%d\n" % (i, rnd.randrange(1000)) for i in range(300))).encode())
put("src", "docs/locked.txt", b"read only\n" * 50, 0o444)
# The second: a package as other tools write it, with names of code page 1252
# outside ASCII and an empty folder.
rnd = random.Random(20251209)
put("pkg", "Kestrova.exe", bytes(rnd.getrandbits(8) for _ in range(6000)))
put("pkg", "readme.txt", " ".join(rnd.choice(words) for _ in range(1500)).encode())
put("pkg", "empty.txt", b"")
put("pkg", "caf\u00e9.txt", "caf\u00e9 cr\u00e8me\r\n".encode("cp1252"))
put("pkg", "D\u00e9sinstaller Kestrova.txt", b"uninstall\r\n")
put("pkg", "data/prix \u20ac \u2013 liste.txt", ("\u20ac 12,50 \u2013 " * 40).encode("cp1252"))
put("pkg", "data/maps/region.ini", ("[region]\n" + "".join("cell%d=%d\n" % (i, rnd.randrange(99999)) for i in range(300))).encode())
os.makedirs(os.path.join(work, "pkg", "data", "empty"))
# The third: names no single-byte Windows code page of the West can hold.
put("cjk", "\u65e5\u672c\u8a9e.txt", b"nihongo\r\n")
put("cjk", "\u4e2d\u6587\u5b57.txt", b"zhongwen\r\n")
put("cjk", "ok.txt", b"fine\r\n")
# The fourth: modes a Unix tool stores, which the Linux port installs under the umask.
put("modes", "shared.txt", b"anyone may write this\n", 0o666)
put("modes", "tool.sh", b"#!/bin/sh\necho tool\n", 0o777)
put("modes", "setuid.sh", b"#!/bin/sh\necho setuid\n", 0o4755)
# A self-extractor's stub of 1 MB (a block of 4 KB over and over: the repository
# keeps it small).
block = bytes(rnd.getrandbits(8) for _ in range(4096))
with open(os.path.join(work, "stub.exe"), "wb") as f:
    f.write((b"MZ" + block * 256)[:1 << 20])
PY
export TZ=UTC
find "$work/src" "$work/pkg" "$work/cjk" "$work/modes" -exec touch -d '2024-06-01 10:20:30' {} +

# ---------------------------------------------------------------- Info-ZIP and 7-Zip
cd "$work/src"
files="readme.txt data.bin empty.txt run.sh docs/deep/notes.ini docs/locked.txt"
if have zip "the Info-ZIP archives"; then
  rm -f "$here"/zip*.zip "$here"/infozip_*.zip
  zip -q -X -3 "$here/zip3_unix.zip" $files
  zip -q -X -9 -r "$here/zip9_folders.zip" readme.txt docs
  zip -q -X -6 -P secret "$here/zip_password.zip" $files
  # Written to a pipe: every member has a data descriptor, so the password check
  # byte comes from the time instead of the CRC.
  zip -q -X -6 -P secret - $files | cat > "$here/zip_password_pipe.zip"
  cd "$work/pkg"
  # ZIP64 records and extra fields although nothing needs them.
  zip -q -X -r -fz "$here/infozip_fz.zip" .
  zip -q -X -r - . | cat > "$here/infozip_pipe.zip"
  zip -q -X -r "$here/infozip_stdin.zip" .
  printf 'read from standard input\n' | zip -q -X "$here/infozip_stdin.zip" -
  # The end record behind the longest comment, behind 200 KB appended after it (a
  # signature block, say, with stray end record signatures), and a self-extractor:
  # the stub in front, the offsets made to count it (-A).
  zip -q -X -r "$work/plain.zip" .
  python3 - "$work/plain.zip" "$here" <<'PY'
import random, struct, sys
plain, here = sys.argv[1], sys.argv[2]
data = open(plain, "rb").read()
assert data[-22:-18] == b"PK\x05\x06" and data[-2:] == b"\0\0"  # the end record, no comment yet
with open(here + "/infozip_comment64k.zip", "wb") as f:
    f.write(data[:-2] + struct.pack("<H", 65535) + (b"Kestrova weather station. " * 2521)[:65535])
rnd = random.Random(20260103)
tail = bytearray(bytes(rnd.getrandbits(8) for _ in range(4096)) * 50)
for at in range(4000, len(tail) - 22, 9973):
    tail[at:at + 4] = b"PK\x05\x06"
with open(here + "/infozip_appended.zip", "wb") as f:
    f.write(data + bytes(tail))
PY
  cat "$work/stub.exe" "$work/plain.zip" > "$here/infozip_sfx.zip"
  zip -q -A "$here/infozip_sfx.zip"
  (cd "$work/modes" && zip -q -X "$here/infozip_modes.zip" shared.txt tool.sh setuid.sh)
  cd "$work/src"
fi
if have 7z "the 7-Zip archives"; then
  rm -f "$here"/7z_*.zip
  7z a -bd -tzip -mm=Deflate -mx=1 "$here/7z_deflate_mx1.zip" $files >/dev/null
  7z a -bd -tzip -mm=Deflate -mx=5 "$here/7z_deflate_mx5.zip" $files >/dev/null
  7z a -bd -tzip -mm=Deflate64 -mx=5 "$here/7z_deflate64_mx5.zip" $files >/dev/null
  7z a -bd -tzip -mm=Deflate -mem=ZipCrypto -psecret "$here/7z_zipcrypto.zip" $files >/dev/null
  # AES (method 99), which the extractor recognises and refuses.
  7z a -bd -tzip -mm=Deflate -mem=AES256 -psecret "$here/7z_aes.zip" $files >/dev/null
  # UTF-8 names (general-purpose bit 11) for what is not ASCII.
  (cd "$work/pkg" && 7z a -bd -tzip -mm=Deflate64 -mx=9 -mcu=on "$here/7z_deflate64_utf8.zip" . >/dev/null)
fi

# ---------------------------------------------------------------- jar, bsdtar
cd "$work/pkg"
if have jar "the jar archives"; then
  rm -f "$here"/jar_*.zip
  jar cf "$here/jar_cf.zip" .
  jar cf0 "$here/jar_cf0.zip" .
fi
if have bsdtar "the bsdtar archives"; then
  rm -f "$here"/bsdtar_*.zip
  # As tar.exe of Windows is used on a folder: every name begins with "./".
  bsdtar --format zip -cf "$here/bsdtar_deflate.zip" .
  bsdtar --format zip --options zip:compression=store -cf "$here/bsdtar_store.zip" .
fi

# ---------------------------------------------------------------- Python
rm -f "$here"/python_*.zip
python3 - "$work" "$here" <<'PY'
import os, struct, sys, zipfile, zlib
work, here = sys.argv[1], sys.argv[2]
def tree(root):
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        rel = os.path.relpath(folder, root)
        if rel != ".":
            yield rel.replace(os.sep, "/") + "/", None
        for name in sorted(files):
            full = os.path.join(folder, name)
            yield os.path.relpath(full, root).replace(os.sep, "/"), full
# Every member with ZIP64 sizes in its local header, as for data of unknown length.
with zipfile.ZipFile(os.path.join(here, "python_zip64.zip"), "w") as z:
    for name, full in tree(os.path.join(work, "pkg")):
        info = zipfile.ZipInfo(name, (2024, 6, 1, 10, 20, 30))
        if full is None:
            z.writestr(info, b"")
            continue
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w", force_zip64=True) as out, open(full, "rb") as f:
            out.write(f.read())
with zipfile.ZipFile(os.path.join(here, "python_cjk_names.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for name, full in tree(os.path.join(work, "cjk")):
        z.write(full, name)

# As Windows tools store names: in code page 437, "_" for what it lacks, the real
# name in the Unicode Path extra field (0x7075: version 1, the CRC-32 of the stored
# name, UTF-8). One field is left from a name the entry had before: its CRC does
# not match, and the stored name counts.
class OemInfo(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits
def unicode_path(stored, real):
    data = struct.pack("<BI", 1, zlib.crc32(stored.encode("cp437"))) + real.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(data)) + data
with zipfile.ZipFile(os.path.join(here, "python_unicode_path.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for stored, real, field_of in (("caf\u00e9.txt", "caf\u00e9.txt", None),
                                   ("data/prix _ _ liste.txt", "data/prix \u20ac \u2013 liste.txt", None),
                                   ("readme.txt", "old readme.txt", "old readme.txt")):
        info = OemInfo(stored, (2024, 6, 1, 10, 20, 30))
        info.create_system = 0
        info.compress_type = zipfile.ZIP_DEFLATED
        info.extra = unicode_path(field_of or stored, real)
        source = real if field_of is None else stored
        with open(os.path.join(work, "pkg", source), "rb") as f:
            z.writestr(info, f.read())
PY

# ---------------------------------------------------------------- Node
if have npm "the Node archives"; then
  node_work="$work/node"
  mkdir -p "$node_work"
  if (cd "$node_work" && npm install --silent --no-audit --no-fund yazl archiver >/dev/null 2>&1); then
    rm -f "$here"/node_*.zip
    cat > "$node_work/make.js" <<'JS'
// node make.js TREE OUT_FOLDER: the tree with yazl and with archiver.
const fs = require("fs"), path = require("path");
const yazl = require("yazl");
const { ZipArchive } = require("archiver");
const [root, out] = process.argv.slice(2);
const mtime = new Date(Date.UTC(2024, 5, 1, 10, 20, 30));
function walk(dir, rel, items) {
  for (const name of fs.readdirSync(dir).sort()) {
    const full = path.join(dir, name), r = rel ? rel + "/" + name : name;
    if (fs.statSync(full).isDirectory()) {
      items.push([r + "/", null]);
      walk(full, r, items);
    } else {
      items.push([r, full]);
    }
  }
  return items;
}
const items = walk(root, "", []);
const y = new yazl.ZipFile();
for (const [name, full] of items) {
  if (full === null) y.addEmptyDirectory(name, { mtime });
  else y.addBuffer(fs.readFileSync(full), name, { mtime, compress: !name.endsWith(".exe") });
}
y.outputStream.pipe(fs.createWriteStream(path.join(out, "node_yazl.zip")));
y.end();
const a = new ZipArchive({ zlib: { level: 9 } });
a.pipe(fs.createWriteStream(path.join(out, "node_archiver.zip")));
for (const [name, full] of items) {
  if (full === null) a.append(null, { name, date: mtime, type: "directory" });
  else a.append(fs.createReadStream(full), { name, date: mtime, store: name.endsWith(".exe") });
}
a.finalize();
JS
    node "$node_work/make.js" "$work/pkg" "$here"
  else
    echo "skipped: the Node archives (npm could not install yazl and archiver)" >&2
  fi
fi

# ---------------------------------------------------------------- the older methods
if [ -f "$shared/mixed_methods.zip" ]; then
  python3 - "$shared" "$here/legacy_methods.zip" <<'PY'
import struct, sys
shared, target = sys.argv[1], sys.argv[2]
# (archive of the shared set, member): a repetitive and a text member of each
# older method and variant, so each decoder's golden tests run without the
# shared set.
CHOSEN = [(archive, member) for archive in (
    "legacy_shrink.zip", "legacy_reduce1.zip", "legacy_reduce2.zip", "legacy_reduce3.zip", "legacy_reduce4.zip",
    "legacy_implode_4k_2trees.zip", "legacy_implode_4k_3trees.zip", "legacy_implode_8k_2trees.zip",
    "legacy_implode_8k_3trees.zip") for member in ("pattern.dat", "setup.ini")]
names = {1: "shrunk", 2: "reduced1", 3: "reduced2", 4: "reduced3", 5: "reduced4", 6: "imploded"}
out, central = b"", b""
for archive, member in CHOSEN:
    blob = open("%s/%s" % (shared, archive), "rb").read()
    end = blob.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", blob, end + 10)
    pos = offset
    for _ in range(count):
        (flags, method, time, date, crc, csize, usize, nlen, xlen, clen, local) = struct.unpack_from(
            "<8xHHHHIIIHHH8xI", blob, pos)
        name = blob[pos + 46:pos + 46 + nlen].decode("cp437")
        pos += 46 + nlen + xlen + clen
        if name != member:
            continue
        lnlen, lxlen = struct.unpack_from("<HH", blob, local + 26)
        data = blob[local + 30 + lnlen + lxlen:local + 30 + lnlen + lxlen + csize]
        variant = "%s%s" % (names[method], ("_%dk%d" % (8 if flags & 2 else 4, 3 if flags & 4 else 2)) if method == 6 else "")
        raw = ("%s_%s" % (variant, member)).encode()
        at = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, flags, method, time, date, crc, csize, usize, len(raw), 0)
        out += raw + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 10, 10, flags, method, time, date, crc, csize, usize,
                               len(raw), 0, 0, 0, 0, 0x20, at) + raw
        break
    else:
        sys.exit("%s: no %s" % (archive, member))
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(CHOSEN), len(CHOSEN), len(central), len(out), 0)
open(target, "wb").write(out + central + end)
PY
else
  echo "skipped: legacy_methods.zip (no shared test set at $shared)" >&2
fi

# ---------------------------------------------------------------- the manifest
python3 - "$here" "$work" "$shared" <<'PY'
import hashlib, io, os, struct, sys, zipfile, zlib
here, work, shared = sys.argv[1], sys.argv[2], sys.argv[3]
# Members of the shared set, for the ones copied out of it: name -> (size, sha256).
legacy = {}
if os.path.exists(os.path.join(shared, "manifest.tsv")):
    for line in open(os.path.join(shared, "manifest.tsv"), encoding="utf-8").read().splitlines()[1:]:
        f = line.split("\t")
        if f[0].startswith("legacy_"):
            legacy[(f[0], f[1])] = (int(f[6]), f[9])
LEGACY = {"shrunk": "legacy_shrink.zip", "reduced1": "legacy_reduce1.zip", "reduced2": "legacy_reduce2.zip",
          "reduced3": "legacy_reduce3.zip", "reduced4": "legacy_reduce4.zip",
          "imploded_4k2": "legacy_implode_4k_2trees.zip", "imploded_4k3": "legacy_implode_4k_3trees.zip",
          "imploded_8k2": "legacy_implode_8k_2trees.zip", "imploded_8k3": "legacy_implode_8k_3trees.zip"}

# The tree each archive was made from.
FIRST_TREE = {"zip3_unix.zip", "zip9_folders.zip", "zip_password.zip", "zip_password_pipe.zip",
              "7z_deflate_mx1.zip", "7z_deflate_mx5.zip", "7z_deflate64_mx5.zip", "7z_zipcrypto.zip", "7z_aes.zip"}
OTHER_TREES = {"python_cjk_names.zip": "cjk", "infozip_modes.zip": "modes"}
# Bytes appended after the end record, which Python's reader does not look past.
APPENDED = {"infozip_appended.zip": 200 * 1024}

def source(archive, name):
    """The file a member was made from, or None (jar's own manifest, standard input)."""
    root = "src" if archive in FIRST_TREE else OTHER_TREES.get(archive, "pkg")
    path = os.path.join(work, root, name[2:] if name.startswith("./") else name)
    return path if os.path.isfile(path) else None

def unicode_path(info):
    """The name of a Unicode Path extra field whose CRC-32 is the stored name's, or None."""
    stored = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
    at = 0
    while at + 4 <= len(info.extra):
        kind, size = struct.unpack_from("<HH", info.extra, at)
        field = info.extra[at + 4:at + 4 + size]
        if kind == 0x7075 and size >= 5 and field[0] == 1 and struct.unpack_from("<I", field, 1)[0] == zlib.crc32(stored):
            return field[5:].decode("utf-8")
        at += 4 + size
    return None

rows = ["archive\tentry\ttype\tsize\tsha256\texpect\tpassword"]
for archive in sorted(os.listdir(here)):
    if not archive.endswith(".zip"):
        continue
    password = "secret" if any(word in archive for word in ("password", "zipcrypto", "aes")) else "-"
    data = open(os.path.join(here, archive), "rb").read()
    with zipfile.ZipFile(io.BytesIO(data[:len(data) - APPENDED.get(archive, 0)])) as z:
        for info in z.infolist():
            name = unicode_path(info)
            # Unflagged names are taken for code page 437; the Unix tools here wrote UTF-8.
            if name is None:
                name = info.filename
                if not info.flag_bits & 0x800 and info.create_system == 3:
                    try:
                        name = name.encode("cp437").decode("utf-8")
                    except UnicodeDecodeError:
                        pass
            if name.endswith("/"):
                rows.append("\t".join([archive, name, "dir", "0", "-", "ok", password]))
                continue
            if archive == "legacy_methods.zip":
                variant, member = name.rsplit("_", 1)
                size, sha = legacy[(LEGACY[variant], member)]
                rows.append("\t".join([archive, name, "file", str(size), sha, "ok", password]))
                continue
            path = source(archive, name)
            if path is not None:
                data = open(path, "rb").read()
            else:
                data = z.read(info)
            # AES entries (method 99) may keep no CRC.
            aes = info.compress_type == 99
            if info.file_size != len(data) or (not aes and zipfile.crc32(data) != info.CRC):
                sys.exit("%s: %s does not match its source" % (archive, name))
            try:
                name.encode("cp1252")
                expect = "encrypted" if aes else "ok"
            except UnicodeEncodeError:
                expect = "name_error"
            rows.append("\t".join([archive, name, "file", str(len(data)), hashlib.sha256(data).hexdigest(), expect,
                                   password]))
with open(os.path.join(here, "manifest.tsv"), "w", encoding="utf-8") as f:
    f.write("\n".join(rows) + "\n")
PY
