// In remote mode a call that fails looks like a "no" or an empty calendar: the library does not
// say whether the host was unreachable, refused the credentials or did not have the library.
// cvcal asks the host itself, step by step as the library does (connect, AUTH, LOAD), and names
// the step that failed.
#pragma once

#include <string>

namespace cvcal {

// A Failure (kExitConfig) when the host has no address configured.
void CheckHostConfigured(const std::string& host);

// Connects to the host's service, authenticates and loads the provider library as the library
// would; a Failure naming the step that failed (kExitUnreachable for the connection,
// kExitConfig for a refusal), nothing when every step succeeds.
void ProbeRemoteHost(const std::string& host);

}  // namespace cvcal
