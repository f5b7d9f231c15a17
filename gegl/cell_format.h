// How the GEGL operation and the GIMP 2.10 plug-in hold a picture's pixels
// so that the cells move them whole: the picture's own format, whatever its
// depth, so that every stored value passes unchanged.
#pragma once

#include <babl/babl.h>

#include <glib.h>

#include <cstring>
#include <string>

#include "filter/cell_map.h"

// The format to copy a picture stored in `stored` in: its own components,
// type and space, written in babl's plain order (colour, then alpha). A
// premultiplied format is asked for with its alpha apart: a colour
// multiplied by its own pixel's alpha means nothing beside another pixel's,
// so GEGL divides it out in the same type. Null for what a copy cannot
// serve: models other than RGB and grey (CMYK, CIE, ...), and components of
// mixed or unusual types.
inline const Babl* cell_copy_format(const Babl* stored)
{
    if (!stored) return nullptr;
    const Babl* model = babl_format_get_model(stored);
    const BablModelFlag flags = babl_get_model_flags(model);
    if (!(flags & (BABL_MODEL_FLAG_RGB | BABL_MODEL_FLAG_GRAY)) ||
        (flags & (BABL_MODEL_FLAG_CMYK | BABL_MODEL_FLAG_CIE | BABL_MODEL_FLAG_INVERTED)))
        return nullptr;
    const int components = babl_format_get_n_components(stored);
    const Babl* type = babl_format_get_type(stored, 0);
    for (int i = 1; i < components; ++i)
        if (babl_format_get_type(stored, i) != type) return nullptr;
    const char* type_name = babl_get_name(type);
    bool known = false;
    for (const char* t : {"u8", "u16", "u32", "half", "float", "double"}) known = known || std::strcmp(type_name, t) == 0;
    if (!known) return nullptr;
    // Premultiplied models are the plain ones with an "a" after each colour.
    std::string name;
    for (const char* c = babl_get_name(model); *c; ++c)
        if (*c != 'a' || !(flags & BABL_MODEL_FLAG_ASSOCIATED)) name += *c;
    name = name + " " + type_name;
    if (!babl_format_exists(name.c_str())) return nullptr;
    const Babl* format = babl_format_with_space(name.c_str(), babl_format_get_space(stored));
    const int colours = (flags & BABL_MODEL_FLAG_GRAY) ? 1 : 3;
    const bool alpha = babl_format_has_alpha(format);
    return babl_format_get_n_components(format) == colours + (alpha ? 1 : 0) ? format : nullptr;
}

// A format's pixels as the map copies them: alpha, the last component, kept.
inline PixelBytes cell_pixel_bytes(const Babl* format)
{
    const auto bytes = uint32_t(babl_format_get_bytes_per_pixel(format));
    const uint32_t kept = babl_format_has_alpha(format) ? bytes / uint32_t(babl_format_get_n_components(format)) : 0;
    return {bytes, bytes - kept, kept};
}

// A preview's pixels: 8-bit values of the picture's own colour model and
// space, as GIMP's preview areas draw them (an 8-bit linear layer keeps its
// linear bytes; deeper layers are shown gamma-encoded). The cells only move
// pixels, so those of the 8-bit values are the picture's cells shown at 8 bits.
inline const Babl* cell_preview_format(const Babl* stored)
{
    const bool alpha = babl_format_has_alpha(stored);
    const bool grey = (babl_get_model_flags(babl_format_get_model(stored)) & BABL_MODEL_FLAG_GRAY) != 0;
    const char* model = babl_get_name(babl_format_get_model(stored));
    const bool linear = !std::strchr(model, '\'') && !std::strchr(model, '~');
    const bool tone = !(linear && babl_format_get_type(stored, 0) == babl_type("u8"));
    const char* name = grey ? (alpha ? (tone ? "Y'A u8" : "YA u8") : (tone ? "Y' u8" : "Y u8"))
                            : (alpha ? (tone ? "R'G'B'A u8" : "RGBA u8") : (tone ? "R'G'B' u8" : "RGB u8"));
    return babl_format_with_space(name, babl_format_get_space(stored));
}

// A GIMP layer's own format, so that the cells keep every stored value at
// any precision, linear or perceptual. GIMP's layers are RGB or grey, so the
// fall-back to the preview's 8-bit values is never expected.
inline const Babl* cell_layer_format(const Babl* stored)
{
    if (const Babl* own = cell_copy_format(stored)) return own;
    g_warning("Cellumbra cannot move pixels of %s whole; it works on their 8-bit values", babl_get_name(stored));
    return cell_preview_format(stored);
}
