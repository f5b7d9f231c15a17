// The host side of advanceState: hands the plug-in exactly the areas it asks
// for, at the sampling factor it asks for, and takes its output back into the
// picture. Plain data in, plain data out; the callbacks of the host call it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "refhost/picture.h"
#include "base/host_api.h"

// What a plug-in may put into inputPadding, outputPadding and maskPadding
// besides a pad value of 0 to 255.
enum : int16 {
    plugInWantsEdgeReplication = -1,
    plugInDoesNotWantPadding = -2,
    plugInWantsErrorOnBoundsException = -3,
};

// The host's answer to a request it cannot make sense of (bad plane range,
// area beyond the image when the plug-in asked for an error).
constexpr OSErr paramErr = -50;

// --high-buffers: every buffer from now on is placed top-down and must lie
// above high_buffer_floor() (2 GiB in a 32-bit host, which is linked
// large-address-aware, 4 GiB in a 64-bit one), as a real host may place them;
// an address the plug-in truncated or compared as a signed 32-bit number then
// shows. Without it buffers go wherever Windows puts them.
void place_buffers_high(bool high);
uint64_t high_buffer_floor();

// One block of image data handed to the plug-in: exactly the requested size,
// allocated for every request while the previous request's blocks still
// exist (so never at their address), its end flush against an inaccessible
// page so that a plug-in reading or writing past it faults at once. A large
// one may reuse a block that the picture decoder or an earlier request no
// longer needs (refhost/block_pool.h).
class HostBuffer {
public:
    HostBuffer() = default;
    ~HostBuffer() { reset(); }
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;
    HostBuffer(HostBuffer&& other) noexcept { swap(other); }
    HostBuffer& operator=(HostBuffer&& other) noexcept
    {
        if (this != &other) {
            reset();
            swap(other);
        }
        return *this;
    }

    bool allocate(size_t bytes);
    void reset();
    unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void swap(HostBuffer& other) noexcept;
    void* block_ = nullptr;
    size_t block_size_ = 0;
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

// Where serving areas spends its time, in seconds, summed over a run
// (filterhost --times). A buffer's first touch is timed on its own: every
// page is written once before the copy, as the copy would write it first.
struct AreaTimes {
    double allocation = 0, first_touch = 0, input = 0, output = 0, mask = 0, write_back = 0, freeing = 0;
};

// What the host handed out for one of the three areas.
struct Delivery {
    HostBuffer buffer;
    Rect16 rect{}; // in units of the sampling factor
    int32 row_bytes = 0;
    int32 lo_plane = 0;
    int32 plane_count = 0;
    int32 factor = 1;
    bool written = false; // output already taken back into the picture
};

class AreaServer {
public:
    // `selection`, when given, is a one-plane picture of the source's size:
    // 255 inside the selection, 0 outside. `destination` starts as a copy of
    // `source` and receives what the plug-in writes.
    AreaServer(const Picture& source, Picture& destination, const Picture* selection);

    // advanceState: first takes the output of the previous request back into
    // the picture (only when it was delivered at factor 1), then delivers the
    // areas the record now asks for. On failure every pointer is null.
    OSErr serve(FilterRecord& record);

    // Takes the latest output back into the picture when it was delivered at
    // factor 1; a second call writes nothing.
    void write_back();

    // Frees every buffer and clears the record's pointers to them.
    void release(FilterRecord& record);

    // The factor a 16.16 rate stands for: its whole part, at least 1 (so the
    // 65537 that some plug-ins send for "1" is factor 1).
    static int32 sampling_factor(Fixed rate);
    static bool empty(const Rect16& r) { return r.top >= r.bottom || r.left >= r.right; }

    // Called with the area (image pixels) whenever output reaches the picture.
    std::function<void(const Rect16&)> on_write_back;

    // When set, serving adds its time here.
    AreaTimes* times = nullptr;

    // Larger single requests are refused with memFullErr instead of tried.
    size_t max_request_bytes = size_t(1) << 30;

private:
    OSErr deliver(const Picture& from, Rect16& rect, int32 lo, int32 hi, int32 factor, int16 padding,
                  Delivery& result, double AreaTimes::*copy_time) const;
    void replace(Delivery& in, Delivery& out, Delivery& mask);

    const Picture& source_;
    Picture& destination_;
    const Picture* selection_;
    Delivery in_, out_, mask_;
};
