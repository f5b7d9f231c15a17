// The product's kernel: only the Main block exists.
#include "runtime/kernel.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);

void bind_filter_blocks()
{
    kernel_blocks[0] = cellumbra_main; // Main
    kernel_blocks[1] = nullptr;        // Prepass
    kernel_blocks[2] = nullptr;        // Start
    kernel_blocks[3] = nullptr;        // Interpass
}
