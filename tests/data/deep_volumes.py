#!/usr/bin/env python3
"""Makes the deep-scan test volumes: memory cards whose file records are gone.

    python3 tests/data/deep_volumes.py OUTDIR [--xz] [--copies N]

Real files (ImageMagick `convert` for the pictures, Python's own modules for ZIP,
DOCX, ODT, SQLite, WAV and GZIP; PDF, MP3 and MP4 written by hand) go onto a FAT32
card made by mkfs.fat and written with mtools. Then:

  deep_quick.img   the card quick-formatted again with mkfs.fat, then a note saved and deleted
                   (its record is what the plain scan finds; its cluster was the first photo's)
  deep_zeroed.img  the card with its first MiB zeroed (boot sector and tables gone)
  deep_exfat.img   the same files on an exFAT card (mkfs.exfat, written through exfat-fuse), then
                   formatted again with mkfs.exfat; made only as root, where FUSE mounts work

deep_manifest.json lists, per image, every original file with its size, SHA-256,
the folder it was in and where its bytes still lie whole on the image (null when
they do not). Contents come from fixed seeds; needs dosfstools, mtools,
imagemagick and xz-utils; no root. With --copies N (for the benchmark) the card
holds N sets of the files, each set in folders of its own, on a card N times as
large.
"""
import gzip
import hashlib
import io
import json
import os
import random
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import wave
import zipfile
import zlib

CARD_MIB = 48
FIXED_TIME = (2025, 6, 1, 12, 0, 0)
PNG_UNDATED = ("-define", "png:exclude-chunks=date,time")  # the same bytes on every run
SEED_BASE = [0]  # moved on for each further set of files, so no two sets hold the same bytes


def seeded(seed):
    return random.Random(seed + SEED_BASE[0])


def run(*args, **kw):
    subprocess.run(args, check=True, **kw)


def convert(out, *args):
    run("convert", *args, out)
    with open(out, "rb") as f:
        return f.read()


def picture(tmp, name, size, seed, *extra):
    return convert(os.path.join(tmp, name), "-seed", str(seed + SEED_BASE[0]), "-size", size, "plasma:fractal", *extra)


def exif_with_thumbnail(main, thumb):
    """An Exif APP1 segment whose IFD1 holds a JPEG thumbnail, put right after SOI."""
    entries0 = struct.pack("<HHHIHH", 1, 0x0112, 3, 1, 1, 0)  # one entry: orientation
    ifd1_at = 8 + len(entries0) + 4
    thumb_at = ifd1_at + 2 + 2 * 12 + 4
    ifd0 = entries0 + struct.pack("<I", ifd1_at)
    ifd1 = struct.pack("<H", 2) + struct.pack("<HHII", 0x0201, 4, 1, thumb_at) + struct.pack("<HHII", 0x0202, 4, 1, len(thumb)) + struct.pack("<I", 0)
    tiff = b"II*\0" + struct.pack("<I", 8) + ifd0 + ifd1 + thumb
    body = b"Exif\0\0" + tiff
    return main[:2] + b"\xFF\xE1" + struct.pack(">H", len(body) + 2) + body + main[2:]


def zip_bytes(members, first_stored=None):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        if first_stored:
            z.writestr(zipfile.ZipInfo(first_stored[0], FIXED_TIME), first_stored[1], compress_type=zipfile.ZIP_STORED)
        for name, data in members:
            z.writestr(zipfile.ZipInfo(name, FIXED_TIME), data, compress_type=zipfile.ZIP_DEFLATED)
    return buf.getvalue()


def text(seed, n):
    rng = seeded(seed)
    words = "card photo memory folder lost found river stone cloud paper light seven north quiet".split()
    return " ".join(rng.choice(words) for _ in range(n)).encode()


def docx(seed):
    body = b"<w:document><w:body><w:p><w:r><w:t>" + text(seed, 3000) + b"</w:t></w:r></w:p></w:body></w:document>"
    return zip_bytes([("[Content_Types].xml", b"<Types/>"), ("_rels/.rels", b"<Relationships/>"), ("word/document.xml", body)])


def xlsx(seed):
    return zip_bytes([("[Content_Types].xml", b"<Types/>"), ("xl/workbook.xml", b"<workbook/>"), ("xl/worksheets/sheet1.xml", text(seed, 2000))])


def odt(seed):
    return zip_bytes([("content.xml", text(seed, 2500)), ("META-INF/manifest.xml", b"<manifest/>")],
                     first_stored=("mimetype", b"application/vnd.oasis.opendocument.text"))


def plain_zip(seed):
    rng = seeded(seed)
    return zip_bytes([(f"data/part{i}.bin", bytes(rng.getrandbits(8) for _ in range(9000))) for i in range(4)])


def sqlite_db(tmp, seed):
    path = os.path.join(tmp, f"db{seed + SEED_BASE[0]}.sqlite")
    con = sqlite3.connect(path)
    con.execute("create table notes(id integer primary key, body text)")
    con.executemany("insert into notes(body) values (?)", [(text(seed + i, 40).decode(),) for i in range(400)])
    con.commit()
    con.close()
    with open(path, "rb") as f:
        return f.read()


