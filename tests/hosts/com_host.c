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

/* FindFirst, then at most `most` FindNext while they deliver; FindClose when `close`. The ids
 * delivered, in order. */
static void List(int most, int close, char* ids) {
    ListItem item;
    memset(&item, 0, sizeof item);
    *ids = 0;
    int32_t found = cv_call(X_AppointmentListItemFindFirst, &context, &item);
    while (found) {
        strcat(ids, item.ItemId);
        if (most-- <= 0) break;
        found = cv_call(X_AppointmentListItemFindNext, &context, &item);
    }
    if (close && cv_call(X_AppointmentListItemFindClose, &context, NULL) != 1)
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
    if (s->apartment != kNoCom)
        CoInitializeEx(NULL,
                       s->apartment == kSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    s->step();
    if (s->apartment != kNoCom) CoUninitialize();
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
    int32_t found = cv_call(X_AppointmentListItemFindNext, &context, &item);
    if (found && strcmp(item.ItemId, "a") && strcmp(item.ItemId, "b")) {
        cv_fail("FindNext on another thread delivered \"%s\"", item.ItemId);
    }
    if (cv_call(X_AppointmentListItemFindClose, &context, NULL) != 1)
        cv_fail("FindClose on another thread");
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

static const char* const kCases[] = {
    "apartments",
    "a listing handed to another thread (STA)",
    "a listing handed to another thread (MTA)",
    "unloaded with a listing open mid-way",
    "unloaded with a listing open after its end",
    "unloaded with a listing open after the last CoUninitialize",
    "a listing ended without FindClose, then the last CoUninitialize",
    "a listing ended without FindClose, then CoUninitialize and CoInitialize",
};
enum { kCaseCount = sizeof kCases / sizeof kCases[0] };

static void Case(int n) {
    char ids[64];
    cv_context("%s", kCases[n]);
    if (n >= 3) CoInitialize(NULL);
    HMODULE module = cv_load();
    if (n >= 3) List(n == 3 || n == 5 ? 0 : 99, 0, ids); /* left open mid-way or at its end */
    switch (n) {
        case 0:
            OnThread(kNoCom, ListWithoutCom);
            OnThread(kSta, ListAll);
            OnThread(kMta, ListAll);
            OnThread(kNoCom, ListWithoutCom);
            break;
        case 1:
        case 2:
            handover_apartment = n == 1 ? kSta : kMta;
            OnThread(handover_apartment, Start);
            OnThread(handover_apartment, ListAll);
            break;
        case 3:
        case 4:
        case 5:
            if (n == 5) LastCoUninitialize();
            cv_unload(module);
            module = cv_load();
            if (n == 5)
                ListWithoutCom();
            else
                ExpectList("after the reload");
            break;
        case 6:
            LastCoUninitialize();
            ListWithoutCom();
            break;
        case 7:
            CoUninitialize();
            CoInitialize(NULL);
            ExpectList("the next listing");
            break;
    }
    cv_unload(module);
    if (n == 3 || n == 4 || n == 7) CoUninitialize();
}

int main(int argc, char** argv) {
    char root[MAX_PATH], tag[16];
    cv_host_init("com_host");
    if (argc < 2) {
        for (int n = 0; n < kCaseCount; n++) cv_run_resuming(kCases[n], "", n, 0);
        printf("com_host: %d cases of apartments, handing over and unloading\n", kCaseCount);
        return cv_host_exit();
    }
    snprintf(tag, sizeof tag, "com-%s", argv[1]);
    cv_make_root(root, tag);
    cv_reset_mailbox("anna");
    cv_list_context(&context, "anna");
    Case(atoi(argv[1]));
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}
