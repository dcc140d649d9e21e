#!/usr/bin/env bash
# Regenerates the demo volumes in data/demo: demo-fat32.img.xz,
# demo-ntfs.img.xz, demo-exfat.img.xz and manifest.json. Run by hand as root
# (ntfs-3g and exfat-fuse mounts):
#
#   sudo data/demo/make_demo.sh [fat32 ntfs exfat]
#
# Same machinery and tools as tests/data/make_volumes.sh: seeded contents,
# real formatters, a manifest checked against The Sleuth Kit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/data/volumes_lib.sh
. "$here/../../tests/data/volumes_lib.sh"

need mkfs.fat mkfs.exfat mount.exfat-fuse losetup mmd mcopy mdel mdeltree mrd mattrib mkntfs ntfslabel ntfs-3g \
    fls istat icat fsstat xz python3 mountpoint
if [ "$(id -u)" != 0 ]; then
    echo "$0: run as root: the NTFS image is written through an ntfs-3g mount" >&2
    exit 1
fi

build_fat32() {
    # 512-byte clusters: a true FAT32 in 40 MiB
    fat_new demo-fat32.img 32 "DEMO FAT32" 44454D4F 40960 1

    fat_mkdir "Photos" 2026-06-01T09:00:00Z
    fat_mkdir "Photos/2026 Summer" 2026-07-20T18:00:00Z
    fat_put "Photos/2026 Summer/IMG_0101.jpg" jpeg demo-f-101 320x240 2026-07-20T18:01:02Z
    fat_put "Photos/2026 Summer/IMG_0102.jpg" jpeg demo-f-102 400x300 2026-07-20T18:05:10Z
    fat_put "Photos/2026 Summer/IMG_0103.jpg" jpeg demo-f-103 320x240 2026-07-21T10:12:44Z
    fat_put "Photos/2026 Summer/IMG_0104.jpg" jpeg demo-f-104 240x320 2026-07-21T10:15:00Z
    fat_put "Photos/2026 Summer/Beach panorama.png" png demo-f-pano 480x160 2026-07-22T16:40:20Z
    fat_put "Photos/2026 Summer/Sunset.png" png demo-f-sunset 200x150 2026-07-22T21:02:06Z
    fat_mkdir "Photos/Family" 2026-03-01T12:00:00Z
    fat_put "Photos/Family/Grandma 80th.jpg" jpeg demo-f-grandma 320x240 2026-03-14T15:30:00Z
    fat_put "Photos/Family/Picnic.jpg" jpeg demo-f-picnic 320x240 2026-05-02T13:00:00Z

    fat_mkdir "Documents" 2026-01-10T08:00:00Z
    fat_mkdir "Documents/Letters" 2026-01-10T08:00:10Z
    fat_put "Documents/Letters/Letter to Anna.txt" text demo-f-anna 2400 2026-02-01T20:00:00Z
    fat_put "Documents/Letters/Cover letter.txt" text demo-f-cover 1900 2026-02-15T09:30:00Z
    fat_put "Documents/Notes.txt" text demo-f-notes 1200 2026-04-04T07:45:00Z
    fat_put "Documents/Trip plan.html" html demo-f-trip 4500 2026-06-20T19:00:00Z
    fat_put "Documents/Invoice 2026-03.pdf" pdf demo-f-invoice 3000 2026-03-31T17:00:00Z
    fat_put "Documents/Budget.csv" csv demo-f-budget 2600 2026-01-31T12:00:00Z

    fat_mkdir "Old Scans" 2025-11-01T10:00:00Z
    fat_put "Old Scans/scan 01.png" png demo-f-scan1 240x180 2025-11-01T10:05:00Z
    fat_put "Old Scans/scan 02.jpg" jpeg demo-f-scan2 320x240 2025-11-01T10:06:00Z
    fat_put "Old Scans/index.html" html demo-f-scanidx 1500 2025-11-01T10:07:00Z
    fat_mkdir "Drafts" 2025-12-01T10:00:00Z
    fat_put "Drafts/Draft novel.txt" text demo-f-novel 9000 2025-12-05T22:00:00Z
    fat_mkdir "Drafts/Chapter notes" 2025-12-06T10:00:00Z
    fat_put "Drafts/Chapter notes/ch1.txt" text demo-f-ch1 3000 2025-12-06T10:30:00Z

    # deletions last, so nothing written afterwards lands on them
    fat_del "Photos/2026 Summer/IMG_0102.jpg"
    fat_del "Photos/2026 Summer/IMG_0104.jpg"
    fat_del "Photos/2026 Summer/Sunset.png"
    fat_del "Photos/Family/Grandma 80th.jpg"
    fat_del "Documents/Letters/Cover letter.txt"
    fat_del "Documents/Trip plan.html"
    fat_del "Documents/Invoice 2026-03.pdf"
    fat_deltree "Old Scans"
    fat_deltree "Drafts"
    finish_image demo-fat32.img 3 "DEMO FAT32" "$here"
}

