#!/usr/bin/env bash
# Fails on a project include that points against the layers' arrows.
#   check_layers.sh ROOT FOLDER=allowed,top,folders...
set -u
root=$1; shift
status=0
for rule in "$@"; do
  folder=${rule%%=*}
  allowed=",${rule#*=},"
  [ -d "$root/$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([A-Za-z0-9_]+)\/.*/\1/' <<<"${hit#*:*:}")
    [ -d "$root/src/$target" ] || continue  # a system or test header, not a layer
    case $allowed in
      *",$target,"*) ;;
      *) echo "${file#"$root"/}: $folder may not include $target/ (${hit#*:*:})"; status=1 ;;
    esac
  done < <(grep -rnE '^\s*#\s*include "[A-Za-z0-9_]+/' "$root/$folder" --include='*.h' --include='*.cpp')
done
[ $status -eq 0 ] && echo "every include follows the layers"
exit $status
