// The plug-in's own result for the browser page's tests: the whole-picture
// run through the fake host (one band, no selection, the product's block
// binding), as the GEGL operation's tests take it.
//   plugin_cells WIDTH HEIGHT PLANES SIZE <pixels >cells
// reads and writes WIDTH x HEIGHT pixels of PLANES (3 or 4) interleaved bytes.
//   plugin_cells --jpeg <file.jpg >pixels
// writes a JPEG's RGB pixels as the page's module decodes them: the same
// decoder, without the vector instructions that the module's build lacks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#define STBI_ONLY_JPEG
#define STBI_NO_SIMD
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"
#include "support/product_run.h"

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--jpeg") == 0) {
        const std::vector<unsigned char> file{std::istreambuf_iterator<char>(std::cin), {}};
        int w = 0, h = 0, n = 0;
        unsigned char* pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 3);
        if (!pixels) return 1;
        const size_t bytes = size_t(w) * size_t(h) * 3;
        const bool written = std::fwrite(pixels, 1, bytes, stdout) == bytes;
        stbi_image_free(pixels);
        return written ? 0 : 1;
    }
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
