// The plug-in's whole-picture run in the fake host at one size, its block
// bound as the product binds it: the bytes that every other engine of the
// cells (the GEGL operation, the GIMP plug-in, the browser page) must give.
// A program that uses it links filter/blocks.cpp, the product's binding.
#pragma once

#include <cstdint>

#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

inline int16 run_product_cells(FakeHost& host, int32_t size)
{
    ScopedModuleState state;
    fake_platform.reset();
    parameters_requested = 0; // the dialog accepts at once with control_values
    bind_filter_blocks();
    const int32_t saved = control_values[0];
    control_values[0] = size;
    const int16 result = host.run();
    control_values[0] = saved;
    return result;
}
