// The Windows half of the colour pick: repainting the swatch and telling the
// preview that the pick is over.
#include <windows.h>

#include "ui/colour.h"
#include "ui/preview.h"

namespace {

void invalidate_swatch(const PickTarget& target, BOOL erase)
{
    HWND swatch = GetDlgItem(reinterpret_cast<HWND>(target.dialog), target.control_id);
    if (swatch) InvalidateRect(swatch, nullptr, erase);
}

} // namespace

void track_picked_colour(PreviewModel& model, int32_t x, int32_t y)
{
    if (take_picked_colour(model, x, y)) invalidate_swatch(model.pick_target, TRUE);
}

void finish_colour_pick(PreviewModel& model, int32_t x, int32_t y, intptr_t preview_window)
{
    track_picked_colour(model, x, y);
    model.pick_mode = 0;
    HWND preview = reinterpret_cast<HWND>(preview_window);
    SendMessageA(preview, preview_message, PreviewKernelSwitch, 1);
    SendMessageA(preview, preview_message, PreviewRefresh, 0);
    invalidate_swatch(model.pick_target, FALSE);
}
