// A test build of the plug-in whose Main block writes the recognised host
// kind into the red plane, so a run shows from outside what the plug-in made
// of the host program's name.
#include "runtime/kernel.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"

namespace {

void report_host_kind(KernelVariables& vars, const BuiltinTable&)
{
    vars.v[slot::out_red] = static_cast<int32_t>(run_state.host_kind);
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = report_host_kind;
    kernel_blocks[1] = nullptr;
    kernel_blocks[2] = nullptr;
    kernel_blocks[3] = nullptr;
}
