// The parameters dialog as the shell sees it.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 after OK (also after the at-once ending when show_dialog is 0), 0 after
// Cancel, -1 when the dialog cannot be created.
int32_t show_parameters_dialog(int32_t show_dialog, intptr_t parent_window);

void show_about(intptr_t owner);
// The About text into buf (size bytes, at most 512 used).
void build_about_text(char* buf, size_t size);
