// The POSIX threading calls that the C++ runtime inside CVAICP.DLL makes, on Win32 primitives that
// Windows XP has (see thread_runtime.h for why the DLL carries its own). Linked into the DLL only:
// our executables keep the toolchain's runtime.
//
// The types are the toolchain's (pthread.h of mingw-w64), which the runtime was compiled against:
// a mutex or condition is one pointer-sized word whose static initialisers are small negative
// numbers, a once-control a long, a key an unsigned. Only what the runtime uses is here.
#include "provider/thread_runtime.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>

namespace cv {
namespace {

constexpr unsigned kKeys = 16;
constexpr int kDestructorRounds = 4;

// A mutex made on its first use: a critical section, kept in a list so that the unload can delete
// every one, including those of static objects that are never destroyed.
struct MutexBlock {
    CRITICAL_SECTION section;
    MutexBlock* next;
};

// The C++ runtime's record of the exceptions a thread is handling, in the layout its throw and
// catch code expects.
struct ExceptionGlobals {
    void* caught_exceptions;
    unsigned int uncaught_exceptions;
};

// One thread's thread-specific values and exception record, kept in a list so that the unload can
// run the destructors of threads that are still alive.
struct ThreadValues {
    ThreadValues* next;
    ThreadValues* previous;
    void* values[kKeys];
    ExceptionGlobals exceptions;
    bool spare;  // one of g_spares, not from the heap
};

// Records for threads whose own cannot be had for want of memory, one each while they last: the
// first throw on such a thread (a failed allocation, most likely) must still find its exception
// record, or the runtime would end the process.
constexpr int kSpares = 16;
ThreadValues g_spares[kSpares];
volatile LONG g_spare_taken[kSpares];

struct Key {
    bool used;
    void (*destructor)(void*);
};

CRITICAL_SECTION g_guard;   // the lists and the key table
MutexBlock g_shared_mutex;  // stands in for a mutex whose own could not be made
DWORD g_values_slot = TLS_OUT_OF_INDEXES;
Key g_keys[kKeys];
ThreadValues* g_threads = nullptr;
MutexBlock* g_mutexes = nullptr;

// On Windows XP, a critical section whose wait event is made only when first contended can raise
// an exception then, under low memory; the spin count's high bit has the event made now, where a
// failure is a plain result. Later systems need no event and ignore the bit.
bool InitializeSection(CRITICAL_SECTION* section) {
    return InitializeCriticalSectionAndSpinCount(section, 0x80000000u | 1000u) != FALSE;
}

void* Allocate(size_t size) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void Release(void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

bool IsStaticInitializer(intptr_t value) {
    return value == 0 || value == -1 || value == -2 || value == -3;
}

// The critical section of a mutex, made on first use. A mutex that cannot have its own (memory
// is short) shares one with others such mutexes: coarser, but still a lock.
CRITICAL_SECTION* SectionOf(intptr_t* mutex) {
    intptr_t current = *static_cast<volatile intptr_t*>(mutex);
    if (!IsStaticInitializer(current)) return &reinterpret_cast<MutexBlock*>(current)->section;
    MutexBlock* made = static_cast<MutexBlock*>(Allocate(sizeof(MutexBlock)));
    if (made != nullptr && !InitializeSection(&made->section)) {
        Release(made);
        made = nullptr;
    }
    MutexBlock* chosen = made != nullptr ? made : &g_shared_mutex;
    // The mutex is a pointer-sized word: a pointer exchange, in both builds.
    void* previous = InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(mutex),
                                                       chosen, reinterpret_cast<void*>(current));
    if (previous != reinterpret_cast<void*>(current)) {  // another thread made it first
        if (made != nullptr) {
            DeleteCriticalSection(&made->section);
            Release(made);
        }
        return &static_cast<MutexBlock*>(previous)->section;
    }
    if (made != nullptr) {
        EnterCriticalSection(&g_guard);
        made->next = g_mutexes;
        g_mutexes = made;
        LeaveCriticalSection(&g_guard);
    }
    return &chosen->section;
}

void ForgetMutex(MutexBlock* block) {
    EnterCriticalSection(&g_guard);
    for (MutexBlock** link = &g_mutexes; *link != nullptr; link = &(*link)->next) {
        if (*link == block) {
            *link = block->next;
            break;
        }
    }
    LeaveCriticalSection(&g_guard);
    DeleteCriticalSection(&block->section);
    Release(block);
}

void ReleaseValues(ThreadValues* values) {
    if (!values->spare) {
        Release(values);
        return;
    }
    InterlockedExchange(&g_spare_taken[values - g_spares], 0);
}

// The calling thread's values; made on demand, null when memory is short and no spare is left.
// TlsGetValue clears the thread's last error, which the library's own code may be about to read: it
// is kept.
ThreadValues* ValuesOfThisThread(bool make) {
    DWORD error = GetLastError();
    auto* values = static_cast<ThreadValues*>(TlsGetValue(g_values_slot));
    SetLastError(error);
    if (values != nullptr || !make) return values;
    values = static_cast<ThreadValues*>(Allocate(sizeof(ThreadValues)));
    for (int i = 0; values == nullptr && i < kSpares; ++i) {
        if (InterlockedCompareExchange(&g_spare_taken[i], 1, 0) == 0) {
            values = &g_spares[i];
            ZeroMemory(values, sizeof *values);
            values->spare = true;
        }
    }
    if (values == nullptr) return nullptr;
    if (!TlsSetValue(g_values_slot, values)) {
        ReleaseValues(values);
        return nullptr;
    }
    EnterCriticalSection(&g_guard);
    values->next = g_threads;
    if (g_threads != nullptr) g_threads->previous = values;
    g_threads = values;
    LeaveCriticalSection(&g_guard);
    SetLastError(error);
    return values;
}

// Runs the destructors of one thread's values (as a thread's end would: a destructor may set
// values again, so a few rounds) and frees them.
void DestroyValues(ThreadValues* values) {
    for (int round = 0; round < kDestructorRounds; ++round) {
        bool any = false;
        for (unsigned key = 0; key < kKeys; ++key) {
            void* value = values->values[key];
            if (value == nullptr || !g_keys[key].used || g_keys[key].destructor == nullptr) {
                continue;
            }
            values->values[key] = nullptr;
            g_keys[key].destructor(value);
            any = true;
        }
        if (!any) break;
    }
    EnterCriticalSection(&g_guard);
    if (values->previous != nullptr) values->previous->next = values->next;
    if (values->next != nullptr) values->next->previous = values->previous;
    if (g_threads == values) g_threads = values->next;
    LeaveCriticalSection(&g_guard);
    ReleaseValues(values);
}

}  // namespace

bool StartThreadRuntime() {
    g_values_slot = TlsAlloc();
    if (g_values_slot == TLS_OUT_OF_INDEXES) return false;
    if (!InitializeSection(&g_guard)) {
        TlsFree(g_values_slot);
        return false;
    }
    if (!InitializeSection(&g_shared_mutex.section)) {
        DeleteCriticalSection(&g_guard);
        TlsFree(g_values_slot);
        return false;
    }
    return true;
}

void EndThreadInRuntime() {
    if (ThreadValues* values = ValuesOfThisThread(false)) {
        TlsSetValue(g_values_slot, nullptr);
        DestroyValues(values);
    }
}

void StopThreadRuntime() {
    // Every thread's values, the threads still running included: none of them runs in the
    // library now, and the library's memory is about to go.
    while (g_threads != nullptr) DestroyValues(g_threads);
    while (g_mutexes != nullptr) ForgetMutex(g_mutexes);
    DeleteCriticalSection(&g_shared_mutex.section);
    DeleteCriticalSection(&g_guard);
    TlsFree(g_values_slot);
    g_values_slot = TLS_OUT_OF_INDEXES;
}

}  // namespace cv

