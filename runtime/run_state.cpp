#include "runtime/run_state.h"

#include "runtime/definition.h"

RunState run_state = [] {
    RunState s{};
    s.zoom_factor = 1;
    s.max_zoom_factor = 16;
    s.mode = RunMode::real_run;
    s.split_min_pixels = default_split_min_pixels;
    return s;
}();

int32_t control_values[16];

void settle_effect_centre()
{
    const int32_t* centre = filter_definition.stored_centre;
    const bool stored = centre[0] >= 0 && centre[1] >= 0;
    PixelContext& pc = run_state.pixel_context;
    pc.centre_column = stored ? centre[0] : pc.image_width / 2;
    pc.centre_row = stored ? centre[1] : pc.image_height / 2;
}
