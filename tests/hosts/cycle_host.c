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
        if (cv_call(X_AppointmentGet, &r, NULL) != 1)
            cv_fail("host thread %d: AppointmentGet failed", n);
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
    char roots[2][MAX_PATH], name[32];
    HANDLE workers[kWorkers];
    CvResources warm = {0};
    int cycle;
    cv_host_init("cycle_host");
    for (int i = 0; i < 2; i++) {
        cv_make_root(roots[i], i ? "cycles-b" : "cycles-a");
        cv_reset_mailbox("main");
        for (int w = 0; w < kWorkers; w++) {
            snprintf(name, sizeof name, "w%d", w);
            cv_reset_mailbox(name);
        }
    }
    done = CreateSemaphoreA(NULL, 0, kWorkers, NULL);
    for (int w = 0; w < kWorkers; w++) {
        go[w] = CreateEventA(NULL, FALSE, FALSE, NULL);
        workers[w] = CreateThread(NULL, 0, Worker, (void*)(intptr_t)w, 0, NULL);
    }
    for (cycle = 0; cycle < kCycles && cv_failures <= 20; cycle++) {
        const char* root = roots[cycle % 2];
        cv_context("load cycle %d", cycle);
        cv_use_root(root);
        HMODULE module = cv_load();
        if (module == NULL) break;
        for (int w = 0; w < kWorkers; w++) SetEvent(go[w]);
        snprintf(name, sizeof name, "c%d", cycle);
        AppointmentRequest r;
        cv_request(&r, "main", name, 1796659200, 1796662800);
        if (cv_call(X_AppointmentAdd, &r, NULL) != 1 || !HasLine(root, name) ||
            HasLine(roots[1 - cycle % 2], name)) {
            cv_fail("load cycle %d: AppointmentAdd did not land in the new mail root", cycle);
        }
        if (cv_call(X_AppointmentRemove, &r, NULL) != 1)
            cv_fail("load cycle %d: AppointmentRemove", cycle);
        for (int w = 0; w < kWorkers; w++) WaitForSingleObject(done, INFINITE);
        cv_unload(module);
        if (cycle + 1 == kWarmUp) cv_resources(&warm);
    }
    if (cycle < kCycles) cv_fail("stopped after %d load cycles", cycle);
    snprintf(name, sizeof name, "%d load cycles", cycle - kWarmUp);
    if (cycle > kWarmUp) cv_check_flat(name, &warm);
    stopping = 1;
    for (int w = 0; w < kWorkers; w++) SetEvent(go[w]);
    WaitForMultipleObjects(kWorkers, workers, TRUE, INFINITE);
    cv_remove_tree(roots[0]);
    cv_remove_tree(roots[1]);
    return cv_host_exit();
}
