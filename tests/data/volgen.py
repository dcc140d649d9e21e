#!/usr/bin/env python3
"""Helper for make_volumes.sh and make_demo.sh.

Makes the seeded file contents, keeps a JSON-lines log of what the shell
script put on a volume and deleted, and turns that log into the manifest,
checking every entry against The Sleuth Kit's view of the finished image
(fls, istat, icat) and against the raw FAT directory entries.

Only the standard library is used, so the scripts run on a bare machine.
"""

import datetime
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import zlib

# ---------------------------------------------------------------- contents

WORDS = (
    "amber anchor apple archive arrow aspen autumn badger basin beacon birch "
    "blanket bottle breeze bridge bronze cabin candle canyon carbon cedar "
    "chalk cherry circle cliff clover cobalt comet copper coral cotton "
    "crystal dawn delta desert diamond drift ember engine falcon feather "
    "fern field forest fossil garden garnet glacier granite harbor hazel "
    "hollow island ivory jasper juniper kettle lantern larch lemon linen "
    "lotus maple marble meadow mirror mosaic needle nickel oasis ocean olive "
    "orchard paper pebble pepper pillar planet quartz quill raven ribbon "
    "river saddle salt sand silver slate spruce stone summit thistle thunder "
    "timber topaz tunnel valley velvet violet walnut willow window winter "
    "yarrow zephyr 2024 2025 2026 invoice report draft final notes minutes "
    "budget letter summary chapter page figure table"
).split()


class Stream:
    """SHA-256 in counter mode: the same bytes on every machine and Python."""

    def __init__(self, seed):
        self.seed = str(seed).encode()
        self.block = 0
        self.buf = b""

    def take(self, n):
        while len(self.buf) < n:
            self.buf += hashlib.sha256(self.seed + b":%d" % self.block).digest()
            self.block += 1
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def below(self, n):
        return int.from_bytes(self.take(4), "little") % n


def gen_text(seed, size):
    s = Stream(seed)
    out = bytearray()
    line = 1
    while len(out) < size:
        words = [WORDS[s.below(len(WORDS))] for _ in range(5 + s.below(10))]
        out += ("%05d %s.\n" % (line, " ".join(words).capitalize())).encode()
        line += 1
    return bytes(out[:size])


def gen_log(seed, size):
    """Log lines: repetitive, as logs are, so they compress well."""
    s = Stream(seed)
    levels = ["INFO", "INFO", "INFO", "WARN", "DEBUG"]
    events = ["request served", "cache hit", "cache miss", "job queued", "job done",
              "connection opened", "connection closed", "retrying"]
    out = bytearray()
    t = 1735689600 + s.below(86400)
    while len(out) < size:
        t += s.below(5)
        d = datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
        out += ("%s %-5s %s: %s id=%d\n" % (d.strftime("%Y-%m-%d %H:%M:%S"), levels[s.below(5)],
                                           WORDS[s.below(16)], events[s.below(8)],
                                           s.below(1000))).encode()
    return bytes(out[:size])


def gen_csv(seed, size):
    s = Stream(seed)
    out = bytearray(b"id;item;amount;date\n")
    row = 1
    while len(out) < size:
        out += ("%d;%s %s;%d.%02d;2025-%02d-%02d\n" % (
            row, WORDS[s.below(len(WORDS))], WORDS[s.below(len(WORDS))],
            s.below(5000), s.below(100), 1 + s.below(12), 1 + s.below(28))).encode()
        row += 1
    return bytes(out[:size])


def gen_html(seed, size):
    body = gen_text(seed, max(size, 64)).decode()
    paras = "".join("<p>%s</p>\n" % p for p in body.splitlines())
    doc = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
           "<body><h1>%s</h1>\n%s</body></html>\n" % (WORDS[len(body) % len(WORDS)],
                                                    WORDS[size % len(WORDS)], paras))
    data = doc.encode()
    if size and len(data) > size:
        # keep the closing tags: cut paragraphs, not the end
        tail = b"</body></html>\n"
        data = data[:size - len(tail)] + tail
    return data


