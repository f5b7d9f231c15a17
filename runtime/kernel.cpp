// Placeholder: run_kernel_pass and the variable set-up come with the run engine.
#include "runtime/kernel.h"

KernelVariables kernel_vars;
KernelPass current_pass;
KernelBlock kernel_blocks[4];

KernelBlock block_of(KernelPass pass)
{
    switch (pass) {
    case Main: return kernel_blocks[0];
    case Prepass: return kernel_blocks[1];
    case Start: return kernel_blocks[2];
    case Interpass: return kernel_blocks[3];
    }
    return nullptr;
}

void run_kernel_pass(KernelPass pass)
{
    current_pass = pass;
}
void prepare_variables(KernelPass) {}
void store_result() {}
