// config: where the store is and how long writers wait, written where the library reads them.
#include <cstdio>
#include <cstdlib>

#include "common/registry.h"
#include "common/registry_writer.h"
#include "remote/channel.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

constexpr const char* kWaits[] = {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout",
                                  "Apply Timeout"};
constexpr uint32_t kWaitDefaults[] = {80, 60, 80, 20};

void RequireWritableRegistry() {
    if (cv::RegistryIsFile() && cv::RegistryLocation().empty()) {
        throw UsageError(
            "--registry: required (or set CVAICP_REGISTRY) to say which file to write");
    }
}

int SetRoot(Context& context, const CommandLine& line) {
    if (line.words().size() != 1) throw UsageError("config set-root: expects one folder");
    RequireWritableRegistry();
    const std::string& root = line.words()[0];
    if (root.size() >= cv::kRegistryTextSize) throw UsageError("config set-root: folder too long");
    if (!cv::SetRegistryString(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", root)) {
        context.output.Say("could not write " + cv::RegistryLocation());
        return kExitRefused;
    }
    context.output.Field("mail_root", Output::Text(root));
    context.output.Field("written_to", Output::Text(cv::RegistryLocation()));
    return kExitOk;
}

int SetWaits(Context& context, const CommandLine& line) {
    if (line.words().size() != 1) throw UsageError("config set-waits: expects a number of seconds");
    char* end = nullptr;
    unsigned long seconds = std::strtoul(line.words()[0].c_str(), &end, 10);
    if (end == line.words()[0].c_str() || *end != '\0' || seconds > 86400) {
        throw UsageError("config set-waits: expects a number of seconds (0 to 86400)");
    }
    RequireWritableRegistry();
    for (const char* name : kWaits) {
        if (!cv::SetRegistryDword(cv::Hive::kLocalMachine, cv::kProvidersKey, name,
                                  static_cast<uint32_t>(seconds))) {
            context.output.Say("could not write " + cv::RegistryLocation());
            return kExitRefused;
        }
    }
    context.output.Field("waits_seconds", Output::Number(static_cast<int64_t>(seconds)));
    context.output.Field("written_to", Output::Text(cv::RegistryLocation()));
    return kExitOk;
}

// The Hosts key values that a remote host is reached and authenticated with.
int Host(Context& context, const CommandLine& line) {
    if (line.words().size() != 1 || line.words()[0].empty()) {
        throw UsageError("config host: expects one host name");
    }
    const std::string& name = line.words()[0];
    if (name.find('\\') != std::string::npos || name.size() >= 1024) {
        throw UsageError("config host: not a host name: " + name);
    }
    RequireWritableRegistry();
    std::string key = std::string(cv::kHostsKey) + "\\" + name;
    bool written = cv::SetRegistryString(cv::Hive::kCurrentUser, key.c_str(), "Address",
                                         line.Required("address"));
    for (const char* option : {"credentials", "protocol"}) {
        if (!line.Has(option)) continue;
        const char* value_name =
            std::string(option) == "credentials" ? "Credentials" : "Authentication Protocol";
        if (line.Required(option).size() > 255) {
            throw UsageError(std::string("--") + option + ": longer than 255 characters");
        }
        written = written && cv::SetRegistryString(cv::Hive::kCurrentUser, key.c_str(), value_name,
                                                   line.Required(option));
    }
    if (line.Has("port")) {
        char* end = nullptr;
        unsigned long port = std::strtoul(line.Required("port").c_str(), &end, 10);
        if (*end != '\0' || port == 0 || port > 65535) throw UsageError("--port: 1 to 65535");
        written = written && cv::SetRegistryDword(cv::Hive::kCurrentUser, key.c_str(), "Port",
                                                  static_cast<uint32_t>(port));
    }
    if (!written) {
        context.output.Say("could not write " + cv::RegistryLocation());
        return kExitRefused;
    }
    context.output.Field("host", Output::Text(name));
    context.output.Field("address", Output::Text(line.Required("address")));
    context.output.Field("written_to", Output::Text(cv::RegistryLocation()));
    return kExitOk;
}

int Show(Context& context, const CommandLine&) {
    char text[cv::kRegistryTextSize] = "";
    context.output.Field("registry", Output::Text(cv::RegistryLocation()));
    bool has_root = cv::GetRegistryString(cv::kStoreKey, "Mail Root", text);
    context.output.Field("mail_root", Output::Text(has_root ? text : "(not set)"));
    bool has_data = cv::GetRegistryString(cv::kStoreKey, "Data Directory", text);
    context.output.Field("data_directory", Output::Text(has_data ? text : "(not set)"));
    for (size_t i = 0; i < 4; ++i) {
        uint32_t value = kWaitDefaults[i];
        bool set = cv::GetRegistryDword(cv::kProvidersKey, kWaits[i], &value);
        context.output.Field(kWaits[i],
                             Output::Text(std::to_string(value) + (set ? " s" : " s (default)")));
    }
    return kExitOk;
}

}  // namespace

std::vector<Command> ConfigCommands() {
    return {
        {"config set-root",
         "set the mail root (\"Mail Root\") the library reads at load",
         "  DIR\nNatively written into the --registry file, else into the Windows registry.",
         {},
         SetRoot},
        {"config set-waits",
         "set the four blocking-file waits, in seconds",
         "  SECONDS",
         {},
         SetWaits},
        {"config host",
         "say how to reach a remote host (for --host NAME)",
         "  NAME --address A [--port N] [--credentials C] [--protocol P]\n"
         "Written under the current user's Hosts key: the host's remote admin service, and the\n"
         "credentials and protocol sent to it.",
         {{"address", true}, {"port", true}, {"credentials", true}, {"protocol", true}},
         Host},
        {"config show", "show the store's configuration", "", {}, Show},
    };
}

}  // namespace cvcal
