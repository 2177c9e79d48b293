/* A long-running worker loads and unloads the library again and again while its own threads
 * live on: 1,500 LoadLibrary/FreeLibrary cycles with calls in between, from the main thread and
 * from 4 host threads that exist throughout. After a warm-up, TLS indexes, handles and heap stay
 * flat; and each load reads "Mail Root" again (it changes every cycle, and the calls land in the
 * new root). */
#include <stdio.h>
#include <string.h>

#include "tests/hosts/host.h"

enum { kCycles = 1500, kWarmUp = 100, kWorkers = 4 };

static HANDLE go[kWorkers], done;
static volatile LONG stopping;

/* A host thread: one round of calls whenever the main thread has the library loaded. */
static DWORD WINAPI Worker(void* parameter) {
    int n = (int)(intptr_t)parameter;
    char mailbox[16];
    AppointmentRequest r;
    snprintf(mailbox, sizeof mailbox, "w%d", n);
    for (;;) {
        WaitForSingleObject(go[n], INFINITE);
        if (stopping) return 0;
        cv_request(&r, mailbox, "b", 0, 0);
        if (cv_call(X_GET, &r, NULL) != 1) cv_fail("host thread %d: AppointmentGet failed", n);
        if (!cv_walk(mailbox)) cv_fail("host thread %d: the walk failed", n);
        ReleaseSemaphore(done, 1, NULL);
    }
}

/* The line that AppointmentAdd wrote is in this root's period file and not in the other's. */
static int HasLine(const char* root, const char* id) {
    char path[MAX_PATH], bytes[512] = "";
    DWORD got = 0;
    snprintf(path, sizeof path, "%s\\example\\MAILROOT\\main\\Calendar\\Y26M12D07.CAL", root);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    ReadFile(file, bytes, sizeof bytes - 1, &got, NULL);
    CloseHandle(file);
    bytes[got] = 0;
    return strstr(bytes, id) != NULL;
}

int main(void) {
    char roots[2][MAX_PATH], mailbox[16], id[16];
    HANDLE workers[kWorkers];
    long handles = 0;
    long long heap = 0, memory = 0;
    DWORD tls = 0;
    int cycle;
    cv_host_init("cycle_host");
    cv_make_root(roots[0], "cycles-a");
    cv_make_root(roots[1], "cycles-b");
    for (int i = 0; i < 2; i++) {
        cv_use_root(roots[i]);
        cv_reset_mailbox("main");
        for (int w = 0; w < kWorkers; w++) {
            snprintf(mailbox, sizeof mailbox, "w%d", w);
            cv_reset_mailbox(mailbox);
        }
    }
    done = CreateSemaphoreA(NULL, 0, kWorkers, NULL);
    for (int w = 0; w < kWorkers; w++) {
        go[w] = CreateEventA(NULL, FALSE, FALSE, NULL);
        workers[w] = CreateThread(NULL, 0, Worker, (void*)(intptr_t)w, 0, NULL);
    }
    for (cycle = 0; cycle < kCycles; cycle++) {
        const char* root = roots[cycle % 2];
        cv_context("load cycle %d", cycle);
        cv_use_root(root);
        HMODULE module = cv_load();
        if (module == NULL) break;
        for (int w = 0; w < kWorkers; w++) SetEvent(go[w]);
        snprintf(id, sizeof id, "c%d", cycle);
        AppointmentRequest r;
        cv_request(&r, "main", id, 1796659200, 1796662800);
        if (cv_call(X_ADD, &r, NULL) != 1 || !HasLine(root, id) ||
            HasLine(roots[1 - cycle % 2], id)) {
            cv_fail("load cycle %d: AppointmentAdd did not land in the new mail root", cycle);
        }
        if (cv_call(X_REMOVE, &r, NULL) != 1) cv_fail("load cycle %d: AppointmentRemove", cycle);
        for (int w = 0; w < kWorkers; w++) WaitForSingleObject(done, INFINITE);
        cv_unload(module);
        if (cycle + 1 == kWarmUp) {
            handles = cv_handles();
            heap = cv_heap_in_use();
            memory = cv_private_bytes();
            tls = cv_next_tls();
        }
        if (cv_failures > 20) break;
    }
    long handles_after = cv_handles();
    long long heap_after = cv_heap_in_use(), memory_after = cv_private_bytes();
    DWORD tls_after = cv_next_tls();
    int measured = cycle - kWarmUp;
    printf(
        "cycle_host: %d load cycles; after the first %d: handles %ld -> %ld, heap %lld -> %lld, "
        "private bytes %lld -> %lld, next TLS index %lu -> %lu\n",
        cycle, kWarmUp, handles, handles_after, heap, heap_after, memory, memory_after, tls,
        tls_after);
    if (cycle < kCycles) cv_fail("stopped after %d load cycles", cycle);
    if (measured > 0) {
        if (tls_after != tls)
            cv_fail("%d load cycles used up TLS indexes (next free %ld, was %ld)", measured,
                    tls_after == TLS_OUT_OF_INDEXES ? -1L : (long)tls_after, (long)tls);
        if (handles_after > handles + 8) {
            cv_fail("%d load cycles: handles (or the next handle slot) grew by %ld", measured,
                    handles_after - handles);
        }
        if (heap_after > heap + 64 * 1024) {
            cv_fail("%d load cycles: heap grew by %lld bytes", measured, heap_after - heap);
        }
        if (memory_after > memory + 1024 * 1024) {
            cv_fail("%d load cycles: private bytes grew by %lld", measured, memory_after - memory);
        }
    }
    stopping = 1;
    for (int w = 0; w < kWorkers; w++) SetEvent(go[w]);
    WaitForMultipleObjects(kWorkers, workers, TRUE, INFINITE);
    cv_remove_tree(roots[0]);
    cv_remove_tree(roots[1]);
    return cv_host_exit();
}
