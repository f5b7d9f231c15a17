#include "refhost/area_server.h"
#include "refhost/block_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

// ------------------------------------------------------------------ buffers

namespace {
bool buffers_high = false;

double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Adds the time from its making to its end to a field of AreaTimes, when
// times are kept.
class Timed {
public:
    Timed(AreaTimes* times, double AreaTimes::*field)
        : times_(times), field_(field), start_(times != nullptr ? seconds_now() : 0)
    {
    }
    ~Timed()
    {
        if (times_ != nullptr)
            times_->*field_ += seconds_now() - start_;
    }

private:
    AreaTimes* times_;
    double AreaTimes::*field_;
    double start_;
};
} // namespace

void place_buffers_high(bool high)
{
    buffers_high = high;
}

uint64_t high_buffer_floor()
{
    return sizeof(void*) == 8 ? uint64_t(4) << 30 : uint64_t(2) << 30;
}

bool HostBuffer::allocate(size_t bytes)
{
    reset();
    if (bytes == 0)
        return true;
#if defined(_WIN32)
    const size_t page = block_pool::page_size();
    const size_t body = (bytes + page - 1) / page * page;
    if (body < bytes || body + page < body)
        return false;
    size_t capacity = 0;
    void* block = block_pool::take(body + page, capacity, buffers_high, buffers_high ? high_buffer_floor() : 0);
    if (block == nullptr)
        return false;
    if (buffers_high && uintptr_t(block) < high_buffer_floor()) {
        // A run that claims to test high addresses must not quietly use low ones.
        std::fprintf(stderr, "filterhost: no room for a buffer above %u GiB (is the host large-address-aware?)\n",
                     unsigned(high_buffer_floor() >> 30));
        block_pool::give(block, capacity);
        return false;
    }
    DWORD old_protect = 0;
    VirtualProtect(static_cast<unsigned char*>(block) + body, page, PAGE_NOACCESS, &old_protect);
    block_ = block;
    block_size_ = capacity;
    data_ = static_cast<unsigned char*>(block) + (body - bytes);
#else
    unsigned char* block = new (std::nothrow) unsigned char[bytes];
    if (block == nullptr)
        return false;
    block_ = block;
    block_size_ = bytes;
    data_ = block;
#endif
    size_ = bytes;
    return true;
}

void HostBuffer::reset()
{
    if (block_ != nullptr) {
#if defined(_WIN32)
        // Inaccessible in the pool, guard page and all, as a freed block is.
        block_pool::give(block_, block_size_);
#else
        delete[] static_cast<unsigned char*>(block_);
#endif
    }
    block_ = nullptr;
    block_size_ = 0;
    data_ = nullptr;
    size_ = 0;
}

