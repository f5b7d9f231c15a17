// The parts of the benchmark that both builds share: the picture, a host that
// serves it from memory, the specialised loop the plug-in is measured against,
// and the report. Each build supplies a PluginDriver that runs the real start
// selector: the native build calls dispatch_selector, the Windows build calls
// ENTRYPOINT of the loaded Cellumbra.8bf.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/host_api.h"

namespace bench {

struct Picture {
    int32_t width = 0, height = 0, planes = 0;
    std::vector<unsigned char> pixels;
    int32_t row_bytes() const { return width * planes; }
};

// A smooth colour field with fine noise: every cell samples a distinct colour.
Picture make_picture(int32_t width, int32_t height, int32_t planes);

// A host that hands the plug-in its rectangles straight inside two whole
// pictures, without copying: what is timed is the plug-in's own work.
struct MemoryHost {
    FilterRecord record{};
    PlatformData platform{};
    const Picture* input = nullptr;
    Picture* output = nullptr;
    int64_t requests = 0;
    // Steady-clock seconds of the run's first request for image data, which
    // comes after the dialog, the settings and the band plan.
    double first_request = 0;

    // A fresh record for one start selector over the whole picture.
    void prepare(const Picture& in, Picture& out, int32_t max_space);
};

// The rows per band that the shell plans for this maxSpace at a cell size,
// and the maxSpace that gives a wanted number of rows per band: the rows the
// cells read around a band count within it.
int32_t planned_band_rows(int32_t max_space, const Picture& picture, int32_t size);
int32_t max_space_for_rows(int32_t rows, const Picture& picture, int32_t size);

// The same cells as the plug-in's kernel, computed by a loop that knows the
// filter: row values hoisted, no table, no variables, centres clamped to the
// picture as the plug-in's src does with bands that hold what the cells read.
void specialised_cells(const Picture& in, Picture& out, int32_t size);

// Steady-clock seconds since the clock's epoch.
double seconds_now();
// The median; and the median of a[i] / b[i], for two ways timed back to back
// in each repetition.
double median(std::vector<double> values);
double paired_median(const std::vector<double>& a, const std::vector<double>& b);

struct RunResult {
    double seconds = 0;
    double end = 0; // steady-clock seconds when the start selector returned
    int32_t result = 0;
    int64_t allocations = 0;    // calls counted during the start selector
    std::string allocation_detail;
    int64_t message_boxes = 0;
};

struct PluginDriver {
    virtual ~PluginDriver() = default;
    virtual const char* build_name() const = 0;
    // What the allocation figure counts, in one line.
    virtual const char* allocation_note() const = 0;
    // Makes the next start run with this cell size.
    virtual void set_size(int32_t size) = 0;
    // Makes the next start run the block through its table entry instead of
    // the walk bound at build time.
    virtual void use_table(bool table) = 0;
    // One start selector on the host's prepared record, timed alone.
    virtual RunResult start(FilterRecord& record) = 0;
    // Sets the plug-in's smallest band that it splits over threads, where the
    // build can reach it (natively); false elsewhere.
    virtual bool set_parallel_threshold(int32_t pixels) { return false; }
};

// CELLUMBRA_THREADS for the plug-in's next runs.
void set_thread_setting(int32_t threads); // 0: unset, the plug-in's own count

struct Options {
    int32_t width = 4000, height = 3000;
    int repetitions = 5;
    std::vector<int32_t> sizes{5, 20, 100};
    int32_t many_band_rows = 300; // about ten bands of a 3000-row picture
};

Options parse_options(int argc, char** argv);

// Runs every case, prints the table; returns 0 when every run succeeded and
// matched the specialised loop byte for byte.
int run_benchmark(PluginDriver& driver, const Options& options);

} // namespace bench
