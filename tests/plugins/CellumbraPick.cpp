// CellumbraPick.8bf: the cell filter with two live custom colours and a
// centre that the user picks in the preview, for the colour and centre tests.
#include "runtime/definition.h"
#include "runtime/kernel.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);

void bind_filter_blocks()
{
    kernel_blocks[0] = cellumbra_main; // Main
    kernel_blocks[1] = nullptr;        // Prepass
    kernel_blocks[2] = nullptr;        // Start
    kernel_blocks[3] = nullptr;        // Interpass
    filter_definition.colour_count = 2;
    filter_definition.custom_colours[0] = 0x00204080;
    filter_definition.custom_colours[1] = 0x00806040;
    filter_definition.centre_pick = 1;
}