using cv::SectionOf;

extern "C" {

int pthread_once(long* control, void (*function)(void)) {
    // 0: not run, 1: running, 2: done.
    volatile LONG* state = reinterpret_cast<volatile LONG*>(control);
    if (*state == 2) return 0;
    if (InterlockedCompareExchange(state, 1, 0) == 0) {
        function();
        InterlockedExchange(state, 2);
        return 0;
    }
    while (*state != 2) Sleep(0);
    return 0;
}

int pthread_mutexattr_init(unsigned* attributes) {
    *attributes = 0;
    return 0;
}

int pthread_mutexattr_destroy(unsigned*) {
    return 0;
}

int pthread_mutexattr_settype(unsigned* attributes, int type) {
    *attributes = static_cast<unsigned>(type);
    return 0;
}

// Every mutex is recursive (a critical section is): the runtime's recursive mutexes need that,
// and for the others a relock by the owner is a fault that POSIX leaves undefined anyway.
int pthread_mutex_init(intptr_t* mutex, const unsigned*) {
    *mutex = -1;
    return 0;
}

int pthread_mutex_destroy(intptr_t* mutex) {
    intptr_t current = *mutex;
    *mutex = -1;
    if (!cv::IsStaticInitializer(current) &&
        reinterpret_cast<cv::MutexBlock*>(current) != &cv::g_shared_mutex) {
        cv::ForgetMutex(reinterpret_cast<cv::MutexBlock*>(current));
    }
    return 0;
}

int pthread_mutex_lock(intptr_t* mutex) {
    EnterCriticalSection(SectionOf(mutex));
    return 0;
}

int pthread_mutex_trylock(intptr_t* mutex) {
    return TryEnterCriticalSection(SectionOf(mutex)) ? 0 : EBUSY;
}

int pthread_mutex_unlock(intptr_t* mutex) {
    LeaveCriticalSection(SectionOf(mutex));
    return 0;
}

// Conditions wake their waiters by polling: a wait lets go of the mutex for a moment and reports
// a wake-up, which POSIX allows at any time (waiters check their predicate and wait again). The
// runtime waits on a condition only while another thread initialises a static object, rarely and
// briefly, and Windows XP has no condition variables.
int pthread_cond_init(intptr_t* condition, const int*) {
    *condition = -1;
    return 0;
}

int pthread_cond_destroy(intptr_t*) {
    return 0;
}

int pthread_cond_signal(intptr_t*) {
    return 0;
}

int pthread_cond_broadcast(intptr_t*) {
    return 0;
}

int pthread_cond_wait(intptr_t*, intptr_t* mutex) {
    LeaveCriticalSection(SectionOf(mutex));
    Sleep(1);
    EnterCriticalSection(SectionOf(mutex));
    return 0;
}

int pthread_key_create(unsigned* key, void (*destructor)(void*)) {
    int result = EAGAIN;
    EnterCriticalSection(&cv::g_guard);
    for (unsigned k = 0; k < cv::kKeys; ++k) {
        if (cv::g_keys[k].used) continue;
        cv::g_keys[k].used = true;
        cv::g_keys[k].destructor = destructor;
        *key = k;
        result = 0;
        break;
    }
    LeaveCriticalSection(&cv::g_guard);
    return result;
}

int pthread_key_delete(unsigned key) {
    if (key >= cv::kKeys) return EINVAL;
    EnterCriticalSection(&cv::g_guard);
    cv::g_keys[key].used = false;
    for (cv::ThreadValues* values = cv::g_threads; values != nullptr; values = values->next) {
        values->values[key] = nullptr;
    }
    LeaveCriticalSection(&cv::g_guard);
    return 0;
}

void* pthread_getspecific(unsigned key) {
    cv::ThreadValues* values = cv::ValuesOfThisThread(false);
    return values != nullptr && key < cv::kKeys ? values->values[key] : nullptr;
}

// The C++ runtime asks for the calling thread's exception record at every throw and catch. Its own
// keeps the record in emulated thread-local storage, which ends the process when the memory for a
// thread's first record cannot be had; this one falls back to a spare record.
void* __cxa_get_globals() noexcept {
    cv::ThreadValues* values = cv::ValuesOfThisThread(true);
    if (values == nullptr) std::abort();  // no memory and no spare record left
    return &values->exceptions;
}

void* __cxa_get_globals_fast() noexcept {
    return __cxa_get_globals();
}

int pthread_setspecific(unsigned key, const void* value) {
    if (key >= cv::kKeys) return EINVAL;
    cv::ThreadValues* values = cv::ValuesOfThisThread(value != nullptr);
    if (values == nullptr) return value != nullptr ? ENOMEM : 0;
    values->values[key] = const_cast<void*>(value);
    return 0;
}

}  // extern "C"
