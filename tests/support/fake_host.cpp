#include "support/fake_host.h"

#include <cstring>
#include <thread>

#include "base/rect.h"
#include "runtime/definition.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"

namespace {

FakeHost* active_host;
std::thread::id host_thread;

// Every callback comes on the thread that made the host.
void note_thread()
{
    if (std::this_thread::get_id() != host_thread) ++active_host->foreign_thread_calls;
}

OSErr PS_CDECL fake_advance_state()
{
    note_thread();
    return active_host->deliver();
}

Boolean PS_CDECL fake_abort()
{
    note_thread();
    FakeHost& host = *active_host;
    ++host.abort_calls;
    return host.abort_from_call > 0 && host.abort_calls >= host.abort_from_call ? 1 : 0;
}

void PS_CDECL fake_progress(int32 done, int32 total)
{
    note_thread();
    active_host->progress.emplace_back(done, total);
    if (active_host->on_progress) active_host->on_progress(active_host->record);
}

bool inside_picture(const Rect16& r, int32_t width, int32_t height)
{
    return r.top >= 0 && r.left >= 0 && r.bottom <= height && r.right <= width;
}

} // namespace

FakeHost::FakeHost(int32_t w, int32_t h, int32_t p) : width(w), height(h), planes(p)
{
    source.resize(size_t(w) * size_t(h) * size_t(p));
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>((i * 7 + i / 13) & 0xFF);
    picture = source;
    record.imageSize = Point16{static_cast<int16>(h), static_cast<int16>(w)};
    record.planes = static_cast<int16>(p);
    record.filterRect = Rect16{0, 0, static_cast<int16>(h), static_cast<int16>(w)};
    record.maxSpace = 1 << 30;
    record.imageMode = p >= 3 ? plugInModeRGBColor : plugInModeGrayScale;
    record.advanceState = fake_advance_state;
    record.abortProc = fake_abort;
    record.progressProc = fake_progress;
    platform_data.hwnd = 0x1234;
    record.platformData = &platform_data;
    const unsigned char back[4] = {10, 20, 30, 0}, fore[4] = {200, 210, 220, 0};
    std::memcpy(record.backColor, back, 4);
    std::memcpy(record.foreColor, fore, 4);
    active_host = this;
    host_thread = std::this_thread::get_id();
}

FakeHost::~FakeHost()
{
    if (active_host == this) active_host = nullptr;
    if (run_state.filter_record == &record) run_state.filter_record = nullptr;
}

void FakeHost::select(Rect16 area, unsigned char value)
{
    selection.assign(size_t(width) * size_t(height), 0);
    for (int32_t r = area.top; r < area.bottom; ++r)
        for (int32_t c = area.left; c < area.right; ++c) selection[size_t(r) * size_t(width) + size_t(c)] = value;
    record.filterRect = area;
    record.haveMask = 1;
}

int16 FakeHost::run()
{
    active_host = this;
    intptr_t data = 0;
    int16 result = 0;
    dispatch_selector(filterSelectorStart, &record, &data, &result);
    take_back_output();
    return result;
}

void FakeHost::take_back_output()
{
    if (!out_buffer) return;
    const Rect16 o = delivered_out;
    const int32_t count = delivered_out_hi - delivered_out_lo + 1;
    for (int32_t r = o.top; r < o.bottom; ++r)
        for (int32_t c = o.left; c < o.right; ++c)
            for (int32_t z = 0; z < count; ++z)
                picture[offset(r, c) + size_t(delivered_out_lo + z)] =
                    out_buffer[size_t(r - o.top) * size_t(delivered_out_row_bytes) + size_t(c - o.left) * size_t(count) +
                               size_t(z)];
}

