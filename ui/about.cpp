// The About box: the filter's title and notice, shown by the about selector
// and by the dialog's About button.
#include <cstdio>

#include "base/platform.h"
#include "runtime/definition.h"
#include "ui/dialog.h"

void build_about_text(char* buf, size_t size)
{
    if (!buf || size == 0) return;
    if (size > 512) size = 512;
    std::snprintf(buf, size, "%s\n%s\n\n%s", filter_definition.title, filter_definition.notice_line,
                  "Made with Glyphsmithery,\nthe formula filter workshop.");
}

void show_about(intptr_t owner)
{
    char text[512];
    build_about_text(text, sizeof text);
    platform::show_message(owner, text, "About...", platform::box_ok);
}
