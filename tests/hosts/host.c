/* The host battery: one program that loads CVAICP.DLL the way the mail server's worker processes
 * do (LoadLibrary, exports looked up by name, called through __stdcall pointers from code that no
 * GCC assumption protects). The store lives in a temporary folder that the registry names, and
 * every check reads what the calls left on disk with plain Win32 calls.
 *
 *   host stack | alloc MODE | com | cycles | threads | version   one battery (see each one's
 *                                                                comment)
 *
 * A battery that a fault could kill runs its cases as children of this program (cv_run_resuming),
 * with the same subcommand and the case's number. */
#include <windows.h>
#include <winver.h>
#include <objbase.h>
#include <oleauto.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/cvaicp_exports.h"

#define CV_HOST_EXPORT_INDEX(Name, ...) X_##Name,
enum { CVAICP_EXPORTS(CV_HOST_EXPORT_INDEX) X_COUNT };
#define CV_HOST_EXPORT_NAME(Name, ...) #Name,
#define CV_HOST_EXPORT_ARGUMENTS(Name, Ordinal, Arguments, ...) Arguments,
static const char* const cv_export_name[X_COUNT] = {CVAICP_EXPORTS(CV_HOST_EXPORT_NAME)};
static const int export_arguments[X_COUNT] = {CVAICP_EXPORTS(CV_HOST_EXPORT_ARGUMENTS)};

/* Reporting. cv_fail prints one line naming what failed and counts it; cv_context names what runs
 * now, so that a fault or an abort that kills the process still says where it happened. */
static volatile LONG cv_failures;
static const char* program_name = "host";
static char context[512];
static void* functions[X_COUNT];
static char cv_root[MAX_PATH];

static void cv_fail(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printf("FAIL %s: %s\n", program_name, text);
    InterlockedIncrement(&cv_failures);
}

static void cv_context(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(context, sizeof context, format, args);
    va_end(args);
}

/* A fault or std::terminate inside the library ends the process; say where before it goes. A
 * child exits with 0x10000 + cv_resume when that is set, so that its parent can go on behind it. */
static volatile long cv_resume = -1;

static void Die(const char* what) {
    printf("FAIL %s: %s: %s killed the host\n", program_name, context, what);
    TerminateProcess(GetCurrentProcess(), cv_resume >= 0 ? 0x10000 + (DWORD)cv_resume : 70);
}

static LONG WINAPI OnFault(EXCEPTION_POINTERS* e) {
    char what[64];
    snprintf(what, sizeof what, "exception 0x%08lx at %p",
             (unsigned long)e->ExceptionRecord->ExceptionCode,
             e->ExceptionRecord->ExceptionAddress);
    Die(what);
    return EXCEPTION_EXECUTE_HANDLER;
}

static void OnAbort(int signal_number) {
    (void)signal_number;
    Die("abort() (std::terminate)");
}

static int cv_host_exit(void) {
    if (cv_failures) printf("%s: %ld check(s) FAILED\n", program_name, (long)cv_failures);
    if (!cv_failures) printf("%s: all checks passed\n", program_name);
    return cv_failures != 0;
}

static HMODULE cv_load(void) {
    HMODULE module = LoadLibraryA("CVAICP.DLL");
    if (module == NULL) {
        cv_fail("%s: LoadLibrary(CVAICP.DLL) failed, error %lu", context, GetLastError());
        return NULL;
    }
    for (int x = 0; x < X_COUNT; x++) {
        functions[x] = (void*)GetProcAddress(module, cv_export_name[x]);
        if (functions[x] == NULL) cv_fail("%s is not exported", cv_export_name[x]);
    }
    return module;
}

static void cv_unload(HMODULE module) {
    if (module && !FreeLibrary(module)) cv_fail("%s: FreeLibrary failed", context);
}

static int32_t DirectInvoke(void* function, int arguments, void* a, void* b) {
    if (arguments == 0) return ((int32_t(WINAPI*)(void))function)();
    if (arguments == 1) return ((int32_t(WINAPI*)(void*))function)(a);
    return ((int32_t(WINAPI*)(void*, void*))function)(a, b);
}
/* cv_call goes through cv_invoke, which the stack battery replaces by its trampoline. */
static int32_t (*cv_invoke)(void*, int, void*, void*) = DirectInvoke;
static const char* volatile cv_calling = ""; /* the export cv_call calls now */

static int32_t cv_call(int x, void* a, void* b) {
    cv_calling = cv_export_name[x];
    return cv_invoke(functions[x], export_arguments[x], a, b);
}

static void SetValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &handle, NULL) ||
        RegSetValueExA(handle, name, 0, type, (const BYTE*)data, size)) {
        cv_fail("cannot write the registry value %s", name);
        return;
    }
    RegCloseKey(handle);
}

static void cv_remove_tree(const char* path) {
    char from[MAX_PATH + 2] = {0};
    snprintf(from, MAX_PATH, "%s", path);
    SHFILEOPSTRUCTA op = {0};
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = FOF_NO_UI;
    SHFileOperationA(&op);
}

/* Writes "Mail Root", which the library reads at its next load. Writers and readers must never
 * wait here: a blocking file left behind is reported, not waited out. */
static void cv_use_root(const char* root) {
    static const char* const waits[] = {"Write Wait Timeout", "Read Wait Timeout",
                                        "UnBlock Timeout", "Apply Timeout"};
    DWORD one = 1;
    for (int i = 0; i < 4; i++)
        SetValue("SOFTWARE\\Corvane\\Corvane\\Providers", waits[i], REG_DWORD, &one, sizeof one);
    SetValue("SOFTWARE\\Corvane\\Corvane", "Mail Root", REG_SZ, root, (DWORD)strlen(root) + 1);
    snprintf(cv_root, sizeof cv_root, "%s", root);
}

