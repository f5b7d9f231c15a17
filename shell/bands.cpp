// Placeholder: the band plan and the passes come with the run engine.
#include "shell/shell.h"

PixelContext pixel_context;
int32_t band_width, band_height, band_top;
int32_t in_border, out_border, mask_border;
int32_t pixels_done, pixels_total;

int16 start_filter() { return noErr; }
int32_t call_advance_state() { return -123; }
int32_t clear_area_request() { return call_advance_state(); }
void set_band_rects(int32_t, int32_t) {}
int32_t display_output(void*, int32_t, int32_t) { return 0; }
int32_t test_host_abort() { return 0; }
int16 filter_band(int32_t, KernelPass) { return 0; }
int32_t integer_square_root(int32_t) { return 0; }
