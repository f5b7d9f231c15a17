// Selections the host offers: a rectangle or the ellipse inside one.
#pragma once

#include "refhost/options.h"
#include "refhost/picture.h"
#include "base/host_api.h"

// Builds the one-plane selection mask of a width x height picture (255
// inside, 0 outside; a pixel belongs to an ellipse when its centre does) and
// the bounding box of its selected pixels. Returns false when nothing of the
// picture is selected.
bool make_selection(HostOptions::Selection kind, const Area& area, int32 width, int32 height, Picture& mask,
                    Rect16& bounds);
