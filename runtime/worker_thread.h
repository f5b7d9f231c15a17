// The threads of the worker pool, started with a small stack reservation: a
// worker runs a row walk and nothing deeper, and sixteen of them should take
// little of a 32-bit host's address space before it hands over its buffers.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t worker_stack_reserve = 256 * 1024;

// Lives at one address while its thread runs: the thread starts from it.
struct WorkerThread {
    uintptr_t handle = 0; // 0: not running
    void (*entry)(void*) = nullptr;
    void* arg = nullptr;
};

// Starts entry(arg) on a new thread; false when the system refuses one.
bool start_worker_thread(WorkerThread& thread, void (*entry)(void*), void* arg);
// Waits for the thread to end and releases it.
void join_worker_thread(WorkerThread& thread);
// The address space reserved for the calling thread's stack, in bytes; 0 when
// it cannot be told. For the tests that hold the reservation small.
size_t current_stack_reservation();
