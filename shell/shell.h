// Module state of the plug-in shell and the operations through which every
// part of the plug-in talks to the host about image areas.
#pragma once

#include <cstdint>

#include "runtime/kernel.h"
#include "base/host_api.h"

// ---- entry point and dispatch
extern FilterRecord* filter_record;
extern intptr_t* host_data;
extern int32_t parameters_requested;
extern int32_t host_kind; // 0 unknown, 1 photoshp, 2 photopnt, 3 psp

void dispatch_selector(int16 selector, void* record, intptr_t* data, int16* result);
// Host recognition from an executable path; keeps the previous kind when no name matches.
int32_t host_kind_from_path(const char* path, int32_t previous);
void detect_host();
void show_about(intptr_t owner);
// The About text into buf (size bytes, at most 512 used).
void build_about_text(char* buf, size_t size);
void attach_module(intptr_t module_handle);
void detach_module();
extern intptr_t module_handle;

// ---- the image and the current pixel
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
extern PixelContext pixel_context;

// ---- band plan and progress
extern int32_t band_width, band_height, band_top;
extern int32_t in_border, out_border, mask_border;
extern int32_t pixels_done, pixels_total;

int16 start_filter();
int32_t call_advance_state();
int32_t clear_area_request();
void set_band_rects(int32_t left, int32_t top);
int32_t display_output(void* device_context, int32_t row, int32_t column);
int32_t test_host_abort();
int16 filter_band(int32_t with_progress, KernelPass pass);
int32_t integer_square_root(int32_t value);
