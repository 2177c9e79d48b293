// cvadmind under the Windows service manager: registering the service, removing it, and running
// the process as it when the manager starts it. Natively these refuse: systemd runs cvadmind as a
// plain process (cvadmind.service).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cvadmind {

constexpr const char kDefaultServiceName[] = "cvadmind";

// Registers the service NAME, started at boot or only when asked (net start), to run this
// executable with `--service NAME` followed by the serving arguments (absolute paths: a service
// starts in the system's folder). False with a one-line reason.
bool InstallService(const std::string& name, bool at_boot,
                    const std::vector<std::string>& arguments, std::string* error);

// Removes the service NAME; refused while it runs.
bool RemoveService(const std::string& name, std::string* error);

// What the service does once the manager starts it. serve runs the server and returns the exit
// status (0 stopped on request); it calls running() once it accepts clients. stop asks it to
// return, from the manager's thread.
struct ServiceBody {
    std::function<int(const std::function<void()>& running)> serve;
    std::function<void()> stop;
};

// Hands the process to the service manager and returns when the service has stopped, with the
// status serve returned. -1 with a reason when the process was not started by the manager.
int RunAsService(const std::string& name, const ServiceBody& body, std::string* error);

}  // namespace cvadmind
