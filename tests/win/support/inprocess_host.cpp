#include "win/support/inprocess_host.h"

#include "win/support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "base/rect.h"
#include "win/support/dialog_driver.h"

namespace wintest {

// More than either record takes in any layout (72 and 56 bytes in 64 bits).
// The records lie on the plug-in's stack, so the bytes past a short one are
// still readable.
const size_t raw_record_bytes = 96;
const size_t raw_stack_reach = 256;

InProcessHost& in_process_host()
{
    static InProcessHost host;
    return host;
}

void InProcessHost::reset(int w, int h, const std::function<void(int x, int y, unsigned char* rgb)>& paint)
{
    width = w;
    height = h;
    source.resize(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) paint(x, y, &source[(size_t(y) * width + x) * 3]);
    result = source;
    {
        std::lock_guard<std::mutex> g(lock_);
        requests_.clear();
        displays_.clear();
    }
    in_buffer_.clear();
    out_buffer_.clear();
    served_out_ = Rect16{};
    served_factor_ = 0;
    in_padding = out_padding = 0;
    fail_code = 0;
    colour_calls = 0;
    colour_seen = ColorServicesInfo{};
    prompt_seen.clear();
    raw = RawRecords{};
    mask_data = nullptr;
    record = FilterRecord{};
    platform = PlatformData{};
    record.imageSize.h = int16(width);
    record.imageSize.v = int16(height);
    record.planes = 3;
    record.filterRect = Rect16{0, 0, int16(height), int16(width)};
    record.maxSpace = 64 << 20;
    record.imageMode = plugInModeRGBColor;
    record.platformData = &platform;
    record.inputRate = record.maskRate = 1 << 16;
    record.advanceState = &advance_state;
    record.displayPixels = &display_pixels;
    record.colorServices = &colour_services;
    record.abortProc = [](void) -> Boolean { return 0; };
    record.progressProc = [](int32, int32) {};
    record.supportsPadding = 1;
}

void InProcessHost::load(const char* file)
{
    plugin = LoadLibraryA(file);
    ASSERT_NE(plugin, nullptr) << file << " must lie below the working directory, the build folder";
    entry = reinterpret_cast<EntryPoint>(GetProcAddress(plugin, "ENTRYPOINT"));
    ASSERT_NE(entry, nullptr);
}

void InProcessHost::unload()
{
    if (plugin) FreeLibrary(plugin);
    plugin = nullptr;
    entry = nullptr;
}

int16 InProcessHost::run_command(bool parameters, const char* caption,
                                 const std::function<void(const std::atomic<bool>& done)>& user)
{
    int16 result_code = 0;
    intptr_t data = 0;
    if (parameters) entry(filterSelectorParameters, &record, &data, &result_code);
    entry(filterSelectorPrepare, &record, &data, &result_code);
    std::atomic<bool> done{false};
    std::thread user_thread([&] {
        user(done);
        wait_until([&] {
            if (HWND left = FindWindowA("#32770", caption)) PostMessageA(left, WM_COMMAND, IDCANCEL, 0);
            return bool(done);
        }, 10000);
    });
    int16 start_result = 0;
    entry(filterSelectorStart, &record, &data, &start_result);
    done = true;
    user_thread.join();
    take_back_output();
    entry(filterSelectorFinish, &record, &data, &result_code);
    return start_result;
}

std::string InProcessHost::prompt_text() const
{
    return prompt_seen.empty() ? std::string() : prompt_seen.substr(1);
}

Rect16 InProcessHost::last_request()
{
    std::lock_guard<std::mutex> g(lock_);
    return requests_.empty() ? Rect16{} : requests_.back();
}

std::vector<DWORD> InProcessHost::filtered_since(DWORD since)
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<DWORD> times;
    for (size_t i = 1; i < displays_.size(); ++i)
        if (displays_[i].paint == displays_[i - 1].paint && displays_[i].at >= since) times.push_back(displays_[i].at);
    return times;
}

std::vector<Display> InProcessHost::displays_copy()
{
    std::lock_guard<std::mutex> g(lock_);
    return displays_;
}

// Planes lo..hi of the area, each pixel sampled at `factor` and clamped into
// the picture; nothing for an empty area or planes the picture lacks.
void InProcessHost::serve(const Rect16& r, int lo, int hi, int factor, int padding, std::vector<unsigned char>& buffer,
                          void*& data, int32& row_bytes)
{
    const int rows = r.bottom - r.top, cols = r.right - r.left, planes = hi - lo + 1;
    if (rows <= 0 || cols <= 0 || planes <= 0 || lo < 0 || hi > 2) {
        buffer.clear();
        data = nullptr;
        row_bytes = 0;
        return;
    }
    row_bytes = cols * planes + padding;
    buffer.assign(size_t(rows) * row_bytes, 0);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int sx = (r.left + x) * factor, sy = (r.top + y) * factor;
            sx = sx < 0 ? 0 : (sx >= width ? width - 1 : sx);
            sy = sy < 0 ? 0 : (sy >= height ? height - 1 : sy);
            for (int p = 0; p < planes; ++p)
                buffer[size_t(y) * row_bytes + size_t(x) * planes + p] = source[(size_t(sy) * width + sx) * 3 + lo + p];
        }
    data = buffer.data();
}

