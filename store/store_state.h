// The process-wide state the store works with: the mail root, read when the library loads, and
// the enumeration slot, the one thread-local value per thread that the appointment walk and the
// list enumeration keep their positions in. The module's load and unload (provider/module.cpp)
// start and end it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cv {

constexpr size_t kMailRootSize = 1024;

// Reads the mail root from the registry: "Mail Root", else "Data Directory" followed by
// "\Postoffices", else empty. Then allocates the enumeration slot; false when the system has no
// thread-local slot left.
bool StartStoreState();
// Frees the enumeration slot.
void EndStoreState();

// The folder that holds one subfolder per postoffice; may be empty. Fixed while the module is
// loaded.
const char* MailRoot();

// The calling thread's enumeration value (0 for a new thread), shared by the appointment walk and
// the list enumeration.
int32_t GetEnumerationSlot();
void SetEnumerationSlot(int32_t value);

}  // namespace cv
