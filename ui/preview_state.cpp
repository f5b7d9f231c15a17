// The preview's module-wide state: one set for every window of the class.
#include "ui/preview_state.h"

#include "ui/preview_logic.h"

int32_t pan_x = 0;
int32_t pan_y = 0;
int16_t filtering_on = 1;

PreviewFlags preview_flags = {0, 0, 0, 0};
DeliveredArea preview_area = {};
