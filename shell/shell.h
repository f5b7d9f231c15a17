// The plug-in shell: the host's selectors, host recognition and the start of
// a real run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/host_api.h"
#include "runtime/run_state.h"

// Set by the parameters selector: the host wants the dialog shown.
extern int32_t parameters_requested;

void dispatch_selector(int16 selector, void* record, intptr_t* data, int16* result);
// Host recognition from an executable path; keeps the previous kind when no name matches.
HostKind host_kind_from_path(const char* path, HostKind previous);
void detect_host();

int16 start_filter();
