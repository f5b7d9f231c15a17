// Large blocks of whole pages, kept for reuse within the process. A page the
// process has never touched costs far more at its first touch than a copy
// into it (under Wine here about 0.7 ms a megabyte, ten times the copy), so
// a block the picture decoder is done with serves a later image area. A
// block waiting in the pool is inaccessible, as a freed one would be: a
// stale pointer into it still faults.
#pragma once

#include <cstddef>
#include <cstdint>

namespace block_pool {

// Blocks of this size or more come from the pool; smaller ones are not worth it.
constexpr size_t threshold = size_t(1) << 20;

size_t page_size();

// A readable and writable block of at least `bytes` bytes, its address at or
// above `floor`: one from the pool when one fits, else a new one (placed
// top-down when `top_down`). `capacity` receives its size, a multiple of
// the page size. Null when there is no memory.
void* take(size_t bytes, size_t& capacity, bool top_down = false, uint64_t floor = 0);

// Returns a block from take() for a later take, or frees it when the pool
// is full.
void give(void* block, size_t capacity);

// Makes `count` blocks ready for image areas of `bytes` bytes and their
// guard page, their pages touched, on a thread of their own (the caller
// goes on at once): for a run to take from the pool later. Only for areas
// of `threshold` or more, and only where the pool is (Windows).
void prepare(size_t bytes, int count);
// Until the blocks of prepare() are ready.
void wait_prepared();

// The picture decoder's allocation calls: blocks of `threshold` or more go
// through the pool, with a page to spare beyond them so that an image area
// of the same size and its guard page fit the block later; the rest go to
// the C heap.
void* decoder_malloc(size_t bytes);
void* decoder_realloc(void* block, size_t old_bytes, size_t new_bytes);
void decoder_free(void* block);

} // namespace block_pool
