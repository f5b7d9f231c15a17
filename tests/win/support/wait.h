// The one way the Windows tests wait: for a condition, never for a time.
#pragma once

#include <functional>

namespace wintest {

// Polls `condition` until it holds or `timeout_ms` have passed; true when it
// held. The bound only stops a test whose event never comes.
bool wait_until(const std::function<bool()>& condition, unsigned timeout_ms = 10000);

// True when `condition` holds throughout `ms`: for what must not happen (no
// rendering while the mouse button is down, no second box), which can only
// be watched for a while.
bool holds_for(const std::function<bool()>& condition, unsigned ms);

} // namespace wintest