/* A new temporary folder (`root`, also cv_root) for mailboxes of postoffice "example". */
static void cv_make_root(char* root, const char* tag) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(root, MAX_PATH, "%scvhost-%s-%lu", temp, tag, GetCurrentProcessId());
    cv_remove_tree(root);
    if (!CreateDirectoryA(root, NULL)) {
        cv_fail("cannot make the store folder %s (error %lu)", root, GetLastError());
        exit(cv_host_exit());
    }
    cv_use_root(root);
}

static void PathOf(char* out, const char* root, const char* mailbox, const char* name) {
    snprintf(out, MAX_PATH, "%s\\example\\MAILROOT\\%s\\Calendar%s%s", root, mailbox,
             *name ? "\\" : "", name);
}

static void WriteBytes(const char* mailbox, const char* name, const char* bytes, DWORD size) {
    char path[MAX_PATH];
    DWORD written = 0;
    PathOf(path, cv_root, mailbox, name);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, bytes, size, &written, NULL))
        cv_fail("cannot write %s", path);
    CloseHandle(file);
}

/* -1 when the file is missing. */
static int ReadBytes(const char* root, const char* mailbox, const char* name, char* out,
                     int capacity) {
    char path[MAX_PATH];
    DWORD got = 0;
    PathOf(path, root, mailbox, name);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return -1;
    ReadFile(file, out, capacity - 1, &got, NULL);
    CloseHandle(file);
    out[got] = 0;
    return (int)got;
}

/* The period file of every case: two appointments on 2026-12-07 (UTC and, at noon, any local
 * zone), each with an item file so that the list enumeration finds them. */
#define PERIOD "Y26M12D07"
#define LINE_A "1796644800\t1796648400\ta"
#define LINE_B "1796652000\t1796655600\tb"
#define BASE LINE_A "\r\n" LINE_B
#define BIG_SIZE 9000 /* an item that takes two chunks */

static char BigByte(int i) {
    return (char)('a' + i % 23);
}

static void cv_reset_mailbox(const char* mailbox) {
    char folder[MAX_PATH];
    /* Everything the previous case left goes, so that each case starts from the same files. */
    PathOf(folder, cv_root, mailbox, "");
    cv_remove_tree(folder);
    SHCreateDirectoryExA(NULL, folder, NULL);
    static char big[BIG_SIZE];
    for (int i = 0; i < BIG_SIZE; i++) big[i] = BigByte(i);
    static const char item[] = "Subject: planning\r\n\r\nbody\r\n";
    WriteBytes(mailbox, PERIOD ".CAL", BASE, sizeof BASE - 1);
    WriteBytes(mailbox, "a", item, sizeof item - 1);
    WriteBytes(mailbox, "b", item, sizeof item - 1);
    WriteBytes(mailbox, "big.itm", big, BIG_SIZE);
    WriteBytes(mailbox, "w.itm", "old", 3);
}

/* A blocking file or temporary copy that outlives its call locks every other host out. */
static void CheckNoLeftovers(const char* mailbox, const char* label) {
    static const char* const patterns[] = {"*.BLK", "*.TMP"};
    for (int i = 0; i < 2; i++) {
        char pattern[MAX_PATH];
        WIN32_FIND_DATAA found;
        PathOf(pattern, cv_root, mailbox, patterns[i]);
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        cv_fail("%s: left %s behind", label, found.cFileName);
        FindClose(search);
    }
}

static void cv_request(AppointmentRequest* r, const char* mailbox, const char* id, int32_t start,
                       int32_t finish) {
    memset(r, 0, sizeof *r);
    strcpy(r->Mailbox, mailbox);
    strcpy(r->Postoffice, "example");
    strcpy(r->PeriodName, PERIOD);
    strcpy(r->ItemId, id);
    r->StartTime = start;
    r->FinishTime = finish;
}

static void Item(AppointmentItemRequest* r, const char* mailbox, const char* name,
                 const char* data) {
    memset(r, 0, sizeof *r);
    strcpy(r->Mailbox, mailbox);
    strcpy(r->Postoffice, "example");
    strcpy(r->ItemFileName, name);
    strcpy(r->Data, data);
}

static void cv_list_context(ListContext* c, const char* mailbox) {
    memset(c, 0, sizeof *c);
    strcpy(c->Mailbox, mailbox);
    strcpy(c->Postoffice, "example");
    c->RangeStart = 1796601600 + 6 * 3600; /* 06:00 to 18:00 of the day */
    c->RangeEnd = 1796601600 + 18 * 3600;
}

static int Found(const AppointmentRequest* r, const char* id, int32_t start, int32_t finish) {
    return strcmp(r->ItemId, id) == 0 && r->StartTime == start && r->FinishTime == finish;
}

static int Listed(const ListItem* item, const char* id, int32_t start, int32_t finish) {
    return strcmp(item->ItemId, id) == 0 && item->StartTime == start &&
           item->FinishTime == finish && item->ItemXmlLength == strlen(item->ItemXml) &&
           strstr(item->ItemXml, "ELEMENT") != NULL;
}

/* A walk of the base period file (FindFirst, then FindNext until 0: a, b), then AppointmentAdd of
 * `id`, AppointmentGet of it and AppointmentRemove: 1 when each did its part. */
static int cv_round(const char* mailbox, const char* id) {
    AppointmentRequest r;
    cv_request(&r, mailbox, "", 0, 0);
    if (cv_call(X_AppointmentFindFirst, &r, NULL) != 1 || !Found(&r, "a", 1796644800, 1796648400))
        return 0;
    r.ItemId[0] = 0;
    if (cv_call(X_AppointmentFindNext, &r, NULL) != 1 || !Found(&r, "b", 1796652000, 1796655600))
        return 0;
    r.ItemId[0] = 0;
    if (cv_call(X_AppointmentFindNext, &r, NULL) != 0) return 0;
    cv_request(&r, mailbox, id, 1796659200, 1796662800);
    if (cv_call(X_AppointmentAdd, &r, NULL) != 1) return 0;
    cv_request(&r, mailbox, id, 0, 0);
    return cv_call(X_AppointmentGet, &r, NULL) == 1 && Found(&r, id, 1796659200, 1796662800) &&
           cv_call(X_AppointmentRemove, &r, NULL) == 1;
}

