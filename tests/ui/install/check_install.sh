#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs of it.
#   check_install.sh CMAKE BUILD_DIR layout|desktop
# "desktop" runs desktop-file-validate, and is skipped (77) only where that tool is missing.
set -u
cmake=$1 build=$2 mode=$3
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/usr

if ! env -u DESTDIR "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "cmake --install failed (are kestrine and kestrine-cli built?)"
  exit 1
fi
desktop=$prefix/share/applications/kestrine.desktop
status=0
fail() { echo "$1"; status=1; }

check_layout() {
  local program
  for program in kestrine kestrine-cli; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is missing or not executable"
  done
  [ -f "$desktop" ] || { fail "share/applications/kestrine.desktop is missing"; return; }

  # What the entry names must be what was installed.
  local exec icon
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -n "$exec" ] && [ -x "$prefix/bin/$exec" ] || fail "Exec=$exec is not an installed program"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "Icon=$icon has no share/icons/hicolor/scalable/apps/$icon.svg"
  grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" 2>/dev/null ||
    fail "the scalable icon is no SVG"

  # A PNG in a sized folder must be that size: width and height are the IHDR's first two words.
  local png=$prefix/share/icons/hicolor/64x64/apps/$icon.png size
  size=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | tr -s ' ' | sed 's/^ //')
  [ "$size" = "0 0 0 64 0 0 0 64" ] || fail "hicolor/64x64/apps/$icon.png is not 64 x 64 (IHDR: $size)"
}

check_desktop() {
  if ! command -v desktop-file-validate >/dev/null; then
    echo "SKIPPED: desktop-file-validate is not installed (Debian package desktop-file-utils)"
    exit 77
  fi
  [ -f "$desktop" ] || { fail "share/applications/kestrine.desktop is missing"; return; }
  # Hints are advice; errors and warnings fail.
  local report
  report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
  grep -v ': hint: ' <<<"$report" | grep -q . && fail "$report"
}

case $mode in
  layout) check_layout ;;
  desktop) check_desktop ;;
  *) echo "unknown check: $mode"; exit 2 ;;
esac
[ $status -eq 0 ] && echo "install $mode: ok"
exit $status
