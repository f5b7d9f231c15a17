// Integer HLS conversions: hue in 1024 steps per turn, lightness and
// saturation in 0..255, with one cache that holds the last colour converted
// in both notations.
#include <cstdint>

#include "runtime/builtins.h"
#include "runtime/kernel.h"

namespace {

struct ColorCache {
    int32_t r, g, b, h, l, s;
};

// -1 matches no clamped argument, so the first conversion always computes.
constexpr ColorCache empty_cache = {-1, -1, -1, -1, -1, -1};
ColorCache cache = empty_cache;

int32_t clamp_byte(int32_t v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

int32_t low_ten_bits(int32_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(v) & 1023u);
}

void analyse(int32_t r, int32_t g, int32_t b)
{
    r = clamp_byte(r);
    g = clamp_byte(g);
    b = clamp_byte(b);
    if (r == cache.r && g == cache.g && b == cache.b) return;
    cache.r = r;
    cache.g = g;
    cache.b = b;

    const int32_t max = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int32_t min = r < g ? (r < b ? r : b) : (g < b ? g : b);
    cache.l = (max + min) / 2;
    if (max == min) {
        cache.h = 0;
        cache.s = 0;
        return;
    }
    const int32_t d = max - min;
    cache.s = cache.l <= 128 ? d * 255 / (max + min) : d * 255 / (510 - max - min);
    const int32_t rc = (max - r) * 256 / d;
    const int32_t gc = (max - g) * 256 / d;
    const int32_t bc = (max - b) * 256 / d;
    int32_t h;
    if (r == max)
        h = bc - gc;
    else if (g == max)
        h = 512 + rc - bc;
    else
        h = 1024 + gc - rc;
    if (h < 0) h += 1536;
    cache.h = h * 1024 / 1536;
}

int32_t hls_value(int32_t m1, int32_t m2, int32_t k)
{
    k = low_ten_bits(k);
    if (k < 171) return m1 + (m2 - m1) * k * 6 / 1024;
    if (k < 512) return m2;
    if (k < 683) return m1 + (m2 - m1) * (683 - k) * 6 / 1024;
    return m1;
}

void synthesise(int32_t h, int32_t l, int32_t s)
{
    if (h == cache.h && l == cache.l && s == cache.s) return;
    cache.h = h;
    cache.l = l;
    cache.s = s;
    if (s == 0) {
        cache.r = cache.g = cache.b = l;
        return;
    }
    const int32_t m2 = l < 128 ? (s + 255) * l / 255 : l + s - l * s / 255;
    const int32_t m1 = 2 * l - m2;
    cache.r = hls_value(m1, m2, h + 341);
    cache.g = hls_value(m1, m2, h);
    cache.b = hls_value(m1, m2, h - 341);
}

} // namespace

void reset_colour_cache()
{
    cache = empty_cache;
}

int32_t hue_of(int32_t r, int32_t g, int32_t b)
{
    analyse(r, g, b);
    return cache.h;
}

int32_t lightness_of(int32_t r, int32_t g, int32_t b)
{
    analyse(r, g, b);
    return cache.l;
}

int32_t saturation_of(int32_t r, int32_t g, int32_t b)
{
    analyse(r, g, b);
    return cache.s;
}

int32_t set_hls(int32_t h, int32_t l, int32_t s)
{
    synthesise(low_ten_bits(h), clamp_byte(l), clamp_byte(s));
    kernel_vars.v[slot::out_red] = cache.r;
    kernel_vars.v[slot::out_green] = cache.g;
    kernel_vars.v[slot::out_blue] = cache.b;
    return 0;
}
