// libFuzzer target for the run engine and the preview under arbitrary host
// behaviour. One input describes a host: its FilterRecord (image size, planes,
// filterRect, maxSpace, mode, colours, platformData, which callbacks exist)
// and, call by call, how it answers: advanceState delivers what was asked, or
// other rectangles, other row bytes, other plane ranges, null data, a mask or
// none, the previous delivery again, or fails; abortProc may cancel;
// abortProc and progressProc may hand over new buffers in the middle of a
// walk. The start selector runs through dispatch_selector with the dialog
// faked, and inside the dialog the preview paints with arbitrary zoom, pan and
// client sizes. The kernel slots hold the product's block or small blocks
// that call built-ins with arbitrary arguments and write arbitrary outputs.
//
// Every buffer the host hands over is a fresh heap block of exactly the bytes
// the record then claims (rows x rowBytes), freed when the next request
// replaces it, so the sanitizers see any access outside what the host said it
// holds, and any use of a buffer after the host took it back.
//
// Besides the sanitizers, a few host-side checks abort: a request for an area
// outside the picture, a pixel map over a buffer the host does not hold, an
// unexpected result code, progress beyond its total, and a run that an
// honest host served without a cancel ending in anything but success.
//
// Every input runs twice: with the product's binding, whose Main block runs
// compiled into the pixel walk wherever that walk takes the band, and with
// the block through its table entry alone. What the host saw (every area's
// bytes when it takes them back, every callback's arguments, every result)
// must be the same.
//
// Then the same input describes an honest host that keeps one picture: the
// product's cells under a drawn maxSpace, selection, size and thread count
// must give the picture of one band wherever the kernel declares its reach.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "runtime/definition.h"
#include "filter/cellumbra_kernel.h"
#include "fuzz/fuzz_values.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "base/host_api.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"
#include "ui/colour.h"
#include "ui/preview_logic.h"
#include "ui/model.h"
#include "ui/preview_render.h"


namespace {

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "engine_fuzz: %s\n", what);
    std::abort();
}

// Keeps one input to a few milliseconds: no buffer above this many bytes, and
// no more pixels delivered per input than a few full 64 x 64 runs.
constexpr int64_t buffer_cap = 1 << 15;
constexpr int64_t pixel_budget = 64 * 64 * 10;
constexpr int32_t abort_test_budget = 40000;

// What the inputs reached, printed at exit when ENGINE_FUZZ_STATS is set
// (run the target over a corpus with -runs=0 to see what it covers).
struct Stats {
    long inputs, starts, successes, honest_successes, cancels, bad_parameters, bad_mode, host_codes;
    long deliveries, in_place, deviating_deliveries, failures, kept_previous, hand_overs;
    long paints, filtered_paints, stopped_paints, displays, walks_with_test_blocks, bound_walks;
};
Stats stats;

void print_stats()
{
    const Stats& s = stats;
    std::fprintf(stderr,
                 "inputs %ld; start selectors %ld: %ld succeeded (%ld with an honest host), %ld cancelled, "
                 "%ld bad parameters, %ld bad mode, %ld host codes\n"
                 "advanceState: %ld deliveries (%ld in place, %ld deviating), %ld failures, %ld previous kept; "
                 "%ld hand-overs in a walk\n"
                 "preview: %ld paints, %ld filtered, %ld stopped by the clock; %ld displayPixels calls; "
                 "%ld test-block calls; %ld bands walked with the bound block\n",
                 s.inputs, s.starts, s.successes, s.honest_successes, s.cancels, s.bad_parameters, s.bad_mode,
                 s.host_codes, s.deliveries, s.in_place, s.deviating_deliveries, s.failures, s.kept_previous,
                 s.hand_overs, s.paints, s.filtered_paints, s.stopped_paints, s.displays, s.walks_with_test_blocks,
                 s.bound_walks);
}

// What the host saw of one run of an input, folded into one number (FNV-1a).
struct Digest {
    uint64_t hash = 14695981039346656037ull;
    void add(const void* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    }
    void add(int64_t v) { add(&v, sizeof v); }
};
Digest digest;

// One chance in n; never once the input is spent, so that a short input
// describes an ordinary host.
bool rarely(FuzzedDataProvider& in, int n)
{
    return in.ConsumeIntegralInRange(1, n) == n;
}

int16 any_coordinate(FuzzedDataProvider& in, int32_t near)
{
    if (rarely(in, 4)) return in.ConsumeIntegral<int16_t>();
    return static_cast<int16>(near + in.ConsumeIntegralInRange(-3, 3));
}

// ---------------------------------------------------------------- the host

// One area as the record describes it, with the heap block behind it.
struct Area {
    Rect16 rect{};
    int16 lo = 0, hi = -1;
    int32 row_bytes = 0;
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
    bool null_data = false;
    unsigned char* alias = nullptr; // in place: the output is a view into the input's block

    unsigned char* data() const { return alias ? alias : bytes.get(); }
};

struct Delivery {
    Area in, out, mask;
};

enum class Answer { deliver, fail_free_null, fail_free_dangling, fail_keep, keep_previous, out_of_memory };

struct Host {
    FuzzedDataProvider* in = nullptr;
    FilterRecord record{};
    PlatformData platform{};
    int32_t width = 0, height = 0, planes = 0;
    bool selection = false;
    uint32_t seed = 0;

    Delivery current;                // what the record describes after the last answer
    std::vector<Delivery> graveyard; // replaced inside a walk: alive until the next advanceState
    bool rewritten = false;          // the host changed its picture's description in the record

