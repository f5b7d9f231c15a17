// An in-process host for the run engine's tests. It owns a picture, answers
// the plug-in's requests the way a host does (taking back the previous output,
// then delivering the asked areas) and records every call. Each delivered
// buffer is a heap block of exactly rows * rowBytes bytes, so the sanitizers
// report any access outside the area that was asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/kernel.h"
#include "base/host_api.h"

struct FakeHost {
    struct Request {
        Rect16 in, out, mask;
        int16 in_lo, in_hi, out_lo, out_hi;
        Fixed input_rate, mask_rate;
        OSErr answer;
    };

    int32_t width, height, planes;
    std::vector<unsigned char> source;    // what inData shows, planes interleaved
    std::vector<unsigned char> picture;   // the host's picture: outData comes from it and goes back to it
    std::vector<unsigned char> selection; // one byte per pixel; empty = no selection mask
    FilterRecord record{};
    PlatformData platform_data{};

    // Behaviour.
    int fail_at = -1;                 // index of the advanceState call that fails
    OSErr fail_code = memFullErr;
    bool fail_keeps_buffers = false;  // a failing call leaves the earlier buffers (stale) in place
    int abort_from_call = -1;         // abortProc reports a cancel from this call on (counted from 1)
    int32_t row_padding = 0;          // extra bytes at the end of every delivered row
    std::function<void(FilterRecord&)> tamper; // runs after every successful delivery
    std::function<void(FilterRecord&)> on_progress; // runs inside every progress call

    // Records.
    std::vector<Request> requests;
    std::vector<std::pair<int32_t, int32_t>> progress;
    int abort_calls = 0;
    int foreign_thread_calls = 0; // callbacks made on another thread than the host's

    // A picture of width x height with planes interleaved, filled with a
    // pattern in which neighbouring bytes differ; filterRect is the whole
    // picture, maxSpace holds it in one band, the mode is RGB from three
    // planes on and grayscale below.
    FakeHost(int32_t width, int32_t height, int32_t planes);
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // A selection: mask bytes `value` inside area, 0 elsewhere; filterRect
    // becomes the area's bounds.
    void select(Rect16 area, unsigned char value = 255);
    void remove_callback_advance_state() { record.advanceState = nullptr; }

    // The start selector through the plug-in's dispatch; afterwards the host
    // takes back the last delivered output, as a host does when start returns.
    int16 run();
    // Delivers the record's current rectangles as advanceState would.
    OSErr deliver();
    // Takes the delivered output back into the picture.
    void take_back_output();

    size_t offset(int32_t row, int32_t column) const
    {
        return (size_t(row) * size_t(width) + size_t(column)) * size_t(planes);
    }
    unsigned char source_at(int32_t row, int32_t column, int32_t plane) const
    {
        return source[offset(row, column) + size_t(plane)];
    }
    unsigned char picture_at(int32_t row, int32_t column, int32_t plane) const
    {
        return picture[offset(row, column) + size_t(plane)];
    }
    // Requests whose outRect was not empty: the bands the plug-in worked on.
    std::vector<int32_t> requested_band_tops() const;

private:
    // Planes lo..hi of `from` (the source or the picture) over `area` into a
    // buffer of exactly its size, rows padded as configured; null (and no
    // row bytes) for an empty area, one outside the picture or planes it lacks.
    unsigned char* copy_planes(const Rect16& area, int16 lo, int16 hi, const std::vector<unsigned char>& from,
                               std::unique_ptr<unsigned char[]>& buffer, int32& row_bytes);

    std::unique_ptr<unsigned char[]> in_buffer, out_buffer, mask_buffer;
    Rect16 delivered_out{};
    int16 delivered_out_lo = 0, delivered_out_hi = -1;
    int32_t delivered_out_row_bytes = 0;
};

// Saves what a test may change in the module (the definition, the kernel
// blocks, the run-wide state) and puts it back when it goes out of scope.
class ScopedModuleState {
public:
    ScopedModuleState();
    ~ScopedModuleState();
    ScopedModuleState(const ScopedModuleState&) = delete;
    ScopedModuleState& operator=(const ScopedModuleState&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};
