/* The list enumeration under the COM rules of a worker process: single-threaded and
 * multithreaded apartments and a thread without COM; a listing handed to another thread; a
 * listing left open when the library is unloaded, also after the process's last CoUninitialize;
 * and the library loaded again afterwards. Nothing may fault, and a later listing must work.
 *
 *   com_host        every case, each in a process of its own
 *   com_host CASE   one case */
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/hosts/host.h"

enum { kNoCom, kSta, kMta };

static ListContext context;

static void Init(int apartment) {
    if (apartment == kSta) CoInitialize(NULL);
    if (apartment == kMta) CoInitializeEx(NULL, COINIT_MULTITHREADED);
}

static void Uninit(int apartment) {
    if (apartment != kNoCom) CoUninitialize();
}

/* FindFirst, then at most `most` FindNext while they deliver; FindClose when `close`. The ids
 * delivered, in order. */
static void List(int most, int close, char* ids) {
    ListItem item;
    memset(&item, 0, sizeof item);
    *ids = 0;
    int32_t found = cv_call(X_LIST_FIRST, &context, &item);
    while (found) {
        strcat(ids, item.ItemId);
        if (most-- <= 0) break;
        found = cv_call(X_LIST_NEXT, &context, &item);
    }
    if (close && cv_call(X_LIST_CLOSE, &context, NULL) != 1)
        cv_fail("%s", "FindClose did not answer 1");
}

static void ExpectList(const char* when) {
    char ids[64];
    List(99, 1, ids);
    if (strcmp(ids, "ab") != 0) cv_fail("%s: the listing gave \"%s\", not \"ab\"", when, ids);
}

/* A step on a thread of its own with its own apartment. */
typedef struct {
    int apartment;
    void (*step)(void);
} Step;

static DWORD WINAPI StepThread(void* parameter) {
    Step* s = parameter;
    Init(s->apartment);
    s->step();
    Uninit(s->apartment);
    return 0;
}

static void OnThread(int apartment, void (*step)(void)) {
    Step s = {apartment, step};
    HANDLE thread = CreateThread(NULL, 0, StepThread, &s, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

static void ListWithoutCom(void) {
    char ids[64];
    List(99, 1, ids);
    if (*ids) cv_fail("a thread without COM listed \"%s\"", ids);
}
static void ListAll(void) {
    ExpectList("a listing");
}

/* Handing over: the first thread starts, the second goes on and closes while the first lives. */
static int handover_apartment;

static void Continue(void) {
    ListItem item;
    memset(&item, 0, sizeof item);
    int32_t found = cv_call(X_LIST_NEXT, &context, &item);
    if (found && strcmp(item.ItemId, "a") && strcmp(item.ItemId, "b")) {
        cv_fail("FindNext on another thread delivered \"%s\"", item.ItemId);
    }
    if (cv_call(X_LIST_CLOSE, &context, NULL) != 1) cv_fail("FindClose on another thread");
}

static void Start(void) {
    char ids[64];
    List(0, 0, ids);
    if (strcmp(ids, "a") != 0) cv_fail("FindFirst gave \"%s\", not \"a\"", ids);
    OnThread(handover_apartment, Continue);
}

/* The platform unloads the COM servers at the process's last CoUninitialize; Wine keeps MSXML
 * loaded, so the host does what the platform would. Wine's COM remembers the unloaded server, so
 * nothing in this process may create MSXML objects afterwards: the listings that follow run
 * without COM and must answer 0, without touching what the earlier listing held. */
static void LastCoUninitialize(void) {
    CoUninitialize();
    HMODULE msxml;
    for (int i = 0; i < 64 && (msxml = GetModuleHandleA("msxml3.dll")) != NULL; i++) {
        FreeLibrary(msxml);
    }
    if (GetModuleHandleA("msxml3.dll")) cv_fail("%s", "msxml3.dll stays loaded");
}

static void Case(int n) {
    HMODULE module;
    char ids[64];
    switch (n) {
        case 0:
            cv_context("apartments");
            module = cv_load();
            OnThread(kNoCom, ListWithoutCom);
            OnThread(kSta, ListAll);
            OnThread(kMta, ListAll);
            OnThread(kNoCom, ListWithoutCom);
            cv_unload(module);
            break;
        case 1:
        case 2:
            handover_apartment = n == 1 ? kSta : kMta;
            cv_context("a listing handed to another thread (%s)", n == 1 ? "STA" : "MTA");
            module = cv_load();
            OnThread(handover_apartment, Start);
            OnThread(handover_apartment, ListAll);
            cv_unload(module);
            break;
        case 3:
        case 4:
            cv_context("unloaded with a listing open %s", n == 3 ? "mid-way" : "after its end");
            CoInitialize(NULL);
            module = cv_load();
            List(n == 3 ? 0 : 99, 0, ids);
            cv_unload(module);
            module = cv_load();
            ExpectList("after the reload");
            cv_unload(module);
            CoUninitialize();
            break;
        case 5:
            cv_context("unloaded with a listing open after the last CoUninitialize");
            CoInitialize(NULL);
            module = cv_load();
            List(0, 0, ids);
            LastCoUninitialize();
            cv_unload(module);
            module = cv_load();
            ListWithoutCom();
            cv_unload(module);
            break;
        case 6:
            cv_context("a listing ended without FindClose, then the last CoUninitialize");
            CoInitialize(NULL);
            module = cv_load();
            List(99, 0, ids);
            LastCoUninitialize();
            ListWithoutCom();
            cv_unload(module);
            break;
        case 7:
            cv_context("a listing ended without FindClose, then CoUninitialize and CoInitialize");
            CoInitialize(NULL);
            module = cv_load();
            List(99, 0, ids);
            CoUninitialize();
            CoInitialize(NULL);
            ExpectList("the next listing");
            cv_unload(module);
            CoUninitialize();
            break;
    }
}

enum { kCases = 8 };

int main(int argc, char** argv) {
    char root[MAX_PATH], arguments[16];
    cv_host_init("com_host");
    if (argc < 2) {
        for (int n = 0; n < kCases; n++) {
            snprintf(arguments, sizeof arguments, "%d", n);
            if (cv_spawn(arguments) != 0) InterlockedIncrement(&cv_failures);
        }
        printf("com_host: %d cases of apartments, handing over and unloading\n", kCases);
        return cv_host_exit();
    }
    snprintf(arguments, sizeof arguments, "com-%s", argv[1]);
    cv_make_root(root, arguments);
    cv_use_root(root);
    cv_reset_mailbox("anna");
    memset(&context, 0, sizeof context);
    strcpy(context.Mailbox, "anna");
    strcpy(context.Postoffice, "example");
    context.RangeStart = 1796601600 + 6 * 3600;
    context.RangeEnd = 1796601600 + 18 * 3600;
    Case(atoi(argv[1]));
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}