    bool honest = true;    // every answer so far gave exactly what was asked
    bool cancelled = false;
    std::set<int32_t> codes; // error codes the host answered with
    int64_t pixels_delivered = 0;
    int32_t last_done = 0;
    int32_t abort_tests = 0;

    unsigned char next_byte()
    {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<unsigned char>(seed >> 24);
    }

    // Allocates exactly rows x rowBytes (nothing for a claim of no bytes) and
    // fills it; false when the block would pass the cap.
    bool allocate(Area& a, bool is_mask)
    {
        a.bytes.reset();
        a.size = 0;
        if (a.null_data) return true;
        const int64_t rows = int64_t(a.rect.bottom) - a.rect.top;
        int64_t bytes = rows > 0 && a.row_bytes > 0 ? rows * a.row_bytes : 0;
        if (bytes > buffer_cap) return false;
        // A claim of no bytes still gets a (zero-sized) block when the rect is
        // not empty: a pointer the plug-in must not read through.
        if (bytes == 0 && is_empty(a.rect)) return true;
        a.bytes.reset(new unsigned char[size_t(bytes)]);
        a.size = size_t(bytes);
        for (size_t i = 0; i < a.size; ++i) {
            const unsigned char b = next_byte();
            a.bytes[i] = is_mask && (b & 3) == 0 ? 0 : b;
        }
        return true;
    }

    void publish(const Delivery& d)
    {
        FilterRecord& fr = record;
        fr.inRect = d.in.rect;
        fr.inLoPlane = d.in.lo;
        fr.inHiPlane = d.in.hi;
        fr.inRowBytes = d.in.row_bytes;
        fr.inData = d.in.data();
        fr.outRect = d.out.rect;
        fr.outLoPlane = d.out.lo;
        fr.outHiPlane = d.out.hi;
        fr.outRowBytes = d.out.row_bytes;
        fr.outData = d.out.data();
        fr.maskRect = d.mask.rect;
        fr.maskRowBytes = d.mask.row_bytes;
        fr.maskData = d.mask.data();
    }

    Area honest_area(const Rect16& r, int16 lo, int16 hi, int32_t pad)
    {
        Area a;
        a.rect = r;
        a.lo = lo;
        a.hi = hi;
        if (!is_empty(r)) a.row_bytes = (r.right - r.left) * (hi - lo + 1) + pad;
        else a.null_data = true;
        return a;
    }

    void vary_rect(Area& a)
    {
        Rect16& r = a.rect;
        r.top = any_coordinate(*in, r.top);
        r.left = any_coordinate(*in, r.left);
        r.bottom = any_coordinate(*in, r.bottom);
        r.right = any_coordinate(*in, r.right);
    }

    void vary_row_bytes(Area& a)
    {
        const int32_t count = a.hi - a.lo + 1;
        const int32_t need = (int32_t(a.rect.right) - a.rect.left) * count;
        switch (in->ConsumeIntegralInRange(0, 3)) {
        case 0: a.row_bytes = need - in->ConsumeIntegralInRange(1, 8); break;
        case 1: a.row_bytes = need + in->ConsumeIntegralInRange(1, 40); break;
        case 2: a.row_bytes = in->ConsumeIntegralInRange(-4, 4); break;
        default: a.row_bytes = in->ConsumeIntegral<int32_t>(); break;
        }
    }

    void vary_planes(Area& a)
    {
        a.lo = static_cast<int16>(in->ConsumeIntegralInRange(-2, 6));
        a.hi = static_cast<int16>(in->ConsumeIntegralInRange(-2, 8));
        if (!is_empty(a.rect)) {
            const int32_t count = a.hi - a.lo + 1;
            a.row_bytes = (a.rect.right - a.rect.left) * (count > 0 ? count : 0) + in->ConsumeIntegralInRange(0, 3);
        }
    }

    // A host that filters in place hands the output as a view into the input
    // block: possible when the output lies inside the input, with its planes.
    static bool can_alias(const Area& i, const Area& o)
    {
        const Rect16 a = i.rect, b = o.rect;
        return !i.null_data && !o.null_data && !is_empty(b) && a.top <= b.top && a.left <= b.left &&
               b.bottom <= a.bottom && b.right <= a.right && i.lo == o.lo && i.hi == o.hi && i.hi >= i.lo;
    }

    // Planes, size or filterRect change under the plug-in's feet.
    void rewrite_picture()
    {
        rewritten = true;
        FilterRecord& fr = record;
        switch (in->ConsumeIntegralInRange(0, 2)) {
        case 0: fr.planes = static_cast<int16>(in->ConsumeIntegralInRange(-1, 6)); break;
        case 1: fr.imageSize = Point16{any_coordinate(*in, fr.imageSize.v), any_coordinate(*in, fr.imageSize.h)}; break;
        default:
            fr.filterRect = Rect16{any_coordinate(*in, fr.filterRect.top), any_coordinate(*in, fr.filterRect.left),
                                   any_coordinate(*in, fr.filterRect.bottom), any_coordinate(*in, fr.filterRect.right)};
            break;
        }
    }

    // One area of a deviating answer: what it changes is up to the input.
    void vary(Area& a)
    {
        const uint8_t how = in->ConsumeIntegral<uint8_t>();
        if (how & 1) vary_rect(a);
        if (how & 2) vary_planes(a);
        if (how & 4) vary_row_bytes(a);
        if (how & 8) a.null_data = true;
        else if (a.rect.bottom > a.rect.top && a.rect.right > a.rect.left) a.null_data = false;
    }

