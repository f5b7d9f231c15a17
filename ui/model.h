// The state of one parameters dialog and its preview. show_parameters_dialog
// owns it for the dialog's life and hands it to the window procedures: the
// dialog through its creation parameter, the preview through its user data.
#pragma once

#include <cstdint>

#include "ui/preview_logic.h"

// The swatch that a pick from the preview is filling.
struct PickTarget {
    intptr_t dialog;
    int32_t control_id; // the swatch
    int32_t index;      // into custom_colours
};

struct PreviewModel {
    int32_t pan_x = 0, pan_y = 0; // the view's origin, in zoomed image units
    int16_t filtering_on = 1;     // the dialog's "Filtering" switch
    PreviewFlags flags{};
    DeliveredArea area{}; // what the host holds for the latest request
    int16_t pick_mode = 0; // a swatch waits for a colour from the preview
    PickTarget pick_target{};
    int32_t last_x = 0, last_y = 0; // the mouse at the previous event of a drag
};

struct DialogModel {
    PreviewModel preview;
    int32_t show_dialog = 0; // 0: accept at once with what the settings hold
    // From the dialog's creation to the end of its set-up: the edit boxes'
    // change notifications then only echo values the set-up has just written.
    bool initialising = true;
    // The edit box whose text the dialog itself is rewriting; its own change
    // notification is then left to the rewrite in progress.
    int rewriting_box = 0;
};
