// A private folder for the fuzz targets that need files: made once per process below the system's
// temporary folder and removed with everything in it when the process ends normally. Nothing a
// target writes goes anywhere else.
#pragma once

#include <string>

namespace cv {
namespace fuzzing {

// The folder (backslash form, as the library composes paths), made on first use.
const std::string& FuzzFolder();

}  // namespace fuzzing
}  // namespace cv
