/* Threads as a worker process has them: threads that were running before the library was loaded
 * call it afterwards (the library never saw them start), and 1,000 short-lived threads each make
 * a few calls, a walk among them, and end. Handles, heap and TLS indexes stay flat. */
#include <stdio.h>
#include <string.h>

#include "tests/hosts/host.h"

enum { kEarly = 4, kWave = 8, kThreads = 1000, kWarmUp = 64 };

static HANDLE go;

/* A thread from before the load: its walk cursor must read as 0, so AppointmentFindNext without
 * AppointmentFindFirst starts at the first line. */
static DWORD WINAPI Early(void* parameter) {
    char mailbox[16];
    AppointmentRequest r;
    snprintf(mailbox, sizeof mailbox, "early%d", (int)(intptr_t)parameter);
    WaitForSingleObject(go, INFINITE);
    cv_reset_mailbox(mailbox);
    cv_request(&r, mailbox, "", 0, 0);
    if (cv_call(X_FIND_NEXT, &r, NULL) != 1 || strcmp(r.ItemId, "a") != 0) {
        cv_fail("AppointmentFindNext on a thread from before the load did not start at line 1");
    }
    if (!cv_walk(mailbox)) cv_fail("a walk on a thread from before the load failed");
    if (!cv_add_get_remove(mailbox, "c")) {
        cv_fail("add, get, remove on a thread from before the load failed");
    }
    return 0;
}

static DWORD WINAPI ShortLived(void* parameter) {
    int n = (int)(intptr_t)parameter;
    char mailbox[16];
    snprintf(mailbox, sizeof mailbox, "t%d", n % kWave);
    if (!cv_walk(mailbox)) cv_fail("short-lived thread %d: the walk failed", n);
    if (!cv_add_get_remove(mailbox, "c")) cv_fail("short-lived thread %d: add, get, remove", n);
    return 0;
}

static void Wave(int first) {
    HANDLE threads[kWave];
    for (int i = 0; i < kWave; i++) {
        threads[i] = CreateThread(NULL, 0, ShortLived, (void*)(intptr_t)(first + i), 0, NULL);
    }
    WaitForMultipleObjects(kWave, threads, TRUE, INFINITE);
    for (int i = 0; i < kWave; i++) CloseHandle(threads[i]);
}

int main(void) {
    char root[MAX_PATH], mailbox[16];
    HANDLE early[kEarly];
    cv_host_init("thread_host");
    cv_make_root(root, "threads");
    cv_use_root(root);
    go = CreateEventA(NULL, TRUE, FALSE, NULL);
    for (int i = 0; i < kEarly; i++)
        early[i] = CreateThread(NULL, 0, Early, (void*)(intptr_t)i, 0, NULL);
    cv_context("threads from before the load");
    HMODULE module = cv_load();
    if (module == NULL) return cv_host_exit();
    SetEvent(go);
    WaitForMultipleObjects(kEarly, early, TRUE, INFINITE);
    for (int i = 0; i < kEarly; i++) CloseHandle(early[i]);
    printf("thread_host: %d threads from before the load walked, added, read and removed\n",
           kEarly);

    cv_context("short-lived threads");
    for (int i = 0; i < kWave; i++) {
        snprintf(mailbox, sizeof mailbox, "t%d", i);
        cv_reset_mailbox(mailbox);
    }
    for (int n = 0; n < kWarmUp; n += kWave) Wave(n);
    long handles = cv_handles();
    long long heap = cv_heap_in_use(), memory = cv_private_bytes();
    DWORD tls = cv_next_tls();
    for (int n = kWarmUp; n < kWarmUp + kThreads; n += kWave) Wave(n);
    long handles_after = cv_handles();
    long long heap_after = cv_heap_in_use(), memory_after = cv_private_bytes();
    printf(
        "thread_host: %d short-lived threads: handles %ld -> %ld, heap %lld -> %lld, "
        "private bytes %lld -> %lld, next TLS index %lu -> %lu\n",
        kThreads, handles, handles_after, heap, heap_after, memory, memory_after, tls,
        cv_next_tls());
    if (handles_after > handles + 8)
        cv_fail("short-lived threads: handles (or the next handle slot) grew by %ld",
                handles_after - handles);
    if (heap_after > heap + 64 * 1024)
        cv_fail("short-lived threads: heap grew by %lld bytes", heap_after - heap);
    if (memory_after > memory + 1024 * 1024) {
        cv_fail("short-lived threads: private bytes grew by %lld", memory_after - memory);
    }
    if (cv_next_tls() != tls) cv_fail("short-lived threads: TLS indexes were used up");
    cv_unload(module);
    cv_remove_tree(root);
    return cv_host_exit();
}
