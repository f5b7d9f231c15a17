// What a run shares between the shell, the run-time and the preview, in one
// record owned by the run-time: every layer reads and writes the same state,
// and none keeps a copy of its own.
#pragma once

#include <cstdint>

#include "base/host_api.h"
#include "runtime/kernel.h"

// The host, recognised by its executable's name.
enum class HostKind : int32_t {
    unknown = 0,
    photoshp = 1,
    photopnt = 2, // asks for one extra unit in every sampling rate
    psp = 3,
};

// Who the kernel is running for.
enum class RunMode : int32_t {
    real_run,          // the host's picture
    rendering,         // a filtered preview, since rendering_since_ms
    rendering_stopped, // a preview rendering that ran out of time
};

// The image and the current pixel.
struct PixelContext {
    unsigned char* in_ptr;
    unsigned char* out_ptr;
    unsigned char* mask_ptr;
    int32_t column;
    int32_t row;
    int32_t image_width;
    int32_t image_height;
    int32_t image_planes;
    int32_t half_diagonal;
    int32_t centre_column;
    int32_t centre_row;
    unsigned char fore_colour[3];
    unsigned char back_colour[3];
    int32_t pixel_stride;
};

class WorkerPool;

// Starting and joining a thread took about 1.5 ms under Wine (natively about
// 0.1 ms), which two threads win back from about 0.6 megapixels on: below a
// megapixel a band stays on one thread, at most 3 ms slower than it could be
// where threads start quickly.
constexpr int32_t default_split_min_pixels = 1 << 20;
// A block whose rows are copies gains from threads only their share of the
// copy, less the reading of every row a thread takes ahead, and a run pays
// their start and join once: natively, two threads lost to one on pictures
// up to about 4 megapixels, drew level at about 8 and won from 12 (1.3 to
// 1.5 times), in one band or in bands of a megapixel.
constexpr int32_t copies_split_factor = 8;

struct RunState {
    FilterRecord* filter_record; // the host's record of the latest call
    HostKind host_kind;
    PixelContext pixel_context;
    int32_t zoom_factor;     // image pixels per sampled pixel: the preview's reduction, 1 in a real run
    int32_t max_zoom_factor; // the largest reduction the preview offers
    RunMode mode;
    int32_t rendering_since_ms; // time of day the current rendering began
    KernelPass current_pass;
    int32_t pixels_done, pixels_total; // the progress of the run
    WorkerPool* workers; // the threads of the real run in progress; null: the host's thread alone
    int32_t split_min_pixels; // the smallest band spread over the threads; tests lower it
};

extern RunState run_state;

// Slider k at index k-1; check box 1 at 15, check box 2 at 14. The dialog
// edits them, the settings keep them, the built-ins read them.
extern int32_t control_values[16];

// The effect centre of the run into the pixel context: the one picked in the
// preview, else the middle of the image.
void settle_effect_centre();

inline void begin_rendering(int32_t since_ms)
{
    run_state.mode = RunMode::rendering;
    run_state.rendering_since_ms = since_ms;
}

inline bool previewing()
{
    return run_state.mode != RunMode::real_run;
}