static volatile LONG allocations, fail_at;

static int Fails(void) {
    return fail_at > 0 && InterlockedIncrement(&allocations) == fail_at;
}

/* Every allocator the library might import: its DLL, its type, and a counting stand-in
 * Counted_<name> that fails the counted allocation and otherwise calls real_<name>. */
/* clang-format off */
#define CV_ALLOCATORS(X)                                                                          \
    X("msvcrt.dll", void*, __cdecl, malloc, (size_t n), (n))                                      \
    X("msvcrt.dll", void*, __cdecl, calloc, (size_t n, size_t s), (n, s))                         \
    X("msvcrt.dll", void*, __cdecl, realloc, (void* p, size_t n), (p, n))                         \
    X("msvcrt.dll", char*, __cdecl, _strdup, (const char* s), (s))                                \
    X("msvcrt.dll", void*, __cdecl, _aligned_malloc, (size_t n, size_t a), (n, a))                \
    X("kernel32.dll", LPVOID, WINAPI, HeapAlloc, (HANDLE h, DWORD f, SIZE_T n), (h, f, n))        \
    X("kernel32.dll", LPVOID, WINAPI, HeapReAlloc, (HANDLE h, DWORD f, LPVOID p, SIZE_T n),       \
      (h, f, p, n))                                                                               \
    X("kernel32.dll", HLOCAL, WINAPI, LocalAlloc, (UINT f, SIZE_T n), (f, n))                     \
    X("kernel32.dll", HGLOBAL, WINAPI, GlobalAlloc, (UINT f, SIZE_T n), (f, n))                   \
    X("oleaut32.dll", BSTR, WINAPI, SysAllocStringLen, (const OLECHAR* s, UINT n), (s, n))        \
    X("oleaut32.dll", BSTR, WINAPI, SysAllocString, (const OLECHAR* s), (s))
#define CV_COUNTED(Dll, Type, Convention, Name, Parameters, Arguments)                             \
    static Type(Convention* real_##Name) Parameters;                                              \
    static Type Convention Counted_##Name Parameters {                                            \
        return Fails() ? NULL : real_##Name Arguments;                                            \
    }
