#!/usr/bin/env bash
# Content identification speed: `docharvest-cli identify` against
# `file --mime-type -b` over the same mixed files, in the same run.
#
# usage: bench/identify_vs_file.sh [BUILD_DIR] [COUNT] [ROUNDS]
#   BUILD_DIR  build folder holding docharvest-cli (default: build)
#   COUNT      number of files (default 10000), sizes 1 KB to 5 MB, log-uniform
#   ROUNDS     timing rounds, at least 5 (default 5)
#
# The files go to a fresh folder under /tmp and are deleted at the end. Both
# tools run as whole processes on the same batches of 1000 paths through
# xargs (process start included on both sides), with the page cache warm for
# both (a first untimed pass reads everything once). Every round runs
# identify and then file (A B A B ...); the script prints min / median / max
# of each, the ratio of the medians and the load average before and after.
# The bytes read are shown twice: the detector's own counter (identify
# --stats) and, on a sample, what strace sees pread64 return on the data files.
set -euo pipefail

BUILD=${1:-build}
COUNT=${2:-10000}
ROUNDS=${3:-5}
[ "$ROUNDS" -ge 5 ] || { echo "ROUNDS must be at least 5" >&2; exit 2; }
CLI=$(cd "$BUILD" && pwd)/docharvest-cli
[ -x "$CLI" ] || { echo "no docharvest-cli in $BUILD" >&2; exit 2; }
command -v file >/dev/null || { echo "the file command is not installed" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is needed to generate the files" >&2; exit 2; }

DATA=$(mktemp -d /tmp/dh-identify-bench-XXXXXX)
trap 'rm -rf "$DATA" "$DATA".list "$DATA".sample "$DATA".strace "$DATA".times' EXIT

echo "generating $COUNT files in $DATA ..."
python3 - "$DATA" "$COUNT" <<'PY'
import io, math, os, random, struct, sys, zipfile
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240611)
block = bytes(rng.getrandbits(8) for _ in range(1 << 20))          # 1 MB of noise
text = (b"The quick brown fox jumps over the lazy dog. " * 30000)[: 1 << 20]
ole = bytes.fromhex("D0CF11E0A1B11AE1") + bytes(504)

def ooxml(folder, part):
    # An Office Open XML archive as other writers than Word make it (flags 0):
    # its local entries in front, the noise body, then the central directory
    # (whose recorded offset the body has made wrong).
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        z.writestr("_rels/.rels", "<Relationships/>")
        z.writestr(folder + part, "<x/>")
    data = buf.getvalue()
    cd = data.index(b"PK\x01\x02")
    return data[:cd], data[cd:]