    // The sampled picture's extent at the rate the plug-in asked for.
    int32_t sampled(int32_t size) const
    {
        int64_t z = record.inputRate / 65536;
        if (z < 1) z = 1;
        return static_cast<int32_t>((int64_t(size) + z - 1) / z);
    }

    // The plug-in never asks for what the picture does not have.
    void check_request() const
    {
        if (rewritten) return; // the plug-in may still ask by the description it started with
        const FilterRecord& fr = record;
        auto inside = [&](const Rect16& r) {
            return is_empty(r) || (r.left >= 0 && r.top >= 0 && r.right <= sampled(width) &&
                                     r.bottom <= sampled(height));
        };
        if (!inside(fr.inRect) || !inside(fr.outRect) || !inside(fr.maskRect))
            finding("a request for an area outside the picture");
        if (!is_empty(fr.inRect) && (fr.inLoPlane < 0 || fr.inHiPlane >= planes || fr.inLoPlane > fr.inHiPlane))
            finding("a request for input planes the picture does not have");
        if (!is_empty(fr.outRect) && (fr.outLoPlane < 0 || fr.outHiPlane >= planes || fr.outLoPlane > fr.outHiPlane))
            finding("a request for output planes the picture does not have");
    }

    OSErr fail(int16 code)
    {
        ++stats.failures;
        honest = false;
        codes.insert(code);
        return code;
    }

    // The bytes of the areas the host is about to take back.
    void take_back(const Delivery& d)
    {
        for (const Area* a : {&d.in, &d.out})
            if (a->bytes) digest.add(a->bytes.get(), a->size);
    }

    OSErr advance_state()
    {
        check_request();
        take_back(current);
        for (const Delivery& d : graveyard) take_back(d);
        graveyard.clear();
        FilterRecord& fr = record;
        const Rect16 asked_in = fr.inRect, asked_out = fr.outRect, asked_mask = fr.maskRect;
        for (const Rect16* r : {&asked_in, &asked_out})
            if (!is_empty(*r)) pixels_delivered += int64_t(r->bottom - r->top) * (r->right - r->left);

        Answer answer = Answer::deliver;
        const uint8_t plan = in->ConsumeIntegral<uint8_t>();
        const bool deviate = plan >= 160;
        if (deviate) {
            switch (in->ConsumeIntegralInRange(0, 7)) {
            case 0: answer = Answer::fail_free_null; break;
            case 1: answer = Answer::fail_free_dangling; break;
            case 2: answer = Answer::fail_keep; break;
            case 3: answer = Answer::keep_previous; break;
            default: break; // a delivery with deviations
            }
        }
        if (pixels_delivered > pixel_budget) answer = Answer::out_of_memory;

        int16 code = memFullErr;
        if (answer != Answer::deliver && answer != Answer::keep_previous && answer != Answer::out_of_memory) {
            code = in->ConsumeIntegral<int16_t>();
            if (code == 0) code = -1;
        }
        switch (answer) {
        case Answer::out_of_memory:
        case Answer::fail_free_null:
            current = Delivery{};
            fr.inData = fr.outData = fr.maskData = nullptr;
            return fail(code);
        case Answer::fail_free_dangling:
            // The record keeps pointers to blocks the host no longer holds.
            current = Delivery{};
            return fail(code);
        case Answer::fail_keep:
            return fail(code); // the old buffers stay, under the new rectangles
        case Answer::keep_previous:
            ++stats.kept_previous;
            honest = false;
            publish(current);
            return noErr;
        case Answer::deliver: break;
        }

        const int32_t pad = (plan & 3) == 3 ? (plan >> 2) & 7 : 0; // padded rows are honest too
        Delivery next;
        next.in = honest_area(asked_in, fr.inLoPlane, fr.inHiPlane, pad);
        next.out = honest_area(asked_out, fr.outLoPlane, fr.outHiPlane, pad);
        const bool mask_asked = selection && !is_empty(asked_mask);
        if (mask_asked) next.mask = honest_area(asked_mask, 0, 0, pad);
        else next.mask.null_data = true;
        if (deviate) {
            const uint8_t which = in->ConsumeIntegral<uint8_t>();
            honest = false;
            if (which & 1) vary(next.in);
            if (which & 2) vary(next.out);
            if (which & 4) { // a mask where none was asked, or none where one was
                if (mask_asked) next.mask = Area{};
                else next.mask = honest_area(asked_out, 0, 0, 0);
                next.mask.null_data = mask_asked;
            }
            if (which & 8) vary(next.mask);
            next.mask.lo = next.mask.hi = 0;
            if (which & 16) rewrite_picture();
        }
        const bool in_place = plan >= 128 && plan < 160 && can_alias(next.in, next.out);
        if (!allocate(next.in, false) || (!in_place && !allocate(next.out, false)) || !allocate(next.mask, true)) {
            current = Delivery{};
            fr.inData = fr.outData = fr.maskData = nullptr;
            return fail(memFullErr);
        }
        if (in_place) {
            const Area& i = next.in;
            Area& o = next.out;
            o.row_bytes = i.row_bytes;
            o.alias = i.bytes.get() + intptr_t(o.rect.top - i.rect.top) * i.row_bytes +
                      intptr_t(o.rect.left - i.rect.left) * (i.hi - i.lo + 1);
        }
        ++stats.deliveries;
        stats.in_place += in_place;
        stats.deviating_deliveries += deviate;
        current = std::move(next); // the earlier blocks go back to the heap here
        publish(current);
        return noErr;
    }

