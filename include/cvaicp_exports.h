/* The export table of CVAICP.DLL: one list from which the library and its hosts take what they
 * need, so that adding an export is one row here, its line in cvaicp.def (the source of the
 * ordinals, which a test compares with this list) and its implementation. From it come the
 * library's forwarding of calls to a remote host, cvadmind's table of the calls it serves,
 * cvcal's bindings, the ABI tests' list and the fuzz stub's exports.
 *
 * CVAICP_EXPORTS(X) applies X to every export, in ordinal order:
 *
 *   X(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded)
 *
 *   Name        the export's undecorated name
 *   Ordinal     its ordinal in the DLL
 *   Arguments   how many 32-bit arguments it takes (0, 1 or 2)
 *   First       the type its first argument points to (CvaicpNoArgument: none)
 *   FirstBack   1 when a remote call copies the first record back from the reply
 *   Second      likewise for the second argument
 *   SecondBack  likewise
 *   Forwarded   1 when the call goes to the remote admin service while a remote host is current
 */
#ifndef CVAICP_EXPORTS_H
#define CVAICP_EXPORTS_H

#include "include/cvaicp.h"

/* Stands for an argument that an export does not take. */
typedef struct CvaicpNoArgument {
    char unused;
} CvaicpNoArgument;

/* clang-format off */
#define CVAICP_EXPORTS(X)                                                                          \
    X(AppointmentAdd,                  1, 1, AppointmentRequest,     1, CvaicpNoArgument,   0, 1) \
    X(AppointmentEdit,                 2, 2, AppointmentRequest,     0, AppointmentRequest, 0, 1) \
    X(AppointmentRemove,               3, 1, AppointmentRequest,     1, CvaicpNoArgument,   0, 1) \
    X(AppointmentFindFirst,            4, 1, AppointmentRequest,     1, CvaicpNoArgument,   0, 1) \
    X(AppointmentFindNext,             5, 1, AppointmentRequest,     1, CvaicpNoArgument,   0, 1) \
    X(AppointmentGet,                  6, 1, AppointmentRequest,     1, CvaicpNoArgument,   0, 1) \
    X(AppointmentGetLastError,         7, 0, CvaicpNoArgument,       0, CvaicpNoArgument,   0, 0) \
    X(AppointmentItemWriteFirstChunk,  8, 1, AppointmentItemRequest, 0, CvaicpNoArgument,   0, 1) \
    X(AppointmentItemWriteNextChunk,   9, 1, AppointmentItemRequest, 0, CvaicpNoArgument,   0, 1) \
    X(AppointmentItemGetCurrentOffset, 10, 1, AppointmentItemRequest, 0, CvaicpNoArgument,  0, 0) \
    X(AppointmentItemGetSize,          11, 1, AppointmentItemRequest, 1, CvaicpNoArgument,  0, 1) \
    X(AppointmentItemGetFirstChunk,    12, 1, AppointmentItemRequest, 1, CvaicpNoArgument,  0, 1) \
    X(AppointmentItemGetNextChunk,     13, 1, AppointmentItemRequest, 1, CvaicpNoArgument,  0, 1) \
    X(SetCurrentHost,                  14, 1, const char,             0, CvaicpNoArgument,  0, 0) \
    X(AppointmentItemDelete,           15, 1, AppointmentItemRequest, 0, CvaicpNoArgument,  0, 0) \
    X(GetFreeBusyData,                 16, 1, FreeBusyRequest,        0, CvaicpNoArgument,  0, 0) \
    X(AppointmentListItemFindFirst,    17, 2, ListContext,            0, ListItem,          1, 1) \
    X(AppointmentListItemFindNext,     18, 2, ListContext,            0, ListItem,          1, 1) \
    X(AppointmentListItemFindClose,    19, 1, ListContext,            0, CvaicpNoArgument,  0, 1)
/* clang-format on */

#ifdef __cplusplus
namespace cvaicp {

/* The pointer type of an export, from its row: Function<Arguments, First, Second>::Type. */
template <int Arguments, typename First, typename Second>
struct Function;
template <typename First, typename Second>
struct Function<0, First, Second> {
    typedef int32_t(CVAPI* Type)(void);
};
template <typename First, typename Second>
struct Function<1, First, Second> {
    typedef int32_t(CVAPI* Type)(First*);
};
template <typename First, typename Second>
struct Function<2, First, Second> {
    typedef int32_t(CVAPI* Type)(First*, Second*);
};

/* The bytes of the record an argument points to, as it travels to a remote host; 0 for none. */
template <typename Record>
constexpr unsigned RecordSize() {
    return sizeof(Record);
}
template <>
constexpr unsigned RecordSize<CvaicpNoArgument>() {
    return 0;
}

}  // namespace cvaicp
#endif

#endif /* CVAICP_EXPORTS_H */
