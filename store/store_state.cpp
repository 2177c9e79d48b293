#include "store/store_state.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/registry.h"

namespace cv {
namespace {

char g_mail_root[kMailRootSize];
ThreadSlot g_enumeration_slot;

void ReadMailRoot() {
    g_mail_root[0] = '\0';
    if (GetRegistryString(kStoreKey, "Mail Root", g_mail_root)) return;
    char data_directory[kRegistryTextSize];
    data_directory[0] = '\0';
    if (!GetRegistryString(kStoreKey, "Data Directory", data_directory)) return;
    int written = std::snprintf(g_mail_root, sizeof g_mail_root, "%s\\Postoffices", data_directory);
    // A root that does not fit would send every path elsewhere: better none at all.
    if (written < 0 || static_cast<size_t>(written) >= sizeof g_mail_root) g_mail_root[0] = '\0';
}

}  // namespace

bool StartStoreState() {
    ReadMailRoot();
    g_enumeration_slot.Free();  // a host that attaches twice (tests do) must not leak slots
    return g_enumeration_slot.Allocate();
}

void EndStoreState() {
    g_enumeration_slot.Free();
}

const char* MailRoot() {
    return g_mail_root;
}

int32_t GetEnumerationSlot() {
    return g_enumeration_slot.Get();
}

void SetEnumerationSlot(int32_t value) {
    g_enumeration_slot.Set(value);
}

}  // namespace cv