    // Inside a walk: new buffers under a possibly new description, while the
    // old ones stay alive until the next advanceState (the walk may still hold
    // them; a host only takes them back when asked for the next area).
    void hand_over_in_walk()
    {
        ++stats.hand_overs;
        graveyard.push_back(std::move(current));
        current = Delivery{};
        Delivery& d = graveyard.back();
        current.in = honest_area(d.in.rect, d.in.lo, d.in.hi, 0);
        current.out = honest_area(d.out.rect, d.out.lo, d.out.hi, 0);
        current.mask = honest_area(d.mask.rect, 0, 0, 0);
        current.mask.null_data = d.mask.bytes == nullptr;
        vary(current.in);
        if (in->ConsumeBool()) vary(current.mask);
        if (!allocate(current.in, false) || !allocate(current.out, false) || !allocate(current.mask, true))
            current = Delivery{};
        honest = false;
        publish(current);
    }

    bool holds(const void* p) const
    {
        auto within = [p](const Area& a) {
            const auto* base = a.bytes.get();
            return base && p >= static_cast<const void*>(base) && p <= static_cast<const void*>(base + a.size);
        };
        auto in_delivery = [&](const Delivery& d) { return within(d.in) || within(d.out) || within(d.mask); };
        if (in_delivery(current)) return true;
        for (const Delivery& d : graveyard)
            if (in_delivery(d)) return true;
        return false;
    }
};

Host host;
// The dialog's preview, as one dialog holds it.
PreviewModel preview;

OSErr PS_CDECL host_advance_state()
{
    return host.advance_state();
}

// The callbacks that come once per row follow a schedule drawn at the start,
// so a long run does not spend the input row by row.
struct Schedule {
    int32_t cancel_at = 0;   // abortProc call that reports a cancel; 0: never
    Boolean cancel_value = 1;
    int32_t abort_hand_over_at = 0;    // abortProc call that hands over new buffers
    int32_t progress_hand_over_at = 0; // progressProc call that does
    uint8_t display_failures = 0;      // bit k: the k-th displayPixels call fails
    int32_t abort_calls = 0, progress_calls = 0, display_calls = 0;
};
Schedule schedule;

Boolean PS_CDECL host_abort()
{
    const int32_t call = ++schedule.abort_calls;
    if (call == schedule.abort_hand_over_at) host.hand_over_in_walk();
    Boolean answer = call == schedule.cancel_at ? schedule.cancel_value : 0;
    if (host.pixels_delivered > pixel_budget) answer = 1; // keeps a runaway walk short
    if (answer) host.cancelled = true;
    digest.add(call);
    return answer;
}

void PS_CDECL host_progress(int32 done, int32 total)
{
    if (done > total || done < host.last_done) finding("progress beyond its total or going back");
    host.last_done = done;
    digest.add(done);
    if (++schedule.progress_calls == schedule.progress_hand_over_at) host.hand_over_in_walk();
}

// Reads every byte the pixel map describes, as a host draws it.
OSErr PS_CDECL host_display(const PSPixelMap* map, const VRect* rect, int32 row, int32 col, void* dc)
{
    if (!map || !rect) finding("displayPixels without a pixel map");
    ++stats.displays;
    const auto* base = static_cast<const unsigned char*>(map->baseAddr);
    if (base && !host.holds(base)) finding("a pixel map over a buffer the host does not hold");
    const int64_t rows = int64_t(rect->bottom) - rect->top, cols = int64_t(rect->right) - rect->left;
    const int64_t extent = (rows - 1) * map->rowBytes + cols * map->colBytes;
    // Only a map the host could have described itself is walked: the plug-in
    // hands back the host's own fields, and a host whose fields contradict
    // its blocks would overrun them by itself.
    size_t size = 0;
    for (const Area* a : {&host.current.out, &host.current.in})
        if (a->bytes.get() == base) size = a->size;
    if (base && rows > 0 && cols > 0 && map->rowBytes >= cols * map->colBytes && map->colBytes > 0 &&
        extent <= int64_t(size)) {
        unsigned sum = 0;
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t k = 0; k < cols * map->colBytes; ++k) sum += base[r * map->rowBytes + k];
        digest.add(sum);
    }
    const int32_t call = schedule.display_calls++;
    return call < 8 && (schedule.display_failures >> call & 1) ? OSErr(-1) : noErr;
}

OSErr PS_CDECL host_colour_services(ColorServicesInfo* info)
{
    if (!info) finding("colorServices without its record");
    for (int16& c : info->colorComponents) c = host.in->ConsumeIntegral<int16_t>();
    return host.in->ConsumeBool() ? noErr : OSErr(-128);
}

// ---------------------------------------------------------------- test blocks

// A block of a few operations, the same in every pass: each calls a built-in
// slot with arguments that are constants or a variable plus a constant, and
// stores the result in any variable.
struct Arg {
    bool relative;
    uint8_t var;
    int32_t constant;
};
struct Op {
    uint8_t slot;
    uint16_t dest;
    Arg args[10];
};
std::vector<Op> program;

int32_t value_of(const Arg& a, const KernelVariables& v)
{
    if (!a.relative) return a.constant;
    return static_cast<int32_t>(uint32_t(v.v[a.var]) + uint32_t(a.constant));
}