OSErr FakeHost::deliver()
{
    FilterRecord& fr = record;
    take_back_output();
    const OSErr answer = int(requests.size()) == fail_at ? fail_code : noErr;
    requests.push_back(Request{fr.inRect, fr.outRect, fr.maskRect, fr.inLoPlane, fr.inHiPlane, fr.outLoPlane,
                               fr.outHiPlane, fr.inputRate, fr.maskRate, answer});
    if (answer != noErr && fail_keeps_buffers) return answer; // stale buffers, rectangles of the new band
    in_buffer.reset();
    out_buffer.reset();
    mask_buffer.reset();
    fr.inData = fr.outData = fr.maskData = nullptr;
    if (answer != noErr) return answer;

    // Input: the asked planes of the source; output: those of the host's
    // picture as it stands.
    fr.inData = copy_planes(fr.inRect, fr.inLoPlane, fr.inHiPlane, source, in_buffer, fr.inRowBytes);
    fr.outData = copy_planes(fr.outRect, fr.outLoPlane, fr.outHiPlane, picture, out_buffer, fr.outRowBytes);
    if (fr.outData) {
        delivered_out = fr.outRect;
        delivered_out_lo = fr.outLoPlane;
        delivered_out_hi = fr.outHiPlane;
        delivered_out_row_bytes = fr.outRowBytes;
    }

    // Mask: one byte per pixel of the selection, only when there is one.
    const Rect16 m = fr.maskRect;
    fr.maskRowBytes = 0;
    if (!selection.empty() && !is_empty(m) && inside_picture(m, width, height)) {
        fr.maskRowBytes = (m.right - m.left) + row_padding;
        mask_buffer.reset(new unsigned char[size_t(m.bottom - m.top) * size_t(fr.maskRowBytes)]);
        for (int32_t r = m.top; r < m.bottom; ++r)
            for (int32_t c = m.left; c < m.right; ++c)
                mask_buffer[size_t(r - m.top) * size_t(fr.maskRowBytes) + size_t(c - m.left)] =
                    selection[size_t(r) * size_t(width) + size_t(c)];
        fr.maskData = mask_buffer.get();
    }
    if (tamper) tamper(fr);
    return noErr;
}

unsigned char* FakeHost::copy_planes(const Rect16& area, int16 lo, int16 hi, const std::vector<unsigned char>& from,
                                     std::unique_ptr<unsigned char[]>& buffer, int32& row_bytes)
{
    const int32_t count = hi - lo + 1;
    row_bytes = 0;
    if (is_empty(area) || !inside_picture(area, width, height) || count <= 0 || lo < 0 || hi >= planes)
        return nullptr;
    row_bytes = (area.right - area.left) * count + row_padding;
    buffer.reset(new unsigned char[size_t(area.bottom - area.top) * size_t(row_bytes)]);
    for (int32_t r = area.top; r < area.bottom; ++r)
        for (int32_t c = area.left; c < area.right; ++c)
            for (int32_t z = 0; z < count; ++z)
                buffer[size_t(r - area.top) * size_t(row_bytes) + size_t(c - area.left) * size_t(count) + size_t(z)] =
                    from[offset(r, c) + size_t(lo + z)];
    return buffer.get();
}

std::vector<int32_t> FakeHost::requested_band_tops() const
{
    std::vector<int32_t> tops;
    for (const Request& r : requests)
        if (!is_empty(r.in)) tops.push_back(r.in.top);
    return tops;
}

struct ScopedModuleState::Saved {
    FilterDefinition definition;
    KernelBlock blocks[4];
    KernelBinding binding;
    RunState run;
    int32_t requested;
};

ScopedModuleState::ScopedModuleState() : saved_(new Saved)
{
    Saved& s = *saved_;
    s.definition = filter_definition;
    std::memcpy(s.blocks, kernel_blocks, sizeof s.blocks);
    s.binding = kernel_binding;
    s.run = run_state;
    s.requested = parameters_requested;
}

ScopedModuleState::~ScopedModuleState()
{
    const Saved& s = *saved_;
    filter_definition = s.definition;
    std::memcpy(kernel_blocks, s.blocks, sizeof s.blocks);
    kernel_binding = s.binding;
    run_state = s.run;
    parameters_requested = s.requested;
}
