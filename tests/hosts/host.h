/* What the host programs share. Each loads CVAICP.DLL the way the mail server's worker processes
 * do: LoadLibrary, exports looked up by name, called through __stdcall pointers from code that no
 * GCC assumption protects. The store lives in a temporary folder that the registry names, and
 * every check reads what the calls left on disk with plain Win32 calls. */
#ifndef CV_HOST_H
#define CV_HOST_H

#include <windows.h>
#include <stdint.h>

#include "include/cvaicp_exports.h"

/* The exports in ordinal order, from the export table: X_<Name> + 1 is the ordinal. */
#define CV_HOST_EXPORT_INDEX(Name, ...) X_##Name,
enum { CVAICP_EXPORTS(CV_HOST_EXPORT_INDEX) X_COUNT };
extern const char* const cv_export_name[X_COUNT];

/* Reporting. cv_fail prints one line naming what failed and counts it; cv_context names what runs
 * now, so that a fault or an abort that kills the process still says where it happened. */
void cv_host_init(const char* program);
void cv_fail(const char* format, ...);
void cv_context(const char* format, ...);
int cv_host_exit(void); /* prints the verdict; the process's exit code */
extern volatile LONG cv_failures;

/* The library. cv_call goes through cv_invoke, which the stack host replaces by its trampoline. */
HMODULE cv_load(void); /* NULL (reported) when it does not load */
void cv_unload(HMODULE module);
int32_t cv_call(int x, void* a, void* b);
extern const char* volatile cv_calling; /* the export cv_call calls now */
extern int32_t (*cv_invoke)(void* function, int arguments, void* a, void* b);

/* The store: a new temporary folder (`root`, also cv_root) with mailboxes of postoffice
 * "example". cv_use_root writes "Mail Root", which the library reads at its next load;
 * cv_make_root does that for its new folder. */
extern char cv_root[MAX_PATH];
void cv_make_root(char* root, const char* tag);
void cv_use_root(const char* root);
void cv_reset_mailbox(const char* mailbox); /* the base content under cv_root */
void cv_remove_tree(const char* path);

/* One call of export x with its preparation and checks, on `mailbox` (reset first). With
 * fail_at > 0 the fail_at-th allocation of the library inside the call fails; the answer is then
 * the export's failure result or a correct success. 1 when that allocation was reached. */
int cv_run_case(int x, const char* mailbox, const char* mode, long fail_at);

/* Records of the base period file of `mailbox` and of the listing of its day. */
void cv_request(AppointmentRequest* r, const char* mailbox, const char* id, int32_t start,
                int32_t finish);
void cv_list_context(ListContext* c, const char* mailbox);

/* AppointmentAdd of `id`, AppointmentGet of it, AppointmentRemove: 1 when each did its part. */
int cv_add_get_remove(const char* mailbox, const char* id);

/* A full walk (FindFirst, FindNext until 0) of the base period file: 1 when it gave a, b. */
int cv_walk(const char* mailbox);

/* Allocation failure: replaces the allocators in the module's import table by counting ones. */
void cv_patch_allocators(HMODULE module);

/* Process resources, for "stays flat" checks: the handle count (or where the system does not
 * tell, as under Wine, the slot a new handle gets), the busy blocks of every heap, the private
 * bytes (0 where the system does not tell) and the next free TLS index. cv_check_flat prints them
 * against `before` and fails what grew. */
typedef struct {
    long handles;
    long long heap, memory;
    DWORD tls;
} CvResources;
void cv_resources(CvResources* now);
void cv_check_flat(const char* what, const CvResources* before);

/* Runs this program again with `arguments` and `first`. A process that a fault or an abort kills
 * exits with 0x10000 + cv_resume when that is set: cv_run_resuming then starts it again with the
 * point after that one, so that one crash does not hide the next (at most `crashes` times). A
 * child that fails counts as one failure here. */
extern volatile long cv_resume;
void cv_run_resuming(const char* label, const char* arguments, long first, int crashes);

#endif
