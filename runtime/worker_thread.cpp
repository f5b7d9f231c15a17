#include "runtime/worker_thread.h"

namespace {

void run(void* thread)
{
    const WorkerThread& t = *static_cast<const WorkerThread*>(thread);
    t.entry(t.arg);
}

} // namespace

#ifdef _WIN32

#include <windows.h>
#include <process.h>

namespace {

unsigned __stdcall thread_entry(void* thread)
{
    run(thread);
    return 0;
}

} // namespace

bool start_worker_thread(WorkerThread& thread, void (*entry)(void*), void* arg)
{
    thread.entry = entry;
    thread.arg = arg;
    // A reservation, not a commit: without the flag the size would only be
    // committed, and the host program's own reservation (often 1 MB or more)
    // would be taken for every worker.
    thread.handle = _beginthreadex(nullptr, unsigned(worker_stack_reserve), thread_entry, &thread,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return thread.handle != 0;
}

void join_worker_thread(WorkerThread& thread)
{
    if (!thread.handle) return;
    const HANDLE handle = reinterpret_cast<HANDLE>(thread.handle);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    thread.handle = 0;
}

size_t current_stack_reservation()
{
    // The stack is one reservation: the regions (reserved, guard, committed)
    // that share the allocation base of a local variable's page.
    MEMORY_BASIC_INFORMATION here{};
    const volatile char local = 0;
    if (!VirtualQuery(const_cast<char*>(&local), &here, sizeof here)) return 0;
    const char* base = static_cast<const char*>(here.AllocationBase);
    size_t size = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQuery(base + size, &region, sizeof region) && region.AllocationBase == here.AllocationBase)
        size += region.RegionSize;
    return size;
}

#else

#include <pthread.h>

namespace {

void* thread_entry(void* thread)
{
    run(thread);
    return nullptr;
}

} // namespace

bool start_worker_thread(WorkerThread& thread, void (*entry)(void*), void* arg)
{
    thread.entry = entry;
    thread.arg = arg;
    pthread_attr_t attr;
    pthread_t id;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        if (pthread_attr_setstacksize(&attr, worker_stack_reserve) == 0)
            started = pthread_create(&id, &attr, thread_entry, &thread) == 0;
        pthread_attr_destroy(&attr);
    }
    thread.handle = started ? uintptr_t(id) : 0;
    return started;
}

void join_worker_thread(WorkerThread& thread)
{
    if (!thread.handle) return;
    pthread_join(pthread_t(thread.handle), nullptr);
    thread.handle = 0;
}

size_t current_stack_reservation()
{
    pthread_attr_t attr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    return size;
}

#endif