#define CV_ALLOCATOR_ROW(Dll, Type, Convention, Name, Parameters, Arguments)                       \
    {Dll, #Name, (void*)Counted_##Name, (void**)&real_##Name},
/* clang-format on */
CV_ALLOCATORS(CV_COUNTED)

static const struct {
    const char* dll;
    const char* name;
    void* counted;
    void** real;
} allocators[] = {CV_ALLOCATORS(CV_ALLOCATOR_ROW)};
#define ALLOCATORS (sizeof allocators / sizeof allocators[0])

static void cv_patch_allocators(HMODULE module) {
    BYTE* base = (BYTE*)module;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
    int patched = 0;
    for (; dir.VirtualAddress && d->Name; d++) {
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name =
                (const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name;
            for (size_t i = 0; i < ALLOCATORS; i++) {
                if (_stricmp((const char*)(base + d->Name), allocators[i].dll) ||
                    strcmp(name, allocators[i].name)) {
                    continue;
                }
                DWORD old;
                *allocators[i].real = (void*)slots->u1.Function;
                VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
                slots->u1.Function = (ULONG_PTR)allocators[i].counted;
                VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
                patched++;
            }
        }
    }
    if (patched == 0) cv_fail("found no allocator among the library's imports");
}

/* Each export's case: the export called first (uncounted; it must simply work), the record's
 * ItemId and start (an hour long), the answers of success and of failure, the period file after
 * success (NULL: as it was), the item data for w.itm (NULL: big.itm is read) and w.itm after
 * success (NULL: removed), the appointment delivered, and the item's DataLength. */
#define AFTER(Name) X_##Name + 1
static const struct {
    int before; /* AFTER(Name), or 0 */
    const char* id;
    int32_t start, want, failed;
    const char *period, *data, *item, *found;
    int32_t length; /* -1: not checked */
} kExportCases[X_COUNT] = {
    {0, "c", 1796659200, 1, 0, BASE "\r\n1796659200\t1796662800\tc", 0, 0, 0, -1},
    {0, "A", 0, 1, 0, "1796666400\t1796670000\ta2\r\n" LINE_B, 0, 0, 0, -1},
    {0, "b", 0, 1, 0, LINE_A, 0, 0, 0, -1},
    {0, "", 0, 1, 0, 0, 0, 0, "a", -1},
    {AFTER(AppointmentFindFirst), "", 0, 1, 0, 0, 0, 0, "b", -1},
    {0, "B", 0, 1, 0, 0, 0, 0, "b", -1},
    {0, "", 0, 0, 0, 0, 0, 0, 0, -1},
    {0, "", 0, 1, 1, 0, "new body", "new body", 0, 8},
    {0, "", 0, 1, 1, 0, "+tail", "old+tail", 0, -1},
    {AFTER(AppointmentItemGetFirstChunk), "", 0, 8191, 8191, 0, 0, 0, 0, -1},
    {0, "", 0, 0, 0, 0, 0, 0, 0, BIG_SIZE},
    {0, "", 0, 1, 0, 0, 0, 0, 0, 8192},
    {AFTER(AppointmentItemGetFirstChunk), "", 0, 1, 0, 0, 0, 0, 0, BIG_SIZE - 8192},
    {0, "", 0, 1, 0, 0, 0, 0, 0, -1},
    {0, "", 0, 1, 1, 0, "", NULL, 0, -1},
    {0, "", 0, 1, 0, 0, 0, 0, 0, -1},
    {0, "", 0, 1, 0, 0, 0, 0, "a", -1},
    {AFTER(AppointmentListItemFindFirst), "", 0, 1, 0, 0, 0, 0, "b", -1},
    {AFTER(AppointmentListItemFindFirst), "", 0, 1, 0, 0, 0, 0, 0, -1},
};

/* One call of export x with its preparation and checks, on `mailbox` (reset first). With at > 0
 * the at-th allocation of the library inside the call fails; the answer is then the export's
 * failure result or a correct success. 1 when that allocation was reached. */
static int cv_run_case(int x, const char* mailbox, const char* mode, long at) {
    char label[256], bytes[BIG_SIZE + 1], seen[200];
    AppointmentRequest r, edited;
    AppointmentItemRequest item;
    FreeBusyRequest busy = {0};
    ListContext list;
    ListItem listed = {0};
    const int chunk = x == X_AppointmentItemGetFirstChunk || x == X_AppointmentItemGetNextChunk;
    const char* period = kExportCases[x].period ? kExportCases[x].period : BASE;
    const char* found = kExportCases[x].found;
    int length = snprintf(label, sizeof label, "%s, %s", cv_export_name[x], mode);
    if (at > 0) snprintf(label + length, sizeof label - length, ", N=%ld", at);
    cv_context("%s", label);
    cv_reset_mailbox(mailbox);
    cv_request(&r, mailbox, "", 0, 0);
    cv_request(&edited, mailbox, "a2", 1796666400, 1796670000);
    Item(&item, mailbox, kExportCases[x].data ? "w.itm" : "big.itm",
         kExportCases[x].data ? kExportCases[x].data : "");
    cv_list_context(&list, mailbox);
    strcpy(busy.Mailbox, mailbox);
    strcpy(busy.Postoffice, "example");
    strcpy(busy.NamePrefix, "Y26M12");
    busy.BusyDaysLength = -1;
    void* a = x == X_SetCurrentHost                   ? (void*)""
              : x == X_GetFreeBusyData                ? (void*)&busy
              : x >= X_AppointmentListItemFindFirst   ? (void*)&list
              : x >= X_AppointmentItemWriteFirstChunk ? (void*)&item
                                                      : (void*)&r;
    void* b = x == X_AppointmentEdit     ? (void*)&edited
              : export_arguments[x] == 2 ? (void*)&listed
                                         : NULL;
    int before = kExportCases[x].before - 1;
    if (before >= 0 && cv_call(before, a, &listed) != 1)
        cv_fail("%s: the %s before it failed", label, cv_export_name[before]);
    int32_t start = kExportCases[x].start;
    cv_request(&r, mailbox, kExportCases[x].id, start, start ? start + 3600 : 0);
    allocations = 0;
    fail_at = at;
    int32_t got = cv_call(x, a, b);
    fail_at = 0;
    int reached = at > 0 && allocations >= at;
    int right = kExportCases[x].length < 0 || item.DataLength == kExportCases[x].length;
    for (int i = 0; chunk && right && i < item.DataLength; i++)
        right = item.Data[i] == BigByte(i + (x == X_AppointmentItemGetNextChunk ? 8192 : 0));
    if (x == X_GetFreeBusyData)
        right = strcmp(busy.BusyDays, "07") == 0 && busy.BusyDaysLength == 2;
    if (found) {
        int32_t from = *found == 'a' ? 1796644800 : 1796652000;
        right = b == &listed ? Listed(&listed, found, from, from + 3600) &&
                                   strcmp(listed.Mailbox, mailbox) == 0
                             : Found(&r, found, from, from + 3600);
    }
    /* Without injection only the success counts; with it, the failure result (nothing changed)
     * or a correct success. */
    snprintf(seen, sizeof seen, ": %s \"%.40s\", %ld..%ld, DataLength %ld, BusyDays \"%.31s\"",
             b == &listed ? "listed" : "ItemId", b == &listed ? listed.ItemId : r.ItemId,
             (long)(b == &listed ? listed.StartTime : r.StartTime),
             (long)(b == &listed ? listed.FinishTime : r.FinishTime), (long)item.DataLength,
             busy.BusyDays);
    int32_t want = kExportCases[x].want, failed = kExportCases[x].failed;
    int succeeded = got == want && right;
    if (!succeeded && (!reached || got != failed))
        cv_fail("%s: answered %ld%s%s (expected %ld%s)", label, (long)got,
                got == want ? " with wrong outputs" : "", got == want ? seen : "", (long)want,
                reached && failed != want ? " or the failure result" : "");
    CheckNoLeftovers(mailbox, label);
    int size = ReadBytes(cv_root, mailbox, PERIOD ".CAL", bytes, sizeof bytes);
    int old = size >= 0 && strcmp(bytes, BASE) == 0,
        changed = size >= 0 && strcmp(bytes, period) == 0;
    /* A write that says it failed changed nothing; one that succeeded left the new lines.
     * AppointmentEdit answers 1 also when it could not make its copy. */
    if (!(succeeded ? changed || (x == X_AppointmentEdit && reached && old) : old))
        cv_fail("%s: the period file holds neither its old nor its expected content", label);
    if (kExportCases[x].data) {
        const char* item_new = kExportCases[x].item;
        size = ReadBytes(cv_root, mailbox, "w.itm", bytes, sizeof bytes);
        int kept = size >= 0 && strcmp(bytes, "old") == 0;
        int done = item_new ? size >= 0 && strcmp(bytes, item_new) == 0 : size < 0;
        if (!(done || (reached && kept)))
            cv_fail("%s: the item file w.itm holds neither its old nor its new content", label);
    }
    if (b == &listed) cv_call(X_AppointmentListItemFindClose, &list, NULL);
    return reached;
}

/* Process resources, for "stays flat" checks: the handle count (or where the system does not
 * tell, as under Wine, the slot a new handle gets), the busy blocks of every heap, the private
 * bytes (0 where the system does not tell) and the next free TLS index. */
typedef struct {
    long handles;
    long long heap, memory;
    DWORD tls;
} CvResources;

static void cv_resources(CvResources* now) {
    DWORD count = 0;
    PROCESS_MEMORY_COUNTERS_EX counters = {0};
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    memset(now, 0, sizeof *now);
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        now->handles = (long)count;
    } else {
        /* Wine reports no count. A new handle takes the lowest free slot of the handle table, so
         * its slot number climbs once leaked handles have filled the holes. */
        HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
        CloseHandle(probe);
        now->handles = (long)((uintptr_t)probe / 4);
    }
    for (DWORD i = 0; i < n && i < 64; i++) {
        PROCESS_HEAP_ENTRY entry = {0};
        if (!HeapLock(heaps[i])) continue;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) now->heap += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters,
                             sizeof counters)) {
        now->memory = (long long)counters.PrivateUsage;
    }
    now->tls = TlsAlloc();
    if (now->tls != TLS_OUT_OF_INDEXES) TlsFree(now->tls);
}

