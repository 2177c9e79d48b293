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
    if (cv_call(X_AppointmentFindNext, &r, NULL) != 1 || strcmp(r.ItemId, "a") != 0) {
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
    CvResources before;
    cv_resources(&before);
    for (int n = kWarmUp; n < kWarmUp + kThreads; n += kWave) Wave(n);
    cv_check_flat("1000 short-lived threads", &before);
    cv_unload(module);
    cv_remove_tree(root);
    return cv_host_exit();
}
