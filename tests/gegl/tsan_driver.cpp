// The operation under ThreadSanitizer: the module built with it, loaded by
// the real GEGL, whose threads run process on chunks of two nodes of
// different sizes that two threads of this program render at once, whole and
// in small requests; each must equal its node's rendering on one thread.
// Exits 0 when all agree; the sanitizer makes it exit 66 on any report that
// tests/gegl/tsan.supp leaves.
#include <dlfcn.h>
#include <gegl.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

// GLib's locks wait in the kernel without the calls the sanitizer watches;
// GEGL's tile allocator passes freed memory on through atomics, and its pool
// of threads reports the parts of a task done through atomics too. Neither
// library is built with the sanitizer, so every hand-over between GEGL's
// threads would look unordered. GEGL reaches all of these through its import
// table: these definitions, exported by this program, stand in for them,
// call the libraries' own, and tell the sanitizer the order they make.
extern "C" {
void __tsan_acquire(void* address);
void __tsan_release(void* address);
gpointer gegl_tile_alloc(gsize size);
gpointer gegl_tile_alloc0(gsize size);
void gegl_tile_free(gpointer tile);
}
#define REAL(name) static const auto real = reinterpret_cast<decltype(&(name))>(dlsym(RTLD_NEXT, #name))
#define ACQUIRE_AFTER(name, T) \
    extern "C" void(name)(T * p) { REAL(name); real(p); __tsan_acquire(p); }
#define RELEASE_BEFORE(name, T) \
    extern "C" void(name)(T * p) { REAL(name); __tsan_release(p); real(p); }
#define ACQUIRE_RESULT(name) \
    extern "C" gpointer(name)(gsize n) { REAL(name); gpointer p = real(n); __tsan_acquire(p); return p; }

ACQUIRE_AFTER(g_mutex_lock, GMutex)
RELEASE_BEFORE(g_mutex_unlock, GMutex)
ACQUIRE_AFTER(g_rec_mutex_lock, GRecMutex)
RELEASE_BEFORE(g_rec_mutex_unlock, GRecMutex)
RELEASE_BEFORE(g_cond_signal, GCond)
RELEASE_BEFORE(g_cond_broadcast, GCond)
RELEASE_BEFORE(gegl_tile_free, void)
ACQUIRE_RESULT(gegl_tile_alloc)
ACQUIRE_RESULT(gegl_tile_alloc0)

// A thread of GEGL's pool counts its part of a task done with an atomic
// decrement, and the thread that handed the task out may see the count reach
// zero without taking a lock; each part's end is therefore a release and the
// task's end an acquire on the task.
namespace {
struct DistributedTask {
    GeglParallelDistributeFunc func;
    gpointer user_data;
};
void run_part(gint i, gint n, gpointer task)
{
    auto* t = static_cast<DistributedTask*>(task);
    t->func(i, n, t->user_data);
    __tsan_release(task);
}
} // namespace

extern "C" void(gegl_parallel_distribute)(gint max_n, GeglParallelDistributeFunc func, gpointer user_data)
{
    // The header adds C++ overloads, so the C one is named by its type.
    using Distribute = void (*)(gint, GeglParallelDistributeFunc, gpointer);
    static const auto real = reinterpret_cast<Distribute>(dlsym(RTLD_NEXT, "gegl_parallel_distribute"));
    DistributedTask task{func, user_data};
    real(max_n, run_part, &task);
    __tsan_acquire(&task);
}

extern "C" void(g_cond_wait)(GCond* cond, GMutex* mutex)
{
    REAL(g_cond_wait);
    __tsan_release(mutex);
    real(cond, mutex);
    __tsan_acquire(mutex);
    __tsan_acquire(cond);
}

namespace {

const GeglRectangle whole{0, 0, 700, 500};

std::vector<unsigned char> render(GeglNode* node, const GeglRectangle& r)
{
    std::vector<unsigned char> out(size_t(r.width) * size_t(r.height) * 4);
    gegl_node_blit(node, 1.0, &r, babl_format("R'G'B'A u8"), out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    return out;
}

// The whole picture, then small requests, against the one-thread rendering.
bool agrees(GeglNode* node, const std::vector<unsigned char>& want, uint32_t seed)
{
    bool same = render(node, whole) == want;
    std::mt19937 random(seed);
    for (int i = 0; i < 40 && same; ++i) {
        const GeglRectangle r{int32_t(random() % 636), int32_t(random() % 436), 1 + int32_t(random() % 64),
                              1 + int32_t(random() % 64)};
        const std::vector<unsigned char> got = render(node, r);
        for (int32_t y = 0; y < r.height; ++y)
            same = same && std::equal(got.begin() + y * r.width * 4, got.begin() + (y + 1) * r.width * 4,
                                      want.begin() + ((r.y + y) * whole.width + r.x) * 4);
    }
    return same;
}

} // namespace

int main(int argc, char** argv)
{
    g_setenv("GEGL_PATH", CELLUMBRA_GEGL_TSAN_MODULE_DIR ":" GEGL_SYSTEM_MODULE_DIR, TRUE);
    gegl_init(&argc, &argv);
    bool ok = gegl_has_operation("cellumbra:cells");
    GeglBuffer* input = gegl_buffer_new(&whole, babl_format("R'G'B'A u8"));
    std::vector<unsigned char> pixels(size_t(whole.width) * size_t(whole.height) * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7 + i / 2801);
    gegl_buffer_set(input, &whole, 0, babl_format("R'G'B'A u8"), pixels.data(), GEGL_AUTO_ROWSTRIDE);
    // A graph of its own for each node: GEGL renders separate graphs at once.
    GeglNode *roots[2], *cells[2];
    std::vector<unsigned char> want[2];
    g_object_set(gegl_config(), "threads", 1, nullptr);
    for (int k = 0; k < 2; ++k) {
        roots[k] = gegl_node_new();
        GeglNode* source = gegl_node_new_child(roots[k], "operation", "gegl:buffer-source", "buffer", input, nullptr);
        cells[k] = gegl_node_new_child(roots[k], "operation", "cellumbra:cells", "size", k ? 17 : 3, nullptr);
        gegl_node_link(source, cells[k]);
        want[k] = render(cells[k], whole);
        ok = ok && want[k] != pixels; // cells, not the picture passed through
    }
    g_object_set(gegl_config(), "threads", 4, nullptr);
    bool same[2] = {false, false};
    std::thread first([&] { same[0] = agrees(cells[0], want[0], 1); });
    std::thread second([&] { same[1] = agrees(cells[1], want[1], 2); });
    first.join();
    second.join();
    ok = ok && same[0] && same[1];
    for (GeglNode* root : roots) g_object_unref(root);
    g_object_unref(input);
    gegl_exit();
    std::printf("tsan-driver: %s\n", ok ? "every rendering agrees" : "a rendering differs");
    return ok ? 0 : 1;
}
