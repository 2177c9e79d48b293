// The local work of the list exports: the appointments of a mailbox inside a time range, each as
// its calendar index element, optionally sorted or filtered by the caller's stylesheet.
#pragma once

#include <cstdint>

#include "include/cvaicp.h"

namespace cv {

int32_t ListFindFirst(const ListContext& context, ListItem* item);
int32_t ListFindNext(ListItem* item);
int32_t ListFindClose();

}  // namespace cv
