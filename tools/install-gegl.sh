#!/usr/bin/env bash
# The install command's earlier name: tools/install-linux.sh installs the
# GEGL operation and the GIMP 2.10 plug-in. --into DIR names GEGL's folder.
args=()
while [ $# -gt 0 ]; do
  if [ "$1" = --into ]; then args+=(--gegl-dir "${2:-}"); shift 2 || shift; else args+=("$1"); shift; fi
done
exec "$(dirname "$0")/install-linux.sh" "${args[@]}"