def wav(seed, seconds):
    rng = seeded(seed)
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"".join(struct.pack("<h", rng.randint(-3000, 3000)) for _ in range(8000 * seconds)))
    return buf.getvalue()


def gzip_bytes(seed):
    return gzip.compress(text(seed, 20000), mtime=0)


def pdf(seed, pages):
    """A small PDF with a cross-reference table, written object by object."""
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>"]
    kids = " ".join(f"{3 + 2 * i} 0 R" for i in range(pages))
    objs.append(f"<< /Type /Pages /Kids [{kids}] /Count {pages} >>".encode())
    for i in range(pages):
        stream = b"BT /F1 12 Tf 72 720 Td (" + text(seed + i, 60) + b") Tj ET"
        objs.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents {4 + 2 * i} 0 R >>".encode())
        objs.append(b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream")
    out = bytearray(b"%PDF-1.4\n%\xE2\xE3\xCF\xD3\n")
    offsets = []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def mp3(seed, frames):
    """An ID3v2 tag, then MPEG-1 layer III frames at 128 kbit/s, 44.1 kHz."""
    rng = seeded(seed)
    title = b"\x00Track %d" % seed
    frame = b"TIT2" + struct.pack(">I", len(title)) + b"\0\0" + title
    size = len(frame) + 200  # padding after the frames
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    out = bytearray(b"ID3\x03\x00\x00" + syncsafe + frame + bytes(200))
    for i in range(frames):
        padding = i % 3 == 0
        length = 417 + padding
        out += bytes([0xFF, 0xFB, 0x90 | (0x02 if padding else 0), 0x64]) + bytes(rng.getrandbits(8) for _ in range(length - 4))
    return bytes(out)


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def mp4(seed, brand=b"isom"):
    rng = seeded(seed)
    ftyp = box(b"ftyp", brand + struct.pack(">I", 512) + brand + b"mp41")
    mvhd = box(b"mvhd", bytes(4) + struct.pack(">IIII", 0, 0, 1000, 5000) + bytes(80))
    moov = box(b"moov", mvhd + box(b"trak", box(b"tkhd", bytes(84))))
    mdat = box(b"mdat", bytes(rng.getrandbits(8) for _ in range(60000)))
    return ftyp + mdat + moov


def originals(tmp):
    """(folder, name, bytes) in the order they go onto the card."""
    files = [("", "COVER.JPG", picture(tmp, "cover.jpg", "640x480", 1, "-quality", "85"))]
    thumb = picture(tmp, "thumb.jpg", "80x60", 2, "-quality", "70")
    for i in range(1, 6):
        photo = picture(tmp, f"p{i}.jpg", "480x360", 10 + i, "-quality", "88")
        if i % 2:
            photo = exif_with_thumbnail(photo, thumb)
        files.append(("DCIM/100CAMERA", f"Beach_{i:02}.jpg", photo))
    files += [
        ("Pictures", "logo.png", picture(tmp, "logo.png", "200x150", 21, *PNG_UNDATED)),
        ("Pictures", "spinner.gif", convert(os.path.join(tmp, "spinner.gif"), "-seed", "22", "-size", "60x60", "plasma:fractal", "-seed", "23", "-size", "60x60", "plasma:fractal", "-loop", "0")),
        ("Pictures", "chart.bmp", picture(tmp, "chart.bmp", "120x90", 24)),
        ("Pictures", "scan.tif", picture(tmp, "scan.tif", "150x100", 25, "-compress", "lzw")),
        ("Pictures", "sticker.webp", picture(tmp, "sticker.webp", "160x120", 26)),
        ("Documents", "Report.docx", docx(31)),
        ("Documents", "Budget.xlsx", xlsx(32)),
        ("Documents", "Letter.odt", odt(33)),
        ("Documents", "Paper.pdf", pdf(34, 6)),
        ("Documents", "backup.zip", plain_zip(35)),
        ("Documents", "notes.sqlite", sqlite_db(tmp, 36)),
        ("Music", "Voice memo.wav", wav(41, 3)),
        ("Music", "Song.mp3", mp3(42, 120)),
        ("Music", "log.txt.gz", gzip_bytes(43)),
        ("Video", "Clip.mp4", mp4(51)),
        ("Video", "Clip.mov", mp4(52, b"qt  ")),
        ("Video", "Intro.pdf", pdf(53, 3)),
        # Loose in the root, whose folder the format empties: only their contents name them.
        ("", "Screenshot.png", picture(tmp, "shot.png", "240x180", 61, *PNG_UNDATED)),
        ("", "Minutes.pdf", pdf(62, 4)),
        ("", "Photos.zip", zip_bytes([("a.jpg", picture(tmp, "z.jpg", "100x80", 63))])),
        ("", "Ringtone.mp3", mp3(64, 60)),
        ("", "Sketch.jpg", exif_with_thumbnail(picture(tmp, "sketch.jpg", "320x240", 65, "-quality", "80"), thumb)),
        ("", "Archive.tar.gz", gzip_bytes(66)),
    ]
    return files


def write_card(path, files, tmp, copies=1):
    with open(path, "wb") as f:
        f.truncate((CARD_MIB * copies) << 20)
    run("mkfs.fat", "-F", "32", "-s", "1", "-n", "CARD", "-i", "4b455354", "--invariant", path, stdout=subprocess.DEVNULL)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC")
    made = set()
    for folder, name, data in files:
        parts = folder.split("/") if folder else []
        for i in range(len(parts)):
            sub = "/".join(parts[: i + 1])
            if sub not in made:
                run("mmd", "-i", path, "::/" + sub, env=env)
                made.add(sub)
        src = os.path.join(tmp, "put.bin")
        with open(src, "wb") as f:
            f.write(data)
        os.utime(src, (1748779200, 1748779200))  # 2025-06-01 12:00 UTC, kept by mcopy -m
        run("mcopy", "-i", path, "-m", src, f"::/{folder}/{name}" if folder else f"::/{name}", env=env)


def write_exfat_card(path, files, tmp, copies=1):
    with open(path, "wb") as f:
        f.truncate((CARD_MIB * copies) << 20)
    run("mkfs.exfat", "-c", "4K", "-L", "CARD", path, stdout=subprocess.DEVNULL)
    mnt = os.path.join(tmp, "mnt")
    os.makedirs(mnt, exist_ok=True)
    # Through a loop device, as a card reader shows the card.
    loop = subprocess.run(["losetup", "--find", "--show", path], check=True, capture_output=True, text=True).stdout.strip()
    run("mount.exfat-fuse", loop, mnt, stdout=subprocess.DEVNULL)
    try:
        for folder, name, data in files:
            os.makedirs(os.path.join(mnt, folder), exist_ok=True)
            target = os.path.join(mnt, folder, name)
            with open(target, "wb") as f:
                f.write(data)
            os.utime(target, (1748779200, 1748779200))
    finally:
        run("umount", mnt)
        for _ in range(50):  # the daemon lets go of the loop device a moment after the unmount
            if subprocess.run(["losetup", "-d", loop], stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
    run("mkfs.exfat", "-c", "4K", "-L", "CARD", path, stdout=subprocess.DEVNULL)


def manifest_entries(image, files):
    with open(image, "rb") as f:
        img = f.read()
    out = []
    for folder, name, data in files:
        at = img.find(data)
        while at >= 0 and at % 512:
            at = img.find(data, at + 1)
        out.append({"folder": folder, "name": name, "size": len(data),
                    "sha256": hashlib.sha256(data).hexdigest(), "offset": at if at >= 0 else None})
    return out


def main():
    out_dir = sys.argv[1]
    compress = "--xz" in sys.argv
    copies = int(sys.argv[sys.argv.index("--copies") + 1]) if "--copies" in sys.argv else 1
    os.makedirs(out_dir, exist_ok=True)
    manifest = {}
    with tempfile.TemporaryDirectory() as tmp:
        files = originals(tmp)
        for i in range(1, copies):
            SEED_BASE[0] = 1000 * i
            files += [(f"SET{i}/{folder}".rstrip("/"), name, data) for folder, name, data in originals(tmp)]
        quick = os.path.join(out_dir, "deep_quick.img")
        write_card(quick, files, tmp, copies)
        run("mkfs.fat", "-F", "32", "-s", "1", "-n", "CARD", "-i", "4b455355", "--invariant", quick, stdout=subprocess.DEVNULL)
        note = os.path.join(tmp, "NOTE.TXT")
        with open(note, "wb") as f:
            f.write(text(71, 80))
        env = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC")
        run("mcopy", "-i", quick, "-m", note, "::/NOTE.TXT", env=env)
        run("mdel", "-i", quick, "::/NOTE.TXT", env=env)
        zeroed = os.path.join(out_dir, "deep_zeroed.img")
        write_card(zeroed, files, tmp, copies)
        with open(zeroed, "r+b") as f:
            f.write(bytes(1 << 20))
        images = [quick, zeroed]
        if os.geteuid() == 0 and shutil.which("mount.exfat-fuse") and shutil.which("losetup"):
            exfat = os.path.join(out_dir, "deep_exfat.img")
            write_exfat_card(exfat, files, tmp, copies)
            images.append(exfat)
        else:
            print("deep_volumes.py: the exFAT card needs root and exfat-fuse; left out", file=sys.stderr)
        for image in images:
            manifest[os.path.basename(image)] = manifest_entries(image, files)
    with open(os.path.join(out_dir, "deep_manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
        f.write("\n")
    if compress:
        for image in manifest:
            run("xz", "-9", "-f", "-T1", os.path.join(out_dir, image))


if __name__ == "__main__":
    main()
