#!/bin/sh
# Re-creates the small archives of this folder with Info-ZIP zip 3.0 and 7-Zip,
# and their manifest (archive, entry, type, size, sha256, expect, password).
# The member contents are generated from a fixed seed. Run from this folder.
set -eu
here=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/src" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(20250305)
words = "the weather station reports wind rain snow sun cloud pressure humidity forecast".split()
os.makedirs(os.path.join(root, "docs", "deep"))
def put(name, data, mode=0o644):
    path = os.path.join(root, name)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
put("readme.txt", " ".join(rnd.choice(words) for _ in range(2500)).encode())
put("data.bin", bytes(rnd.getrandbits(8) for _ in range(3000)))
put("empty.txt", b"")
put("run.sh", b"#!/bin/sh\necho kestrova\n", 0o755)
put("docs/deep/notes.ini", ("[station]\n" + "".join("key%d=%d\n" % (i, rnd.randrange(1000)) for i in range(300))).encode())
put("docs/locked.txt", b"read only\n" * 50, 0o444)
PY
cd "$work/src"
export TZ=UTC
find . -exec touch -d '2024-06-01 10:20:30' {} +
files="readme.txt data.bin empty.txt run.sh docs/deep/notes.ini docs/locked.txt"
rm -f "$here"/*.zip
zip -q -X -3 "$here/zip3_unix.zip" $files
zip -q -X -9 -r "$here/zip9_folders.zip" readme.txt docs
7z a -bd -tzip -mm=Deflate -mx=1 "$here/7z_deflate_mx1.zip" $files >/dev/null
7z a -bd -tzip -mm=Deflate -mx=5 "$here/7z_deflate_mx5.zip" $files >/dev/null
7z a -bd -tzip -mm=Deflate64 -mx=5 "$here/7z_deflate64_mx5.zip" $files >/dev/null
zip -q -X -6 -P secret "$here/zip_password.zip" $files
# Written to a pipe: every member has a data descriptor, so the password check
# byte comes from the time instead of the CRC.
zip -q -X -6 -P secret - $files > "$here/zip_password_pipe.zip"
7z a -bd -tzip -mm=Deflate -mem=ZipCrypto -psecret "$here/7z_zipcrypto.zip" $files >/dev/null
python3 - "$here" "$work/src" <<'PY'
import hashlib, os, sys, zipfile
here, src = sys.argv[1], sys.argv[2]
rows = ["archive\tentry\ttype\tsize\tsha256\texpect\tpassword"]
for name in sorted(os.listdir(here)):
    if not name.endswith(".zip"):
        continue
    password = "secret" if "password" in name or "zipcrypto" in name else "-"
    with zipfile.ZipFile(os.path.join(here, name)) as z:
        for info in z.infolist():
            if info.is_dir():
                rows.append("\t".join([name, info.filename, "dir", "0", "-", "ok", password]))
                continue
            with open(os.path.join(src, info.filename), "rb") as f:
                data = f.read()
            if info.file_size != len(data) or zipfile.crc32(data) != info.CRC:
                sys.exit("%s: %s does not match its source" % (name, info.filename))
            rows.append("\t".join([name, info.filename, "file", str(len(data)),
                                   hashlib.sha256(data).hexdigest(), "ok", password]))
with open(os.path.join(here, "manifest.tsv"), "w") as f:
    f.write("\n".join(rows) + "\n")
PY
