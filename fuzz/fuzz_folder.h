// A private folder for the fuzz targets that need files: made once per process below the system's
// temporary folder and removed with everything in it when the process ends normally. Nothing a
// target writes goes anywhere else.
#pragma once

#include <string>

namespace cv {
namespace fuzzing {

// The folder (backslash form, as the library composes paths), made on first use.
const std::string& FuzzFolder();

// Makes the folder a mail root with the mailbox <postoffice>\MAILROOT\<mailbox> and its Calendar
// folder, configured as "Mail Root" in a private registry file, the blocking-file waits 0, and the
// module attached to it. Answers the Calendar folder.
std::string AttachMailRoot(const char* postoffice, const char* mailbox);

}  // namespace fuzzing
}  // namespace cv
