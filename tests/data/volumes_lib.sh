# shellcheck shell=bash
# Shared by tests/data/make_volumes.sh and data/demo/make_demo.sh (sourced).
#
# Every file is written from a seeded generator (volgen.py) and every step
# is logged, so the manifest says what went onto each volume and what was
# deleted. FAT volumes are written with mtools straight into the image file;
# NTFS volumes through an ntfs-3g mount.
#
# Conventions: PATH is relative to the volume's root, "/"-separated; TIME is
# ISO 8601 UTC ("2025-03-04T05:06:08Z"; even seconds on FAT).

export TZ=UTC MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
VOLGEN=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/volgen.py

vg() { python3 "$VOLGEN" "$@"; }

need() {
    local c
    for c in "$@"; do
        command -v "$c" >/dev/null || { echo "$0: needs $c" >&2; exit 1; }
    done
}

# work area: one temporary folder, removed on exit (unmounting first) unless
# KEEP_WORK is set
work=$(mktemp -d "${TMPDIR:-/tmp}/kvol.XXXXXX")
mnt="$work/mnt"
ntfs_pid=
exfat_mounted=
loopdev=
nsrc=0
cleanup() {
    if [ -n "$ntfs_pid$exfat_mounted" ]; then
        umount "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || true
        [ -z "$ntfs_pid" ] || wait "$ntfs_pid" 2>/dev/null || true
    fi
    if [ -n "$loopdev" ]; then losetup -d "$loopdev" 2>/dev/null || true; fi
    if [ -n "${KEEP_WORK:-}" ]; then
        echo "$0: work files kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# ---------------------------------------------------------------- FAT

# fat_new NAME BITS LABEL SERIAL KIB SECTORS_PER_CLUSTER
fat_new() {
    img="$work/$1"
    log="$work/$1.log"
    : >"$log"
    fat_bits=$2
    mkfs.fat --invariant -i "$4" -n "$3" -F "$2" -s "$6" -C "$img" "$5" >/dev/null
}

# fat_mkdir PATH TIME: mmd stamps the folder with SOURCE_DATE_EPOCH
fat_mkdir() {
    SOURCE_DATE_EPOCH=$(vg epoch "$2") mmd -i "$img" "::/$1"
    vg log "$log" dir "path=$1" "mtime=$2"
}

# fat_put PATH KIND SEED SIZE TIME [ATTR]: ATTR is the attribute byte, e.g.
# 0x23 (archive, hidden, read-only); mcopy alone gives 0x20
fat_put() {
    local src="$work/src.$((++nsrc))"
    vg gen "$log" "$1" "$2" "$3" "$4" "$5" "$src"
    mcopy -m -i "$img" "$src" "::/$1"
    rm -f "$src"
    if [ -n "${6:-}" ]; then
        local flags=() a=$(($6))
        (( a & 0x01 )) && flags+=(+r)
        (( a & 0x02 )) && flags+=(+h)
        (( a & 0x04 )) && flags+=(+s)
        (( a & 0x20 )) || flags+=(-a)
        mattrib -i "$img" "${flags[@]}" "::/$1"
        vg log "$log" attr "path=$1" "attributes=$6"
    fi
}

# Deleting: the chain is noted first (mdel frees it), then mtools marks the
# entries 0xE5 and leaves the rest of each entry as it was.
fat_del() {
    vg fat-note "$log" "$img" "$1"
    mdel -i "$img" "::/$1"
    vg log "$log" del "path=$1"
}
fat_rmdir() {
    vg fat-note "$log" "$img" "$1"
    mrd -i "$img" "::/$1"
    vg log "$log" del "path=$1"
}
fat_deltree() {
    vg fat-note "$log" "$img" "$1"
    mdeltree -i "$img" "::/$1"
    vg log "$log" deltree "path=$1"
}

# On FAT32 mtools allocates from the FSInfo next-free hint; forgetting it
# makes the next file fill freed holes from the start, as on FAT12/16.
fat_forget_next_free() {
    if [ "$fat_bits" = 32 ]; then vg fat32-forget-next-free "$img"; fi
}

# expect PATH WHAT: a planned property the manifest step checks
# ("reused": the deleted file's clusters were written over;
#  "parent_reused": the deleted folder's record now holds a file)
expect() { vg log "$log" expect "path=$1" "what=$2"; }

# ---------------------------------------------------------------- NTFS

# ntfs_new NAME LABEL MIB SERIAL
ntfs_new() {
    img="$work/$1"
    log="$work/$1.log"
    : >"$log"
    truncate -s "$3M" "$img"
    mkntfs -q -T -F -f -L "$2" -c 4096 -s 512 -p 0 -H 0 -S 0 "$img" 2>/dev/null
    ntfslabel -q --new-serial="$4" "$img" "$2"
}

ntfs_mount() {
    mkdir -p "$mnt"
    ntfs-3g -o streams_interface=windows,no_detach "$img" "$mnt" >"$work/ntfs-3g.out" 2>&1 &
    ntfs_pid=$!
    local _
    for _ in $(seq 50); do
        mountpoint -q "$mnt" && return 0
        sleep 0.1
    done
    cat "$work/ntfs-3g.out" >&2
    echo "$0: ntfs-3g did not mount $img" >&2
    exit 1
}

ntfs_umount() {
    umount "$mnt"
    wait "$ntfs_pid"
    ntfs_pid=
}

# ntfs_mkdir PATH TIME [ATTR]: ATTR bits are added, e.g. 0x800 (compressed:
# files made inside are compressed)
ntfs_mkdir() {
    mkdir "$mnt/$1"
    vg log "$log" dir "path=$1" "mtime=$2" "created=$2"
    if [ -n "${3:-}" ]; then vg ntfs-attr "$mnt/$1" "$3"; fi
}

# ntfs_put PATH KIND SEED SIZE TIME [ATTR]; created one day before TIME
ntfs_put() {
    vg gen "$log" "$1" "$2" "$3" "$4" "$5" "$mnt/$1" -86400
    if [ -n "${6:-}" ]; then vg ntfs-attr "$mnt/$1" "$6"; fi
}

# ntfs_stream PATH NAME KIND SEED SIZE: a named $DATA stream of PATH
ntfs_stream() { vg stream "$log" "$1" "$2" "$3" "$4" "$5" "$mnt/$1"; }

# ntfs_sparse PATH SIZE TIME OFFSET:KIND:SEED:LEN...: written with holes between
ntfs_sparse() {
    local p=$1 size=$2 t=$3
    shift 3
    vg sparse "$log" "$p" "$size" "$t" "$mnt/$p" "$@"
}

# ntfs_interleave TIME CHUNK COUNT PATH_A SEED_A PATH_B SEED_B: two files
# appended in turn, so their runs alternate on the volume
ntfs_interleave() {
    vg interleave "$log" "$1" "$2" "$3" "$4" "$mnt/$4" "$5" "$6" "$mnt/$6" "$7"
}

# after writing (writes move times): every item gets its logged times
ntfs_apply_times() { vg ntfs-apply-times "$log" "$mnt"; }

ntfs_del() {
    vg ntfs-note "$log" "$mnt" "$1"
    rm -f "$mnt/$1"
    vg log "$log" del "path=$1"
}
ntfs_rmdir() {
    vg ntfs-note "$log" "$mnt" "$1"
    rmdir "$mnt/$1"
    vg log "$log" del "path=$1"
}
ntfs_deltree() {
    vg ntfs-note "$log" "$mnt" "$1"
    rm -r "${mnt:?}/${1:?}"
    vg log "$log" deltree "path=$1"
}

# ---------------------------------------------------------------- exFAT
#
# Written through exfat-fuse over a loop device, as a card reader would show
# the volume. exfat-fuse zeroes a deleted file's chain in the table and hands
# out the lowest free clusters.

# exfat_new NAME LABEL MIB CLUSTER_BYTES (mkfs.exfat picks the serial)
exfat_new() {
    img="$work/$1"
    log="$work/$1.log"
    : >"$log"
    truncate -s "$3M" "$img"
    mkfs.exfat -L "$2" -c "$4" "$img" >/dev/null
}

exfat_mount() {
    mkdir -p "$mnt"
    loopdev=$(losetup --find --show "$img")
    if ! mount.exfat-fuse "$loopdev" "$mnt" >"$work/exfat-fuse.out" 2>&1; then
        cat "$work/exfat-fuse.out" >&2
        echo "$0: exfat-fuse did not mount $img" >&2
        exit 1
    fi
    exfat_mounted=1
}

# the daemon lets go of the loop device a moment after the unmount
exfat_umount() {
    umount "$mnt"
    exfat_mounted=
    local _
    for _ in $(seq 50); do
        losetup -d "$loopdev" 2>/dev/null && break
        sleep 0.1
    done
    loopdev=
}

exfat_mkdir() {
    mkdir "$mnt/$1"
    vg log "$log" dir "path=$1" "mtime=$2"
}
exfat_put() { vg gen "$log" "$1" "$2" "$3" "$4" "$5" "$mnt/$1"; }
exfat_interleave() {
    vg interleave "$log" "$1" "$2" "$3" "$4" "$mnt/$4" "$5" "$6" "$mnt/$6" "$7"
    touch -m -d "$1" "$mnt/$4" "$mnt/$6"
}
# folders get their times last: writing inside a folder moves them
exfat_folder_times() {
    local p t
    while IFS=$'\t' read -r p t; do touch -m -d "$t" "$mnt/$p"; done < <(
        python3 -c 'import json,sys
for l in open(sys.argv[1]):
    r=json.loads(l)
    if r["op"]=="dir": print(r["path"]+"\t"+r["mtime"])' "$log")
}
exfat_del() {
    rm -f "$mnt/$1"
    vg log "$log" del "path=$1"
}
exfat_deltree() {
    rm -r "${mnt:?}/${1:?}"
    vg log "$log" deltree "path=$1"
}

# ---------------------------------------------------------------- output

# finish_image NAME KIND LABEL OUTDIR: manifest part (checked against The
# Sleuth Kit) and the compressed image
finish_image() {
    vg manifest "$work/$1.log" "$work/$1" "$1" "$2" "$3" "$work/$1.json"
    xz -9e -T1 -c "$work/$1" >"$4/$1.xz"
}
