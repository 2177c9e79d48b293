// Where our own hosts (cvcal, cvadmind) find the provider library when they are not told: beside
// their executable (CVAICP.DLL), or natively in lib/ beside bin/ (libcvaicp.so).
#pragma once

#include <string>

namespace cv {

std::string ProviderLibraryBesideExecutable();

}  // namespace cv
