// The GEGL operation in the benchmark (native build with GEGL, option --gegl).
#pragma once

#include "bench/bench_common.h"

namespace bench {

// Times cellumbra:cells inside GEGL on the picture of `options` at its sizes,
// with GEGL on one thread and on its default, beside gegl:mosaic (hexagons),
// gegl:pixelize at the cells' height, the benchmark's plain yardstick
// operation and the plug-in's own run through `plugin`; prints the table.
// Returns 0 when every way gave the plug-in's bytes (mosaic and pixelize,
// which draw other cells, aside).
int run_gegl_benchmark(PluginDriver& plugin, const Options& options);

} // namespace bench
