// CellumbraTable.8bf: the product with its Main block reached through its
// entry and the table of built-ins alone, nothing bound at build time, so
// that the benchmark shows both ways side by side.
#include "filter/cellumbra_kernel.h"

void bind_filter_blocks()
{
    kernel_blocks[0] = cellumbra_main; // Main
    kernel_blocks[1] = nullptr;        // Prepass
    kernel_blocks[2] = nullptr;        // Start
    kernel_blocks[3] = nullptr;        // Interpass
    // The reach is the filter's, however its block is reached.
    kernel_binding.reach = cellumbra_reach;
}
