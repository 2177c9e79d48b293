/* Every export, and the load and unload that run the library's entry points, called with the
 * stack pointer at 0, 4, 8 and 12 mod 16: the 32-bit convention promises only 4, and a host built
 * by another compiler gives any of them. Each call is recorded: the callee must remove exactly
 * its arguments and keep ebx, esi and edi; and each case checks its answer and the files. */
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include "tests/hosts/host.h"

typedef struct {
    uint32_t before, after, ebx, esi, edi;
} CallRecord;
extern int32_t cv_call_at(void* function, int arguments, const uintptr_t* words, int misalign,
                          CallRecord* record);

static int misalign;
static const char* volatile called = "";

static void *load, *unload;

static int32_t Misaligned(void* function, int arguments, void* a, void* b) {
    uintptr_t words[2] = {(uintptr_t)a, (uintptr_t)b};
    CallRecord record;
    if (function != load && function != unload) called = cv_calling;
    int32_t result = cv_call_at(function, arguments, words, misalign, &record);
    if (record.before % 16 != (uint32_t)misalign) {
        cv_fail("%s: the trampoline called at %lu mod 16", called, record.before % 16);
    }
    if (record.after - record.before != 4u * arguments) {
        cv_fail("%s at %d mod 16: the stack pointer moved by %ld, not %d", called, misalign,
                (long)(record.after - record.before), 4 * arguments);
    }
    if (record.ebx != 0x0b0b0b0b || record.esi != 0x05050505 || record.edi != 0x0d0d0d0d) {
        cv_fail("%s at %d mod 16: a callee-saved register was not restored", called, misalign);
    }
    return result;
}

/* stack_host: each alignment in a process of its own; stack_host MISALIGN FIRST: that alignment,
 * from export FIRST on (after a crash, the run goes on behind the export that crashed). */
int main(int argc, char** argv) {
    char root[MAX_PATH], mode[32], tag[16];
    cv_host_init("stack_host");
    if (argc < 3) {
        for (int m = 0; m < 16; m += 4) {
            snprintf(mode, sizeof mode, "%d", m);
            cv_run_resuming(mode, mode, 0, X_COUNT);
        }
        printf("stack_host: %d exports, loads and unloads at 0, 4, 8, 12 mod 16\n", X_COUNT);
        return cv_host_exit();
    }
    misalign = atoi(argv[1]) & 12;
    int first = atoi(argv[2]);
    snprintf(mode, sizeof mode, "stack at %d mod 16", misalign);
    snprintf(tag, sizeof tag, "stack-%d", misalign);
    cv_make_root(root, tag);
    CoInitialize(NULL);
    load = (void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
    unload = (void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "FreeLibrary");
    cv_resume = X_COUNT;
    cv_context("LoadLibrary, %s", mode);
    called = "LoadLibraryA(CVAICP.DLL)";
    HMODULE module = (HMODULE)(intptr_t)Misaligned(load, 1, (void*)"CVAICP.DLL", NULL);
    if (module == NULL) {
        cv_fail("%s: LoadLibrary failed", mode);
        return cv_host_exit();
    }
    FreeLibrary(cv_load()); /* the export table, from a load that the one above holds */
    cv_invoke = Misaligned;
    for (int x = first; x < X_COUNT; x++) {
        cv_resume = x;
        cv_run_case(x, "anna", mode, 0);
    }
    cv_resume = X_COUNT;
    cv_context("FreeLibrary, %s", mode);
    called = "FreeLibrary(CVAICP.DLL)";
    if (!Misaligned(unload, 1, module, NULL)) cv_fail("%s: FreeLibrary failed", mode);
    CoUninitialize();
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}
