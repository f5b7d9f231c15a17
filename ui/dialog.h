// The parameters dialog as the shell sees it.
#pragma once

#include <cstdint>

// 1 after OK (also after the at-once ending when show_dialog is 0), 0 after
// Cancel, -1 when the dialog cannot be created.
int32_t show_parameters_dialog(int32_t show_dialog, intptr_t parent_window);
void show_error_box(intptr_t owner, const char* text);
