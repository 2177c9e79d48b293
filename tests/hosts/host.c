/* The host programs' shared half: loading and calling the library, the store and its checks,
 * allocation-failure injection through the import table, and resource probes. */
#include "tests/hosts/host.h"

#include <oleauto.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CV_HOST_EXPORT_NAME(Name, ...) #Name,
#define CV_HOST_EXPORT_ARGUMENTS(Name, Ordinal, Arguments, ...) Arguments,
const char* const cv_export_name[X_COUNT] = {CVAICP_EXPORTS(CV_HOST_EXPORT_NAME)};
static const int export_arguments[X_COUNT] = {CVAICP_EXPORTS(CV_HOST_EXPORT_ARGUMENTS)};

volatile LONG cv_failures;
static const char* program_name = "host";
static char context[512];
static void* functions[X_COUNT];
char cv_root[MAX_PATH];

void cv_fail(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printf("FAIL %s: %s\n", program_name, text);
    fflush(stdout);
    InterlockedIncrement(&cv_failures);
}

void cv_context(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(context, sizeof context, format, args);
    va_end(args);
}

/* A fault or std::terminate inside the library ends the process; say where before it goes. */
volatile long cv_resume = -1;

static void Die(void) {
    TerminateProcess(GetCurrentProcess(), cv_resume >= 0 ? 0x10000 + (DWORD)cv_resume : 70);
}

static LONG WINAPI OnFault(EXCEPTION_POINTERS* e) {
    printf("FAIL %s: %s: exception 0x%08lx at %p killed the host\n", program_name, context,
           (unsigned long)e->ExceptionRecord->ExceptionCode, e->ExceptionRecord->ExceptionAddress);
    Die();
    return EXCEPTION_EXECUTE_HANDLER;
}

static void OnAbort(int signal_number) {
    (void)signal_number;
    printf("FAIL %s: %s: abort() (std::terminate) killed the host\n", program_name, context);
    Die();
}

void cv_host_init(const char* program) {
    program_name = program;
    setvbuf(stdout, NULL, _IONBF, 0);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnFault);
    signal(SIGABRT, OnAbort);
    cv_context("%s", "start-up");
}

int cv_host_exit(void) {
    if (cv_failures) {
        printf("%s: %ld check(s) FAILED\n", program_name, (long)cv_failures);
        return 1;
    }
    printf("%s: all checks passed\n", program_name);
    return 0;
}

HMODULE cv_load(void) {
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

void cv_unload(HMODULE module) {
    if (module && !FreeLibrary(module)) cv_fail("%s: FreeLibrary failed", context);
}

typedef int32_t(WINAPI* Call0)(void);
typedef int32_t(WINAPI* Call1)(void*);
typedef int32_t(WINAPI* Call2)(void*, void*);

static int32_t DirectInvoke(void* function, int arguments, void* a, void* b) {
    if (arguments == 0) return ((Call0)function)();
    if (arguments == 1) return ((Call1)function)(a);
    return ((Call2)function)(a, b);
}
int32_t (*cv_invoke)(void*, int, void*, void*) = DirectInvoke;

const char* volatile cv_calling = "";

int32_t cv_call(int x, void* a, void* b) {
    cv_calling = cv_export_name[x];
    return cv_invoke(functions[x], export_arguments[x], a, b);
}

/* ---- The store ---------------------------------------------------------------------------- */

static void SetValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &handle, NULL) ||
        RegSetValueExA(handle, name, 0, type, (const BYTE*)data, size)) {
        cv_fail("cannot write the registry value %s", name);
        return;
    }
    RegCloseKey(handle);
}

void cv_make_root(char* root, const char* tag) {
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

void cv_use_root(const char* root) {
    /* Writers and readers must never wait here: a blocking file left behind is reported, not
     * waited out. */
    static const char* const waits[] = {"Write Wait Timeout", "Read Wait Timeout",
                                        "UnBlock Timeout", "Apply Timeout"};
    DWORD one = 1;
    for (int i = 0; i < 4; i++) {
        SetValue("SOFTWARE\\Corvane\\Corvane\\Providers", waits[i], REG_DWORD, &one, sizeof one);
    }
    SetValue("SOFTWARE\\Corvane\\Corvane", "Mail Root", REG_SZ, root, (DWORD)strlen(root) + 1);
    snprintf(cv_root, sizeof cv_root, "%s", root);
}

void cv_remove_tree(const char* path) {
    char from[MAX_PATH + 2] = {0};
    snprintf(from, MAX_PATH, "%s", path);
    SHFILEOPSTRUCTA op = {0};
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = FOF_NO_UI;
    SHFileOperationA(&op);
}

static void PathOf(char* out, const char* mailbox, const char* name) {
    snprintf(out, MAX_PATH, "%s\\example\\MAILROOT\\%s\\Calendar%s%s", cv_root, mailbox,
             *name ? "\\" : "", name);
}

static void WriteBytes(const char* mailbox, const char* name, const char* bytes, DWORD size) {
    char path[MAX_PATH];
    DWORD written = 0;
    PathOf(path, mailbox, name);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, bytes, size, &written, NULL)) {
        cv_fail("cannot write %s", path);
    }
    CloseHandle(file);
}

