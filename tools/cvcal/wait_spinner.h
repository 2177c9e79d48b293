// A change waits, inside the library, while another writer holds its period: up to the configured
// wait time-outs, a minute or more. A person at a terminal is shown why.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace cvcal {

// Runs `change` (calls of exports that wait while a writer holds the period: all of them on one
// thread, since a walk keeps its position per thread) and returns its answer. On an
// interactive terminal, while the change has been waiting for over a second and `blocking_file`
// (empty: not known, as for a remote host) exists, a spinner on standard error says who it waits
// for; the line is cleared when the change is done.
int32_t WithWaitSpinner(const std::string& blocking_file, const std::function<int32_t()>& change);

}  // namespace cvcal