def compound(stream):
    # A compound file laid out as LibreOffice writes it: the allocation table
    # in the first sector, the directory in the second.
    hdr = bytearray(ole)
    struct.pack_into("<HHHHH", hdr, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<II", hdr, 44, 1, 1)
    struct.pack_into("<I", hdr, 76, 0)
    for k in range(1, 109):
        struct.pack_into("<I", hdr, 76 + 4 * k, 0xFFFFFFFF)
    fat = struct.pack("<II", 0xFFFFFFFD, 0xFFFFFFFE) + b"\xff" * 504
    def entry(name, kind, right, child):
        n = name.encode("utf-16-le")
        return (n + bytes(64 - len(n)) + struct.pack("<HBBIII", len(n) + 2, kind, 1, 0xFFFFFFFF, right, child)
                + bytes(128 - 80))
    d = entry("Root Entry", 5, 0xFFFFFFFF, 1) + entry("\x01CompObj", 2, 2, 0xFFFFFFFF) + \
        entry(stream, 2, 0xFFFFFFFF, 0xFFFFFFFF) + bytes(128)
    return bytes(hdr) + fat + d
kinds = [
    ("pdf", b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n", block, b"\n%%EOF\n"),
    ("caj", b"\xc8\x00\x00\x00", block, b""),
    ("kdh", b"KDH \x01", block, b""),
    ("docx", bytes.fromhex("504B030414000600080000002100"), block, b""),
    ("zip", bytes.fromhex("504B030414000000080000002100"), block, b""),
    ("png", bytes.fromhex("89504E470D0A1A0A0000000D49484452"), block, b""),
    ("gif", b"GIF89a\x10\x00\x10\x00", block, b";"),
    ("jpg", bytes.fromhex("FFD8FFE000104A46494600010100"), block, b"\xff\xd9"),
    ("doc", ole + bytes.fromhex("ECA5C100"), block, b""),
    ("xls", ole + bytes.fromhex("09081000"), block, b""),
    ("ppt", ole + bytes.fromhex("0F00E8F0"), block, b""),
    ("mp3", b"\xff\xfb\x90\x64", block, b"TAG" + bytes(125)),
    ("mp3v2", b"ID3\x03\x00\x00\x00\x00\x00\x00", block, b""),
    # Office documents of today: ZIP with flags other than the table's, and
    # compound files whose directory decides.
    ("ox-docx",) + ooxml("word/", "document.xml")[:1] + (block, ooxml("word/", "document.xml")[1]),
    ("ox-xlsx",) + ooxml("xl/", "workbook.xml")[:1] + (block, ooxml("xl/", "workbook.xml")[1]),
    ("ox-pptx",) + ooxml("ppt/", "presentation.xml")[:1] + (block, ooxml("ppt/", "presentation.xml")[1]),
    ("cf-doc", compound("WordDocument"), block, b""),
    ("cf-xls", compound("Workbook"), block, b""),
    ("htm", b"<!DOCTYPE html>\n<html lang=\"zh\"><head><title>t</title></head><body>\n", text, b"</body></html>\n"),
    ("txt", b"plain notes\n", text, b""),
    ("bin", b"", block, b""),
]
lo, hi = math.log(1024), math.log(5 * 1024 * 1024)
total = 0
for i in range(count):
    name, head, body, tail = kinds[i % len(kinds)]
    size = int(math.exp(rng.uniform(lo, hi)))
    fill = max(0, size - len(head) - len(tail))
    start = rng.randrange(len(body))
    with open(os.path.join(root, f"f{i:05d}.{name}"), "wb") as f:
        f.write(head)
        while fill > 0:
            piece = body[start:start + fill]
            f.write(piece)
            fill -= len(piece)
            start = 0
        f.write(tail)
    total += os.path.getsize(os.path.join(root, f"f{i:05d}.{name}"))
print(f"{count} files, {total / 1e9:.2f} GB")
PY

cd "$DATA"
ls -1 > "$DATA.list"
run_identify() { xargs -d '\n' -n 1000 "$CLI" identify < "$DATA.list" > /dev/null; }
run_file() { xargs -d '\n' -n 1000 file --mime-type -b < "$DATA.list" > /dev/null; }
now() { date +%s.%N; }

# Warm the page cache for both tools (and check they see every file).
[ "$(xargs -d '\n' -n 1000 "$CLI" identify < "$DATA.list" | wc -l)" -eq "$COUNT" ]
[ "$(xargs -d '\n' -n 1000 file --mime-type -b < "$DATA.list" | wc -l)" -eq "$COUNT" ]

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
: > "$DATA.times"
for r in $(seq 1 "$ROUNDS"); do
  t0=$(now); run_identify; t1=$(now); run_file; t2=$(now)
  ti=$(echo "$t1 - $t0" | bc -l); tf=$(echo "$t2 - $t1" | bc -l)
  echo "$ti $tf" >> "$DATA.times"
  printf 'round %d: identify %.3f s, file %.3f s, file/identify = %.1fx\n' "$r" "$ti" "$tf" "$(echo "$tf / $ti" | bc -l)"
done
python3 - "$DATA.times" "$COUNT" <<'PY'
import statistics, sys
rows = [tuple(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
count = int(sys.argv[2])
ident, fil = [r[0] for r in rows], [r[1] for r in rows]
for name, xs in (("identify", ident), ("file", fil)):
    print(f"{name:8s} min {min(xs):.3f} s  median {statistics.median(xs):.3f} s  max {max(xs):.3f} s"
          f"  ({statistics.median(xs) * 1e6 / count:.1f} us/file)")
print(f"file / identify (medians): {statistics.median(fil) / statistics.median(ident):.1f}x")
PY
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "labels found:"
xargs -d '\n' -n 1000 "$CLI" identify < "$DATA.list" | cut -f1 | sort | uniq -c | sort -rn | sed 's/^/  /'

echo "bytes read (detector's counter, limit per file over 3 KB: 10241 + 129, plus 2 x 64 KB inside a ZIP archive"
echo "or 64 KB of a compound file's tables):"
xargs -d '\n' -n 100000 "$CLI" identify --stats < "$DATA.list" 2>&1 >/dev/null | sed 's/^/  /'

if command -v strace >/dev/null; then
  echo "bytes read (strace, first 500 files):"
  head -n 500 "$DATA.list" > "$DATA.sample"
  xargs -d '\n' strace -qq -e trace=openat,pread64,read -o "$DATA.strace" "$CLI" identify < "$DATA.sample" > /dev/null
  python3 - "$DATA.strace" "$DATA" <<'PY'
import os, re, sys
log, root = sys.argv[1], sys.argv[2]
fds, per_file = {}, {}
for line in open(log):
    m = re.match(r'openat\(AT_FDCWD, "([^"]+)", .*\) = (\d+)', line)
    if m:
        path = m.group(1)
        if not path.startswith("/"):
            path = os.path.join(root, path)
        if os.path.dirname(path) == root:
            fds[m.group(2)] = path
            per_file.setdefault(path, 0)
        continue
    m = re.match(r'(?:pread64|read)\((\d+), .* = (\d+)$', line.strip())
    if m and m.group(1) in fds:
        per_file[fds[m.group(1)]] += int(m.group(2))
big = {p: n for p, n in per_file.items() if os.path.getsize(p) > 3 * 1024}
print(f"  {len(per_file)} files opened; over 3 KB: {len(big)}, max {max(big.values())} bytes, "
      f"mean {sum(big.values()) / len(big):.1f} bytes per file")
plain = {p: n for p, n in big.items() if not os.path.basename(p).split(".")[-1] in ("docx", "zip", "ox-docx", "ox-xlsx", "ox-pptx", "cf-doc", "cf-xls")}
if plain:
    print(f"  over 3 KB and neither ZIP nor compound file: {len(plain)}, max {max(plain.values())} bytes")
PY
fi
