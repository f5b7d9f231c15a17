// The cell pattern's Main block: its table entry, and its walk bound at build
// time with the block compiled in (runtime/pixel_loop.h), which may spread a
// band over the run's threads when the binding declares the block pixel-local.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/kernel.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);
int16_t cellumbra_main_walk(const BandWalk& walk);
// The block bound into its walk, as the product binds it: pixel-local, since
// it carries nothing from one pixel to the next, and copying most rows along
// the cell map.
BoundBlock cellumbra_main_binding();
// How far the cells read around a pixel at the size in controls[0]: a centre
// lies at most 2s - 1 rows above, 2s rows below and 13s / 6 columns to either
// side. None declared for sizes below 0 or beyond the exact range.
bool cellumbra_reach(const int32_t* controls, KernelReach& reach);