def gen_pdf(seed, size):
    """A small text-only PDF 1.4 with a correct cross-reference table."""
    text = gen_text(seed, max(size // 2, 200)).decode().splitlines()[:40]
    lines = ["BT /F1 10 Tf 40 800 Td 12 TL"]
    for t in text:
        lines.append("(%s) '" % t.replace("\\", "").replace("(", "").replace(")", ""))
    lines.append("ET")
    content = "\n".join(lines).encode()
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        b"/Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def picture(seed, w, h):
    """RGB rows of a seeded gradient with a few discs: looks like something."""
    s = Stream(seed)
    base = [s.below(256) for _ in range(6)]
    discs = [(s.below(w), s.below(h), 4 + s.below(max(w, h) // 3),
              (s.below(256), s.below(256), s.below(256))) for _ in range(4)]
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            r = (base[0] + x * base[3] // max(w, 1)) & 255
            g = (base[1] + y * base[4] // max(h, 1)) & 255
            b = (base[2] + (x + y) * base[5] // max(w + h, 1)) & 255
            for cx, cy, rad, col in discs:
                if (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad:
                    r, g, b = col
            row.append((r, g, b))
        rows.append(row)
    return rows


def gen_png(seed, w, h):
    rows = picture(seed, w, h)
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# Baseline JPEG (JFIF, 4:4:4, standard tables of ITU T.81 Annex K).
_ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48,
           41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22,
           15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55,
           62, 63]
_QL = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57,
       69, 56, 14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55,
       64, 81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100,
       103, 99]
_QC = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
       99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32
_DC_L = ([0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0], list(range(12)))
_DC_C = ([0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0], list(range(12)))
_AC_L = ([0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d], bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f02433627282090a161718191a"
    "25262728292a3435363738393a434445464748494a535455565758595a636465666768696a737475767778"
    "797a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7"
    "c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa"))
_AC_C = ([0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77], bytes.fromhex(
    "000102031104052131061241510761711322328108144291a1b1c109233352f0156272d10a162434e125"
    "f11718191a262728292a35363738393a434445464748494a535455565758595a636465666768696a7374"
    "75767778797a82838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9ba"
    "c2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae2e3e4e5e6e7e8e9eaf2f3f4f5f6f7f8f9fa"))


def _huff_codes(table):
    counts, symbols = table
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(counts[length - 1]):
            codes[symbols[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def gen_jpeg(seed, w, h):
    import math
    rows = picture(seed, w, h)
    cos = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]
    tables = {"dcl": _huff_codes(_DC_L), "dcc": _huff_codes(_DC_C),
              "acl": _huff_codes(_AC_L), "acc": _huff_codes(_AC_C)}
    bits = []

    def put(code, length):
        bits.append((code, length))

    def size_of(v):
        return 0 if v == 0 else abs(v).bit_length()

    def encode_block(block, q, dc_pred, dc, ac):
        # separable 2-D DCT: rows, then columns
        scale = [math.sqrt(0.5) / 2] + [0.5] * 7
        rows_t = [[scale[u] * sum(block[y * 8 + x] * cos[u][x] for x in range(8)) for u in range(8)]
                  for y in range(8)]
        coef = [0] * 64
        for v in range(8):
            for u in range(8):
                acc = scale[v] * sum(rows_t[y][u] * cos[v][y] for y in range(8))
                coef[v * 8 + u] = int(round(acc / q[v * 8 + u]))
        zz = [coef[i] for i in _ZIGZAG]
        diff = zz[0] - dc_pred
        n = size_of(diff)
        put(*dc[n])
        if n:
            put(diff if diff > 0 else diff + (1 << n) - 1, n)
        run = 0
        for k in range(1, 64):
            c = zz[k]
            if c == 0:
                run += 1
                continue
            while run > 15:
                put(*ac[0xF0])
                run -= 16
            n = size_of(c)
            put(*ac[(run << 4) | n])
            put(c if c > 0 else c + (1 << n) - 1, n)
            run = 0
        if run:
            put(*ac[0x00])
        return zz[0]

    preds = [0, 0, 0]
    for by in range(0, h, 8):
        for bx in range(0, w, 8):
            ycc = [[], [], []]
            for y in range(8):
                for x in range(8):
                    r, g, b = rows[min(by + y, h - 1)][min(bx + x, w - 1)]
                    ycc[0].append(0.299 * r + 0.587 * g + 0.114 * b - 128)
                    ycc[1].append(-0.168736 * r - 0.331264 * g + 0.5 * b)
                    ycc[2].append(0.5 * r - 0.418688 * g - 0.081312 * b)
            preds[0] = encode_block(ycc[0], _QL, preds[0], tables["dcl"], tables["acl"])
            preds[1] = encode_block(ycc[1], _QC, preds[1], tables["dcc"], tables["acc"])
            preds[2] = encode_block(ycc[2], _QC, preds[2], tables["dcc"], tables["acc"])

    scan = bytearray()
    acc, nbits = 0, 0
    for code, length in bits:
        acc = (acc << length) | code
        nbits += length
        while nbits >= 8:
            byte = (acc >> (nbits - 8)) & 0xFF
            scan.append(byte)
            if byte == 0xFF:
                scan.append(0)
            nbits -= 8
    if nbits:
        byte = ((acc << (8 - nbits)) | ((1 << (8 - nbits)) - 1)) & 0xFF
        scan.append(byte)
        if byte == 0xFF:
            scan.append(0)

    def seg(marker, data):
        return struct.pack(">BBH", 0xFF, marker, len(data) + 2) + data

    def dht(cls_id, table):
        return bytes([cls_id]) + bytes(table[0]) + bytes(table[1])

    out = b"\xff\xd8"
    out += seg(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
    out += seg(0xDB, b"\0" + bytes(_QL[i] for i in _ZIGZAG) + b"\x01" + bytes(_QC[i] for i in _ZIGZAG))
    out += seg(0xC0, struct.pack(">BHHB", 8, h, w, 3) + b"\x01\x11\x00\x02\x11\x01\x03\x11\x01")
    out += seg(0xC4, dht(0x00, _DC_L) + dht(0x10, _AC_L) + dht(0x01, _DC_C) + dht(0x11, _AC_C))
    out += seg(0xDA, b"\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00")
    return out + bytes(scan) + b"\xff\xd9"


def generate(kind, seed, size):
    if kind == "text":
        return gen_text(seed, size)
    if kind == "rand":
        return Stream(seed).take(size)
    if kind == "zero":
        return bytes(size)
    if kind == "log":
        return gen_log(seed, size)
    if kind == "csv":
        return gen_csv(seed, size)
    if kind == "html":
        return gen_html(seed, size)
    if kind == "pdf":
        return gen_pdf(seed, size)
    if kind == "mixed":
        # 64 KiB of text, 64 KiB that will not compress, then text again: on
        # NTFS the middle compression unit is stored as it is
        unit = 65536
        head = gen_log(seed, min(size, unit))
        middle = Stream(seed).take(max(0, min(size, 2 * unit) - unit))
        return head + middle + gen_log(str(seed) + "b", max(0, size - 2 * unit))
    if kind in ("png", "jpeg"):
        w, h = size  # size is "WxH" for pictures
        return gen_png(seed, w, h) if kind == "png" else gen_jpeg(seed, w, h)
    raise SystemExit("unknown content kind " + kind)


# ---------------------------------------------------------------- log

def iso(t):
    """Seconds since 1970 (or an ISO string) -> ISO 8601 UTC with Z."""
    if isinstance(t, str):
        t = parse_time(t)
    d = datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
    return d.strftime("%Y-%m-%dT%H:%M:%S") + ("Z" if t == int(t) else ".%06dZ" % d.microsecond)


def parse_time(s):
    s = s.strip().replace(" ", "T")
    if s.endswith("Z"):
        s = s[:-1]
    d = datetime.datetime.fromisoformat(s).replace(tzinfo=datetime.timezone.utc)
    return d.timestamp()


def log(logfile, **rec):
    with open(logfile, "a", encoding="utf-8") as f:
        f.write(json.dumps(rec, ensure_ascii=False) + "\n")


def read_log(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def filetime(t):
    return int(round(t * 10_000_000)) + 116444736000000000


def ntfs_set_times(target, mtime, ctime):
    """ntfs-3g's system.ntfs_times: creation, last write, last access."""
    v = struct.pack("<3Q", filetime(ctime), filetime(mtime), filetime(mtime))
    os.setxattr(target, "system.ntfs_times", v)


def ntfs_attrib(target):
    return int.from_bytes(os.getxattr(target, "system.ntfs_attrib_be"), "big")


# ---------------------------------------------------------------- commands

def cmd_gen(a):
    """gen LOG PATH KIND SEED SIZE MTIME OUT [CTIME]: write OUT and log it."""
    logf, path, kind, seed, size, mtime, out = a[:7]
    ctime = None
    if len(a) > 7:
        # an ISO time, or seconds relative to MTIME such as -86400
        ctime = parse_time(mtime) + int(a[7]) if re.fullmatch(r"[-+][0-9]+", a[7]) else parse_time(a[7])
    if kind in ("png", "jpeg"):
        w, h = size.split("x")
        data = generate(kind, seed, (int(w), int(h)))
    else:
        data = generate(kind, seed, int(size))
    with open(out, "wb") as f:
        f.write(data)
    t = parse_time(mtime)
    os.utime(out, (t, t))  # mcopy -m takes it from here
    rec = dict(op="file", path=path, size=len(data), sha256=hashlib.sha256(data).hexdigest(),
               mtime=iso(mtime), content=kind, seed=seed)
    if ctime is not None:
        rec["created"] = iso(ctime)
    log(logf, **rec)


def cmd_stream(a):
    """stream LOG PATH NAME KIND SEED SIZE TARGET: a named NTFS stream."""
    logf, path, name, kind, seed, size, target = a
    data = generate(kind, seed, int(size))
    with open(target + ":" + name, "wb") as f:
        f.write(data)
    log(logf, op="stream", path=path, name=name, size=len(data),
        sha256=hashlib.sha256(data).hexdigest())


def cmd_sparse(a):
    """sparse LOG PATH SIZE MTIME OUT OFFSET:KIND:SEED:LEN...: data islands in holes."""
    logf, path, size, mtime, out = a[:5]
    size = int(size)
    image = bytearray(size)
    with open(out, "wb") as f:
        for island in a[5:]:
            off, kind, seed, n = island.split(":")
            data = generate(kind, seed, int(n))
            f.seek(int(off))
            f.write(data)
            image[int(off):int(off) + len(data)] = data
        f.truncate(size)
    log(logf, op="file", path=path, size=size, sha256=hashlib.sha256(bytes(image)).hexdigest(),
        mtime=iso(mtime), content="sparse", seed=";".join(a[5:]))


def cmd_interleave(a):
    """interleave LOG MTIME CHUNK COUNT PATH_A OUT_A SEED_A PATH_B OUT_B SEED_B.

    Appends to the two files in turn, syncing after each chunk, so that the
    file system hands out their clusters alternately."""
    logf, mtime, chunk, count, pa, oa, sa, pb, ob, sb = a
    chunk, count = int(chunk), int(count)
    da = generate("text", sa, chunk * count)
    db = generate("text", sb, chunk * count)
    with open(oa, "wb") as fa, open(ob, "wb") as fb:
        for i in range(count):
            for f, d in ((fa, da), (fb, db)):
                f.write(d[i * chunk:(i + 1) * chunk])
                f.flush()
                os.fsync(f.fileno())
    for p, d, s in ((pa, da, sa), (pb, db, sb)):
        log(logf, op="file", path=p, size=len(d), sha256=hashlib.sha256(d).hexdigest(),
            mtime=iso(mtime), content="text", seed=s)


def cmd_log(a):
    """log LOG OP key=value...: a plain record (folders, deletions)."""
    rec = {"op": a[1]}
    for kv in a[2:]:
        k, v = kv.split("=", 1)
        rec[k] = iso(v) if k in ("mtime", "created") else v
    log(a[0], **rec)


def cmd_ntfs_apply_times(a):
    """ntfs-apply-times LOG MOUNT: give every file and folder written so far the
    times the log has for it. Files first, then folders deepest first, because
    adding to a folder moves its own times."""
    items = [r for r in replay(read_log(a[0])) if not r["deleted"]]
    for it in sorted(items, key=lambda r: (r["is_dir"], -r["path"].count("/"))):
        m = parse_time(it["mtime"])
        ntfs_set_times(os.path.join(a[1], it["path"]), m,
                       parse_time(it["created"]) if "created" in it else m)


def cmd_ntfs_attr(a):
    """ntfs-attr TARGET BITS: set Windows attribute bits (0x800 compressed, 1 read-only...)."""
    v = ntfs_attrib(a[0]) | int(a[1], 0)
    os.setxattr(a[0], "system.ntfs_attrib_be", v.to_bytes(4, "big"))


def cmd_ntfs_note(a):
    """ntfs-note LOG MOUNT PATH: before deleting, log record number and attributes of
    PATH and everything below it (ntfs-3g's inode number is the MFT record number)."""
    logf, mnt, path = a
    top = os.path.join(mnt, path)
    items = [path]
    if os.path.isdir(top):
        for root, dirs, files in os.walk(top):
            rel = os.path.relpath(root, mnt)
            items += [os.path.join(rel, n) for n in sorted(dirs) + sorted(files)]
    for p in items:
        full = os.path.join(mnt, p)
        parent = os.path.dirname(full.rstrip("/"))
        log(logf, op="ntfs", path=p, record=os.stat(full).st_ino,
            parent_record=os.stat(parent).st_ino, attributes=ntfs_attrib(full))


def cmd_fat_note(a):
    """fat-note LOG IMG PATH: before deleting, log first cluster and cluster chain of
    PATH and everything below it, read from the allocation table."""
    logf, img, path = a
    vol = FatVolume(img)
    listing = fls(img, deleted_only=False)
    for p, inode, is_dir, deleted in listing:
        if deleted:
            continue
        if p == path or p.startswith(path + "/"):
            e = vol.entry(inode)
            log(logf, op="chain", path=p, first_cluster=e["first_cluster"],
                clusters=vol.chain(e["first_cluster"]))


def cmd_fat32_forget_next_free(a):
    """fat32-forget-next-free IMG: set FSInfo's next-free hint to 'unknown'.

    mtools starts allocating at that hint; without it, it starts at cluster 2
    like it always does on FAT12/16, so freed holes get filled again."""
    with open(a[0], "r+b") as f:
        boot = f.read(512)
        bps, = struct.unpack_from("<H", boot, 11)
        fsinfo, = struct.unpack_from("<H", boot, 48)
        f.seek(fsinfo * bps + 492)
        f.write(b"\xff\xff\xff\xff")


def cmd_epoch(a):
    print(int(parse_time(a[0])))


# ---------------------------------------------------------------- reading images

def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def fls(img, deleted_only=True):
    """[(path, inode, is_dir, deleted)] from fls -r -p (-d for deleted only)."""
    args = ["fls", "-r", "-p"] + (["-d"] if deleted_only else []) + [img]
    out = []
    for line in run(*args).decode("utf-8", "replace").splitlines():
        m = re.match(r"^(\S)/(\S) (\* )?([0-9]+)(?:-([0-9]+)-([0-9]+))?(?:\(realloc\))?:\t(.*)$", line)
        if not m:
            continue
        name_type, meta_type, star, inode, atype, aid, path = m.groups()
        out.append((path, int(inode) if atype is None else "%s-%s-%s" % (inode, atype, aid),
                    "d" in (name_type, meta_type), star is not None))
    return out


class FatVolume:
    def __init__(self, img):
        with open(img, "rb") as f:
            self.data = f.read()
        d = self.data
        self.bps, self.spc, self.reserved, self.nfats, self.root_entries, tot16 = \
            struct.unpack_from("<HBHBHH", d, 11)
        fat16, = struct.unpack_from("<H", d, 22)
        tot32, = struct.unpack_from("<I", d, 32)
        fat32, = struct.unpack_from("<I", d, 36)
        self.total_sectors = tot16 or tot32
        self.fat_sectors = fat16 or fat32
        self.root_sectors = (self.root_entries * 32 + self.bps - 1) // self.bps
        self.first_data = self.reserved + self.nfats * self.fat_sectors
        self.cluster_start = self.first_data + self.root_sectors
        self.cluster_size = self.bps * self.spc
        self.clusters = (self.total_sectors - self.cluster_start) // self.spc
        self.bits = 12 if self.clusters < 4085 else 16 if self.clusters < 65525 else 32
        self.serial = struct.unpack_from("<I", d, 39 if self.bits != 32 else 67)[0]

    def fat(self, c):
        base = self.reserved * self.bps
        if self.bits == 12:
            v, = struct.unpack_from("<H", self.data, base + c * 3 // 2)
            return v >> 4 if c & 1 else v & 0xFFF
        if self.bits == 16:
            return struct.unpack_from("<H", self.data, base + c * 2)[0]
        return struct.unpack_from("<I", self.data, base + c * 4)[0] & 0x0FFFFFFF

    def is_free(self, c):
        return self.fat(c) == 0

    def chain(self, first):
        out, c = [], first
        end = {12: 0xFF8, 16: 0xFFF8, 32: 0x0FFFFFF8}[self.bits]
        while 2 <= c < self.clusters + 2 and len(out) <= self.clusters:
            out.append(c)
            c = self.fat(c)
            if c >= end:
                break
        return out

    def cluster(self, c):
        off = (self.cluster_start + (c - 2) * self.spc) * self.bps
        return self.data[off:off + self.cluster_size]

    def read(self, clusters, size):
        return b"".join(self.cluster(c) for c in clusters)[:size]

    def entry(self, inode):
        """The raw 32-byte entry behind a TSK inode number."""
        off = self.first_data * self.bps + (inode - 3) * 32
        e = self.data[off:off + 32]
        name = e[0:8].decode("cp437").rstrip()
        ext = e[8:11].decode("cp437").rstrip()
        if e[0] == 0xE5:
            name = "$" + name[1:]
        hi, wtime, wdate, lo, size = struct.unpack_from("<HHHHI", e, 20)
        ctime, cdate = struct.unpack_from("<HH", e, 14)
        # a long name sits in the slots just before; not known for the first
        # slot of a cluster (the one before may belong to another cluster)
        if off // self.bps == self.first_data and off % self.bps == 0:
            lfn = False  # first slot of the volume's root folder
        elif off // self.bps >= self.cluster_start and \
                (off - self.cluster_start * self.bps) % self.cluster_size == 0:
            lfn = None
        else:
            lfn = self.data[off - 32 + 11] == 0x0F
        return dict(short_name=name + ("." + ext if ext else ""), attributes=e[11], lfn=lfn,
                    first_cluster=hi * 65536 + lo, size=size, deleted=e[0] == 0xE5,
                    mtime=dos_time(wdate, wtime), created=dos_time(cdate, ctime),
                    case_bits=e[12], offset=off)


def dos_time(date, time):
    if date == 0:
        return None
    d = datetime.datetime(1980 + (date >> 9), (date >> 5) & 15, date & 31,
                          time >> 11, (time >> 5) & 63, (time & 31) * 2,
                          tzinfo=datetime.timezone.utc)
    return iso(d.timestamp())


def istat(img, inode):
    return run("istat", img, str(inode)).decode("utf-8", "replace")


def icat_sha(img, addr):
    return hashlib.sha256(run("icat", img, str(addr))).hexdigest()


def parse_istat_ntfs(text):
    info = {"attrs": [], "si_flags": None}
    m = re.search(r"\$STANDARD_INFORMATION Attribute Values:\nFlags: (.*)\n", text)
    if m:
        info["si_flags"] = m.group(1).strip()
    m = re.search(r"\$STANDARD_INFORMATION Attribute Values:.*?Created:\t(.*?)\n"
                  r"File Modified:\t(.*?)\n", text, re.S)
    if m:
        info["created"], info["mtime"] = (tsk_time(x) for x in m.groups())
    m = re.search(r"\$FILE_NAME Attribute Values:\nFlags: .*\nName: (.*)\n", text)
    if m:
        info["name"] = m.group(1)
    m = re.search(r"\$FILE_NAME Attribute Values:.*?Parent MFT Entry: ([0-9]+)\s+Sequence: ([0-9]+)",
                  text, re.S)
    if m:
        info["parent"] = int(m.group(1))
        info["parent_seq"] = int(m.group(2))
    m = re.search(r"^Entry: ([0-9]+)\s+Sequence: ([0-9]+)", text, re.M)
    if m:
        info["seq"] = int(m.group(2))
    info["allocated"] = "\nAllocated File" in text or "\nAllocated Directory" in text
    info["directory"] = "Directory" in (info["si_flags"] or "") or "$INDEX_ROOT" in text
    for m in re.finditer(r"^Type: (\$\w+) \(([0-9]+)-([0-9]+)\)\s+Name: (\S+)\s+([^\n]*?)\s+size: ([0-9]+)",
                         text, re.M):
        t, tnum, aid, name, how, size = m.groups()
        # istat lists the clusters up to the data size; 0 stands for a
        # cluster that is not stored (sparse, or saved by compression)
        rest = text[m.end():].split("\nType: ", 1)[0]
        clusters = [int(x) for x in re.findall(r"^[0-9 ]+$", rest, re.M) for x in x.split()]
        info["attrs"].append(dict(type=t, id=int(aid), name=None if name == "N/A" else name,
                                  resident=how.startswith("Resident"),
                                  compressed="Compressed" in how, sparse="Sparse" in how,
                                  size=int(size), clusters=clusters))
    return info


def tsk_time(s):
    m = re.match(r"(\d{4}-\d\d-\d\d) (\d\d:\d\d:\d\d)(\.\d+)?", s)
    if not m or m.group(1).startswith("0000"):
        return None
    t = parse_time(m.group(1) + "T" + m.group(2))
    frac = float(m.group(3) or 0)
    return iso(t + frac) if frac else iso(t)


def fsstat(img):
    text = run("fsstat", img).decode("utf-8", "replace")
    get = lambda key: (re.search(r"^" + re.escape(key) + r": *(.*?) *$", text, re.M) or [None, None])[1]
    return dict(type=get("File System Type"),
                label=get("Volume Label (Boot Sector)") or get("Volume Name"),
                cluster_size=int(get("Cluster Size")), sector_size=int(get("Sector Size")))


# ---------------------------------------------------------------- manifest

class Problems:
    def __init__(self, image):
        self.image, self.count = image, 0

    def __call__(self, msg):
        self.count += 1
        print("manifest: %s: DISAGREEMENT: %s" % (self.image, msg), file=sys.stderr)


def replay(records):
    """What the script left: path -> record, with 'deleted' set."""
    items, order = {}, []
    for r in records:
        op = r["op"]
        if op in ("file", "dir"):
            if r["path"] in items and not items[r["path"]]["deleted"]:
                raise SystemExit("log: %s written twice" % r["path"])
            items[r["path"]] = dict(r, deleted=False, streams=[], is_dir=op == "dir")
            order.append(r["path"])
        elif op == "stream":
            items[r["path"]]["streams"].append(dict(name=r["name"], size=r["size"], sha256=r["sha256"]))
        elif op in ("del", "deltree"):
            for p in order:
                if p == r["path"] or (op == "deltree" and p.startswith(r["path"] + "/")):
                    if not items[p]["deleted"]:
                        items[p]["deleted"] = True
                        items[p]["deleted_by"] = op
        elif op == "chain":
            items[r["path"]]["chain"] = r["clusters"]
            items[r["path"]]["first_cluster"] = r["first_cluster"]
        elif op == "ntfs":
            it = items[r["path"]]
            it["record"] = r["record"]
            it["parent_record"] = r["parent_record"]
            it["attributes"] = r["attributes"]
        elif op == "attr":
            items[r["path"]]["attributes"] = int(r["attributes"], 0)
        elif op == "expect":
            items[r["path"]].setdefault("expect", []).append(r["what"])
    return [items[p] for p in order]


def same_name(ours, theirs, allow_lost_first):
    if ours == theirs:
        return True
    # a deleted entry without long name: TSK shows "_" for the lost first byte
    return allow_lost_first and theirs[:1] == "_" and theirs[1:].lower() == ours[1:].lower()


def match_path(ours, theirs, deleted_parts):
    a, b = ours.split("/"), theirs.split("/")
    return len(a) == len(b) and all(same_name(x, y, i >= len(a) - deleted_parts)
                                    for i, (x, y) in enumerate(zip(a, b)))


def fat_manifest(img, items, problems):
    vol = FatVolume(img)
    st = fsstat(img)
    deleted_listing = [x for x in fls(img) if x[3] and not x[0].startswith("$OrphanFiles")]
    used = set()
    files, folders, existing, existing_dirs = [], [], [], []
    deleted_paths = {it["path"] for it in items if it["deleted"]}

    for it in items:
        if not it["deleted"]:
            (existing_dirs if it["is_dir"] else existing).append(
                it["path"] if it["is_dir"] else dict(path=it["path"], size=it["size"]))
            continue
        parts = it["path"].split("/")
        depth = sum(1 for i in range(len(parts)) if "/".join(parts[:i + 1]) in deleted_paths)
        hit = [x for x in deleted_listing if x[1] not in used and x[2] == it["is_dir"]
               and match_path(it["path"], x[0], depth)]
        if not hit:
            problems("%s: not among fls -rd's deleted entries" % it["path"])
            continue
        tsk_path, inode = hit[0][0], hit[0][1]
        used.add(inode)
        e = vol.entry(inode)
        rec = dict(path=it["path"], name=parts[-1], short_name=e["short_name"],
                   has_long_name=e["lfn"] if e["lfn"] is not None else tsk_path.split("/")[-1] == parts[-1],
                   attributes=e["attributes"], mtime=e["mtime"], created=e["created"],
                   first_cluster=e["first_cluster"], tsk_inode=inode)
        want_attr = it.get("attributes", 0x10 if it["is_dir"] else 0x20)
        if e["attributes"] != want_attr:
            problems("%s: attributes 0x%02x on disk, 0x%02x written" % (it["path"], e["attributes"], want_attr))
        if e["mtime"] != it["mtime"]:
            problems("%s: time %s on disk, %s written" % (it["path"], e["mtime"], it["mtime"]))
        chain = it.get("chain")
        if chain is None:
            problems("%s: no cluster chain was noted before deletion" % it["path"])
            chain = []
        if chain and e["first_cluster"] != chain[0]:
            problems("%s: first cluster %d on disk, %d before deletion"
                     % (it["path"], e["first_cluster"], chain[0]))
        rec["clusters"] = runs(chain)
        rec["fragmented"] = len(rec["clusters"]) > 1
        if it["is_dir"]:
            folders.append(rec)
            continue
        if e["size"] != it["size"]:
            problems("%s: size %d on disk, %d written" % (it["path"], e["size"], it["size"]))
        n = -(-it["size"] // vol.cluster_size)
        contiguous = [c for c in range(e["first_cluster"], e["first_cluster"] + n)] if e["first_cluster"] else []
        original = hashlib.sha256(vol.read(chain, it["size"])).hexdigest()
        rec.update(size=it["size"], sha256=it["sha256"])
        rec["intact"] = original == it["sha256"]
        rec["contiguous_sha256"] = hashlib.sha256(vol.read(contiguous, it["size"])).hexdigest()
        rec["recoverable"] = rec["contiguous_sha256"] == it["sha256"]
        rec["free_clusters"] = sum(1 for c in contiguous if c < vol.clusters + 2 and vol.is_free(c))
        if "reused" in it.get("expect", []) and rec["intact"]:
            problems("%s: expected its clusters to be reused" % it["path"])
        if "reused" not in it.get("expect", []) and not rec["intact"]:
            problems("%s: original clusters no longer hold the content" % it["path"])
        tsk = icat_sha(img, inode)
        rec["tsk_icat_matches"] = tsk == it["sha256"]
        files.append(rec)

    for path, inode, is_dir, deleted in deleted_listing:
        if inode not in used:
            problems("fls -rd lists %s (%s), which the script did not delete" % (path, inode))

    label_raw = st["label"]
    return dict(volume_bytes=vol.total_sectors * vol.bps, cluster_size=vol.cluster_size,
                sector_size=vol.bps, cluster_count=vol.clusters,
                volume_serial="%08X" % vol.serial, tsk_type=st["type"], tsk_label=label_raw,
                deleted_files=files, deleted_folders=folders,
                existing_files=existing, existing_folders=existing_dirs)


def runs(chain):
    out = []
    for c in chain:
        if out and out[-1][0] + out[-1][1] == c:
            out[-1][1] += 1
        else:
            out.append([c, 1])
    return out


def ntfs_flags(v):
    names = [(0x1, "read-only"), (0x2, "hidden"), (0x4, "system"), (0x20, "archive"),
             (0x200, "sparse"), (0x800, "compressed"), (0x4000, "encrypted")]
    return [n for bit, n in names if v & bit]


def ntfs_manifest(img, items, problems):
    st = fsstat(img)
    with open(img, "rb") as f:
        boot = f.read(512)
    bps, spc = struct.unpack_from("<HB", boot, 11)
    total_sectors, = struct.unpack_from("<Q", boot, 0x28)
    clus = bps * (spc if spc < 128 else 1)
    rec_raw = struct.unpack_from("<b", boot, 0x40)[0]
    record_size = clus * rec_raw if rec_raw > 0 else 1 << -rec_raw
    bitmap = run("icat", img, "6")  # $Bitmap: one bit per cluster, set = in use
    listing = fls(img)
    by_record = {}
    for path, addr, is_dir, deleted in listing:
        rec = int(str(addr).split("-")[0])
        by_record.setdefault(rec, []).append((path, addr, is_dir))
    files, folders, existing, existing_dirs = [], [], [], []
    used = set()
    for it in items:
        if not it["deleted"]:
            (existing_dirs if it["is_dir"] else existing).append(
                it["path"] if it["is_dir"] else dict(path=it["path"], size=it["size"]))
            continue
        name = it["path"].split("/")[-1]
        recno = it.get("record")
        if recno is None:
            problems("%s: record number was not noted before deletion" % it["path"])
            continue
        used.add(recno)
        if "record_reused" in it.get("expect", []):
            now = parse_istat_ntfs(istat(img, recno))
            if not now["allocated"] or now["directory"]:
                problems("%s: record %d was to hold a file now" % (it["path"], recno))
            (folders if it["is_dir"] else files).append(
                dict(path=it["path"], name=name, record=recno, record_reused=True,
                     mtime=it.get("mtime"), created=it.get("created"),
                     record_now_holds=now.get("name"), attributes=(it.get("attributes") or 0) & ~0x10,
                     attribute_names=ntfs_flags(it.get("attributes") or 0)))
            continue
        seen = by_record.get(recno, [])
        base = [s for s in seen if "-" not in str(s[1]) or ":" not in s[0].split("/")[-1]]
        if not base:
            problems("%s: record %d not among fls -rd's deleted entries" % (it["path"], recno))
        else:
            tsk_path = base[0][0]
            if tsk_path.split("/")[-1] != name:
                problems("%s: fls -rd names record %d %s" % (it["path"], recno, tsk_path))
            elif tsk_path != it["path"] and not tsk_path.startswith("$OrphanFiles/"):
                problems("%s: fls -rd puts record %d at %s" % (it["path"], recno, tsk_path))
        info = parse_istat_ntfs(istat(img, recno))
        if info["allocated"]:
            problems("%s: record %d is allocated" % (it["path"], recno))
        # $STANDARD_INFORMATION's own flags (ntfs-3g's xattr adds 0x10 for folders)
        si = run("icat", img, "%d-16-0" % recno)
        attributes = struct.unpack_from("<I", si, 32)[0] if len(si) >= 36 else None
        if attributes != (it.get("attributes") or 0) & ~0x10:
            problems("%s: $STANDARD_INFORMATION flags %s, 0x%x before deletion"
                     % (it["path"], attributes, it.get("attributes") or 0))
        rec = dict(path=it["path"], name=name, record=recno, sequence=info.get("seq"),
                   parent_record=info.get("parent"), attributes=attributes,
                   attribute_names=ntfs_flags(attributes or 0),
                   mtime=info.get("mtime"), created=info.get("created"))
        if info.get("parent") != it.get("parent_record"):
            problems("%s: $FILE_NAME parent %s, %s when deleted" % (it["path"], info.get("parent"),
                                                                  it.get("parent_record")))
        pinfo = parse_istat_ntfs(istat(img, info["parent"])) if info.get("parent") is not None else {}
        rec["parent_reused"] = bool(pinfo) and (not pinfo["directory"] or pinfo.get("seq") != info.get("parent_seq")) \
            and pinfo.get("allocated", False)
        if rec["parent_reused"]:
            rec["parent_now"] = "directory" if pinfo["directory"] else "file"
        if ("parent_reused" in it.get("expect", [])) != rec["parent_reused"]:
            problems("%s: parent reuse is %s, not as planned" % (it["path"], rec["parent_reused"]))
        if it["is_dir"]:
            folders.append(rec)
            continue
        for key in ("mtime", "created"):
            if key in it and rec[key] != it[key]:
                problems("%s: $STANDARD_INFORMATION %s %s, %s written" % (it["path"], key, rec[key], it[key]))
        datas = [x for x in info["attrs"] if x["type"] == "$DATA"]
        main = [x for x in datas if x["name"] is None]
        if len(main) != 1:
            problems("%s: %d unnamed $DATA attributes" % (it["path"], len(main)))
            continue
        main = main[0]
        rec.update(size=it["size"], sha256=it["sha256"], resident=main["resident"],
                   compressed=main["compressed"], sparse=main["sparse"])
        if main["size"] != it["size"]:
            problems("%s: $DATA size %d, %d written" % (it["path"], main["size"], it["size"]))
        stored = [c for c in main["clusters"] if c]
        rec["clusters"] = runs(stored)
        rec["fragmented"] = len(rec["clusters"]) > 1
        rec["stored_clusters"] = len(stored)
        rec["free_clusters"] = sum(1 for c in stored if not bitmap[c // 8] >> (c % 8) & 1)
        got = icat_sha(img, "%d-128-%d" % (recno, main["id"]))
        rec["recoverable"] = got == it["sha256"]
        if not rec["recoverable"]:
            problems("%s: icat of record %d does not give the content written" % (it["path"], recno))
        streams = []
        for s in it["streams"]:
            attr = [x for x in datas if x["name"] == s["name"]]
            if not attr:
                problems("%s: stream %s is not in record %d" % (it["path"], s["name"], recno))
                continue
            got = icat_sha(img, "%d-128-%d" % (recno, attr[0]["id"]))
            if got != s["sha256"]:
                problems("%s:%s: icat does not give the content written" % (it["path"], s["name"]))
            streams.append(dict(s, resident=attr[0]["resident"], recoverable=got == s["sha256"]))
        extra = [x["name"] for x in datas if x["name"] and x["name"] not in {s["name"] for s in it["streams"]}]
        if extra:
            problems("%s: unexpected streams %s" % (it["path"], extra))
        rec["streams"] = streams
        for flag, bit in (("compressed", 0x800), ("sparse", 0x200)):
            if rec[flag] != bool((attributes or 0) & bit):
                problems("%s: $DATA %s=%s but attributes 0x%x" % (it["path"], flag, rec[flag], attributes or 0))
        files.append(rec)
    for path, addr, is_dir, deleted in listing:
        recno = int(str(addr).split("-")[0])
        if recno not in used and recno >= 24:
            problems("fls -rd lists %s (%s), which the script did not delete" % (path, addr))
    return dict(volume_bytes=total_sectors * bps, cluster_size=clus, sector_size=bps,
                mft_record_size=record_size, tsk_type=st["type"], tsk_label=st["label"],
                volume_serial=boot[0x48:0x50][::-1].hex().upper(),
                deleted_files=files, deleted_folders=folders,
                existing_files=existing, existing_folders=existing_dirs)


def cmd_manifest(a):
    """manifest LOG IMG FILE KIND LABEL OUT: one image's part of the manifest."""
    logf, img, fname, kind, label, out = a
    kind = int(kind)
    problems = Problems(fname)
    items = replay(read_log(logf))
    body = fat_manifest(img, items, problems) if kind < 4 else ntfs_manifest(img, items, problems)
    want_type = {1: "FAT12", 2: "FAT16", 3: "FAT32", 4: "NTFS"}[kind]
    if body["tsk_type"] != want_type:
        problems("fsstat says %s" % body["tsk_type"])
    if (body["tsk_label"] or "").strip() != label:
        problems("fsstat's label is %r" % body["tsk_label"])
    doc = dict(file=fname + ".xz", image=fname, fs_kind=kind, fs_name=want_type, label=label,
               image_bytes=os.path.getsize(img))
    doc.update(body)
    doc["disagreements"] = problems.count
    with open(out, "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False, indent=1)
    print("manifest: %s: %d deleted files, %d deleted folders, %d existing files, %d disagreements"
          % (fname, len(body["deleted_files"]), len(body["deleted_folders"]),
             len(body["existing_files"]), problems.count), file=sys.stderr)


def cmd_merge(a):
    """merge OUT PART...: put the parts into the manifest, keeping the entries of
    images that were not rebuilt this time."""
    images = {}
    if os.path.exists(a[0]):
        with open(a[0], encoding="utf-8") as f:
            images = {im["image"]: im for im in json.load(f)["images"]}
    for p in a[1:]:
        with open(p, encoding="utf-8") as f:
            im = json.load(f)
        images[im["image"]] = im
    doc = dict(format=1, time_zone="UTC",
               images=sorted(images.values(), key=lambda im: (im["fs_kind"], im["image"])))
    with open(a[0], "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False, indent=1)
        f.write("\n")


COMMANDS = {
    "gen": cmd_gen, "stream": cmd_stream, "sparse": cmd_sparse, "interleave": cmd_interleave,
    "log": cmd_log, "ntfs-apply-times": cmd_ntfs_apply_times, "ntfs-attr": cmd_ntfs_attr,
    "ntfs-note": cmd_ntfs_note, "fat-note": cmd_fat_note,
    "fat32-forget-next-free": cmd_fat32_forget_next_free, "epoch": cmd_epoch,
    "manifest": cmd_manifest, "merge": cmd_merge,
}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        raise SystemExit("usage: volgen.py {%s} ..." % ",".join(sorted(COMMANDS)))
    COMMANDS[sys.argv[1]](sys.argv[2:])
