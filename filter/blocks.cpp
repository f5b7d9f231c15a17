// The product's kernel: only the Main block exists, bound at build time.
#include "filter/cellumbra_kernel.h"

void bind_filter_blocks()
{
    kernel_blocks[0] = cellumbra_main; // Main
    kernel_blocks[1] = nullptr;        // Prepass
    kernel_blocks[2] = nullptr;        // Start
    kernel_blocks[3] = nullptr;        // Interpass
    kernel_binding.bound[0] = cellumbra_main_binding();
    kernel_binding.reach = cellumbra_reach;
}
