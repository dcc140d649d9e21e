#!/usr/bin/env bash
# Regenerates the test volumes in tests/data: fat12/fat16/fat32/ntfs.img.xz,
# the whole disks mbr/logical/gpt.img.xz around them, and manifest.json. Run
# by hand as root (the NTFS volume is written through an ntfs-3g FUSE mount);
# tests only read the committed results.
#
#   sudo tests/data/make_volumes.sh [fat12 fat16 fat32 ntfs exfat]
#
# With names, only those images are made again; the manifest keeps the
# entries of the others.
#
# Needs dosfstools, mtools, ntfs-3g, sleuthkit, xz-utils and python3. The
# manifest step checks every deleted item against fls/istat/icat and prints
# each disagreement; a clean run prints none.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/data/volumes_lib.sh
. "$here/volumes_lib.sh"

need mkfs.fat mkfs.exfat mount.exfat-fuse losetup mmd mcopy mdel mdeltree mrd mattrib mkntfs ntfslabel ntfs-3g \
    fls istat icat fsstat xz python3 mountpoint
if [ "$(id -u)" != 0 ]; then
    echo "$0: run as root: the NTFS image is written through an ntfs-3g mount" >&2
    exit 1
fi

# ---------------------------------------------------------------- FAT
#
# The same tree on each FAT volume, scaled by cluster size. Everything is
# written first and deleted last: mtools reuses freed directory slots and
# (on FAT12/16 always, on FAT32 without the FSInfo hint) the lowest free
# clusters, so any write after a deletion could destroy what is to be found.
#
# fat_tree TAG CLUSTER BIG_RANDOM BIG_TEXT
fat_tree() {
    local tag=$1 cs=$2 rnd=$3 txt=$4 i

    # Holes first: six files, every other one deleted, then a file written
    # into the holes; then the other three and a second file. The two files
    # end up interleaved, and the hole files' clusters are written over.
    fat_mkdir "Fragments" 2025-02-01T09:00:00Z
    fat_mkdir "Fragments/holes" 2025-02-01T09:00:02Z
    for i in 1 2 3 4 5 6; do
        fat_put "Fragments/holes/P$i.BIN" text "$tag-p$i" $((3 * cs - 100)) "2025-02-01T09:1$i:00Z"
    done
    for i in 1 3 5; do
        fat_del "Fragments/holes/P$i.BIN"
        expect "Fragments/holes/P$i.BIN" reused
    done
    fat_forget_next_free
    fat_put "Fragments/interleaved A.txt" text "$tag-ia" $((11 * cs - 300)) 2025-02-02T10:00:00Z
    for i in 2 4 6; do
        fat_del "Fragments/holes/P$i.BIN"
        expect "Fragments/holes/P$i.BIN" reused
    done
    fat_forget_next_free
    fat_put "Fragments/interleaved B.txt" text "$tag-ib" $((10 * cs + 77)) 2025-02-02T10:00:10Z

    fat_put "README.TXT" text "$tag-readme" 1800 2024-11-20T08:00:00Z
    fat_put "Existing long name.txt" text "$tag-eln" 2500 2024-11-20T08:05:00Z
    fat_put "DELETED.TXT" text "$tag-deleted" 3000 2025-01-05T10:20:30Z
    fat_put "Résumé café.txt" text "$tag-resume" 4321 2025-01-06T11:22:34Z
    fat_put "Mixed Case Long Name With Spaces.txt" text "$tag-mixed" 6000 2025-01-07T12:00:00Z
    fat_put "exactly13.txt" text "$tag-13" 777 2025-01-07T12:30:00Z
    fat_put "empty.txt" text "$tag-empty" 0 2025-01-08T13:14:16Z
    fat_put "lower.txt" text "$tag-lower" 1500 2025-01-08T14:00:00Z
    fat_put "Hidden read-only.txt" text "$tag-hro" 2222 2025-01-09T15:16:18Z 0x23
    fat_put "SYSTEM.DAT" rand "$tag-sys" 1000 2025-01-09T16:00:00Z 0x07
    fat_put "_EABCDEF.BAK" text "$tag-bak" 900 2025-01-10T08:00:00Z
    fat_put "Big random.bin" rand "$tag-bigrand" "$rnd" 2025-01-11T09:30:00Z
    fat_put "Big text.log" log "$tag-bigtext" "$txt" 2025-01-12T10:45:00Z

    fat_mkdir "a" 2024-12-01T00:00:00Z
    fat_mkdir "a/b" 2024-12-01T00:00:02Z
    fat_mkdir "a/b/c" 2024-12-01T00:00:04Z
    fat_put "a/readme a.txt" text "$tag-ra" 640 2024-12-01T00:01:00Z
    fat_put "a/b/c/keep.txt" text "$tag-keep" 1200 2024-12-01T00:02:00Z
    fat_put "a/b/c/deleted.txt" text "$tag-abc" 5555 2024-12-02T03:04:06Z

    fat_mkdir "Documents" 2024-10-01T07:00:00Z
    fat_mkdir "Documents/Letters" 2024-10-01T07:00:10Z
    fat_put "Documents/Letters/Letter to Anna.txt" text "$tag-anna" 3100 2024-10-02T08:00:00Z
    fat_put "Documents/Letters/old letter.txt" text "$tag-old" 2700 2024-10-03T09:00:00Z
    fat_put "Documents/Report.html" html "$tag-report" 5000 2024-10-04T10:00:00Z
    fat_put "Documents/Summary.pdf" pdf "$tag-summary" 3000 2024-10-05T11:00:00Z

    fat_mkdir "Old Projects" 2023-05-01T12:00:00Z
    fat_put "Old Projects/plan.txt" text "$tag-plan" 3500 2023-05-02T12:00:00Z
    fat_put "Old Projects/Budget 2025.csv" csv "$tag-budget" 4200 2023-05-03T12:00:00Z
    fat_mkdir "Old Projects/sub" 2023-05-04T12:00:00Z
    fat_put "Old Projects/sub/inner.txt" text "$tag-inner" 1900 2023-05-05T12:00:00Z
    fat_mkdir "Old Projects/sub/deeper" 2023-05-06T12:00:00Z
    fat_mkdir "Empty folder" 2023-06-01T12:00:00Z

    # a folder of many clusters, grown while files were being written, so
    # its own chain is scattered between theirs
    fat_mkdir "Many files" 2024-09-01T06:00:00Z
    for i in $(seq -w 1 40); do
        fat_put "Many files/file $i.txt" text "$tag-many$i" $((200 + 10#$i * 37)) "2024-09-$(printf %02d $((10#$i % 28 + 1)))T06:$i:00Z"
    done

    # ---- deletions, all at the end
    fat_del "Fragments/interleaved A.txt"
    for f in DELETED.TXT "Résumé café.txt" "Mixed Case Long Name With Spaces.txt" exactly13.txt \
        empty.txt lower.txt "Hidden read-only.txt" SYSTEM.DAT _EABCDEF.BAK "Big random.bin" \
        "Big text.log" "a/b/c/deleted.txt" "Documents/Letters/old letter.txt" "Documents/Report.html"; do
        fat_del "$f"
    done
    fat_deltree "Old Projects"
    fat_rmdir "Empty folder"
    for i in 05 10 15 20 25 30 35 40; do
        fat_del "Many files/file $i.txt"
    done
}

build_fat12() {
    fat_new fat12.img 12 KFAT12 4B465431 1440 1
    fat_tree f12 512 24000 200000
    finish_image fat12.img 1 KFAT12 "$here"
}

build_fat16() {
    fat_new fat16.img 16 KFAT16 4B465436 16384 4
    fat_tree f16 2048 48000 300000
    finish_image fat16.img 2 KFAT16 "$here"
}

# 512-byte clusters give a true FAT32 (>= 65525 clusters) in 40 MiB. A 32 MiB
# file first puts everything after it above cluster 65535, where the high
# half of the first-cluster field is in use; one deleted file stays below.
build_fat32() {
    fat_new fat32.img 32 KFAT32 4B465432 40960 1
    fat_put "Low cluster.txt" text f32-low 2000 2025-01-01T01:00:00Z
    fat_mkdir "Archive" 2024-08-01T00:00:00Z
    fat_put "Archive/disk image.bin" zero f32-zero 33554432 2024-08-01T00:10:00Z
    fat_tree f32 512 48000 300000
    fat_del "Low cluster.txt"
    finish_image fat32.img 3 KFAT32 "$here"
}

# ---------------------------------------------------------------- NTFS
#
# ntfs-3g gives a new file the lowest free MFT record and the inode number is
# the record number. Again everything is written first; the one write after a
# deletion is the file that takes over the deleted folder "Reused Parent".

build_ntfs() {
    ntfs_new ntfs.img KNTFS 24 4B4E5446534E5446
    ntfs_mount

    ntfs_mkdir "Reused Parent" 2025-02-10T10:00:00Z
    ntfs_put "Reused Parent/orphan.txt" text n-orphan 6000 2025-02-10T10:01:00Z

    ntfs_put "README.txt" text n-readme 1800 2024-11-20T08:00:00Z
    ntfs_put "Existing long name.txt" text n-eln 2500 2024-11-20T08:05:00Z
    ntfs_put "DELETED.TXT" text n-deleted 3000 2025-01-05T10:20:30Z
    ntfs_put "Résumé café.txt" text n-resume 4321 2025-01-06T11:22:34Z
    ntfs_put "Mixed Case Long Name With Spaces.txt" text n-mixed 6000 2025-01-07T12:00:00Z
    ntfs_put "empty.txt" text n-empty 0 2025-01-08T13:14:16Z
    ntfs_put "Hidden read-only.txt" text n-hro 2222 2025-01-09T15:16:17.5Z 0x7
    ntfs_put "Big random.bin" rand n-bigrand 32000 2025-01-11T09:30:00Z
    ntfs_put "Big text.log" log n-bigtext 150000 2025-01-12T10:45:00Z
    ntfs_put "tiny.txt" text n-tiny 120 2025-01-13T00:00:00Z
    ntfs_put "tiny deleted.txt" text n-tinydel 300 2025-01-13T00:00:01Z

    ntfs_mkdir "a" 2024-12-01T00:00:00Z
    ntfs_mkdir "a/b" 2024-12-01T00:00:02Z
    ntfs_mkdir "a/b/c" 2024-12-01T00:00:04Z
    ntfs_put "a/readme a.txt" text n-ra 640 2024-12-01T00:01:00Z
    ntfs_put "a/b/c/keep.txt" text n-keep 1200 2024-12-01T00:02:00Z
    ntfs_put "a/b/c/deleted.txt" text n-abc 5555 2024-12-02T03:04:06Z

    ntfs_mkdir "Documents" 2024-10-01T07:00:00Z
    ntfs_mkdir "Documents/Letters" 2024-10-01T07:00:10Z
    ntfs_put "Documents/Letters/Letter to Anna.txt" text n-anna 3100 2024-10-02T08:00:00Z
    ntfs_put "Documents/Letters/old letter.txt" text n-old 2700 2024-10-03T09:00:00Z
    ntfs_put "Documents/Report 2025.txt" text n-report 16000 2024-10-04T10:00:00Z

    # compression units are 16 clusters (64 KiB): whole units, a short last one,
    # a unit that does not compress and is stored as it is, a file of one unit
    ntfs_mkdir "Compressed" 2024-07-01T00:00:00Z 0x800
    ntfs_put "Compressed/big log.txt" log n-biglog 80000 2024-07-02T00:00:00Z
    ntfs_put "Compressed/deleted log.txt" log n-dellog 140000 2024-07-03T00:00:00Z
    ntfs_put "Compressed/mixed.bin" mixed n-mixedbin 140000 2024-07-04T00:00:00Z
    ntfs_put "Compressed/small compressed.txt" log n-smallc 12000 2024-07-05T00:00:00Z

    ntfs_mkdir "Streams" 2024-06-01T00:00:00Z
    ntfs_put "Streams/with streams.txt" text n-ws 2000 2024-06-02T00:00:00Z
    ntfs_stream "Streams/with streams.txt" alpha text n-ws-alpha 3000
    ntfs_stream "Streams/with streams.txt" beta text n-ws-beta 40
    ntfs_put "Streams/deleted streams.txt" text n-ds 5000 2024-06-03T00:00:00Z
    ntfs_stream "Streams/deleted streams.txt" Zone.Identifier text n-ds-zone 26
    ntfs_stream "Streams/deleted streams.txt" thumbnail text n-ds-thumb 12000

    ntfs_sparse "sparse.bin" 540672 2024-05-01T00:00:00Z 0:text:n-sp1:8192 524288:text:n-sp2:8192
    ntfs_sparse "sparse deleted.bin" 1048576 2024-05-02T00:00:00Z 0:text:n-sd1:4096 262144:text:n-sd2:12288

    ntfs_mkdir "Fragmented" 2024-04-01T00:00:00Z
    ntfs_interleave 2024-04-02T00:00:00Z 4096 10 "Fragmented/frag A.bin" n-fa "Fragmented/frag B.bin" n-fb

    ntfs_mkdir "Old Projects" 2023-05-01T12:00:00Z
    ntfs_put "Old Projects/plan.txt" text n-plan 3500 2023-05-02T12:00:00Z
    ntfs_put "Old Projects/Budget 2025.csv" csv n-budget 4200 2023-05-03T12:00:00Z
    ntfs_mkdir "Old Projects/sub" 2023-05-04T12:00:00Z
    ntfs_put "Old Projects/sub/inner.txt" text n-inner 1900 2023-05-05T12:00:00Z
    ntfs_mkdir "Old Projects/sub/deeper" 2023-05-06T12:00:00Z
    ntfs_mkdir "Empty folder" 2023-06-01T12:00:00Z

    ntfs_mkdir "Many files" 2024-09-01T06:00:00Z
    for i in $(seq -w 1 20); do
        ntfs_put "Many files/file $i.txt" text "n-many$i" $((200 + 10#$i * 97)) "2024-09-$i""T06:00:00Z"
    done
    ntfs_apply_times
    # ntfs-3g looks for a free record from the lowest one only after a fresh
    # mount; within one mount it goes on from where it left off
    ntfs_umount
    ntfs_mount

    # the folder's record goes to the next new file: its deleted child's parent
    # reference then points at a file
    ntfs_del "Reused Parent/orphan.txt"
    ntfs_rmdir "Reused Parent"
    ntfs_put "Documents/Replacement.txt" text n-repl 200 2025-02-11T00:00:00Z
    expect "Reused Parent/orphan.txt" parent_reused
    expect "Reused Parent" record_reused
    ntfs_apply_times

    for f in "DELETED.TXT" "Résumé café.txt" "Mixed Case Long Name With Spaces.txt" empty.txt \
        "Hidden read-only.txt" "Big random.bin" "Big text.log" "tiny deleted.txt" \
        "a/b/c/deleted.txt" "Documents/Letters/old letter.txt" "Compressed/deleted log.txt" \
        "Compressed/mixed.bin" "Compressed/small compressed.txt" "Streams/deleted streams.txt" \
        "sparse deleted.bin" "Fragmented/frag A.bin"; do
        ntfs_del "$f"
    done
    ntfs_deltree "Old Projects"
    ntfs_rmdir "Empty folder"
    for i in 04 08 12 16 20; do
        ntfs_del "Many files/file $i.txt"
    done
    ntfs_umount
    finish_image ntfs.img 4 KNTFS "$here"
}

# ---------------------------------------------------------------- exFAT
#
# A card as a camera or a phone leaves it, through exfat-fuse: names that
# need several name entries and UTF-16 surrogate pairs, empty and multi-MB
# files, a deleted folder tree, and two files written 4 KiB in turn so their
# clusters alternate. exfat-fuse zeroes the chains of deleted files, so the
# deleted one of the pair is found by skipping the clusters still in use.
# The Sleuth Kit is the reference for what it holds (tests compare with it).
build_exfat() {
    exfat_new exfat.img KEXFAT 24 4096
    exfat_mount
    exfat_put "README.txt" text x-readme 1800 2024-11-20T08:00:00Z
    exfat_put "Deleted.txt" text x-deleted 3000 2025-01-05T10:20:30Z
    exfat_put "Résumé café.txt" text x-resume 4321 2025-01-06T11:22:34Z
    exfat_put "Long name 日本語のファイル名 with emoji 😀🎉 written across several name entries of fifteen units each.txt" \
        text x-long 2345 2025-01-07T12:00:00Z
    exfat_put "😀.txt" text x-emoji 100 2025-01-07T12:30:00Z
    exfat_put "empty.txt" text x-empty 0 2025-01-08T13:14:16Z
    exfat_put "Big random.bin" rand x-bigrand 1000000 2025-01-11T09:30:00Z
    exfat_put "Big text.log" log x-bigtext 2500000 2025-01-12T10:45:00Z
    exfat_mkdir "Fragments" 2025-02-01T09:00:00Z
    exfat_interleave 2025-02-02T10:00:00Z 4096 12 "Fragments/frag A.bin" x-fa "Fragments/frag B.bin" x-fb
    exfat_mkdir "a" 2024-12-01T00:00:00Z
    exfat_mkdir "a/b" 2024-12-01T00:00:02Z
    exfat_mkdir "a/b/c" 2024-12-01T00:00:04Z
    exfat_put "a/b/c/keep.txt" text x-keep 1200 2024-12-01T00:02:00Z
    exfat_put "a/b/c/deleted.txt" text x-abc 5555 2024-12-02T03:04:06Z
    exfat_mkdir "Old Projects" 2023-05-01T12:00:00Z
    exfat_put "Old Projects/plan.txt" text x-plan 3500 2023-05-02T12:00:00Z
    exfat_put "Old Projects/Budget 2025.csv" csv x-budget 4200 2023-05-03T12:00:00Z
    exfat_mkdir "Old Projects/sub" 2023-05-04T12:00:00Z
    exfat_put "Old Projects/sub/inner.txt" text x-inner 1900 2023-05-05T12:00:00Z
    exfat_mkdir "Many files" 2024-09-01T06:00:00Z
    for i in $(seq -w 1 40); do
        exfat_put "Many files/file $i.txt" text "x-many$i" $((200 + 10#$i * 37)) "2024-09-$(printf %02d $((10#$i % 28 + 1)))T06:$i:00Z"
    done
    exfat_folder_times

    for f in Deleted.txt "Résumé café.txt" "Long name 日本語のファイル名 with emoji 😀🎉 written across several name entries of fifteen units each.txt" \
        "😀.txt" empty.txt "Big random.bin" "Big text.log" "Fragments/frag A.bin" "a/b/c/deleted.txt"; do
        exfat_del "$f"
    done
    exfat_deltree "Old Projects"
    for i in 05 10 15 20 25 30 35 40; do
        exfat_del "Many files/file $i.txt"
    done
    exfat_umount
    xz -9e -T1 -c "$work/exfat.img" >"$here/exfat.img.xz"
}

names=("$@")
[ ${#names[@]} -gt 0 ] || names=(fat12 fat16 fat32 ntfs exfat)
parts=()
for name in "${names[@]}"; do
    case $name in
        fat12 | fat16 | fat32 | ntfs) "build_$name"; parts+=("$work/$name.img.json") ;;
        exfat) build_exfat ;;
        *) echo "$0: no image called $name" >&2; exit 2 ;;
    esac
done
[ ${#parts[@]} -eq 0 ] || vg merge "$here/manifest.json" "${parts[@]}"

# ---------------------------------------------------------------- whole disks
#
# MBR, logical and GPT disks built around the volumes as committed, so each
# partition cut out with dd is one of them.
disks=$work/disks
mkdir -p "$disks"
for name in fat12 fat16 fat32 ntfs; do xz -dc "$here/$name.img.xz" > "$disks/$name.img"; done
python3 "$here/make_disks.py" "$disks" "$disks"
for name in mbr logical gpt; do xz -9 -T1 -c "$disks/$name.img" > "$here/$name.img.xz"; done
ls -l "$here"/*.img.xz "$here/manifest.json"
