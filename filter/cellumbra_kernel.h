// The cell pattern's Main block: its table entry, and its walk bound at build
// time with the block compiled in (runtime/pixel_loop.h), which may spread a
// band over the run's threads when the binding declares the block pixel-local.
#pragma once

#include <cstdint>

#include "runtime/kernel.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);
int16_t cellumbra_main_walk(const BandWalk& walk);