build_ntfs() {
    ntfs_new demo-ntfs.img "Demo NTFS" 16 44454D4F4E544653
    ntfs_mount

    ntfs_mkdir "Photos" 2026-06-01T09:00:00Z
    ntfs_mkdir "Photos/2026 Summer" 2026-07-20T18:00:00Z
    ntfs_put "Photos/2026 Summer/IMG_0201.jpg" jpeg demo-n-201 320x240 2026-07-20T18:01:02Z
    ntfs_put "Photos/2026 Summer/IMG_0202.jpg" jpeg demo-n-202 400x300 2026-07-20T18:05:10Z
    ntfs_put "Photos/2026 Summer/IMG_0203.jpg" jpeg demo-n-203 320x240 2026-07-21T10:12:44Z
    # a downloaded picture: its Zone.Identifier stream says where from
    ntfs_put "Photos/2026 Summer/IMG_0204.jpg" jpeg demo-n-204 240x320 2026-07-21T10:15:00Z
    ntfs_stream "Photos/2026 Summer/IMG_0204.jpg" Zone.Identifier text demo-n-204-zone 26
    ntfs_put "Photos/2026 Summer/Harbour.png" png demo-n-harbour 300x200 2026-07-22T16:40:20Z
    ntfs_mkdir "Photos/Family" 2026-03-01T12:00:00Z
    ntfs_put "Photos/Family/Birthday.jpg" jpeg demo-n-bday 320x240 2026-03-14T15:30:00Z
    ntfs_put "Photos/Family/Garden.png" png demo-n-garden 200x150 2026-05-02T13:00:00Z

    ntfs_mkdir "Documents" 2026-01-10T08:00:00Z
    ntfs_mkdir "Documents/Letters" 2026-01-10T08:00:10Z
    ntfs_put "Documents/Letters/Letter to Anna.txt" text demo-n-anna 2400 2026-02-01T20:00:00Z
    ntfs_put "Documents/Letters/Reply to bank.txt" text demo-n-bank 1700 2026-02-15T09:30:00Z
    ntfs_put "Documents/Notes.txt" text demo-n-notes 300 2026-04-04T07:45:00Z
    ntfs_put "Documents/Report.html" html demo-n-report 6000 2026-06-20T19:00:00Z
    ntfs_put "Documents/Receipt.pdf" pdf demo-n-receipt 3000 2026-03-31T17:00:00Z
    ntfs_mkdir "Documents/Archive" 2026-01-15T08:00:00Z 0x800
    ntfs_put "Documents/Archive/Server log 2025.txt" log demo-n-log 90000 2026-01-15T08:30:00Z

    ntfs_mkdir "Old Scans" 2025-11-01T10:00:00Z
    ntfs_put "Old Scans/scan 01.png" png demo-n-scan1 240x180 2025-11-01T10:05:00Z
    ntfs_put "Old Scans/scan 02.jpg" jpeg demo-n-scan2 320x240 2025-11-01T10:06:00Z
    ntfs_put "Old Scans/readme.txt" text demo-n-scanreadme 400 2025-11-01T10:07:00Z
    ntfs_mkdir "Drafts" 2025-12-01T10:00:00Z
    ntfs_put "Drafts/Draft novel.txt" text demo-n-novel 9000 2025-12-05T22:00:00Z
    ntfs_mkdir "Drafts/Chapter notes" 2025-12-06T10:00:00Z
    ntfs_put "Drafts/Chapter notes/ch1.txt" text demo-n-ch1 3000 2025-12-06T10:30:00Z
    ntfs_apply_times

    ntfs_del "Photos/2026 Summer/IMG_0202.jpg"
    ntfs_del "Photos/2026 Summer/IMG_0204.jpg"
    ntfs_del "Photos/Family/Birthday.jpg"
    ntfs_del "Documents/Letters/Reply to bank.txt"
    ntfs_del "Documents/Notes.txt"
    ntfs_del "Documents/Report.html"
    ntfs_del "Documents/Receipt.pdf"
    ntfs_del "Documents/Archive/Server log 2025.txt"
    ntfs_deltree "Old Scans"
    ntfs_deltree "Drafts"
    ntfs_umount
    finish_image demo-ntfs.img 4 "Demo NTFS" "$here"
}

# A camera's SD card: photos and clips in DCIM, some deleted on the camera,
# a whole folder of them deleted from a computer.
build_exfat() {
    exfat_new demo-exfat.img "CAMERA" 32 32768
    exfat_mount
    exfat_mkdir "DCIM" 2026-07-20T08:00:00Z
    exfat_mkdir "DCIM/100CAMERA" 2026-07-20T08:00:00Z
    local i
    for i in 1 2 3 4 5 6 7 8; do
        exfat_put "DCIM/100CAMERA/IMG_000$i.JPG" jpeg "demo-x-$i" 320x240 "2026-07-20T1$i:0$i:0${i}Z"
    done
    exfat_put "DCIM/100CAMERA/MOV_0009.MP4" rand demo-x-mov 300000 2026-07-20T19:30:00Z
    exfat_mkdir "DCIM/101CAMERA" 2026-07-21T08:00:00Z
    for i in 1 2 3; do
        exfat_put "DCIM/101CAMERA/IMG_010$i.JPG" jpeg "demo-x-10$i" 400x300 "2026-07-21T09:1$i:00Z"
    done
    exfat_mkdir "MISC" 2026-07-20T08:00:00Z
    exfat_put "MISC/Camera settings.txt" text demo-x-settings 900 2026-07-20T08:00:30Z
    exfat_folder_times

    for i in 2 3 5 8; do exfat_del "DCIM/100CAMERA/IMG_000$i.JPG"; done
    exfat_del "DCIM/100CAMERA/MOV_0009.MP4"
    exfat_deltree "DCIM/101CAMERA"
    exfat_umount
    xz -9e -T1 -c "$work/demo-exfat.img" >"$here/demo-exfat.img.xz"
}

names=("$@")
[ ${#names[@]} -gt 0 ] || names=(fat32 ntfs exfat)
parts=()
for name in "${names[@]}"; do
    case $name in
        fat32 | ntfs) "build_$name"; parts+=("$work/demo-$name.img.json") ;;
        exfat) build_exfat ;;
        *) echo "$0: no demo volume called $name" >&2; exit 2 ;;
    esac
done
[ ${#parts[@]} -eq 0 ] || vg merge "$here/manifest.json" "${parts[@]}"
ls -l "$here"/*.img.xz "$here/manifest.json"
