// The FilterPreview control: its window class and its private messages.
#pragma once

#include <cstdint>

#include "ui/model.h"

// PreviewRefresh = WM_USER with wParam 1; PreviewKernelSwitch = WM_USER with wParam 2.
constexpr unsigned preview_message = 0x0400; // WM_USER
constexpr uintptr_t PreviewRefresh = 1;
constexpr uintptr_t PreviewKernelSwitch = 2;

void register_preview_class(intptr_t instance);
// Hands a control of the class the model it paints from and acts on, reset
// to what a new preview starts with; null takes it back.
void attach_preview_model(intptr_t preview_window, PreviewModel* model);
void unregister_preview_class(intptr_t instance);
