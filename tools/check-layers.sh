#!/usr/bin/env bash
# The plug-in's folders depend one way: a file may include headers of its own
# folder and of folders below it, never of a folder above it or beside it.
#   base < runtime < filter, settings < ui < shell
# An edge folder beside them (gegl/, gimp/, gimp3/, web/) may use the folders it names.
cd "$(dirname "$0")/.."
declare -A rank=([base]=0 [runtime]=1 [filter]=2 [settings]=2 [ui]=3 [shell]=4)
bad=0
for dir in "${!rank[@]}"; do
  while IFS=: read -r file _ used; do
    [ "$used" = "$dir" ] && continue
    if [ -z "${rank[$used]:-}" ] || [ "${rank[$used]}" -ge "${rank[$dir]}" ]; then
      echo "layers: $file includes a header of $used/, which is not below $dir/"
      bad=1
    fi
  done < <(grep -HnoE '^#include "[a-z]+/' "$dir"/*.cpp "$dir"/*.h 2>/dev/null |
           sed -E 's/^([^:]+):([0-9]+):#include "([a-z]+)\//\1:\2:\3/')
done
# Edges beside the plug-in use its lower folders and nothing else of it:
# the GEGL operation (gegl/), the GIMP 2.10 and 3 plug-ins (gimp/, gimp3/) and the browser
# page's module (web/) run the filter's kernel through the run-time.
declare -A edge_uses=([gegl]="runtime filter" [gimp]="runtime filter gegl" [gimp3]="runtime filter gegl gimp" [web]="runtime filter")
for dir in "${!edge_uses[@]}"; do
  while IFS=: read -r file _ used; do
    [ "$used" = "$dir" ] && continue
    if [[ " ${edge_uses[$dir]} " != *" $used "* ]]; then
      echo "layers: $file includes a header of $used/; $dir/ may use only ${edge_uses[$dir]// /, }"
      bad=1
    fi
  done < <(grep -HnoE '^#include "[a-z]+/' "$dir"/*.cc "$dir"/*.cpp "$dir"/*.h 2>/dev/null |
           sed -E 's/^([^:]+):([0-9]+):#include "([a-z]+)\//\1:\2:\3/')
done
[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit $bad
