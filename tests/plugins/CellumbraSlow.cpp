// CellumbraSlow.8bf: a build whose Main block takes about three seconds per
// preview rendering, and two per real run in one band, and polls test_abort all
// the while, the way a looping kernel should. Each pixel inverts the input and
// then waits until its share of the time has passed, so a rendering cut short
// shows the rows already done inverted and the rest unchanged.
#include <windows.h>

#include "runtime/kernel.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"

namespace {

constexpr DWORD rendering_ms = 3000;
constexpr DWORD band_ms = 2000;
DWORD started; // when the Start block of the current rendering or run ran

void slow_start(KernelVariables&, const BuiltinTable&)
{
    started = GetTickCount();
}

void slow_main(KernelVariables& v, const BuiltinTable& builtins)
{
    v.v[slot::out_red] = 255 - v.v[slot::in_red];
    v.v[slot::out_green] = 255 - v.v[slot::in_green];
    v.v[slot::out_blue] = 255 - v.v[slot::in_blue];
    if (!run_state.filter_record) return;
    const Rect16 r = run_state.filter_record->outRect;
    const int64_t pixels = int64_t(r.bottom - r.top) * (r.right - r.left);
    if (pixels <= 0) return;
    const int64_t done = ++v.v[slot::user_vars]; // zeroed by every Start
    const DWORD due = started + DWORD((previewing() ? rendering_ms : band_ms) * done / pixels);
    while (int32_t(GetTickCount() - due) < 0)
        if (builtins.test_abort()) return;
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = slow_main;  // Main
    kernel_blocks[1] = nullptr;    // Prepass
    kernel_blocks[2] = slow_start; // Start
    kernel_blocks[3] = nullptr;    // Interpass
}