int32_t call_slot(const BuiltinTable& t, uint8_t slot_number, const int32_t (&a)[10])
{
    switch (slot_number) {
    case 0: return t.abs_value(a[0]);
    case 1: return t.add_capped(a[0], a[1], a[2]);
    case 2: return t.polar_angle(a[0], a[1]);
    case 3: return t.polar_radius(a[0], a[1]);
    case 4: return t.convolve_red(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    case 5: return t.convolve_green(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    case 6: return t.convolve_blue(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    case 7: return t.slider(a[0]);
    case 8: return t.cos_scaled(a[0]);
    case 9: return t.abs_difference(a[0], a[1]);
    case 10: return t.fetch(a[0]);
    case 11: return t.slider_ramp(a[0], a[1]);
    case 12: return t.maximum(a[0], a[1]);
    case 13: return t.minimum(a[0], a[1]);
    case 14: return t.blend(a[0], a[1], a[2], a[3]);
    case 15: return t.put(a[0], a[1]);
    case 16: return t.src_polar(a[0], a[1], a[2]);
    case 17: return t.random_between(a[0], a[1]);
    case 18: return t.polar_x(a[0], a[1]);
    case 19: return t.polar_y(a[0], a[1]);
    case 20: return t.map_range(a[0], a[1], a[2], a[3], a[4]);
    case 21: return t.sin_scaled(a[0]);
    case 22: return t.square_root(a[0]);
    case 23: return t.src(a[0], a[1], a[2]);
    case 24: return t.subtract_floored(a[0], a[1], a[2]);
    case 25: return t.tangent(a[0]);
    case 26: return t.slider_scaled(a[0], a[1], a[2]);
    case 27: return t.set_hls(a[0], a[1], a[2]);
    case 28: return t.hue_of(a[0], a[1], a[2]);
    case 29: return t.lightness_of(a[0], a[1], a[2]);
    case 30: return t.saturation_of(a[0], a[1], a[2]);
    case 31: return t.dr(a[0], a[1]);
    case 32: return t.dg(a[0], a[1]);
    case 33: return t.db(a[0], a[1]);
    case 34: return t.da(a[0], a[1]);
    case 35: return t.dplane(a[0], a[1], a[2]);
    case 36: return t.input_value(a[0]);
    case 37: return t.set_output(a[0], a[1]);
    case 38: return t.fill_gamma(a[0], a[1], a[2]);
    case 39: return t.sort_range(a[0], a[1] & 0xF); // a long sort per pixel is slow, not wrong
    case 40: return t.src_interpolated(a[0], a[1], a[2], a[3]);
    case 41: return t.random_seed(a[0]);
    case 42: return t.color_component(a[0], a[1]);
    case 43: return t.check(a[0]);
    case 44: return t.power(a[0], a[1], a[2]);
    case 45: return t.angle_resolution(a[0]);
    case 51: return t.reserved_zero(a[0], a[1]);
    case 52: { // a polling loop over a clock that moves: the abort test asks the host or the clock every 10001 calls
        const int32_t n = a[0] & 0x3FFF, step = a[1] & 0xFF;
        int32_t r = 0;
        for (int32_t i = 0; i < n && host.abort_tests < abort_test_budget; ++i, ++host.abort_tests) {
            int32_t& clock = fake_platform.time_of_day_ms; // wraps at midnight, as the day's clock does
            clock = clock >= 0 && clock < 86400000 ? (clock + step) % 86400000
                                                   : static_cast<int32_t>(uint32_t(clock) + uint32_t(step));
            r |= t.test_abort();
        }
        return r;
    }
    default: return 0; // the empty slots 46-50 are never called
    }
}

void test_block(KernelVariables& v, const BuiltinTable& t)
{
    ++stats.walks_with_test_blocks;
    for (const Op& op : program) {
        int32_t a[10];
        for (int i = 0; i < 10; ++i) a[i] = value_of(op.args[i], v);
        const int32_t r = call_slot(t, op.slot, a);
        if (op.dest < slot::count) v.v[op.dest] = r;
    }
}

// Sampling slots, and the state ones that touch module memory, come up most.
uint8_t pick_slot(FuzzedDataProvider& in)
{
    static const uint8_t favoured[] = {4, 5, 6, 10, 15, 16, 23, 23, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 42, 52};
    if (in.ConsumeBool()) return favoured[in.ConsumeIntegralInRange<size_t>(0, sizeof favoured - 1)];
    return static_cast<uint8_t>(in.ConsumeIntegralInRange(0, 52));
}

void make_program(FuzzedDataProvider& in)
{
    program.clear();
    const int n = in.ConsumeIntegralInRange(0, 6);
    for (int k = 0; k < n; ++k) {
        Op op{};
        op.slot = pick_slot(in);
        // Mostly an output channel, sometimes any slot.
        op.dest = static_cast<uint16_t>(in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 3)
                                                         : in.ConsumeIntegralInRange<int>(0, slot::count));
        for (Arg& a : op.args) {
            a.relative = in.ConsumeBool();
            // x and y (slots 11, 12) and the channels are what a block builds on.
            a.var = a.relative ? (in.ConsumeBool() ? uint8_t(11 + in.ConsumeIntegralInRange(0, 1))
                                                   : uint8_t(in.ConsumeIntegralInRange(0, 40)))
                               : 0;
            a.constant = a.relative && in.ConsumeBool() ? in.ConsumeIntegralInRange(-4, 4) : any_value(in);
        }
        program.push_back(op);
    }
}

KernelBlock any_block(FuzzedDataProvider& in, bool main_slot)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return main_slot ? cellumbra_main : nullptr;
    case 1: return nullptr;
    case 2: return cellumbra_main;
    default: return test_block;
    }
}

// ---------------------------------------------------------------- the set-up

FilterDefinition product_definition;

