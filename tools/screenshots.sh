#!/usr/bin/env bash
# Screenshots of every page of the window under every shipped language and skin, under Xvfb, over
# the demo volumes.   tools/screenshots.sh [OUTDIR]   (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build/screenshots}")
command -v xvfb-run >/dev/null || { echo "screenshots.sh: needs xvfb-run (apt-get install xvfb xauth)" >&2; exit 1; }
[ -f build/build.ninja ] || { echo "screenshots.sh: build first (./run test or ./run demo)" >&2; exit 1; }
cmake --build build --target kestrine-screenshots kestrine_data >/dev/null
mkdir -p build/demo
for xz in data/demo/*.img.xz; do
  img=build/demo/$(basename "${xz%.xz}")
  [ "$img" -nt "$xz" ] || xz -dc "$xz" > "$img"
done
# The first drive is scanned; KESTRINE_DRIVES set by the caller chooses another.
export KESTRINE_DRIVES="${KESTRINE_DRIVES:-d=$root/build/demo/demo-fat32.img;e=$root/build/demo/demo-ntfs.img;f=$root/build/demo/demo-exfat.img}"
# From a folder of no interest, as a user starts it: the languages and skins beside the program count.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/src/ui/kestrine-screenshots" "$out"
echo "Screenshots in $out"
