// config: where the store is and how long writers wait, written where the library reads them.
#include <cstdio>
#include <cstdlib>

#include "common/registry.h"
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
        {"config show", "show the store's configuration", "", {}, Show},
    };
}

}  // namespace cvcal