void reset_module()
{
    fake_platform.reset();
    filter_definition = product_definition;
    bind_filter_blocks();
    std::memset(control_values, 0, sizeof control_values);
    control_values[0] = 10;
    reset_state_builtins();
    reset_colour_cache();
    reset_angle_resolution();
    reset_preview_state(preview);
    preview.flags = PreviewFlags{};
    preview.filtering_on = 1;
    run_state.zoom_factor = 1;
    run_state.max_zoom_factor = 16;
    run_state.mode = RunMode::real_run;
    run_state.host_kind = HostKind::unknown;
    parameters_requested = 0;
    run_state.pixel_context = PixelContext{};
    preview.pick_mode = 0;
    preview.pick_target = PickTarget{};
    run_state.filter_record = nullptr;
}

void describe_picture(FuzzedDataProvider& in, Host& h)
{
    FilterRecord& fr = h.record;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 6:
        h.width = in.ConsumeIntegralInRange(-3, 3);
        h.height = in.ConsumeIntegralInRange(-3, 3);
        break;
    case 7:
        h.width = in.ConsumeIntegral<int16_t>();
        h.height = in.ConsumeIntegral<int16_t>();
        break;
    default:
        h.width = in.ConsumeIntegralInRange(1, 64);
        h.height = in.ConsumeIntegralInRange(1, 64);
        break;
    }
    static const int16 plane_counts[] = {3, 3, 3, 4, 4, 1, 2, 5, 0, -1, 8};
    h.planes = rarely(in, 16) ? in.ConsumeIntegral<int16_t>()
                              : plane_counts[in.ConsumeIntegralInRange<size_t>(0, 10)];
    fr.imageSize = Point16{static_cast<int16>(h.height), static_cast<int16>(h.width)};
    fr.planes = static_cast<int16>(h.planes);

    Rect16& f = fr.filterRect;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: f = Rect16{0, 0, static_cast<int16>(h.height), static_cast<int16>(h.width)}; break;
    case 1: { // a selection inside the picture
        const int32_t w = h.width > 0 ? h.width : 1, ht = h.height > 0 ? h.height : 1;
        f.top = static_cast<int16>(in.ConsumeIntegralInRange(0, ht));
        f.left = static_cast<int16>(in.ConsumeIntegralInRange(0, w));
        f.bottom = static_cast<int16>(in.ConsumeIntegralInRange<int32_t>(f.top, ht));
        f.right = static_cast<int16>(in.ConsumeIntegralInRange<int32_t>(f.left, w));
        break;
    }
    case 2:
        f = Rect16{any_coordinate(in, 0), any_coordinate(in, 0), any_coordinate(in, h.height),
                   any_coordinate(in, h.width)};
        break;
    default:
        f = Rect16{in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>(),
                   in.ConsumeIntegral<int16_t>()};
        break;
    }
    h.selection = in.ConsumeBool();
    fr.haveMask = h.selection;

    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: fr.maxSpace = 1 << 30; break;
    case 1: fr.maxSpace = in.ConsumeIntegralInRange(-10, 400); break;
    case 2: fr.maxSpace = in.ConsumeIntegralInRange(0, 20000); break;
    case 3: fr.maxSpace = in.ConsumeBool() ? INT32_MAX : INT32_MIN; break;
    default: fr.maxSpace = in.ConsumeIntegral<int32_t>(); break;
    }
    fr.imageMode = rarely(in, 4) ? in.ConsumeIntegral<int16_t>() : plugInModeRGBColor;
    for (int k = 0; k < 4; ++k) {
        fr.backColor[k] = in.ConsumeIntegral<uint8_t>();
        fr.foreColor[k] = in.ConsumeIntegral<uint8_t>();
    }
    h.platform.hwnd = static_cast<intptr_t>(in.ConsumeIntegral<uint32_t>());
    fr.platformData = rarely(in, 4) ? nullptr : &h.platform;
    fr.isFloating = rarely(in, 4);
    fr.inLayerPlanes = static_cast<int16>(in.ConsumeIntegralInRange(0, 1));
    fr.inTransparencyMask = static_cast<int16>(in.ConsumeIntegralInRange(0, 1));

    // Absent callbacks stand for a host that does not offer them.
    const uint8_t present = in.ConsumeIntegral<uint8_t>();
    fr.advanceState = (present & 0x07) == 0x07 ? nullptr : host_advance_state;
    fr.abortProc = (present & 0x18) == 0x18 ? nullptr : host_abort;
    fr.progressProc = (present & 0x60) == 0x60 ? nullptr : host_progress;
    fr.displayPixels = (present & 0x80) ? nullptr : host_display;
    fr.colorServices = in.ConsumeBool() ? host_colour_services : nullptr;

    Schedule& s = schedule;
    s = Schedule{};
    if (rarely(in, 3)) {
        s.cancel_at = in.ConsumeIntegralInRange(1, 200);
        s.cancel_value = in.ConsumeIntegral<uint8_t>();
    }
    if (rarely(in, 4)) s.abort_hand_over_at = in.ConsumeIntegralInRange(1, 100);
    if (rarely(in, 4)) s.progress_hand_over_at = in.ConsumeIntegralInRange(1, 100);
    if (rarely(in, 4)) s.display_failures = in.ConsumeIntegral<uint8_t>();
}

