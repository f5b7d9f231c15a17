#include "runtime/worker_thread.h"

#ifdef _WIN32

#include <windows.h>
#include <process.h>

#include <new>

namespace {

struct Start {
    void (*entry)(void*);
    void* arg;
};

unsigned __stdcall thread_entry(void* p)
{
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.arg);
    return 0;
}

} // namespace

bool start_worker_thread(WorkerThread& thread, void (*entry)(void*), void* arg)
{
    Start* start = new (std::nothrow) Start{entry, arg};
    if (!start) return false;
    // A reservation, not a commit: without the flag the size would only be
    // committed, and the host program's own reservation (often 1 MB or more)
    // would be taken for every worker.
    const uintptr_t handle =
        _beginthreadex(nullptr, unsigned(worker_stack_reserve), thread_entry, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!handle) {
        delete start;
        return false;
    }
    thread.handle = handle;
    return true;
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
    // The stack is one reserved region, from its allocation base up to the
    // thread's stack base.
    MEMORY_BASIC_INFORMATION info{};
    const volatile char here = 0;
    if (!VirtualQuery(const_cast<char*>(&here), &info, sizeof info)) return 0;
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
    return size_t(static_cast<const char*>(tib->StackBase) - static_cast<const char*>(info.AllocationBase));
}

#else

#include <new>
#include <pthread.h>

namespace {

struct Start {
    void (*entry)(void*);
    void* arg;
};

void* thread_entry(void* p)
{
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.arg);
    return nullptr;
}

} // namespace

bool start_worker_thread(WorkerThread& thread, void (*entry)(void*), void* arg)
{
    Start* start = new (std::nothrow) Start{entry, arg};
    if (!start) return false;
    pthread_attr_t attr;
    pthread_t id;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        if (pthread_attr_setstacksize(&attr, worker_stack_reserve) == 0)
            started = pthread_create(&id, &attr, thread_entry, start) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) {
        delete start;
        return false;
    }
    thread.handle = uintptr_t(id);
    return true;
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
