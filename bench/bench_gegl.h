// The GEGL operation in the benchmark (native build with GEGL, option --gegl).
#pragma once

#include "bench/bench_common.h"

namespace bench {

// Times cellumbra:cells inside GEGL on the picture of `options` at size 1
// and its sizes, in R'G'B'A u8 and RGBA float, with GEGL on one thread and on
// its default, beside one copy of the same picture (gegl:nop rendered into
// memory of the same format); prints the table. Returns 0 when the 8-bit
// cells are the specialised loop's, each pixel's alpha kept.
int run_gegl_benchmark(PluginDriver& plugin, const Options& options);

} // namespace bench
