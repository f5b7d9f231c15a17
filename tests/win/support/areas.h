// Image areas as a host serves them: rectangles, requests, and checks of what
// was delivered.
#pragma once

#include <gtest/gtest.h>

#include "base/host_api.h"
#include "base/rect.h"

namespace wintest {

Rect16 rect(int top, int left, int bottom, int right);
// A record asking for these rectangles with all `planes`, at factor one, without padding.
FilterRecord request(const Rect16& in, const Rect16& out, const Rect16& mask, int planes);
// Every byte of `data` (rows of `row_bytes` over `area`, planes lo..lo+n-1)
// against the coordinate picture seen at `factor`.
::testing::AssertionResult holds_source(const void* data, int32 row_bytes, const Rect16& area, int lo, int n,
                                        int factor);
// True when the address lies in memory the process may not touch.
bool inaccessible(const void* address);

} // namespace wintest
