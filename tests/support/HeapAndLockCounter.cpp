#include "HeapAndLockCounter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <malloc.h>
#include <new>
#include <pthread.h>

// glibc's own entry points, which the replacements below forward to.
extern "C"
{
    void* __libc_malloc (size_t size);
    void* __libc_calloc (size_t count, size_t size);
    void* __libc_realloc (void* pointer, size_t size);
    void __libc_free (void* pointer);
    void* __libc_memalign (size_t alignment, size_t size);
    void* __libc_valloc (size_t size);
    void* __libc_pvalloc (size_t size);
}

namespace
{
    // Constant-initialised, so that they work for allocations made before main.
    std::atomic<long long> liveBytes { 0 };
    std::atomic<long long> peakBytes { 0 };

    // Plain thread-locals of the executable need no set-up call, so they are safe inside malloc.
    thread_local long long threadAllocations = 0;
    thread_local long long threadLocks = 0;

    void* counted (void* pointer) noexcept
    {
        if (pointer != nullptr)
        {
            ++threadAllocations;
            const auto size = (long long) malloc_usable_size (pointer);
            const auto now = liveBytes.fetch_add (size, std::memory_order_relaxed) + size;
            auto peak = peakBytes.load (std::memory_order_relaxed);

            while (now > peak && ! peakBytes.compare_exchange_weak (peak, now, std::memory_order_relaxed))
            {
            }
        }

        return pointer;
    }

    void uncount (void* pointer) noexcept
    {
        if (pointer != nullptr)
            liveBytes.fetch_sub ((long long) malloc_usable_size (pointer), std::memory_order_relaxed);
    }

    using MutexFunction = int (*) (pthread_mutex_t*);

    /** glibc's own function of that name, found behind the replacement below on first use.
        No function-local static: its guard could itself take a lock.
    */
    MutexFunction findNext (std::atomic<MutexFunction>& cache, const char* name) noexcept
    {
        auto function = cache.load (std::memory_order_acquire);

        if (function == nullptr)
        {
            function = reinterpret_cast<MutexFunction> (dlsym (RTLD_NEXT, name));
            cache.store (function, std::memory_order_release);
        }

        return function;
    }

    std::atomic<MutexFunction> nextLock { nullptr }, nextTryLock { nullptr };

    void* allocateAligned (std::size_t size, std::size_t alignment) noexcept
    {
        return counted (__libc_memalign (std::max (alignment, sizeof (void*)), size == 0 ? 1 : size));
    }
}

long long HeapAndLockCounter::getLiveBytes() noexcept { return liveBytes.load(); }

long long HeapAndLockCounter::getPeakBytes() noexcept { return peakBytes.load(); }

void HeapAndLockCounter::resetPeak() noexcept { peakBytes.store (liveBytes.load()); }

long long HeapAndLockCounter::getThreadAllocations() noexcept { return threadAllocations; }

long long HeapAndLockCounter::getThreadLocks() noexcept { return threadLocks; }

//==============================================================================
// The C allocator. Exported, so that the shared libraries' calls come here too and every block
// is counted on the way in and on the way out.
#define QUILLMERE_EXPORT __attribute__ ((visibility ("default")))

extern "C"
{
    QUILLMERE_EXPORT void* malloc (size_t size) noexcept { return counted (__libc_malloc (size)); }

    QUILLMERE_EXPORT void* calloc (size_t count, size_t size) noexcept { return counted (__libc_calloc (count, size)); }

    QUILLMERE_EXPORT void* realloc (void* pointer, size_t size) noexcept
    {
        const auto oldSize = pointer != nullptr ? (long long) malloc_usable_size (pointer) : 0;
        auto* result = __libc_realloc (pointer, size);

        // On failure the old block stays where it was; realloc to zero frees it.
        if (result == nullptr && (size != 0 || pointer == nullptr))
            return nullptr;

        liveBytes.fetch_sub (oldSize, std::memory_order_relaxed);
        return counted (result);
    }

    QUILLMERE_EXPORT void free (void* pointer) noexcept
    {
        uncount (pointer);
        __libc_free (pointer);
    }

    QUILLMERE_EXPORT void* memalign (size_t alignment, size_t size) noexcept { return counted (__libc_memalign (alignment, size)); }

    QUILLMERE_EXPORT void* aligned_alloc (size_t alignment, size_t size) noexcept { return counted (__libc_memalign (alignment, size)); }

    QUILLMERE_EXPORT int posix_memalign (void** result, size_t alignment, size_t size) noexcept
    {
        if (alignment < sizeof (void*) || (alignment & (alignment - 1)) != 0)
            return EINVAL;

        auto* pointer = counted (__libc_memalign (alignment, size));

        if (pointer == nullptr)
            return ENOMEM;

        *result = pointer;
        return 0;
    }

    QUILLMERE_EXPORT void* valloc (size_t size) noexcept { return counted (__libc_valloc (size)); }

    QUILLMERE_EXPORT void* pvalloc (size_t size) noexcept { return counted (__libc_pvalloc (size)); }

    // Every juce::CriticalSection and std::mutex ends here.
    QUILLMERE_EXPORT int pthread_mutex_lock (pthread_mutex_t* mutex) noexcept
    {
        ++threadLocks;
        return findNext (nextLock, "pthread_mutex_lock") (mutex);
    }

    QUILLMERE_EXPORT int pthread_mutex_trylock (pthread_mutex_t* mutex) noexcept
    {
        ++threadLocks;
        return findNext (nextTryLock, "pthread_mutex_trylock") (mutex);
    }
}

//==============================================================================
// C++ allocations go through malloc, where they are counted with everything else.
QUILLMERE_EXPORT void* operator new (std::size_t size)
{
    if (auto* pointer = std::malloc (size == 0 ? 1 : size))
        return pointer;

    throw std::bad_alloc();
}

QUILLMERE_EXPORT void* operator new[] (std::size_t size) { return operator new (size); }

QUILLMERE_EXPORT void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }

QUILLMERE_EXPORT void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }

QUILLMERE_EXPORT void* operator new (std::size_t size, std::align_val_t alignment)
{
    if (auto* pointer = allocateAligned (size, (std::size_t) alignment))
        return pointer;

    throw std::bad_alloc();
}

QUILLMERE_EXPORT void* operator new[] (std::size_t size, std::align_val_t alignment) { return operator new (size, alignment); }

QUILLMERE_EXPORT void* operator new (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept { return allocateAligned (size, (std::size_t) alignment); }

QUILLMERE_EXPORT void* operator new[] (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept { return allocateAligned (size, (std::size_t) alignment); }

QUILLMERE_EXPORT void operator delete (void* pointer) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete (void* pointer, std::size_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer, std::size_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete (void* pointer, const std::nothrow_t&) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer, const std::nothrow_t&) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete (void* pointer, std::align_val_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer, std::align_val_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete (void* pointer, std::size_t, std::align_val_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer, std::size_t, std::align_val_t) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete (void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { std::free (pointer); }
QUILLMERE_EXPORT void operator delete[] (void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { std::free (pointer); }