void HostBuffer::swap(HostBuffer& other) noexcept
{
    std::swap(block_, other.block_);
    std::swap(block_size_, other.block_size_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
}

// ------------------------------------------------------------------ serving

AreaServer::AreaServer(const Picture& source, Picture& destination, const Picture* selection)
    : source_(source), destination_(destination), selection_(selection)
{
}

int32 AreaServer::sampling_factor(Fixed rate)
{
    int32 factor = rate >> 16;
    return factor < 1 ? 1 : factor;
}

// Copies `pixels` pixels of `count` bytes, taken `step` bytes apart, to
// `dst` packed: one copy when they lie packed in the picture too (all its
// planes at factor 1), else a pixel at a time without a call for each.
static void copy_pixels(unsigned char* dst, const unsigned char* src, int32 pixels, int32 count, size_t step)
{
    if (pixels <= 0)
        return;
    if (step == size_t(count)) {
        std::memcpy(dst, src, size_t(pixels) * size_t(count));
        return;
    }
    for (int32 i = 0; i < pixels; ++i, dst += count, src += step)
        for (int32 p = 0; p < count; ++p)
            dst[p] = src[p];
}

// Fills `result` with the area `rect` of `from` seen at `factor` (pixel (x, y)
// of the reduced picture is pixel (x * factor, y * factor) of `from`), planes
// lo..hi. Beyond the reduced picture the plug-in's padding choice decides:
// a pad value or edge replication delivers the whole area; otherwise the area
// is cut to the picture and `rect` tells the plug-in what it got.
OSErr AreaServer::deliver(const Picture& from, Rect16& rect, int32 lo, int32 hi, int32 factor, int16 padding,
                          Delivery& result, double AreaTimes::*copy_time) const
{
    result = Delivery();
    result.factor = factor;
    if (empty(rect))
        return noErr;
    if (lo < 0 || hi >= from.planes || lo > hi)
        return paramErr;

    const int32 reduced_w = (from.width + factor - 1) / factor;
    const int32 reduced_h = (from.height + factor - 1) / factor;
    const bool beyond = rect.left < 0 || rect.top < 0 || rect.right > reduced_w || rect.bottom > reduced_h;
    const bool padded = padding >= 0 || padding == plugInWantsEdgeReplication;
    if (beyond && padding == plugInWantsErrorOnBoundsException)
        return paramErr;
    if (beyond && !padded) {
        rect.left = int16(std::max<int32>(rect.left, 0));
        rect.top = int16(std::max<int32>(rect.top, 0));
        rect.right = int16(std::min<int32>(rect.right, reduced_w));
        rect.bottom = int16(std::min<int32>(rect.bottom, reduced_h));
        if (empty(rect))
            return noErr;
    }

    const int32 width = rect.right - rect.left;
    const int32 height = rect.bottom - rect.top;
    const int32 count = hi - lo + 1;
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * uint64_t(count);
    if (bytes > max_request_bytes)
        return memFullErr;
    {
        Timed timed(times, &AreaTimes::allocation);
        if (!result.buffer.allocate(size_t(bytes)))
            return memFullErr;
    }
    if (times != nullptr && bytes > 0) {
        Timed timed(times, &AreaTimes::first_touch);
        unsigned char* data = result.buffer.data();
        const size_t end = result.buffer.size();
        for (size_t at = 0; at < end; at += 4096)
            data[at] = 0;
        data[end - 1] = 0;
    }
    Timed timed(times, copy_time);
    result.rect = rect;
    result.row_bytes = width * count;
    result.lo_plane = lo;
    result.plane_count = count;

    const unsigned char pad = static_cast<unsigned char>(padding >= 0 ? padding & 0xFF : 0);
    // Columns of the area that lie inside the reduced picture; those left and
    // right of them are padding or repeat the edge pixel.
    const int32 inner_left = std::min<int32>(std::max<int32>(rect.left, 0), rect.right);
    const int32 inner_right = std::max<int32>(std::min<int32>(rect.right, reduced_w), inner_left);
    const size_t from_row_bytes = from.row_bytes();
    const size_t step = size_t(factor) * size_t(from.planes); // bytes between pixels taken
    // All on this thread: under Wine two threads that touch new pages side by
    // side took four times as long as one (measured), though natively they
    // take half.
    for (int32 y = rect.top; y < rect.bottom; ++y) {
        unsigned char* dst = result.buffer.data() + size_t(y - rect.top) * size_t(result.row_bytes);
        int32 ry = y;
        if (y < 0 || y >= reduced_h) {
            if (padding >= 0) {
                std::memset(dst, pad, size_t(result.row_bytes));
                continue;
            }
            ry = std::min(std::max(y, 0), reduced_h - 1);
        }
        const unsigned char* row = from.pixels.data() + size_t(ry) * size_t(factor) * from_row_bytes + size_t(lo);
        // Left of the picture, inside it, right of it.
        const size_t left_bytes = size_t(inner_left - rect.left) * size_t(count);
        const size_t inner_bytes = size_t(inner_right - inner_left) * size_t(count);
        const size_t right_bytes = size_t(rect.right - inner_right) * size_t(count);
        if (padding >= 0) {
            std::memset(dst, pad, left_bytes);
            std::memset(dst + left_bytes + inner_bytes, pad, right_bytes);
        } else {
            const unsigned char* first_pixel = row;
            const unsigned char* last_pixel = row + size_t(reduced_w - 1) * step;
            for (size_t at = 0; at < left_bytes; at += size_t(count))
                std::memcpy(dst + at, first_pixel, size_t(count));
            for (size_t at = left_bytes + inner_bytes; at < left_bytes + inner_bytes + right_bytes;
                 at += size_t(count))
                std::memcpy(dst + at, last_pixel, size_t(count));
        }
        copy_pixels(dst + left_bytes, row + size_t(inner_left) * step, inner_right - inner_left, count, step);
    }
    return noErr;
}

void AreaServer::write_back()
{
    Delivery& out = out_;
    if (out.buffer.data() != nullptr && out.factor == 1 && !out.written) {
        Timed timed(times, &AreaTimes::write_back);
        // Only the part inside the picture; padding beyond it has nowhere to go.
        const int32 left = std::max<int32>(out.rect.left, 0);
        const int32 top = std::max<int32>(out.rect.top, 0);
        const int32 right = std::min<int32>(out.rect.right, destination_.width);
        const int32 bottom = std::min<int32>(out.rect.bottom, destination_.height);
        const size_t planes = size_t(destination_.planes);
        // An area wholly beyond the picture's right edge leaves nothing to take.
        for (int32 y = top; y < bottom && left < right; ++y) {
            const unsigned char* src = out.buffer.data() + size_t(y - out.rect.top) * size_t(out.row_bytes) +
                                       size_t(left - out.rect.left) * size_t(out.plane_count);
            unsigned char* dst = destination_.at(left, y) + out.lo_plane;
            if (size_t(out.plane_count) == planes) {
                std::memcpy(dst, src, size_t(right - left) * planes);
                continue;
            }
            for (int32 x = left; x < right; ++x, src += out.plane_count, dst += planes)
                for (int32 p = 0; p < out.plane_count; ++p)
                    dst[p] = src[p];
        }
        if (on_write_back && left < right && top < bottom) {
            Rect16 area = {int16(top), int16(left), int16(bottom), int16(right)};
            on_write_back(area);
        }
    }
    // The buffer itself stays until it is replaced, so that the next one
    // cannot take its address.
    out.written = true;
}

OSErr AreaServer::serve(FilterRecord& record)
{
    write_back();

    const int32 in_factor = sampling_factor(record.inputRate);
    const int32 mask_factor = sampling_factor(record.maskRate);
    Delivery in, out, mask;
    OSErr err = deliver(source_, record.inRect, record.inLoPlane, record.inHiPlane, in_factor,
                        record.inputPadding, in, &AreaTimes::input);
    // The output area is seen at the input's factor: hosts know no separate
    // output rate, and a preview fills outRect from inRect of the same scale.
    if (err == noErr)
        err = deliver(destination_, record.outRect, record.outLoPlane, record.outHiPlane, in_factor,
                      record.outputPadding, out, &AreaTimes::output);
    if (err == noErr && selection_ != nullptr)
        err = deliver(*selection_, record.maskRect, 0, 0, mask_factor, record.maskPadding, mask, &AreaTimes::mask);

    if (err != noErr) {
        in = Delivery();
        out = Delivery();
        mask = Delivery();
    }
    // The new buffers exist before the old ones go, so no address is reused
    // from one request to the next and a stale pointer shows.
    replace(in, out, mask);

    record.inData = in_.buffer.data();
    record.inRowBytes = in_.row_bytes;
    record.outData = out_.buffer.data();
    record.outRowBytes = out_.row_bytes;
    record.maskData = mask_.buffer.data();
    record.maskRowBytes = mask_.row_bytes;
    return err;
}

void AreaServer::replace(Delivery& in, Delivery& out, Delivery& mask)
{
    Timed timed(times, &AreaTimes::freeing);
    in_ = std::move(in);
    out_ = std::move(out);
    mask_ = std::move(mask);
}

void AreaServer::release(FilterRecord& record)
{
    Delivery none[3];
    replace(none[0], none[1], none[2]);
    record.inData = nullptr;
    record.inRowBytes = 0;
    record.outData = nullptr;
    record.outRowBytes = 0;
    record.maskData = nullptr;
    record.maskRowBytes = 0;
}
