#include "refhost/block_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace block_pool {

namespace {

struct Block {
    void* address;
    size_t capacity;
};

// At most this many blocks and bytes wait in the pool; more are freed.
constexpr size_t most_blocks = 4;
constexpr size_t most_bytes = size_t(1) << 30;

std::mutex lock;
std::vector<Block> pooled;
std::map<void*, size_t> decoder_blocks; // the decoder's large blocks and their capacity
// A run that ends before it waited for the blocks (a picture refused after
// its header) waits for them at the exit.
struct Preparing : std::thread {
    Preparing& operator=(std::thread&& other)
    {
        std::thread::operator=(std::move(other));
        return *this;
    }
    ~Preparing()
    {
        if (joinable())
            join();
    }
} preparing;

size_t round_up(size_t bytes)
{
    const size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

void* map_block(size_t capacity, bool top_down)
{
#if defined(_WIN32)
    return VirtualAlloc(nullptr, capacity, MEM_RESERVE | MEM_COMMIT | (top_down ? MEM_TOP_DOWN : 0),
                        PAGE_READWRITE);
#else
    (void)top_down;
    return std::malloc(capacity);
#endif
}

void unmap_block(void* block)
{
#if defined(_WIN32)
    VirtualFree(block, 0, MEM_RELEASE);
#else
    std::free(block);
#endif
}

void protect(void* block, size_t capacity, bool accessible)
{
#if defined(_WIN32)
    DWORD old = 0;
    VirtualProtect(block, capacity, accessible ? PAGE_READWRITE : PAGE_NOACCESS, &old);
#else
    (void)block;
    (void)capacity;
    (void)accessible;
#endif
}

} // namespace

size_t page_size()
{
#if defined(_WIN32)
    static const size_t page = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return size_t(info.dwPageSize);
    }();
    return page;
#else
    return 4096;
#endif
}

void* take(size_t bytes, size_t& capacity, bool top_down, uint64_t floor)
{
    const size_t wanted = round_up(bytes);
    if (wanted < bytes)
        return nullptr;
    if (wanted >= threshold) {
        std::lock_guard<std::mutex> hold(lock);
        // The smallest that fits, and not much larger: a huge block should
        // not go to a small area while a large one waits for it.
        auto best = pooled.end();
        for (auto it = pooled.begin(); it != pooled.end(); ++it)
            if (it->capacity >= wanted && it->capacity / 2 <= wanted && uintptr_t(it->address) >= floor &&
                (best == pooled.end() || it->capacity < best->capacity))
                best = it;
        if (best != pooled.end()) {
            const Block found = *best;
            pooled.erase(best);
            protect(found.address, found.capacity, true);
            capacity = found.capacity;
            return found.address;
        }
    }
    void* block = map_block(wanted, top_down);
    if (block == nullptr && wanted >= threshold) {
        // Room held for reuse must not cost a request its memory.
        std::vector<Block> freed;
        {
            std::lock_guard<std::mutex> hold(lock);
            freed.swap(pooled);
        }
        for (const Block& b : freed)
            unmap_block(b.address);
        block = map_block(wanted, top_down);
    }
    if (block != nullptr)
        capacity = wanted;
    return block;
}

void give(void* block, size_t capacity)
{
    if (block == nullptr)
        return;
    if (capacity < threshold) {
        unmap_block(block);
        return;
    }
    std::vector<Block> freed;
    {
        std::lock_guard<std::mutex> hold(lock);
        protect(block, capacity, false);
        pooled.push_back({block, capacity});
        size_t total = 0;
        for (const Block& b : pooled)
            total += b.capacity;
        // The smallest go first: the decoder's planes of a JPEG are a third
        // of a picture, too small for any area of it.
        while (!pooled.empty() && (pooled.size() > most_blocks || total > most_bytes)) {
            auto smallest = std::min_element(pooled.begin(), pooled.end(), [](const Block& a, const Block& b) {
                return a.capacity < b.capacity;
            });
            total -= smallest->capacity;
            freed.push_back(*smallest);
            pooled.erase(smallest);
        }
    }
    for (const Block& b : freed)
        unmap_block(b.address);
}

void prepare(size_t bytes, int count)
{
#if defined(_WIN32)
    const size_t capacity = round_up(bytes) + page_size();
    if (bytes < threshold || capacity < bytes || count <= 0)
        return;
    wait_prepared();
    preparing = std::thread([capacity, count] {
        for (int i = 0; i < count; ++i) {
            void* block = map_block(capacity, false);
            if (block == nullptr)
                return;
            unsigned char* bytes = static_cast<unsigned char*>(block);
            for (size_t at = 0; at < capacity; at += page_size())
                bytes[at] = 0;
            give(block, capacity);
        }
    });
#else
    (void)bytes;
    (void)count;
#endif
}

void wait_prepared()
{
#if defined(_WIN32)
    if (preparing.joinable())
        preparing.join();
#endif
}

// Elsewhere (the fuzzer's native build) the decoder keeps the C heap, whose
// checks a pool would blunt.
#if defined(_WIN32)
void* decoder_malloc(size_t bytes)
{
    if (bytes < threshold)
        return std::malloc(bytes);
    size_t capacity = 0;
    void* block = take(bytes + page_size(), capacity);
    if (block != nullptr) {
        std::lock_guard<std::mutex> hold(lock);
        decoder_blocks[block] = capacity;
    }
    return block;
}

void decoder_free(void* block)
{
    if (block == nullptr)
        return;
    size_t capacity = 0;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = decoder_blocks.find(block);
        if (it != decoder_blocks.end()) {
            capacity = it->second;
            decoder_blocks.erase(it);
        }
    }
    if (capacity > 0)
        give(block, capacity);
    else
        std::free(block);
}

void* decoder_realloc(void* block, size_t old_bytes, size_t new_bytes)
{
    if (block == nullptr)
        return decoder_malloc(new_bytes);
    bool large = false;
    {
        std::lock_guard<std::mutex> hold(lock);
        large = decoder_blocks.count(block) > 0;
    }
    if (!large && new_bytes < threshold)
        return std::realloc(block, new_bytes);
    void* moved = decoder_malloc(new_bytes);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, std::min(old_bytes, new_bytes));
    decoder_free(block);
    return moved;
}
#else
void* decoder_malloc(size_t bytes)
{
    return std::malloc(bytes);
}
void decoder_free(void* block)
{
    std::free(block);
}
void* decoder_realloc(void* block, size_t, size_t new_bytes)
{
    return std::realloc(block, new_bytes);
}
#endif

} // namespace block_pool
