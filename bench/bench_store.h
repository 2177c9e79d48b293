// A store for the benchmarks: a temporary mail root with the mailbox po\mb and its Calendar
// folder, configured as "Mail Root", with the library attached to it.
//
// Natively the configuration is a registry file of the store's own and the library is the core
// linked into the benchmark, attached by hand as its load would (provider_linked.cpp). In the
// Windows build the configuration is the registry (Wine's, of the build's prefix) and the library
// is CVAICP.DLL beside the benchmark, loaded after the configuration is written, as a host loads it
// (provider_loaded.cpp): every call then goes through the DLL's export table.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_platform.h"
#include "include/cvaicp.h"

namespace cvbench {

// The exports the shared benchmarks call, as their build reaches them.
struct ProviderExports {
    int32_t(CVAPI* add)(AppointmentRequest*) = nullptr;
    int32_t(CVAPI* get)(AppointmentRequest*) = nullptr;
    int32_t(CVAPI* remove)(AppointmentRequest*) = nullptr;
    int32_t(CVAPI* find_first)(AppointmentRequest*) = nullptr;
    int32_t(CVAPI* find_next)(AppointmentRequest*) = nullptr;
};

class BenchStore {
  public:
    // The store lives in the system's temporary folder, or below `parent` when one is given.
    explicit BenchStore(const std::string& name, const std::string& parent = "");
    ~BenchStore();
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    // The mail root, which the store removes with everything in it.
    const std::string& root() const { return root_; }
    // The Calendar folder of po\mb.
    const std::string& calendar() const { return calendar_; }
    // A file of the Calendar folder, named with the system's own separator.
    std::string InCalendar(const std::string& name) const;
    const ProviderExports& exports() const { return exports_; }

  private:
    // Attach the library to the store just configured, and detach it again; the linked core or
    // the loaded DLL, see above. An attach that fails ends the program with a message.
    void Attach();
    void Detach();

    std::string root_;
    std::string registry_;
    std::string calendar_;
    cv::DynamicLibrary library_;  // CVAICP.DLL in the Windows build
    ProviderExports exports_;
};

// Noon of 2026-12-07 UTC, the day of WriteDay.
constexpr int32_t kBenchNoon = 1796601600 + 12 * 3600;

// The day 2026-12-07 ("Y26M12D07.CAL"): `count` appointments from its noon on, one every
// `spacing` seconds and `length` long, each with a small item file of its own ("item-NNNNN").
void WriteDay(const BenchStore& store, int count, int32_t spacing, int32_t length);

// A file of the build: CMake names it by its full path natively; in the Windows build, whose
// programs cannot read the build machine's paths, by its name only, beside the running program.
std::string BuildFile(const char* path);

}  // namespace cvbench
