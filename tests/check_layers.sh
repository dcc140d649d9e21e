#!/usr/bin/env bash
# Fails on a project include that points against the layers' arrows (also between the window's folders), and on Qt where it has no place:
# none in the core, only Qt Core and Qt Xml in the settings.
#   check_layers.sh ROOT [--qt-headers DIR] FOLDER=allowed,top,folders...
set -u
root=$1; shift
qt_headers=
if [ "${1:-}" = --qt-headers ]; then qt_headers=$2; shift 2; fi
status=0

qt_includes() {
  grep -rnE '^\s*#\s*include\s*<Q' "$root/src/$1" --include='*.h' --include='*.cpp'
}
for folder in support platform engine filter workflow cleanup; do
  while IFS= read -r hit; do
    echo "${hit#"$root"/}: no Qt in the core"; status=1
  done < <(qt_includes "$folder")
done
if [ -n "$qt_headers" ]; then
  while IFS= read -r hit; do
    header=$(sed -E 's/.*#\s*include\s*<([^>]+)>.*/\1/' <<<"${hit#*:*:}")
    case $header in
      QtCore/*|QtXml/*) continue ;;
      */*) ;;
      *) [ -e "$qt_headers/QtCore/$header" ] || [ -e "$qt_headers/QtXml/$header" ] && continue ;;
    esac
    echo "${hit#"$root"/}: the settings use Qt Core and Qt Xml only"; status=1
  done < <(qt_includes settings)
fi
for rule in "$@"; do
  folder=${rule%%=*}
  allowed=",${rule#*=},"
  [ -d "$root/$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "(ui\/[a-z_]+|[A-Za-z0-9_]+)\/.*/\1/' <<<"${hit#*:*:}")
    [ -d "$root/src/$target" ] || continue  # a system or test header, not a layer
    # The window's folders are ruled among themselves; the layers below them by the window's rule.
    case $folder in src/ui/*) [[ $target == ui/* ]] || continue ;; esac
    case $allowed in
      *",$target,"*|*",${target%%/*},"*) ;;
      *) echo "${file#"$root"/}: $folder may not include $target/ (${hit#*:*:})"; status=1 ;;
    esac
  done < <(grep -rnE '^\s*#\s*include "[A-Za-z0-9_]+/' "$root/$folder" --include='*.h' --include='*.cpp')
done
[ $status -eq 0 ] && echo "every include follows the layers"
exit $status
