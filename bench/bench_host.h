// cellumbra_bench --host (Windows builds): the reference host's own costs
// beside the plug-in's (bench/bench_host_win.cpp).
#pragma once

#include <string>

#include "bench/bench_common.h"

// Runs filterhost.exe from `folder` (which ends in a backslash) beside the
// plug-in driven by `driver`; prints the figures. argv[1] is "--host".
int run_host_benchmark(bench::PluginDriver& driver, const std::string& folder, int argc, char** argv);