static void cv_check_flat(const char* what, const CvResources* before) {
    CvResources after;
    cv_resources(&after);
    printf(
        "%s: %s: handles %ld -> %ld, heap %lld -> %lld, private bytes %lld -> %lld, next TLS "
        "index %lu -> %lu\n",
        program_name, what, before->handles, after.handles, before->heap, after.heap,
        before->memory, after.memory, before->tls, after.tls);
    if (after.tls != before->tls) cv_fail("%s used up TLS indexes", what);
    if (after.handles > before->handles + 8)
        cv_fail("%s: handles (or the next handle slot) grew by %ld", what,
                after.handles - before->handles);
    if (after.heap > before->heap + 64 * 1024)
        cv_fail("%s: heap grew by %lld bytes", what, after.heap - before->heap);
    if (after.memory > before->memory + 1024 * 1024)
        cv_fail("%s: private bytes grew by %lld", what, after.memory - before->memory);
}

/* Runs this program again with `arguments` and `first`. A child that a fault or an abort kills
 * is started again with the point after the one it names (at most `crashes` times), so that one
 * crash does not hide the next. A child that fails counts as one failure here. */
static void cv_run_resuming(const char* label, const char* arguments, long first, int crashes) {
    char self[MAX_PATH], line[2 * MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    for (;;) {
        STARTUPINFOA si = {0};
        PROCESS_INFORMATION pi;
        DWORD code = 99;
        si.cb = sizeof si;
        snprintf(line, sizeof line, "\"%s\" %s %ld", self, arguments, first);
        if (!CreateProcessA(self, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
            cv_fail("cannot start %s", line);
            return;
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (code == 0) return;
        InterlockedIncrement(&cv_failures); /* the child has said what failed */
        if (code < 0x10000) return;
        if (crashes-- <= 0) {
            printf("FAIL %s: %s: stopped after repeated crashes\n", program_name, label);
            return;
        }
        first = (long)(code - 0x10000) + 1;
    }
}

enum { kNoCom, kSta, kMta };

/* A step on a thread of its own, in its own apartment. */
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

/* Every export, and the load and unload that run the library's entry points, called with the
 * stack pointer at 0, 4, 8 and 12 mod 16: the 32-bit convention promises only 4, and a host built
 * by another compiler gives any of them. Each call is recorded: the callee must remove exactly
 * its arguments and keep ebx, esi and edi; and each case checks its answer and the files.
 *   host stack                   each alignment in a process of its own
 *   host stack MISALIGN FIRST    that alignment, from export FIRST on */
#if defined(__i386__)
typedef struct {
    uint32_t before, after, ebx, esi, edi;
} CallRecord;
extern int32_t cv_call_at(void* function, int arguments, const uintptr_t* words, int misalign,
                          CallRecord* record);

static int misalign;

static int32_t Misaligned(void* function, int arguments, void* a, void* b) {
    uintptr_t words[2] = {(uintptr_t)a, (uintptr_t)b};
    CallRecord record;
    const char* called = cv_calling;
    int32_t result = cv_call_at(function, arguments, words, misalign, &record);
    if (record.before % 16 != (uint32_t)misalign)
        cv_fail("%s: the trampoline called at %lu mod 16", called, record.before % 16);
    if (record.after - record.before != 4u * arguments)
        cv_fail("%s at %d mod 16: the stack pointer moved by %ld, not %d", called, misalign,
                (long)(record.after - record.before), 4 * arguments);
    if (record.ebx != 0x0b0b0b0b || record.esi != 0x05050505 || record.edi != 0x0d0d0d0d)
        cv_fail("%s at %d mod 16: a callee-saved register was not restored", called, misalign);
    return result;
}

static int Stack(int argc, char** argv) {
    char root[MAX_PATH], mode[32];
    if (argc < 3) {
        for (int m = 0; m < 16; m += 4) {
            snprintf(mode, sizeof mode, "stack %d", m);
            cv_run_resuming(mode, mode, 0, X_COUNT);
        }
        printf("host stack: %d exports, loads and unloads at 0, 4, 8, 12 mod 16\n", X_COUNT);
        return cv_host_exit();
    }
    misalign = atoi(argv[1]) & 12;
    snprintf(mode, sizeof mode, "stack-%d", misalign);
    cv_make_root(root, mode);
    snprintf(mode, sizeof mode, "stack at %d mod 16", misalign);
    CoInitialize(NULL);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    cv_resume = X_COUNT;
    cv_context("LoadLibrary, %s", mode);
    cv_calling = "LoadLibraryA(CVAICP.DLL)";
    HMODULE module = (HMODULE)(intptr_t)Misaligned((void*)GetProcAddress(kernel32, "LoadLibraryA"),
                                                   1, (void*)"CVAICP.DLL", NULL);
    if (module == NULL) {
        cv_fail("%s: LoadLibrary failed", mode);
        return cv_host_exit();
    }
    FreeLibrary(cv_load()); /* the export table, from a load that the one above holds */
    cv_invoke = Misaligned;
    for (int x = atoi(argv[2]); x < X_COUNT; x++) {
        cv_resume = x;
        cv_run_case(x, "anna", mode, 0);
    }
    cv_resume = X_COUNT;
    cv_context("FreeLibrary, %s", mode);
    cv_calling = "FreeLibrary(CVAICP.DLL)";
    if (!Misaligned((void*)GetProcAddress(kernel32, "FreeLibrary"), 1, module, NULL))
        cv_fail("%s: FreeLibrary failed", mode);
    CoUninitialize();
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}
#endif

/* The Nth allocation of the library failing, for every N along every export: the host survives,
 * the export answers its failure result or succeeds, no blocking file or temporary copy stays,
 * the period file holds its old or its new content, and the next normal call works.
 *   host alloc MODE          every export's sweep, each in a process of its own
 *   host alloc MODE X N      the sweep of export X (0-based, ordinal order) from N on
 * MODE: cold (a fresh load for every N), warm (after one normal round), thread (each call on a
 * new thread), preloaded (the shared GCC runtime in the process before the library). A sweep that
 * crashes goes on behind the N that crashed, a few times: enough to tell one bad spot from a bad
 * export without starting hundreds of processes. */
enum { kMostAllocations = 5000, kMostCrashes = 3 };

static const char* alloc_mode;
static int export_index;
static long thread_fail_at;
static int thread_reached;

static void CaseStep(void) {
    thread_reached = cv_run_case(export_index, "anna", alloc_mode, thread_fail_at);
}

static int RunCase(long at) {
    if (strcmp(alloc_mode, "thread") != 0) return cv_run_case(export_index, "anna", alloc_mode, at);
    thread_fail_at = at;
    OnThread(kSta, CaseStep);
    return thread_reached;
}

static void Sweep(long first) {
    int cold = strcmp(alloc_mode, "cold") == 0;
    HMODULE module = NULL;
    long at;
    if (!cold) {
        if ((module = cv_load()) == NULL) return;
        cv_patch_allocators(module);
        for (int x = 0; x < X_COUNT; x++) cv_run_case(x, "anna", "warm-up", 0);
    }
    for (at = first; at <= kMostAllocations; at++) {
        cv_resume = at;
        if (cold && (module = cv_load()) == NULL) return;
        if (cold) cv_patch_allocators(module);
        LONG before = cv_failures;
        int injected = RunCase(at);
        /* The same call again, with nothing failing, must work as if nothing had happened. */
        if (injected) cv_run_case(export_index, "anna", "the normal call after N failed", 0);
        if (cv_failures != before)
            printf("  (failure above: %s, %s, N=%ld)\n", cv_export_name[export_index], alloc_mode,
                   at);
        if (cold) cv_unload(module);
        if (!injected) break;
    }
    if (!cold) cv_unload(module);
    printf("host alloc %s: %s: %ld allocation(s), each failed once\n", alloc_mode,
           cv_export_name[export_index], at - 1);
}

static int Alloc(int argc, char** argv) {
    char root[MAX_PATH], arguments[64];
    if ((alloc_mode = argv[1]) == NULL) return 2;
    if (argc == 2) {
        for (int x = 0; x < X_COUNT; x++) {
            char label[64];
            snprintf(arguments, sizeof arguments, "alloc %s %d", alloc_mode, x);
            snprintf(label, sizeof label, "%s, %s", cv_export_name[x], alloc_mode);
            cv_run_resuming(label, arguments, 1, kMostCrashes);
        }
        return cv_host_exit();
    }
    export_index = atoi(argv[2]);
    if (export_index < 0 || export_index >= X_COUNT) return 2;
    if (strcmp(alloc_mode, "preloaded") == 0 && LoadLibraryA(CV_GCC_RUNTIME) == NULL)
        cv_fail("cannot preload %s (error %lu)", CV_GCC_RUNTIME, GetLastError());
    snprintf(arguments, sizeof arguments, "alloc-%s-%d", alloc_mode, export_index);
    cv_make_root(root, arguments);
    CoInitialize(NULL);
    Sweep(argc > 3 ? atol(argv[3]) : 1);
    CoUninitialize();
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}

/* The list enumeration under the COM rules of a worker process: single-threaded and
 * multithreaded apartments and a thread without COM; a listing handed to another thread; a
 * listing left open when the library is unloaded, also after the process's last CoUninitialize;
 * and the library loaded again afterwards. Nothing may fault, and a later listing must work.
 *   host com        every case, each in a process of its own
 *   host com CASE   one case */
static ListContext listing;

/* FindFirst, then at most `most` FindNext while they deliver; FindClose when `close`. The ids
 * delivered, in order. */
static void List(int most, int close, char* ids) {
    ListItem item;
    memset(&item, 0, sizeof item);
    *ids = 0;
    int32_t found = cv_call(X_AppointmentListItemFindFirst, &listing, &item);
    while (found) {
        strcat(ids, item.ItemId);
        if (most-- <= 0) break;
        found = cv_call(X_AppointmentListItemFindNext, &listing, &item);
    }
    if (close && cv_call(X_AppointmentListItemFindClose, &listing, NULL) != 1)
        cv_fail("%s", "FindClose did not answer 1");
}

static void ListAll(void) {
    char ids[64];
    List(99, 1, ids);
    if (strcmp(ids, "ab") != 0) cv_fail("%s: the listing gave \"%s\", not \"ab\"", context, ids);
}

static void ListWithoutCom(void) {
    char ids[64];
    List(99, 1, ids);
    if (*ids) cv_fail("a thread without COM listed \"%s\"", ids);
}

/* Handing over: the first thread starts, the second goes on and closes while the first lives. */
static int handover_apartment;

static void Continue(void) {
    ListItem item;
    memset(&item, 0, sizeof item);
    int32_t found = cv_call(X_AppointmentListItemFindNext, &listing, &item);
    if (found && strcmp(item.ItemId, "a") && strcmp(item.ItemId, "b"))
        cv_fail("FindNext on another thread delivered \"%s\"", item.ItemId);
    if (cv_call(X_AppointmentListItemFindClose, &listing, NULL) != 1)
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
    for (int i = 0; i < 64 && (msxml = GetModuleHandleA("msxml3.dll")) != NULL; i++)
        FreeLibrary(msxml);
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

static void ComCase(int n) {
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
            (n == 5 ? ListWithoutCom : ListAll)();
            break;
        case 6:
            LastCoUninitialize();
            ListWithoutCom();
            break;
        case 7:
            CoUninitialize();
            CoInitialize(NULL);
            ListAll();
            break;
    }
    cv_unload(module);
    if (n == 3 || n == 4 || n == 7) CoUninitialize();
}

static int Com(int argc, char** argv) {
    char root[MAX_PATH], tag[16];
    if (argc < 2) {
        for (int n = 0; n < kCaseCount; n++) cv_run_resuming(kCases[n], "com", n, 0);
        printf("host com: %d cases of apartments, handing over and unloading\n", kCaseCount);
        return cv_host_exit();
    }
    snprintf(tag, sizeof tag, "com-%s", argv[1]);
    cv_make_root(root, tag);
    cv_reset_mailbox("anna");
    cv_list_context(&listing, "anna");
    ComCase(atoi(argv[1]));
    cv_remove_tree(root);
    return cv_failures ? 1 : 0;
}

/* A long-running worker loads and unloads the library again and again while its own threads
 * live on: 1,500 LoadLibrary/FreeLibrary cycles with calls in between, from the main thread and
 * from 4 host threads that exist throughout (so the library never saw them start). After a
 * warm-up, TLS indexes, handles and heap stay flat; and each load reads "Mail Root" again (it
 * changes every cycle, and the calls land in the new root). */
enum { kCycles = 1500, kCycleWarmUp = 100, kWorkers = 4 };

static HANDLE worker_go[kWorkers], worker_done;
static volatile LONG stopping;

/* A host thread: one round of calls whenever the main thread has the library loaded. Its walk
 * cursor must read as 0 after each load, so AppointmentFindNext without AppointmentFindFirst
 * starts at the first line. */
static DWORD WINAPI Worker(void* parameter) {
    int n = (int)(intptr_t)parameter;
    char mailbox[16];
    AppointmentRequest r;
    snprintf(mailbox, sizeof mailbox, "w%d", n);
    for (;;) {
        WaitForSingleObject(worker_go[n], INFINITE);
        if (stopping) return 0;
        cv_request(&r, mailbox, "", 0, 0);
        int ok =
            cv_call(X_AppointmentFindNext, &r, NULL) == 1 && Found(&r, "a", 1796644800, 1796648400);
        r.ItemId[0] = 0;
        ok = ok && cv_call(X_AppointmentFindNext, &r, NULL) == 1 && strcmp(r.ItemId, "b") == 0;
        r.ItemId[0] = 0;
        ok = ok && cv_call(X_AppointmentFindNext, &r, NULL) == 0;
        cv_request(&r, mailbox, "b", 0, 0);
        if (!ok || cv_call(X_AppointmentGet, &r, NULL) != 1 ||
            !Found(&r, "b", 1796652000, 1796655600))
            cv_fail("host thread %d: a walk from FindNext after the load, or a Get, failed", n);
        ReleaseSemaphore(worker_done, 1, NULL);
    }
}

static int HasLine(const char* root, const char* id) {
    char bytes[512];
    return ReadBytes(root, "main", PERIOD ".CAL", bytes, sizeof bytes) >= 0 &&
           strstr(bytes, id) != NULL;
}

static int Cycles(int argc, char** argv) {
    char roots[2][MAX_PATH], name[32];
    HANDLE workers[kWorkers];
    CvResources warm = {0};
    int cycle;
    (void)argc, (void)argv;
    for (int i = 0; i < 2; i++) {
        cv_make_root(roots[i], i ? "cycles-b" : "cycles-a");
        cv_reset_mailbox("main");
        for (int w = 0; w < kWorkers; w++) {
            snprintf(name, sizeof name, "w%d", w);
            cv_reset_mailbox(name);
        }
    }
    worker_done = CreateSemaphoreA(NULL, 0, kWorkers, NULL);
    for (int w = 0; w < kWorkers; w++) {
        worker_go[w] = CreateEventA(NULL, FALSE, FALSE, NULL);
        workers[w] = CreateThread(NULL, 0, Worker, (void*)(intptr_t)w, 0, NULL);
    }
    for (cycle = 0; cycle < kCycles && cv_failures <= 20; cycle++) {
        const char* root = roots[cycle % 2];
        cv_context("load cycle %d", cycle);
        cv_use_root(root);
        HMODULE module = cv_load();
        if (module == NULL) break;
        for (int w = 0; w < kWorkers; w++) SetEvent(worker_go[w]);
        snprintf(name, sizeof name, "c%d", cycle);
        AppointmentRequest r;
        cv_request(&r, "main", name, 1796659200, 1796662800);
        if (cv_call(X_AppointmentAdd, &r, NULL) != 1 || !HasLine(root, name) ||
            HasLine(roots[1 - cycle % 2], name))
            cv_fail("load cycle %d: AppointmentAdd did not land in the new mail root", cycle);
        if (cv_call(X_AppointmentRemove, &r, NULL) != 1)
            cv_fail("load cycle %d: AppointmentRemove", cycle);
        for (int w = 0; w < kWorkers; w++) WaitForSingleObject(worker_done, INFINITE);
        cv_unload(module);
        if (cycle + 1 == kCycleWarmUp) cv_resources(&warm);
    }
    if (cycle < kCycles) cv_fail("stopped after %d load cycles", cycle);
    snprintf(name, sizeof name, "%d load cycles", cycle - kCycleWarmUp);
    if (cycle > kCycleWarmUp) cv_check_flat(name, &warm);
    stopping = 1;
    for (int w = 0; w < kWorkers; w++) SetEvent(worker_go[w]);
    WaitForMultipleObjects(kWorkers, workers, TRUE, INFINITE);
    cv_remove_tree(roots[0]);
    cv_remove_tree(roots[1]);
    return cv_host_exit();
}

/* 1,000 short-lived threads each make a few calls, a walk among them, and end, while the library
 * stays loaded. Handles, heap and TLS indexes stay flat. */
enum { kWave = 8, kThreads = 1000, kThreadWarmUp = 64 };

static DWORD WINAPI ShortLived(void* parameter) {
    int n = (int)(intptr_t)parameter;
    char mailbox[16];
    snprintf(mailbox, sizeof mailbox, "t%d", n % kWave);
    if (!cv_round(mailbox, "c")) cv_fail("short-lived thread %d: walk, add, get, remove", n);
    return 0;
}

static void Wave(int first) {
    HANDLE threads[kWave];
    for (int i = 0; i < kWave; i++)
        threads[i] = CreateThread(NULL, 0, ShortLived, (void*)(intptr_t)(first + i), 0, NULL);
    WaitForMultipleObjects(kWave, threads, TRUE, INFINITE);
    for (int i = 0; i < kWave; i++) CloseHandle(threads[i]);
}

static int Threads(int argc, char** argv) {
    char root[MAX_PATH], mailbox[16];
    CvResources before;
    (void)argc, (void)argv;
    cv_make_root(root, "threads");
    for (int i = 0; i < kWave; i++) {
        snprintf(mailbox, sizeof mailbox, "t%d", i);
        cv_reset_mailbox(mailbox);
    }
    cv_context("short-lived threads");
    HMODULE module = cv_load();
    if (module == NULL) return cv_host_exit();
    for (int n = 0; n < kThreadWarmUp; n += kWave) Wave(n);
    cv_resources(&before);
    for (int n = kThreadWarmUp; n < kThreadWarmUp + kThreads; n += kWave) Wave(n);
    cv_check_flat("1000 short-lived threads", &before);
    cv_unload(module);
    cv_remove_tree(root);
    return cv_host_exit();
}

/* What an operator reads in a file's properties: the version resource of the library and of both
 * programs beside it, each naming the build's one version and its own file. */
static int Version(int argc, char** argv) {
    static const char* const files[] = {"CVAICP.DLL", "cvcal.exe", "cvadmind.exe"};
    char folder[MAX_PATH], path[MAX_PATH];
    (void)argc, (void)argv;
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof folder);
    while (length > 0 && folder[length - 1] != '\\') length--;
    folder[length] = '\0';
    for (size_t i = 0; i < sizeof files / sizeof files[0]; i++) {
        cv_context("the version resource of %s", files[i]);
        snprintf(path, sizeof path, "%s%s", folder, files[i]);
        DWORD ignored = 0, size = GetFileVersionInfoSizeA(path, &ignored);
        char* info = size ? (char*)malloc(size) : NULL;
        if (info == NULL || !GetFileVersionInfoA(path, 0, size, info)) {
            cv_fail("%s: no version resource (error %lu)", files[i], GetLastError());
            free(info);
            continue;
        }
        VS_FIXEDFILEINFO* fixed = NULL;
        UINT fixed_size = 0;
        if (!VerQueryValueA(info, "\\", (void**)&fixed, &fixed_size) || fixed == NULL ||
            fixed->dwFileVersionMS != (DWORD)(CV_VERSION_MAJOR << 16 | CV_VERSION_MINOR) ||
            fixed->dwFileVersionLS != (DWORD)(CV_VERSION_PATCH << 16)) {
            cv_fail("%s: the fixed file version is not %d.%d.%d.0", files[i], CV_VERSION_MAJOR,
                    CV_VERSION_MINOR, CV_VERSION_PATCH);
        }
        static const char* const texts[][2] = {{"FileVersion", CV_VERSION_TEXT},
                                               {"ProductVersion", CV_VERSION_TEXT},
                                               {"OriginalFilename", NULL},
                                               {"CompanyName", "Corvane"}};
        for (size_t k = 0; k < sizeof texts / sizeof texts[0]; k++) {
            char query[96];
            const char* value = NULL;
            UINT value_size = 0;
            const char* wanted = texts[k][1] ? texts[k][1] : files[i];
            snprintf(query, sizeof query, "\\StringFileInfo\\040904B0\\%s", texts[k][0]);
            if (!VerQueryValueA(info, query, (void**)&value, &value_size) || value == NULL ||
                strcmp(value, wanted) != 0) {
                cv_fail("%s: %s is \"%s\", not \"%s\"", files[i], texts[k][0],
                        value ? value : "(none)", wanted);
            }
        }
        free(info);
    }
    return cv_host_exit();
}

int main(int argc, char** argv) {
    static const struct {
        const char* name;
        int (*run)(int argc, char** argv);
    } batteries[] = {
#if defined(__i386__)
        {"stack", Stack},
#endif
        {"alloc", Alloc},
        {"com", Com},
        {"cycles", Cycles},
        {"threads", Threads},
        {"version", Version},
    };
    static char name[32] = "host ";
    setvbuf(stdout, NULL, _IONBF, 0);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnFault);
    signal(SIGABRT, OnAbort);
    cv_context("%s", "start-up");
    for (size_t i = 0; argc > 1 && i < sizeof batteries / sizeof batteries[0]; i++) {
        if (strcmp(argv[1], batteries[i].name) != 0) continue;
        program_name = strncat(name, argv[1], 20);
        return batteries[i].run(argc - 1, argv + 1);
    }
    fprintf(stderr, "usage: host stack|alloc MODE|com|cycles|threads|version [CASE [FROM]]\n");
    return 2;
}
