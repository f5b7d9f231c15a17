// The plug-in's own result for the browser page's tests: the whole-picture
// run through the fake host (one band, no selection, the product's block
// binding), as the GEGL operation's tests take it.
//   plugin_cells WIDTH HEIGHT PLANES SIZE <pixels >cells
// reads and writes WIDTH x HEIGHT pixels of PLANES (3 or 4) interleaved bytes.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"
#include "support/product_run.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: plugin_cells WIDTH HEIGHT PLANES SIZE <pixels >cells\n");
        return 1;
    }
    const int32_t width = std::atoi(argv[1]), height = std::atoi(argv[2]), planes = std::atoi(argv[3]);
    const int32_t size = std::atoi(argv[4]);
    if (width < 1 || height < 1 || width > 30000 || height > 30000 || (planes != 3 && planes != 4)) return 1;
    FakeHost host(width, height, planes);
    if (std::fread(host.source.data(), 1, host.source.size(), stdin) != host.source.size()) {
        std::fprintf(stderr, "plugin_cells: fewer pixels than %d x %d x %d\n", width, height, planes);
        return 1;
    }
    host.picture = host.source;
    if (run_product_cells(host, size) != noErr) return 2;
    return std::fwrite(host.picture.data(), 1, host.picture.size(), stdout) == host.picture.size() ? 0 : 1;
}
