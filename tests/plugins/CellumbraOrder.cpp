// CellumbraOrder.8bf: a Main block bound into the pixel walk, as the product's
// is, but not declared pixel-local: it numbers the pixels it visits in the
// cell array (fetch, then put) and writes the number into red and green, low
// byte first, and into blue 0 when it runs on the thread that ran the Start
// block (the host's), else 255. Whatever CELLUMBRA_THREADS says, its output
// shows every pixel visited in order on the host's thread.
#include <windows.h>

#include "runtime/pixel_loop.h"

namespace {

DWORD start_thread;

void order_start(KernelVariables&, const BuiltinTable&)
{
    start_thread = GetCurrentThreadId();
}

struct OrderMain {
    template <class Builtins>
    void operator()(KernelVariables& vars, Builtins& builtins)
    {
        const int32_t n = builtins.fetch(0);
        builtins.put(n + 1, 0);
        vars.v[slot::out_red] = n & 255;
        vars.v[slot::out_green] = (n >> 8) & 255;
        vars.v[slot::out_blue] = GetCurrentThreadId() == start_thread ? 0 : 255;
    }
};

void order_main(KernelVariables& vars, const BuiltinTable& builtins)
{
    OrderMain{}(vars, builtins);
}

int16_t order_main_walk(const BandWalk& walk)
{
    return bound_walk<OrderMain>(walk);
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = order_main;  // Main
    kernel_blocks[1] = nullptr;     // Prepass
    kernel_blocks[2] = order_start; // Start
    kernel_blocks[3] = nullptr;     // Interpass
    kernel_binding.bound[0] = BoundBlock{order_main, order_main_walk, false};
}
