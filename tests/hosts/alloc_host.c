/* The Nth allocation of the library failing, for every N along every export: the host survives,
 * the export answers its failure result or succeeds, no blocking file or temporary copy stays,
 * the period file holds its old or its new content, and the next normal call works.
 *
 *   alloc_host MODE        runs every export's sweep, each in a process of its own, so that a
 *                          sweep that kills its process does not hide the others
 *   alloc_host MODE X N    the sweep of export X (0-based, ordinal order) from N on
 *
 * MODE: cold (a fresh load for every N), warm (after one normal round), thread (each call on a
 * new thread), preloaded (the shared GCC runtime in the process before the library). */
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/hosts/host.h"

/* A sweep that crashes goes on behind the N that crashed, a few times: enough to tell one bad
 * spot from a bad export without starting hundreds of processes. */
enum { kMostAllocations = 5000, kMostCrashes = 3 };

static const char* mode;
static int export_index;
static long fail_at;
static int reached;

static DWORD WINAPI CaseOnThread(void* unused) {
    (void)unused;
    CoInitialize(NULL);
    reached = cv_run_case(export_index, "anna", mode, fail_at);
    CoUninitialize();
    return 0;
}

static int RunCase(long at) {
    if (strcmp(mode, "thread") != 0) return cv_run_case(export_index, "anna", mode, at);
    fail_at = at;
    HANDLE thread = CreateThread(NULL, 0, CaseOnThread, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return reached;
}

static int Sweep(long first) {
    int cold = strcmp(mode, "cold") == 0;
    HMODULE module = NULL;
    long at;
    if (!cold) {
        if ((module = cv_load()) == NULL) return 1;
        cv_patch_allocators(module);
        for (int x = 0; x < X_COUNT; x++) cv_run_case(x, "anna", "warm-up", 0);
    }
    for (at = first; at <= kMostAllocations; at++) {
        cv_resume = at;
        if (cold && (module = cv_load()) == NULL) return 1;
        if (cold) cv_patch_allocators(module);
        LONG before = cv_failures;
        int injected = RunCase(at);
        /* The same call again, with nothing failing, must work as if nothing had happened. */
        if (injected) cv_run_case(export_index, "anna", "the normal call after N failed", 0);
        if (cv_failures != before)
            printf("  (failure above: %s, %s, N=%ld)\n", cv_export_name[export_index], mode, at);
        if (cold) cv_unload(module);
        if (!injected) break;
    }
    if (!cold) cv_unload(module);
    printf("alloc_host %s: %s: %ld allocation(s), each failed once\n", mode,
           cv_export_name[export_index], at - 1);
    return 0;
}

int main(int argc, char** argv) {
    char root[MAX_PATH], arguments[64];
    cv_host_init("alloc_host");
    if (argc < 2) {
        fprintf(stderr, "usage: alloc_host cold|warm|thread|preloaded [EXPORT [FIRST-N]]\n");
        return 2;
    }
    mode = argv[1];
    if (argc == 2) {
        for (int x = 0; x < X_COUNT; x++) {
            char label[64];
            snprintf(arguments, sizeof arguments, "%s %d", mode, x);
            snprintf(label, sizeof label, "%s, %s", cv_export_name[x], mode);
            cv_run_resuming(label, arguments, 1, kMostCrashes);
        }
        return cv_host_exit();
    }
    export_index = atoi(argv[2]);
    if (export_index < 0 || export_index >= X_COUNT) return 2;
    if (strcmp(mode, "preloaded") == 0 && LoadLibraryA(CV_GCC_RUNTIME) == NULL) {
        cv_fail("cannot preload %s (error %lu)", CV_GCC_RUNTIME, GetLastError());
    }
    snprintf(arguments, sizeof arguments, "alloc-%s-%d", mode, export_index);
    cv_make_root(root, arguments);
    CoInitialize(NULL);
    Sweep(argc > 3 ? atol(argv[3]) : 1);
    CoUninitialize();
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}
