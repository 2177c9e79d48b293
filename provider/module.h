// The module's process-wide state: the mail root, read once at load, and the enumeration slot.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cv {

constexpr size_t kMailRootSize = 1024;

// The folder that holds one subfolder per postoffice; may be empty. Fixed while the module is
// loaded.
const char* MailRoot();

// The calling thread's enumeration value (0 for a new thread), shared by the appointment walk and
// the list enumeration.
int32_t GetEnumerationSlot();
void SetEnumerationSlot(int32_t value);

}  // namespace cv