void describe_filter(FuzzedDataProvider& in)
{
    FilterDefinition& d = filter_definition;
    if (in.ConsumeBool()) {
        for (auto& row : d.variable_use_flags)
            for (unsigned char& flag : row) flag = rarely(in, 8);
    }
    d.centre_pick = in.ConsumeBool();
    if (in.ConsumeBool()) {
        d.stored_centre[0] = any_value(in);
        d.stored_centre[1] = any_value(in);
    }
    // The definition is the product's own data, not the host's: a size of
    // gigabytes is no case to meet, and the failed allocation is covered.
    d.put_array_size = rarely(in, 4) ? in.ConsumeIntegralInRange(-3, 5000) : 256;
    d.colour_count = in.ConsumeIntegralInRange(-1, 9);
    for (uint32_t& c : d.custom_colours) c = in.ConsumeIntegral<uint32_t>();
    for (int k = 0; k < 8; ++k)
        control_values[k] = rarely(in, 4) ? any_value(in) : in.ConsumeIntegralInRange(1, 100);
    control_values[14] = in.ConsumeIntegralInRange(0, 1);
    control_values[15] = in.ConsumeIntegralInRange(0, 1);

    if (in.ConsumeIntegralInRange(0, 2) != 0) {
        make_program(in);
        kernel_blocks[0] = any_block(in, true);
        kernel_blocks[1] = any_block(in, false);
        kernel_blocks[2] = any_block(in, false);
        kernel_blocks[3] = any_block(in, false);
    }
}

// ---------------------------------------------------------------- the preview

struct Canvas final : PreviewCanvas {
    bool crossed = false;
    void* device_context() override { return this; }
    void fill_grey(int32_t, int32_t, int32_t, int32_t) override {}
    void draw_line(PreviewPen pen, int32_t, int32_t, int32_t, int32_t) override { crossed |= pen == PreviewPen::white; }
};

int32_t client_extent(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 4: return in.ConsumeIntegralInRange(-3, 3);
    case 5: return any_value(in);
    default: return 80 - in.ConsumeIntegralInRange(0, 79);
    }
}

void paint(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 4: run_state.zoom_factor = any_value(in); break;
    case 5: break; // as it stands
    default: run_state.zoom_factor = in.ConsumeIntegralInRange(1, 8); break;
    }
    if (in.ConsumeBool()) {
        preview.pan_x = in.ConsumeBool() ? any_value(in) : in.ConsumeIntegralInRange(-5, 70);
        preview.pan_y = in.ConsumeBool() ? any_value(in) : in.ConsumeIntegralInRange(-5, 70);
    }
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    preview.flags.kernel_enabled = (flags & 1) == 0;
    preview.filtering_on = (flags & 2) == 0;
    const int16_t filtered = (flags & 4) == 0;
    fake_platform.time_of_day_ms = rarely(in, 8) ? any_value(in) : 43200000;
    const int32_t w = client_extent(in), h = client_extent(in);
    Canvas canvas;
    ++stats.paints;
    const int32_t displays = schedule.display_calls;
    render_preview(preview, canvas, w, h, filtered);
    if (schedule.display_calls - displays == 2) ++stats.filtered_paints;
    stats.stopped_paints += canvas.crossed;
    if (run_state.mode != RunMode::real_run) finding("a rendering left the run state behind");
}

// The parameters dialog: a few paints, picks and area hand-backs, then OK,
// Cancel or a dialog that could not be created.
int32_t fake_dialog(FuzzedDataProvider& in)
{
    const int steps = in.ConsumeIntegralInRange(0, 5);
    for (int k = 0; k < steps; ++k) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 4: clear_area_request(); break;
        case 5:
            preview.pick_target.index = in.ConsumeIntegralInRange(-2, 9);
            take_picked_colour(preview, any_value(in), any_value(in));
            break;
        case 6: pick_effect_centre(preview, any_value(in), any_value(in)); break;
        case 7: choose_colour_with_host(in.ConsumeIntegralInRange(-2, 9)); break;
        default: paint(in); break;
        }
    }
    if (steps > 0 && in.ConsumeBool()) clear_area_request();
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 6: return 0;
    case 7: return -1;
    default: return 1;
    }
}

// By the record as it stands: an earlier command may have met a host that
// rewrote it.
bool usable_picture(const FilterRecord& fr)
{
    const Rect16 f = fr.filterRect;
    const int32_t w = fr.imageSize.h, h = fr.imageSize.v;
    return w >= 1 && h >= 1 && fr.planes >= 1 && 0 <= f.left && f.left <= f.right && f.right <= w && 0 <= f.top &&
           f.top <= f.bottom && f.bottom <= h;
}

// One start selector: the result must be one the plug-in defines or one the
// host answered with; an honest host without a cancel gets a whole run.
void run_start(FuzzedDataProvider& in)
{
    Host& h = host;
    int32_t dialog_result = 1;
    fake_platform.on_dialog = [&in, &dialog_result]() { return dialog_result = fake_dialog(in); };
    h.last_done = 0;
    // Each command is judged by its own answers.
    h.honest = h.record.advanceState != nullptr;
    h.cancelled = false;
    intptr_t data = 0;
    int16 result = 12345;
    const bool result_cell = !rarely(in, 8);
    dispatch_selector(filterSelectorStart, &h.record, &data, result_cell ? &result : nullptr);
    digest.add(result);
    ++stats.starts;
    if (!result_cell) return;
    stats.successes += result == noErr;
    stats.honest_successes += result == noErr && h.honest;
    stats.cancels += result == userCanceledErr;
    stats.bad_parameters += result == filterBadParameters;
    stats.bad_mode += result == filterBadMode;
    stats.host_codes += h.codes.count(result) != 0 && result != filterBadParameters && result != userCanceledErr;
    const bool known = result == noErr || result == userCanceledErr || result == filterBadParameters ||
                       result == filterBadMode || h.codes.count(result);
    if (!known) finding("the start selector answered a code nobody gave");
    const Rect16 none{0, 0, 0, 0};
    const FilterRecord& fr = h.record;
    if (result == noErr && (std::memcmp(&fr.inRect, &none, sizeof none) ||
                            std::memcmp(&fr.outRect, &none, sizeof none) ||
                            std::memcmp(&fr.maskRect, &none, sizeof none)))
        finding("a finished run left areas requested");
    const bool rgb = fr.imageMode == plugInModeRGBColor && fr.planes >= 3;
    if (h.honest && !h.cancelled && dialog_result != 0 && usable_picture(fr) && rgb && result != noErr)
        finding("an honest host's run did not succeed");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    product_definition = filter_definition;
    if (std::getenv("ENGINE_FUZZ_STATS")) std::atexit(print_stats);
    return 0;
}