/* The file's bytes, NUL-ended, in `out`; -1 when it is missing. */
static int ReadBytes(const char* mailbox, const char* name, char* out, int capacity) {
    char path[MAX_PATH];
    DWORD got = 0;
    PathOf(path, mailbox, name);
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

void cv_reset_mailbox(const char* mailbox) {
    char pattern[MAX_PATH], file[MAX_PATH];
    PathOf(file, mailbox, "");
    SHCreateDirectoryExA(NULL, file, NULL);
    /* Everything the previous case left goes, so that each case starts from the same files. */
    WIN32_FIND_DATAA found;
    PathOf(pattern, mailbox, "*");
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            PathOf(file, mailbox, found.cFileName);
            DeleteFileA(file);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
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
        PathOf(pattern, mailbox, patterns[i]);
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        cv_fail("%s: left %s behind", label, found.cFileName);
        FindClose(search);
    }
}

void cv_request(AppointmentRequest* r, const char* mailbox, const char* id, int32_t start,
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

void cv_list_context(ListContext* c, const char* mailbox) {
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

int cv_add_get_remove(const char* mailbox, const char* id) {
    AppointmentRequest r;
    cv_request(&r, mailbox, id, 1796659200, 1796662800);
    if (cv_call(X_AppointmentAdd, &r, NULL) != 1) return 0;
    cv_request(&r, mailbox, id, 0, 0);
    if (cv_call(X_AppointmentGet, &r, NULL) != 1 || !Found(&r, id, 1796659200, 1796662800))
        return 0;
    return cv_call(X_AppointmentRemove, &r, NULL) == 1;
}

int cv_walk(const char* mailbox) {
    AppointmentRequest r;
    cv_request(&r, mailbox, "", 0, 0);
    if (cv_call(X_AppointmentFindFirst, &r, NULL) != 1 || !Found(&r, "a", 1796644800, 1796648400))
        return 0;
    r.ItemId[0] = 0;
    if (cv_call(X_AppointmentFindNext, &r, NULL) != 1 || !Found(&r, "b", 1796652000, 1796655600))
        return 0;
    r.ItemId[0] = 0;
    return cv_call(X_AppointmentFindNext, &r, NULL) == 0;
}

/* ---- Allocation failure ------------------------------------------------------------------- */

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

void cv_patch_allocators(HMODULE module) {
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

/* ---- One case per export ------------------------------------------------------------------ */

int cv_run_case(int x, const char* mailbox, const char* mode, long at) {
    char label[256], bytes[BIG_SIZE + 1], seen[200];
    AppointmentRequest r, edited;
    AppointmentItemRequest item;
    FreeBusyRequest busy;
    ListContext list;
    ListItem listed;
    void *a = &r, *b = NULL;
    int32_t want = 1, failed = 0;                   /* the answers of success and of failure */
    int right = 1;                                  /* the success's outputs */
    const char* period = BASE;                      /* the period file after success */
    const char *item_name = NULL, *item_new = NULL; /* an item file the call changes */
    int length = snprintf(label, sizeof label, "%s, %s", cv_export_name[x], mode);
    if (at > 0) snprintf(label + length, sizeof label - length, ", N=%ld", at);
    cv_context("%s", label);
    cv_reset_mailbox(mailbox);
    cv_request(&r, mailbox, "", 0, 0);
    Item(&item, mailbox, "big.itm", "");
    cv_list_context(&list, mailbox);
    memset(&listed, 0, sizeof listed);
    memset(&busy, 0, sizeof busy);
    /* What comes before the call: not counted, and it must simply work. */
    int first = -1;
    void* first_record = &list;
    if (x == X_AppointmentFindNext) first = X_AppointmentFindFirst, first_record = &r;
    if (x == X_AppointmentItemGetCurrentOffset || x == X_AppointmentItemGetNextChunk)
        first = X_AppointmentItemGetFirstChunk, first_record = &item;
    if (x == X_AppointmentListItemFindNext || x == X_AppointmentListItemFindClose)
        first = X_AppointmentListItemFindFirst;
    if (first >= 0 && cv_call(first, first_record, &listed) != 1)
        cv_fail("%s: the %s before it failed", label, cv_export_name[first]);
    r.ItemId[0] = 0;
    switch (x) {
        case X_AppointmentAdd:
            cv_request(&r, mailbox, "c", 1796659200, 1796662800);
            period = BASE "\r\n1796659200\t1796662800\tc";
            break;
        case X_AppointmentEdit:
            cv_request(&r, mailbox, "A", 0, 0);
            cv_request(&edited, mailbox, "a2", 1796666400, 1796670000);
            b = &edited;
            period = "1796666400\t1796670000\ta2\r\n" LINE_B;
            break;
        case X_AppointmentRemove:
            cv_request(&r, mailbox, "b", 0, 0);
            period = LINE_A;
            break;
        case X_AppointmentGet:
            cv_request(&r, mailbox, "B", 0, 0);
            break;
        case X_AppointmentGetLastError:
        case X_AppointmentItemGetSize:
            want = 0;
            break;
        case X_AppointmentItemWriteFirstChunk:
        case X_AppointmentItemWriteNextChunk:
        case X_AppointmentItemDelete: {
            int whole = x == X_AppointmentItemWriteFirstChunk;
            int tail = x == X_AppointmentItemWriteNextChunk;
            Item(&item, mailbox, "w.itm", whole ? "new body" : tail ? "+tail" : "");
            item_name = "w.itm", failed = 1;
            item_new = whole ? "new body" : tail ? "old+tail" : NULL;
            break;
        }
        case X_AppointmentItemGetCurrentOffset:
            want = failed = 8191;
            break;
        case X_GetFreeBusyData:
            strcpy(busy.Mailbox, mailbox);
            strcpy(busy.Postoffice, "example");
            strcpy(busy.NamePrefix, "Y26M12");
            busy.BusyDaysLength = -1;
            a = &busy;
            break;
        case X_AppointmentListItemFindFirst:
        case X_AppointmentListItemFindNext:
            b = &listed;
            /* fall through */
        case X_AppointmentListItemFindClose:
            a = &list;
            break;
        default:
            break;
    }
    if (x >= X_AppointmentItemWriteFirstChunk && x <= X_AppointmentItemDelete) a = &item;
    if (x == X_SetCurrentHost) a = (void*)"";
    allocations = 0;
    fail_at = at;
    int32_t got = cv_call(x, a, b);
    fail_at = 0;
    int reached = at > 0 && allocations >= at;
    switch (x) {
        case X_AppointmentFindFirst:
            right = Found(&r, "a", 1796644800, 1796648400);
            break;
        case X_AppointmentFindNext:
        case X_AppointmentGet:
            right = Found(&r, "b", 1796652000, 1796655600);
            break;
        case X_AppointmentItemWriteFirstChunk:
            right = item.DataLength == 8;
            break;
        case X_AppointmentItemGetSize:
            right = item.DataLength == BIG_SIZE;
            break;
        case X_AppointmentItemGetFirstChunk:
        case X_AppointmentItemGetNextChunk: {
            int from = x == X_AppointmentItemGetFirstChunk ? 0 : 8192;
            right = item.DataLength == (from ? BIG_SIZE - 8192 : 8192);
            for (int i = 0; right && i < item.DataLength; i++)
                right = item.Data[i] == BigByte(from + i);
            break;
        }
        case X_GetFreeBusyData:
            right = strcmp(busy.BusyDays, "07") == 0 && busy.BusyDaysLength == 2;
            break;
        case X_AppointmentListItemFindFirst:
            right = Listed(&listed, "a", 1796644800, 1796648400) &&
                    strcmp(listed.Mailbox, mailbox) == 0;
            break;
        case X_AppointmentListItemFindNext:
            right = Listed(&listed, "b", 1796652000, 1796655600);
            break;
        default:
            break;
    }
    /* Without injection only the success counts; with it, the failure result (nothing changed)
     * or a correct success. */
    snprintf(seen, sizeof seen, ": %s \"%.40s\", %ld..%ld, DataLength %ld, BusyDays \"%.31s\"",
             b == &listed ? "listed" : "ItemId", b == &listed ? listed.ItemId : r.ItemId,
             (long)(b == &listed ? listed.StartTime : r.StartTime),
             (long)(b == &listed ? listed.FinishTime : r.FinishTime), (long)item.DataLength,
             busy.BusyDays);
    int succeeded = got == want && right;
    if (!succeeded && (!reached || got != failed)) {
        cv_fail("%s: answered %ld%s%s (expected %ld%s)", label, (long)got,
                got == want ? " with wrong outputs" : "", got == want ? seen : "", (long)want,
                reached && failed != want ? " or the failure result" : "");
    }
    CheckNoLeftovers(mailbox, label);
    int size = ReadBytes(mailbox, PERIOD ".CAL", bytes, sizeof bytes);
    int old = size >= 0 && strcmp(bytes, BASE) == 0,
        changed = size >= 0 && strcmp(bytes, period) == 0;
    /* A write that says it failed changed nothing; one that succeeded left the new lines.
     * AppointmentEdit answers 1 also when it could not make its copy. */
    if (!(succeeded ? changed || (x == X_AppointmentEdit && reached && old) : old))
        cv_fail("%s: the period file holds neither its old nor its expected content", label);
    if (item_name) {
        size = ReadBytes(mailbox, item_name, bytes, sizeof bytes);
        int kept = size >= 0 && strcmp(bytes, "old") == 0;
        int done = item_new ? size >= 0 && strcmp(bytes, item_new) == 0 : size < 0;
        if (!(done || (reached && kept)))
            cv_fail("%s: the item file %s holds neither its old nor its new content", label,
                    item_name);
    }
    if (b == &listed) cv_call(X_AppointmentListItemFindClose, &list, NULL);
    return reached;
}

/* ---- Resources and child processes -------------------------------------------------------- */

void cv_resources(CvResources* now) {
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

void cv_check_flat(const char* what, const CvResources* before) {
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

void cv_run_resuming(const char* label, const char* arguments, long first, int crashes) {
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
