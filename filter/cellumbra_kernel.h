// The cell pattern's Main block: its table entry, and its walk bound at build
// time with the block compiled in (runtime/pixel_loop.h), which may spread a
// band over the run's threads when the binding declares the block pixel-local.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/kernel.h"

struct SamplingView;
struct BandBuffers;

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);
int16_t cellumbra_main_walk(const BandWalk& walk);
// How far the cells read around a pixel at the size in controls[0]: a centre
// lies at most 2s - 1 rows above, 2s rows below and 13s / 6 columns to either
// side. None declared for sizes below 0 or beyond the exact range.
bool cellumbra_reach(const int32_t* controls, KernelReach& reach);

// The cells of columns left..right - 1 and rows top..bottom - 1 of a picture
// with `planes` interleaved planes (3 or 4, the fourth kept), for an engine
// other than the plug-in's run: the Main block through the same pixel-local
// row walk, reading `view` (which clamps every centre into itself) and the
// eight `controls`, never the module's state, so that any threads may call it
// at once. `buffers` locate (left, top) in the input and the output.
void cellumbra_walk_rows(const int32_t* controls, const SamplingView& view, const BandBuffers& buffers,
                         int32_t planes, int32_t left, int32_t top, int32_t right, int32_t bottom);

