// cvcal: a command-line host of the calendar provider. It loads the library as the mail server
// does and lets a person (or a script) run every calendar operation against a store.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/host_platform.h"
#include "host/host_thread.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/registry_choice.h"
#include "tools/cvcal/remote_probe.h"
#include "tools/cvcal/store_check.h"

namespace cvcal {
namespace {

const char kToolUsage[] =
    "usage: cvcal [--registry FILE] [--library PATH] [--host NAME] [--json] [--verbose]\n"
    "             COMMAND [OPTIONS]\n"
    "\n"
    "A command-line host of the calendar provider library.\n"
    "\n"
    "Global options (before or after the command):\n"
    "  --registry FILE  the configuration (.reg text) the library reads: $CVAICP_REGISTRY,\n"
    "                   else ~/.config/cvaicp/store.reg by default. Native build only: the\n"
    "                   Windows build reads the registry (cvcal config import FILE)\n"
    "  --library PATH   the provider library (default: beside cvcal)\n"
    "  --host NAME      send the calls to the remote host NAME (see config host)\n"
    "  --json           print JSON instead of text; a failure prints\n"
    "                   {\"error\": {\"code\": STATUS, \"message\": TEXT}}\n"
    "  --verbose        show the library's own diagnostics (on standard error)\n"
    "  --version        print the version\n"
    "\n"
    "Times are ISO 8601 (2026-12-07T09:00, local unless followed by Z or +01:00), seconds\n"
    "since 1970, or relative: now, today, tomorrow, yesterday, +7d, -1w, +3h. Period names\n"
    "come from local dates, as the library's list reads them.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the library answered no (not found, duplicate, nothing to delete)\n"
    "  2  wrong arguments\n"
    "  3  configuration error: registry file, mail root, postoffice, mailbox or Calendar\n"
    "     folder, or a remote host that is not configured or refuses the credentials\n"
    "  4  the remote host cannot be reached (address not resolved, nothing listening, no answer)\n"
    "Messages go to standard error, results to standard output.\n"
    "\n"
    "Environment:\n"
    "  CVAICP_REGISTRY  the configuration file when --registry is not given (native build)\n"
    "\n"
    "Files:\n"
    "  ~/.config/cvaicp/store.reg  the configuration when neither --registry nor\n"
    "                   CVAICP_REGISTRY names one; the first config set-root makes it\n"
    "  libcvaicp.so     the provider library, beside cvcal or in ../lib (CVAICP.DLL on Windows)\n"
    "\n"
    "Examples:\n"
    "  cvcal config set-root /srv/mail\n"
    "  cvcal list --mailbox anna --postoffice example --from today --to +7d\n"
    "  cvcal --host far --json walk --mailbox anna --postoffice example --period Y26M12D07\n"
    "\n"
    "Commands:\n";

const OptionSpec kGlobalOptions[] = {
    {"registry", true}, {"library", true}, {"host", true}, {"json", false}, {"verbose", false}};

std::vector<Command> AllCommands() {
    std::vector<Command> all = AppointmentCommands();
    for (auto group :
         {FindCommands(), ListCommands(), ItemCommands(), ConfigCommands(), IndexCommands()}) {
        all.insert(all.end(), group.begin(), group.end());
    }
#ifdef CVCAL_ICALENDAR
    for (const Command& c : ICalendarCommands()) all.push_back(c);
#endif
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
    std::printf("\nExamples:\n%s\n", c.examples);
}

// Whether a command takes words besides its options: its usage begins with the word it takes
// (FILE, DIR, NAME), so the help and the check cannot disagree.
bool TakesWords(const Command& c) {
    const char* usage = c.usage;
    while (*usage == ' ') ++usage;
    return *usage >= 'A' && *usage <= 'Z';
}

int HelpWith(const std::string& asked) {
    if (asked.empty()) {
        PrintToolUsage(stdout);
        return kExitOk;
    }
    std::vector<std::string> names;
    for (const Command& c : AllCommands()) {
        if (asked == c.name) {
            PrintCommandUsage(c);
            return kExitOk;
        }
        names.push_back(c.name);
    }
    throw UsageError("help " + asked + ": unknown command" + DidYouMean(asked, names));
}

bool IsGroup(const std::string& word) {
    return word == "item" || word == "config" || word == "props" || word == "index";
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The commands of the iCalendar engine, which cvcal links: they need no library.
bool IsICalendarCommand(const std::string& name) {
    return name == "import" || name == "export" || name == "roll";
}

// Commands that never go through the library's remote mode, and why --host makes no sense.
std::string LocalOnlyReason(const std::string& name) {
    if (name == "freebusy") return "free/busy is always read from the local store";
    if (name == "find") return "find reads the local Calendar folder";
    if (IsICalendarCommand(name)) return name + " works on the local Calendar folder";
    if (WorksOnStoreDirectly(name)) return name + " works on the local store's index";
    if (StartsWith(name, "config") || name == "period-name") return name + " uses no host";
    return "";
}

RegistryUse RegistryUseOf(const std::string& name) {
    if (name == "period-name" || name == "props list" || name == "config import") {
        return RegistryUse::kNone;
    }
    if (name == "config set-root" || name == "config set-waits" || name == "config host") {
        return RegistryUse::kCreate;
    }
    return RegistryUse::kRead;
}

// The library would print its diagnostics on standard output, among cvcal's results: they go to
// a file instead, in the static code and in the library loaded alike, and are shown (on standard
// error) only with --verbose. Told before the library can say anything.
void SetAsideLibraryDiagnostics(bool verbose) {
    if (verbose) {
        // Kept aside and shown at the end with a label, apart from cvcal's own messages.
        cv::KeepLibraryDiagnostics();
    } else {
        cv::DropLibraryDiagnostics();
    }
}

const char kDiagnosticsLabel[] = "cvcal: the library says: ";

int Run(const std::vector<std::string>& arguments) {
    std::string registry, library_path, host;
    bool json = false, verbose = false;
    size_t at = 0;
    auto take_global = [&](const std::string& name, const std::string& value) {
        if (name == "registry") registry = value;
        if (name == "library") library_path = value;
        if (name == "host") host = value;
        if (name == "json") json = true;
        if (name == "verbose") verbose = true;
    };
    for (; at < arguments.size(); ++at) {
        const std::string& a = arguments[at];
        if (a == "--help" || a == "-h" || a == "help") {
            // "help add", "help config show": that command's own help.
            std::string asked;
            for (size_t i = at + 1; i < arguments.size(); ++i) {
                asked += (asked.empty() ? "" : " ") + arguments[i];
            }
            return HelpWith(asked);
        }
        if (a == "--version") {
            std::printf("cvcal %s\n", CVAICP_VERSION);
            return kExitOk;
        }
        if (!StartsWith(a, "--")) break;
        const OptionSpec* global = nullptr;
        for (const OptionSpec& s : kGlobalOptions) {
            if (a.substr(2) == s.name) global = &s;
        }
        if (global == nullptr) {
            std::vector<std::string> names;
            for (const OptionSpec& g : kGlobalOptions) names.push_back(std::string("--") + g.name);
            throw UsageError(a + ": unknown option" + DidYouMean(a, names) + " (see cvcal --help)");
        }
        if (global->takes_value && at + 1 >= arguments.size()) {
            throw UsageError(a + ": missing value");
        }
        take_global(global->name, global->takes_value ? arguments[++at] : "");
    }
    if (at >= arguments.size()) {
        PrintToolUsage(stderr);
        return kExitUsage;
    }
    std::string name = arguments[at++];
    if (IsGroup(name)) {
        if (at >= arguments.size() || StartsWith(arguments[at], "--")) {
            throw UsageError(name + ": expects a subcommand (see cvcal --help)");
        }
        name += " " + arguments[at++];
    }
    const Command* command = nullptr;
    std::vector<Command> all = AllCommands();
    for (const Command& c : all) {
        if (name == c.name) command = &c;
    }
#ifndef CVCAL_ICALENDAR
    if (command == nullptr && (name == "import" || name == "export" || name == "roll")) {
        throw UsageError(name + ": not in the Windows build; iCalendar files are the native " +
                         "cvcal's (Debian's libical has no Windows build)");
    }
#endif
    if (command == nullptr) {
        std::vector<std::string> names;
        for (const Command& c : all) names.push_back(c.name);
        throw UsageError(name + ": unknown command" + DidYouMean(name, names) +
                         " (see cvcal --help)");
    }
    std::vector<std::string> rest(arguments.begin() + static_cast<std::ptrdiff_t>(at),
                                  arguments.end());
    for (const std::string& r : rest) {
        if (r == "--help" || r == "-h") {
            PrintCommandUsage(*command);
            return kExitOk;
        }
    }
    // Global options may follow the command too, as people type them at the end of a line.
    std::vector<OptionSpec> known = command->options;
    known.insert(known.end(), std::begin(kGlobalOptions), std::end(kGlobalOptions));
    CommandLine line(rest, known);
    if (!line.words().empty() && !TakesWords(*command)) {
        throw UsageError(name + ": unexpected argument '" + line.words()[0] +
                         "' (a value goes after its --option; quote a value with spaces)");
    }
    for (const OptionSpec& s : kGlobalOptions) {
        if (line.Has(s.name)) take_global(s.name, s.takes_value ? line.Required(s.name) : "");
    }

    if (!host.empty()) {
        std::string reason = LocalOnlyReason(name);
        if (!reason.empty()) throw UsageError("--host " + host + ": not used: " + reason);
    }
    SetAsideLibraryDiagnostics(verbose);
    ChooseRegistry(registry, RegistryUseOf(name));
    cv::HostThread thread;  // COM and sockets, for the library's sake
    ProviderLibrary library;
    library.Choose(library_path);
    bool needs_library = !StartsWith(name, "config") && name != "period-name" &&
                         !WorksOnStoreDirectly(name) && !IsICalendarCommand(name);
    if (needs_library && !library.Load(library_path)) {
        throw Failure(kExitConfig, library.error());
    }
    if (!host.empty()) {
        if (library.SetCurrentHost == nullptr) {
            throw Failure(kExitConfig,
                          "--host " + host + ": " + library.path() + " has no remote mode");
        }
        CheckHostConfigured(host);
        library.SetCurrentHost(host.c_str());
    }
    Context context{library, json, Output(), stdout, host};
    int status = command->run(context, line);
    context.output.Print(json, context.results);
    std::fflush(context.results);
    cv::ShowKeptDiagnostics(kDiagnosticsLabel);
    return status;
}

int Fail(const std::vector<std::string>& arguments, int status, const std::string& kind,
         const char* message) {
    cv::ShowKeptDiagnostics(kDiagnosticsLabel);
    std::fprintf(stderr, "cvcal: %s\n", message);
    if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
        PrintJsonError(stdout, status, kind, message);
        std::fflush(stdout);
    }
    return status;
}

}  // namespace
}  // namespace cvcal

int main(int argc, char** argv) {
    cv::UseBinaryStandardStreams();  // item files pass through them byte for byte
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return cvcal::Run(arguments);
    } catch (const cvcal::UsageError& e) {
        return cvcal::Fail(arguments, cvcal::kExitUsage, cvcal::StatusKind(cvcal::kExitUsage),
                           e.what());
    } catch (const cvcal::Failure& e) {
        return cvcal::Fail(arguments, e.status(), e.kind(), e.what());
    }
}
