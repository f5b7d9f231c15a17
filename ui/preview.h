// The FilterPreview control: its window class and its private messages.
#pragma once

#include <cstdint>

// PreviewRefresh = WM_USER with wParam 1; PreviewKernelSwitch = WM_USER with wParam 2.
constexpr unsigned preview_message = 0x0400; // WM_USER
constexpr uintptr_t PreviewRefresh = 1;
constexpr uintptr_t PreviewKernelSwitch = 2;

void register_preview_class(intptr_t instance);
void unregister_preview_class(intptr_t instance);
