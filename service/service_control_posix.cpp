// Natively there is no service manager to speak to: systemd starts cvadmind as a plain process.
#include "service/service_control.h"

namespace cvadmind {
namespace {

const char kWindowsOnly[] =
    "Windows only; on Linux systemd runs cvadmind as it is (the cvadmind.service unit)";

}  // namespace

bool InstallService(const std::string&, bool, const std::vector<std::string>&, std::string* error) {
    *error = kWindowsOnly;
    return false;
}

bool RemoveService(const std::string&, std::string* error) {
    *error = kWindowsOnly;
    return false;
}

int RunAsService(const std::string&, const ServiceBody&, std::string* error) {
    *error = kWindowsOnly;
    return -1;
}

}  // namespace cvadmind
