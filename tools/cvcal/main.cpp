// cvcal: a command-line host of the calendar provider. It loads the library as the mail server
// does and lets a person (or a script) run every calendar operation against a store.
#include <cstdio>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/host_thread.h"
#include "common/platform.h"
#include "common/registry_import.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

const char kToolUsage[] =
    "usage: cvcal [--registry FILE] [--library PATH] [--host NAME] [--json] COMMAND [OPTIONS]\n"
    "\n"
    "A command-line host of the calendar provider library.\n"
    "\n"
    "  --registry FILE  the configuration (.reg text): natively the file the library reads\n"
    "                   (as CVAICP_REGISTRY); on Windows its values are written into the registry\n"
    "  --library PATH   the provider library (default: beside cvcal)\n"
    "  --host NAME      send the calls to the remote host NAME (SetCurrentHost)\n"
    "  --json           print JSON instead of text\n"
    "\n"
    "Times are ISO 8601 (2026-12-07T09:00, local unless followed by Z or +01:00) or seconds\n"
    "since 1970. Exit status: 0 done, 1 the library answered no (not found, duplicate),\n"
    "2 wrong arguments.\n"
    "\n"
    "commands:\n";

std::vector<Command> AllCommands() {
    std::vector<Command> all = AppointmentCommands();
    for (auto group : {ListCommands(), ItemCommands(), ConfigCommands(), IndexCommands()}) {
        all.insert(all.end(), group.begin(), group.end());
    }
    return all;
}

void PrintToolUsage(FILE* to) {
    std::fputs(kToolUsage, to);
    for (const Command& c : AllCommands()) std::fprintf(to, "  %-18s %s\n", c.name, c.summary);
    std::fputs("\n'cvcal COMMAND --help' tells more about a command.\n", to);
}

void PrintCommandUsage(const Command& c) {
    std::printf("usage: cvcal [global options] %s OPTIONS\n\n%s.\n\n%s\n", c.name, c.summary,
                c.usage);
}

bool IsGroup(const std::string& word) {
    return word == "item" || word == "config" || word == "props" || word == "index";
}

int Run(const std::vector<std::string>& arguments) {
    std::string registry, library_path, host;
    bool json = false;
    size_t at = 0;
    for (; at < arguments.size(); ++at) {
        const std::string& a = arguments[at];
        auto value = [&](const char* name) {
            if (at + 1 >= arguments.size()) throw UsageError(std::string(name) + ": missing value");
            return arguments[++at];
        };
        if (a == "--registry") {
            registry = value("--registry");
        } else if (a == "--library") {
            library_path = value("--library");
        } else if (a == "--host") {
            host = value("--host");
        } else if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h" || a == "help") {
            PrintToolUsage(stdout);
            return kExitOk;
        } else if (a.compare(0, 2, "--") == 0) {
            throw UsageError(a + ": unknown option (global options come before the command)");
        } else {
            break;
        }
    }
    if (at >= arguments.size()) {
        PrintToolUsage(stderr);
        return kExitUsage;
    }
    std::string name = arguments[at++];
    if (IsGroup(name)) {
        if (at >= arguments.size() || arguments[at].compare(0, 2, "--") == 0) {
            throw UsageError(name + ": expects a subcommand (see cvcal --help)");
        }
        name += " " + arguments[at++];
    }
    const Command* command = nullptr;
    std::vector<Command> all = AllCommands();
    for (const Command& c : all) {
        if (name == c.name) command = &c;
    }
    if (command == nullptr) throw UsageError(name + ": unknown command (see cvcal --help)");
    std::vector<std::string> rest(arguments.begin() + static_cast<std::ptrdiff_t>(at),
                                  arguments.end());
    for (const std::string& r : rest) {
        if (r == "--help" || r == "-h") {
            PrintCommandUsage(*command);
            return kExitOk;
        }
    }
    CommandLine line(rest, command->options);

    if (!registry.empty() && !cv::ImportRegistryFile(registry)) {
        throw UsageError("--registry: cannot read " + registry);
    }
    cv::HostThread thread;  // COM and sockets, for the library's sake
    ProviderLibrary library;
    bool needs_library =
        name.compare(0, 6, "config") != 0 && name != "period-name" && !WorksOnStoreDirectly(name);
    if (needs_library && !library.Load(library_path)) {
        std::fprintf(stderr, "cvcal: %s\n", library.error().c_str());
        return kExitUsage;
    }
    if (!host.empty()) {
        if (library.set_current_host == nullptr) {
            throw UsageError("--host: " + library.path() + " has no remote mode");
        }
        library.set_current_host(host.c_str());
    }
    Context context{library, json, Output(), cv::SeparateLibraryDiagnostics()};
    int status = command->run(context, line);
    context.output.Print(json, context.results);
    std::fflush(context.results);
    return status;
}

}  // namespace
}  // namespace cvcal

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return cvcal::Run(arguments);
    } catch (const cvcal::UsageError& e) {
        std::fprintf(stderr, "cvcal: %s\n", e.what());
        return cvcal::kExitUsage;
    }
}
