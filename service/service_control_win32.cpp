// cvadmind and the Windows service manager. A service process has one status handle and one
// control handler, which the manager calls on a thread of its own: the state they share is this
// file's, for the one service the process runs.
#include "service/service_control.h"

#include <windows.h>

#include <string>

#include "host/host_files.h"

namespace cvadmind {
namespace {

// The service manager's messages add "service" to it.
const char kDisplayName[] = "CVAICP remote admin";
const char kDescription[] =
    "Serves the calendar provider's remote calls: clients authenticate, load the provider "
    "library and run its calendar exports on this server's store.";

// How long the manager should wait for a start or a stop before it calls the service hung.
const DWORD kStartWaitHintMs = 30000;
const DWORD kStopWaitHintMs = 30000;

std::string Explained(const char* what, DWORD code) {
    std::string text = std::string(what) + ": error " + std::to_string(code);
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return text + " (access denied: run it as an administrator)";
        case ERROR_SERVICE_EXISTS:
            return text + " (a service of that name is installed already)";
        case ERROR_SERVICE_DOES_NOT_EXIST:
            return text + " (no service of that name is installed)";
        case ERROR_SERVICE_MARKED_FOR_DELETE:
            return text + " (removed already; it goes when the last handle to it closes)";
        case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
            return text + " (--service is for the service manager; run cvadmind without it, or " +
                   "start the service with net start)";
        default:
            return text;
    }
}

// A manager handle closed on every way out.
class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SC_HANDLE handle_;
};

// The running service's state, shared by its main function and the manager's control thread.
struct Running {
    std::string name;
    const ServiceBody* body = nullptr;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status = {};
    int exit_status = 0;
};
Running g_service;

void Report(DWORD state, DWORD wait_hint) {
    SERVICE_STATUS& status = g_service.status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = wait_hint;
    status.dwCheckPoint =
        (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : status.dwCheckPoint + 1;
    if (state == SERVICE_STOPPED && g_service.exit_status != 0) {
        // The manager shows a service's own code only under this one.
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = static_cast<DWORD>(g_service.exit_status);
    } else {
        status.dwWin32ExitCode = NO_ERROR;
        status.dwServiceSpecificExitCode = 0;
    }
    SetServiceStatus(g_service.handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
            g_service.body->stop();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_service.handle = RegisterServiceCtrlHandlerExA(g_service.name.c_str(), Control, nullptr);
    if (g_service.handle == nullptr) {
        g_service.exit_status = -1;
        return;
    }
    Report(SERVICE_START_PENDING, kStartWaitHintMs);
    g_service.exit_status = g_service.body->serve([] { Report(SERVICE_RUNNING, 0); });
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

bool InstallService(const std::string& name, bool at_boot,
                    const std::vector<std::string>& arguments, std::string* error) {
    char executable[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, executable, sizeof executable);
    if (length == 0 || length >= sizeof executable) {
        *error = Explained("GetModuleFileName", GetLastError());
        return false;
    }
    std::string command = cv::QuoteArgument(executable) + " --service " + cv::QuoteArgument(name);
    for (const std::string& argument : arguments) command += " " + cv::QuoteArgument(argument);

    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        *error = Explained("OpenSCManager", GetLastError());
        return false;
    }
    ScHandle service(CreateServiceA(
        manager.get(), name.c_str(), kDisplayName, SERVICE_CHANGE_CONFIG, SERVICE_WIN32_OWN_PROCESS,
        at_boot ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        *error = Explained("CreateService", GetLastError());
        return false;
    }
    SERVICE_DESCRIPTIONA description = {const_cast<char*>(kDescription)};
    // Only what the services console shows: the service is there without it.
    ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    return true;
}

bool RemoveService(const std::string& name, std::string* error) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        *error = Explained("OpenSCManager", GetLastError());
        return false;
    }
    ScHandle service(OpenServiceA(manager.get(), name.c_str(), DELETE | SERVICE_QUERY_STATUS));
    if (!service) {
        *error = Explained("OpenService", GetLastError());
        return false;
    }
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        *error = "the service is running: stop it first (net stop " + name + ")";
        return false;
    }
    if (!DeleteService(service.get())) {
        *error = Explained("DeleteService", GetLastError());
        return false;
    }
    return true;
}

int RunAsService(const std::string& name, const ServiceBody& body, std::string* error) {
    g_service.name = name;
    g_service.body = &body;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(g_service.name.c_str()), ServiceMain},
                                    {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        *error = Explained("StartServiceCtrlDispatcher", GetLastError());
        return -1;
    }
    return g_service.exit_status;
}

}  // namespace cvadmind
