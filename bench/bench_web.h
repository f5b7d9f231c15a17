// The browser page's WebAssembly kernel in the benchmark (native build,
// option --web): run under Node beside the plug-in's own run.
#pragma once

#include "bench/bench_common.h"

namespace bench {

// Times the page's module (`wasm`, driven by the Node program `script`) on
// the picture of `options` at its sizes, each repetition taking every size in
// turn, the module and the plug-in (its block bound, one thread, one band)
// back to back; prints ns a pixel and their ratio. Returns 0 when the module
// gave the plug-in's bytes at every size.
int run_web_benchmark(PluginDriver& plugin, const Options& options, const char* script, const char* wasm);

} // namespace bench
