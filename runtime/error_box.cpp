#include "base/platform.h"
#include "runtime/host_calls.h"

void show_error_box(intptr_t owner, const char* text)
{
    platform::show_message(owner, text, "Glyphsmithery Error", platform::box_ok | platform::box_icon_error);
}