// The output of a full-rate request goes into the result when the next
// request comes (or the command ends).
void InProcessHost::take_back_output()
{
    if (served_factor_ != 1 || out_buffer_.empty()) return;
    const Rect16 r = served_out_;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            for (int p = 0; p < served_planes_ && p < 3; ++p)
                if (x >= 0 && y >= 0 && x < width && y < height)
                    result[(size_t(y) * width + x) * 3 + p] =
                        out_buffer_[size_t(y - r.top) * served_out_row_bytes_ + size_t(x - r.left) * served_planes_ + p];
    out_buffer_.clear();
}

OSErr PS_CDECL InProcessHost::advance_state()
{
    InProcessHost& host = in_process_host();
    FilterRecord& r = host.record;
    host.take_back_output();
    const bool empty = is_empty(r.inRect);
    if (!empty) {
        std::lock_guard<std::mutex> g(host.lock_);
        host.requests_.push_back(r.inRect);
    }
    if (host.fail_code != 0 && !empty) {
        host.in_buffer_.clear();
        host.out_buffer_.clear();
        r.inData = r.outData = nullptr;
        return OSErr(host.fail_code.load());
    }
    const int factor = r.inputRate >> 16 < 1 ? 1 : r.inputRate >> 16;
    host.serve(r.inRect, r.inLoPlane, r.inHiPlane, factor, host.in_padding, host.in_buffer_, r.inData,
               r.inRowBytes);
    host.serve(r.outRect, r.outLoPlane, r.outHiPlane, factor, host.out_padding, host.out_buffer_, r.outData,
               r.outRowBytes);
    host.served_out_ = r.outRect;
    host.served_planes_ = r.outHiPlane - r.outLoPlane + 1;
    host.served_factor_ = factor;
    host.served_out_row_bytes_ = r.outRowBytes;
    r.maskData = host.mask_data;
    return noErr;
}

OSErr PS_CDECL InProcessHost::display_pixels(const PSPixelMap* map, const VRect* area, int32 row, int32 column,
                                             void* context)
{
    InProcessHost& host = in_process_host();
    {
        std::lock_guard<std::mutex> g(host.lock_);
        host.displays_.push_back(Display{GetTickCount(), int(host.requests_.size())});
    }
    if (map && host.raw.pixel_map.empty()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(map);
        host.raw.pixel_map.assign(bytes, bytes + raw_record_bytes);
        // The mask a floating selection's map points to lies beside the map on
        // the plug-in's stack and is gone after the call: keep the stack around it.
        host.raw.around_map.assign(bytes - raw_stack_reach, bytes + raw_stack_reach);
        host.raw.pixel_map_at = reinterpret_cast<uintptr_t>(map);
        host.raw.area_at = reinterpret_cast<uintptr_t>(area);
        const FilterRecord& r = host.record;
        host.raw.out_data = reinterpret_cast<uintptr_t>(r.outData);
        host.raw.out_row_bytes = r.outRowBytes;
        host.raw.out_planes = r.outHiPlane - r.outLoPlane + 1;
        host.raw.image_mode = r.imageMode;
        host.raw.mask_data = reinterpret_cast<uintptr_t>(r.maskData);
        host.raw.mask_row_bytes = r.maskRowBytes;
        const int32_t rect[4] = {r.outRect.top, r.outRect.left, r.outRect.bottom, r.outRect.right};
        std::copy(rect, rect + 4, host.raw.out_rect);
    }
    if (!map || !area || !map->baseAddr || !context) return noErr;
    const int w = area->right - area->left, h = area->bottom - area->top;
    if (w <= 0 || h <= 0) return noErr;
    std::vector<unsigned char> bgr(size_t(w) * h * 4);
    const auto* base = static_cast<const unsigned char*>(map->baseAddr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* px = base + size_t(area->top - map->bounds.top + y) * map->rowBytes +
                                      size_t(area->left - map->bounds.left + x) * map->colBytes;
            unsigned char* out = &bgr[(size_t(y) * w + x) * 4];
            out[0] = px[2 * map->planeBytes];
            out[1] = px[map->planeBytes];
            out[2] = px[0];
            out[3] = 0;
        }
    const BITMAPINFO info = bgra_bitmap_info(w, h);
    SetDIBitsToDevice(static_cast<HDC>(context), column, row, w, h, 0, 0, 0, h, bgr.data(), &info, DIB_RGB_COLORS);
    return noErr;
}

OSErr PS_CDECL InProcessHost::colour_services(ColorServicesInfo* info)
{
    InProcessHost& host = in_process_host();
    ++host.colour_calls;
    if (!info) return noErr;
    if (host.raw.colour_info.empty()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(info);
        host.raw.colour_info.assign(bytes, bytes + raw_record_bytes);
    }
    host.colour_seen = *info;
    if (const unsigned char* p = info->selectorParameter.pickerPrompt)
        host.prompt_seen.assign(reinterpret_cast<const char*>(p), size_t(p[0]) + 1);
    info->colorComponents[0] = 255;
    info->colorComponents[1] = 0;
    info->colorComponents[2] = 0;
    return noErr;
}

} // namespace wintest
