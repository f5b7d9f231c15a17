// A test build of the plug-in whose Main block hands every pixel through the
// kernel variables: copied as it came in, or inverted (colour planes only)
// while slider 2 is set, so an end-to-end run shows exactly which pixels the
// run engine visited and where it wrote them.
#include "runtime/kernel.h"

namespace {

void copy_or_invert(KernelVariables& vars, const BuiltinTable& builtins)
{
    int32_t* v = vars.v;
    const bool invert = builtins.slider(1) != 0;
    for (int k = 0; k < 3; ++k) {
        const int32_t in = v[slot::in_red + k];
        v[slot::out_red + k] = invert ? 255 - in : in;
    }
    v[slot::out_alpha] = v[slot::in_alpha];
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = copy_or_invert; // Main
    kernel_blocks[1] = nullptr;        // Prepass
    kernel_blocks[2] = nullptr;        // Start
    kernel_blocks[3] = nullptr;        // Interpass
}
