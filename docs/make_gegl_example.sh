#!/usr/bin/env bash
# Regenerates the README's GEGL example: the bundled picture through the gegl
# tool and the module of the native tree at size 12, saved as 8-bit PNG (the
# tool's -o writes 16 bits a channel).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh native cellumbra-cells >/dev/null
# GEGL_PATH replaces both of GEGL's folders: its own operations must stay in it.
GEGL_PATH="$PWD/build/native/gegl:$(pkg-config --variable=pluginsdir gegl-0.4)" \
  gegl docs/before.png -- cellumbra:cells size=12 gegl:png-save path=docs/gegl-after.png bitdepth=8