namespace {

// The product's block bound as the product binds it, counted.
int16_t counting_walk(const BandWalk& walk)
{
    ++stats.bound_walks;
    return cellumbra_main_walk(walk);
}

// One run of the input: the digest of what the host saw.
uint64_t run_input(const uint8_t* data, size_t size, bool through_table)
{
    FuzzedDataProvider in(data, size);
    digest = Digest{};
    reset_module();
    kernel_binding.bound[0] = through_table ? BoundBlock{} : BoundBlock{cellumbra_main, counting_walk};
    host = Host{};
    host.in = &in;
    host.seed = in.ConsumeIntegral<uint32_t>();
    describe_picture(in, host);
    describe_filter(in);
    if (in.ConsumeBool()) fake_platform.executable_path = "C:\\Apps\\PhotoPnt.exe";
    fake_platform.fail_allocations = rarely(in, 16); // no put array
    fake_platform.time_of_day_ms = 43200000;

    // Selectors a host may send first, in any order and with any cells.
    const int before = in.ConsumeIntegralInRange(0, 3);
    for (int k = 0; k < before; ++k) {
        intptr_t cell = in.ConsumeBool() ? 0 : 77;
        const int16 selector =
            rarely(in, 8) ? in.ConsumeIntegral<int16_t>() : static_cast<int16>(in.ConsumeIntegralInRange(0, 5));
        // A start without a record only; with one it comes below.
        const bool no_record = rarely(in, 4);
        if (selector == filterSelectorStart && !no_record) continue;
        int16 result = 1;
        const bool result_cell = in.ConsumeBool();
        dispatch_selector(selector, no_record ? nullptr : &host.record, in.ConsumeBool() ? &cell : nullptr,
                          result_cell ? &result : nullptr);
        if (no_record && selector == filterSelectorStart && result_cell && result != filterBadParameters)
            finding("a start without a record did not refuse");
    }

    run_start(in);
    // A host may repeat the command, and paint a preview when the dialog is gone.
    if (rarely(in, 4)) run_start(in);
    if (rarely(in, 4)) paint(in);
    if (in.ConsumeBool()) {
        preview.pick_target.index = in.ConsumeIntegralInRange(-1, 8);
        take_picked_colour(preview, any_value(in), any_value(in));
    }

    fake_platform.on_dialog = nullptr;
    run_state.filter_record = nullptr;
    reset_state_builtins();
    host.take_back(host.current);
    for (const Delivery& d : host.graveyard) host.take_back(d);
    return digest.hash;
}

} // namespace

namespace {

// The picture after the product's run at this maxSpace on an honest host.
std::vector<unsigned char> cells_at(int32_t width, int32_t height, int32_t planes, const Rect16* selected,
                                    int32_t max_space, int16& result)
{
    FakeHost h(width, height, planes);
    if (selected) {
        h.select(*selected, 200);
        for (size_t i = 0; i < h.selection.size(); i += 7) h.selection[i] = 0; // holes
    }
    h.record.maxSpace = max_space;
    result = h.run();
    return h.picture;
}

void compare_with_one_band(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    reset_module();
    parameters_requested = 0; // the dialog accepts at once with the controls below
    const int32_t width = in.ConsumeIntegralInRange(1, 64), height = in.ConsumeIntegralInRange(1, 64);
    const int32_t planes = in.ConsumeBool() ? 3 : 4;
    control_values[0] = in.ConsumeIntegralInRange(1, 100);
    run_state.split_min_pixels = in.ConsumeBool() ? 0 : default_split_min_pixels;
    KernelReach reach{};
    if (!kernel_binding.reach || !kernel_binding.reach(control_values, reach)) return;
    Rect16 area{};
    const bool selected = in.ConsumeBool();
    if (selected) {
        area.top = int16(in.ConsumeIntegralInRange(0, height));
        area.left = int16(in.ConsumeIntegralInRange(0, width));
        area.bottom = int16(in.ConsumeIntegralInRange<int32_t>(area.top, height));
        area.right = int16(in.ConsumeIntegralInRange<int32_t>(area.left, width));
    }
    const int32_t max_space = in.ConsumeIntegralInRange(0, 64 * 10 * 68);
    int16 banded_result = 0, whole_result = 0;
    const std::vector<unsigned char> banded =
        cells_at(width, height, planes, selected ? &area : nullptr, max_space, banded_result);
    const std::vector<unsigned char> whole =
        cells_at(width, height, planes, selected ? &area : nullptr, 1 << 30, whole_result);
    if (banded_result != noErr || whole_result != noErr) finding("an honest host's banded run did not succeed");
    const bool warned = !fake_platform.boxes.empty();
    if (banded != whole && !warned) finding("bands that hold the kernel's reach gave another picture than one band");
    run_state.split_min_pixels = default_split_min_pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ++stats.inputs;
    const uint64_t bound = run_input(data, size, false);
    const Stats counted = stats; // figures of the first run only
    const uint64_t table = run_input(data, size, true);
    stats = counted;
    if (bound != table) finding("the bound block and its table entry gave the host different results");
    compare_with_one_band(data, size);
    return 0;
}
