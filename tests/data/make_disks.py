#!/usr/bin/env python3
"""Whole-disk images built around the test volumes, so a partition cut out with dd is the volume.

  tests/data/make_disks.py VOLUME_DIR OUT_DIR
  tests/data/make_disks.py --gpt OUT VOLUME...

VOLUME_DIR holds the unpacked fat12/fat16/fat32/ntfs.img. Writes mbr.img (FAT32 and NTFS
primaries), logical.img (one FAT16 logical partition in an extended one) and gpt.img (FAT12 and
FAT16); the layout is fixed, so the images only change when the volumes do. With --gpt, one GPT
disk of basic data partitions holding the given volumes (tests build theirs so).
"""
import os
import struct
import sys
import uuid
import zlib

MIB = 1 << 20
SECTOR = 512


def mbr_entry(kind, start, count):
    return struct.pack("<B3sB3sII", 0, b"\xfe\xff\xff", kind, b"\xfe\xff\xff", start, count)


def boot_record(entries, disk_id=0):
    sector = bytearray(SECTOR)
    struct.pack_into("<I", sector, 440, disk_id)
    for i, e in enumerate(entries):
        sector[446 + 16 * i:462 + 16 * i] = e
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def sectors(path):
    return os.path.getsize(path) // SECTOR


def put(disk, offset, data):
    disk.seek(offset)
    disk.write(data)


def make_mbr(vol, out):
    fat32, ntfs = os.path.join(vol, "fat32.img"), os.path.join(vol, "ntfs.img")
    s1 = 2048
    s2 = s1 + sectors(fat32)
    end = s2 + sectors(ntfs)
    with open(out, "wb") as disk:
        disk.truncate(end * SECTOR)
        put(disk, 0, boot_record([mbr_entry(0x0C, s1, sectors(fat32)), mbr_entry(0x07, s2, sectors(ntfs))], 0x4B455331))
        put(disk, s1 * SECTOR, open(fat32, "rb").read())
        put(disk, s2 * SECTOR, open(ntfs, "rb").read())


def make_logical(vol, out):
    fat16 = os.path.join(vol, "fat16.img")
    ext = 2048
    logical = ext + 2048  # the EBR sits at the start of the extended partition
    end = logical + sectors(fat16)
    with open(out, "wb") as disk:
        disk.truncate(end * SECTOR)
        put(disk, 0, boot_record([mbr_entry(0x05, ext, end - ext)], 0x4B455332))
        put(disk, ext * SECTOR, boot_record([mbr_entry(0x06, logical - ext, sectors(fat16))]))
        put(disk, logical * SECTOR, open(fat16, "rb").read())


def make_gpt(parts, out):
    basic_data = uuid.UUID("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7").bytes_le
    first = 2048
    layout = []
    at = first
    for p in parts:
        layout.append((at, at + sectors(p) - 1, p))
        at += sectors(p)
    last_usable = at + 2048 - 1
    total = last_usable + 1 + 33
    table = bytearray(128 * 128)
    for i, (lo, hi, p) in enumerate(layout):
        guid = uuid.UUID(int=0x4B455300 + i).bytes_le
        name = os.path.basename(p).encode("utf-16-le")
        struct.pack_into("<16s16sQQQ72s", table, 128 * i, basic_data, guid, lo, hi, 0, name)
    table_crc = zlib.crc32(table)
    disk_guid = uuid.UUID(int=0x4B455347).bytes_le

    def header(current, backup, entries_at):
        h = bytearray(struct.pack("<8sIIIIQQQQ16sQIII", b"EFI PART", 0x10000, 92, 0, 0, current, backup, first,
                                  last_usable, disk_guid, entries_at, 128, 128, table_crc))
        struct.pack_into("<I", h, 16, zlib.crc32(bytes(h)))
        return bytes(h) + bytes(SECTOR - len(h))

    with open(out, "wb") as disk:
        disk.truncate(total * SECTOR)
        put(disk, 0, boot_record([mbr_entry(0xEE, 1, min(total - 1, 0xFFFFFFFF))]))
        put(disk, SECTOR, header(1, total - 1, 2))
        put(disk, 2 * SECTOR, table)
        put(disk, (total - 33) * SECTOR, table)
        put(disk, (total - 1) * SECTOR, header(total - 1, 1, total - 33))
        for lo, _, p in layout:
            put(disk, lo * SECTOR, open(p, "rb").read())


if __name__ == "__main__":
    if sys.argv[1] == "--gpt":
        make_gpt(sys.argv[3:], sys.argv[2])
        sys.exit(0)
    vol, out = sys.argv[1], sys.argv[2]
    make_mbr(vol, os.path.join(out, "mbr.img"))
    make_logical(vol, os.path.join(out, "logical.img"))
    make_gpt([os.path.join(vol, "fat12.img"), os.path.join(vol, "fat16.img")], os.path.join(out, "gpt.img"))
