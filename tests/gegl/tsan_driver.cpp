// The operation under ThreadSanitizer: the module built with it, loaded by
// the real GEGL, which calls process from its own threads on chunks of two
// nodes of different sizes that two threads of this program render at once,
// each both whole and in scattered small requests. Every result must equal
// the same node's rendering on one thread. Exits 0 when all agree; the
// sanitizer makes it exit 66 on any report that tests/gegl/tsan.supp leaves.
#include <dlfcn.h>
#include <gegl.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

// GLib's locks wait in the kernel without the calls that the sanitizer
// watches, and GLib and GEGL are not built with it: without a word, every
// hand-over of work between GEGL's threads looks unordered. GEGL reaches
// GLib's locks through its import table, so these definitions, exported by
// this program, stand in for them, call GLib's own, and tell the sanitizer
// the order that each lock, condition and one-time initialisation makes.
extern "C" {
void __tsan_acquire(void* address);
void __tsan_release(void* address);
}

namespace {

template <class Function>
Function glib(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

#define AFTER_LOCK(name, Type)                                                   \
    extern "C" void name(Type* lock)                                             \
    {                                                                            \
        static const auto real = glib<void (*)(Type*)>(#name);                  \
        real(lock);                                                              \
        __tsan_acquire(lock);                                                    \
    }
#define BEFORE_UNLOCK(name, Type)                                                \
    extern "C" void name(Type* lock)                                             \
    {                                                                            \
        static const auto real = glib<void (*)(Type*)>(#name);                  \
        __tsan_release(lock);                                                    \
        real(lock);                                                              \
    }
#define AFTER_TRYLOCK(name, Type)                                                \
    extern "C" gboolean name(Type* lock)                                         \
    {                                                                            \
        static const auto real = glib<gboolean (*)(Type*)>(#name);              \
        const gboolean locked = real(lock);                                      \
        if (locked) __tsan_acquire(lock);                                        \
        return locked;                                                           \
    }

AFTER_LOCK(g_mutex_lock, GMutex)
BEFORE_UNLOCK(g_mutex_unlock, GMutex)
AFTER_TRYLOCK(g_mutex_trylock, GMutex)
AFTER_LOCK(g_rec_mutex_lock, GRecMutex)
BEFORE_UNLOCK(g_rec_mutex_unlock, GRecMutex)
AFTER_TRYLOCK(g_rec_mutex_trylock, GRecMutex)
AFTER_LOCK(g_rw_lock_writer_lock, GRWLock)
BEFORE_UNLOCK(g_rw_lock_writer_unlock, GRWLock)
AFTER_LOCK(g_rw_lock_reader_lock, GRWLock)
BEFORE_UNLOCK(g_rw_lock_reader_unlock, GRWLock)
BEFORE_UNLOCK(g_cond_signal, GCond)
BEFORE_UNLOCK(g_cond_broadcast, GCond)

extern "C" void g_cond_wait(GCond* cond, GMutex* mutex)
{
    static const auto real = glib<void (*)(GCond*, GMutex*)>("g_cond_wait");
    __tsan_release(mutex);
    real(cond, mutex);
    __tsan_acquire(mutex);
    __tsan_acquire(cond);
}

extern "C" gboolean (g_once_init_enter)(volatile void* location) // parenthesised: GLib makes the name a macro too
{
    static const auto real = glib<gboolean (*)(volatile void*)>("g_once_init_enter");
    const gboolean first = real(location);
    if (!first) __tsan_acquire(const_cast<void*>(location));
    return first;
}

extern "C" void (g_once_init_leave)(volatile void* location, gsize value)
{
    static const auto real = glib<void (*)(volatile void*, gsize)>("g_once_init_leave");
    __tsan_release(const_cast<void*>(location));
    real(location, value);
}

// GEGL's tile allocator hands a freed tile's memory to the next tile, on any
// thread, through atomics; the operation writes into tiles.
extern "C" gpointer gegl_tile_alloc(gsize size)
{
    static const auto real = glib<gpointer (*)(gsize)>("gegl_tile_alloc");
    gpointer tile = real(size);
    __tsan_acquire(tile);
    return tile;
}

extern "C" gpointer gegl_tile_alloc0(gsize size)
{
    static const auto real = glib<gpointer (*)(gsize)>("gegl_tile_alloc0");
    gpointer tile = real(size);
    __tsan_acquire(tile);
    return tile;
}

extern "C" void gegl_tile_free(gpointer tile)
{
    static const auto real = glib<void (*)(gpointer)>("gegl_tile_free");
    __tsan_release(tile);
    real(tile);
}

namespace {

const int32_t width = 700, height = 500;

struct Rendering {
    GeglNode* root;
    GeglNode* cells;
};

Rendering graph(GeglBuffer* input, int32_t size)
{
    GeglNode* root = gegl_node_new();
    GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
    GeglNode* cells = gegl_node_new_child(root, "operation", "cellumbra:cells", "size", size, nullptr);
    gegl_node_link(source, cells);
    return {root, cells};
}

std::vector<unsigned char> render(GeglNode* node, const GeglRectangle& r)
{
    std::vector<unsigned char> out(size_t(r.width) * size_t(r.height) * 4);
    gegl_node_blit(node, 1.0, &r, babl_format("R'G'B'A u8"), out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    return out;
}

// The whole picture, then small requests, against the one-thread rendering.
bool agrees(GeglNode* node, const std::vector<unsigned char>& want, uint32_t seed)
{
    bool same = render(node, {0, 0, width, height}) == want;
    std::mt19937 random(seed);
    for (int i = 0; i < 40 && same; ++i) {
        const GeglRectangle r{int32_t(random() % (width - 64)), int32_t(random() % (height - 64)),
                              1 + int32_t(random() % 64), 1 + int32_t(random() % 64)};
        const std::vector<unsigned char> got = render(node, r);
        for (int32_t y = 0; y < r.height && same; ++y)
            for (size_t k = 0; k < size_t(r.width) * 4; ++k)
                same = same && got[size_t(y) * size_t(r.width) * 4 + k] ==
                                   want[(size_t(r.y + y) * width + size_t(r.x)) * 4 + k];
    }
    return same;
}

} // namespace

int main(int argc, char** argv)
{
    g_setenv("GEGL_PATH", CELLUMBRA_GEGL_TSAN_MODULE_DIR ":" GEGL_SYSTEM_MODULE_DIR, TRUE);
    gegl_init(&argc, &argv);
    bool ok = gegl_has_operation("cellumbra:cells");
    {
        const GeglRectangle extent{0, 0, width, height};
        GeglBuffer* input = gegl_buffer_new(&extent, babl_format("R'G'B'A u8"));
        std::vector<unsigned char> pixels(size_t(width) * height * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7 + i / 2801);
        gegl_buffer_set(input, &extent, 0, babl_format("R'G'B'A u8"), pixels.data(), GEGL_AUTO_ROWSTRIDE);

        const int32_t sizes[2] = {3, 17};
        g_object_set(gegl_config(), "threads", 1, nullptr);
        std::vector<unsigned char> want[2];
        for (int k = 0; k < 2; ++k) {
            const Rendering one = graph(input, sizes[k]);
            want[k] = render(one.cells, extent);
            ok = ok && want[k] != pixels; // cells, not the picture passed through
            g_object_unref(one.root);
        }

        g_object_set(gegl_config(), "threads", 4, nullptr);
        const Rendering nodes[2] = {graph(input, sizes[0]), graph(input, sizes[1])};
        bool same[2] = {false, false};
        std::thread first([&] { same[0] = agrees(nodes[0].cells, want[0], 1); });
        std::thread second([&] { same[1] = agrees(nodes[1].cells, want[1], 2); });
        first.join();
        second.join();
        ok = ok && same[0] && same[1];
        for (const Rendering& r : nodes) g_object_unref(r.root);
        g_object_unref(input);
    }
    gegl_exit();
    std::printf("tsan-driver: %s\n", ok ? "every rendering agrees" : "a rendering differs");
    return ok ? 0 : 1;
}
