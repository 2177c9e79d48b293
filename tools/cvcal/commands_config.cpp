// config: where the store is and how long writers wait, written where the library reads them.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "common/file_helpers.h"

#include "common/text_helpers.h"
#include "host/registry_writer.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "remote/channel.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/library_version.h"
#include "tools/cvcal/reg_text.h"
#include "tools/cvcal/registry_choice.h"

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

// Natively the .reg file is edited in place (its comments and order kept); the Windows build
// writes the registry.
void WriteValue(cv::Hive hive, const std::string& key, const char* name, const std::string& text,
                const uint32_t* number) {
    std::string error;
    if (cv::RegistryIsFile()) {
        std::string data = number ? RegDword(*number) : RegString(text);
        if (!WriteRegValue(cv::RegistryLocation(), hive, key, name, data, &error)) {
            throw Failure(kExitConfig, error);
        }
        return;
    }
    bool written = number ? cv::SetRegistryDword(hive, key.c_str(), name, *number)
                          : cv::SetRegistryString(hive, key.c_str(), name, text);
    if (!written) throw Failure(kExitConfig, "could not write " + cv::RegistryLocation());
}

void WriteText(cv::Hive hive, const std::string& key, const char* name, const std::string& text) {
    WriteValue(hive, key, name, text, nullptr);
}

void WriteNumber(cv::Hive hive, const std::string& key, const char* name, uint32_t number) {
    WriteValue(hive, key, name, "", &number);
}

// --credentials-file FILE, or standard input for "-": secrets kept off the command line, where
// ps and the shell's history would show them. One line; its line break is not part of it.
std::string CredentialsFrom(const std::string& path) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!cv::ReadWholeFile(path.c_str(), &text)) {
        throw UsageError("--credentials-file: cannot read " + path);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.find_first_of("\r\n") != std::string::npos) {
        throw UsageError("--credentials-file: expected one line");
    }
    return text;
}

// Whether the .reg file holds a credential already, so that its owner is told once that it is
// kept private.
bool FileHoldsCredentials(const std::string& path) {
    std::string text;
    return cv::RegistryIsFile() && cv::ReadWholeFile(path.c_str(), &text) &&
           cv::HoldsCredentials(cv::RegFile::Parse(text));
}

int SetRoot(Context& context, const CommandLine& line) {
    if (line.words().size() != 1) throw UsageError("config set-root: expects one folder");
    RequireWritableRegistry();
    const std::string root = WithoutTrailingSeparators(line.words()[0]);
    if (root.size() >= cv::kRegistryTextSize) throw UsageError("config set-root: folder too long");
    if (!IsAbsolutePath(root)) {
        // The library and the service would each find it from a folder of their own.
        throw UsageError("config set-root: " + root + " is not an absolute path");
    }
    WriteText(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", root);
    if (!cv::FolderExists(root.c_str())) {
        std::fprintf(stderr, "cvcal: note: the folder %s is not there yet\n", root.c_str());
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
        WriteNumber(cv::Hive::kLocalMachine, cv::kProvidersKey, name,
                    static_cast<uint32_t>(seconds));
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
    if (line.Has("credentials") && line.Has("credentials-file")) {
        throw UsageError("--credentials-file: give --credentials or --credentials-file");
    }
    std::string credentials = line.Has("credentials-file")
                                  ? CredentialsFrom(line.Required("credentials-file"))
                                  : line.Optional("credentials");
    if (credentials.size() > 255) throw UsageError("--credentials: longer than 255 characters");
    const std::string& protocol = line.Optional("protocol");
    if (line.Has("protocol") && protocol != "PLAIN") {
        throw UsageError("--protocol: unknown protocol " + protocol + " (known: PLAIN)");
    }
    uint32_t port = 0;
    if (line.Has("port")) {
        char* end = nullptr;
        unsigned long number = std::strtoul(line.Required("port").c_str(), &end, 10);
        if (*end != '\0' || number == 0 || number > 65535) throw UsageError("--port: 1 to 65535");
        port = static_cast<uint32_t>(number);
    }
    if (line.Required("address").empty() || line.Required("address").size() > 255) {
        throw UsageError("--address: expected a host name or address");
    }
    RequireWritableRegistry();
    std::string key = std::string(cv::kHostsKey) + "\\" + name;
    WriteText(cv::Hive::kCurrentUser, key, "Address", line.Required("address"));
    if (line.Has("credentials") || line.Has("credentials-file")) {
        bool held = FileHoldsCredentials(cv::RegistryLocation());
        WriteText(cv::Hive::kCurrentUser, key, "Credentials", credentials);
        if (!held && cv::RegistryIsFile()) {
            std::fprintf(stderr,
                         "cvcal: note: %s holds credentials now, so it is written readable and "
                         "writable by its owner alone (mode 600)\n",
                         cv::RegistryLocation().c_str());
        }
    }
    if (line.Has("protocol"))
        WriteText(cv::Hive::kCurrentUser, key, "Authentication Protocol", protocol);
    if (port != 0) WriteNumber(cv::Hive::kCurrentUser, key, "Port", port);
    context.output.Field("host", Output::Text(name));
    context.output.Field("address", Output::Text(line.Required("address")));
    context.output.Field("written_to", Output::Text(cv::RegistryLocation()));
    return kExitOk;
}

int Import(Context& context, const CommandLine& line) {
    if (line.words().size() != 1) throw UsageError("config import: expects one .reg FILE");
    if (cv::RegistryIsFile()) {
        throw UsageError(
            "config import: natively the configuration is a .reg file that the "
            "library reads itself; name it with --registry FILE or CVAICP_REGISTRY");
    }
    ImportIntoRegistry(line.words()[0]);
    context.output.Field("imported", Output::Text(line.words()[0]));
    context.output.Field("written_to", Output::Text(cv::RegistryLocation()));
    return kExitOk;
}

int Show(Context& context, const CommandLine&) {
    char text[cv::kRegistryTextSize] = "";
    // Which build this is, and which build the library is that the commands would load: after an
    // upgrade the two should agree.
    context.output.Field("version", Output::Text(CVAICP_VERSION));
    context.output.Field("library", Output::Text(context.library.path()));
    const std::string library_version = LibraryFileVersion(context.library.path());
    context.output.Field("library_version",
                         library_version.empty() ? Output::Null() : Output::Text(library_version));
    context.output.Field("registry", Output::Text(cv::RegistryLocation()));
    bool has_root = cv::GetRegistryString(cv::kStoreKey, "Mail Root", text);
    context.output.Field("mail_root", has_root ? Output::Text(text) : Output::Null());
    bool has_data = cv::GetRegistryString(cv::kStoreKey, "Data Directory", text);
    context.output.Field("data_directory", has_data ? Output::Text(text) : Output::Null());
    // Every wait in the seconds the library waits, the default where none is set (which the
    // text says); the keys in the style of the others ("write_wait_timeout").
    for (size_t i = 0; i < 4; ++i) {
        uint32_t value = kWaitDefaults[i];
        const bool set = cv::GetRegistryDword(cv::kProvidersKey, kWaits[i], &value);
        Output::Value seconds = Output::Number(value);
        seconds.text += set ? " s" : " s (default)";
        std::string key;
        for (const char* c = kWaits[i]; *c != '\0'; ++c) {
            key += *c == ' ' ? '_' : cv::FoldAscii(*c);
        }
        context.output.Field(key, seconds);
    }
    return kExitOk;
}

}  // namespace

std::vector<Command> ConfigCommands() {
    return {
        {"config set-root",
         "set the mail root (\"Mail Root\") the library reads at load",
         "  DIR\nNatively written into the --registry file, else into the Windows registry.",
         "  cvcal config set-root /srv/mail\n"
         "  cvcal --registry /etc/cvaicp/store.reg config set-root /srv/mail",
         {},
         SetRoot},
        {"config set-waits",
         "set the four blocking-file waits, in seconds",
         "  SECONDS",
         "  cvcal config set-waits 30",
         {},
         SetWaits},
        {"config host",
         "say how to reach a remote host (for --host NAME)",
         "  NAME --address A [--port N] [--credentials C | --credentials-file F] [--protocol P]\n"
         "Written under the current user's Hosts key: the host's remote admin service, and the\n"
         "credentials and protocol sent to it. --credentials-file reads them from the first\n"
         "line of F (- for standard input), out of sight of ps and the shell's history.\n"
         "Natively, a --registry file that holds credentials is kept readable by its owner\n"
         "alone (mode 600). The protocol known is PLAIN.",
         "  cvcal config host far --address 10.0.0.5 --port 8081 --protocol PLAIN "
         "--credentials-file secret.txt\n"
         "  cvcal config host far --address far.example.org --credentials-file - < secret.txt",
         {{"address", true},
          {"port", true},
          {"credentials", true},
          {"credentials-file", true},
          {"protocol", true}},
         Host},
        {"config import",
         "write the values of a .reg file into the registry (Windows build)",
         "  FILE\nThe Windows build keeps its configuration in the registry; this writes every\n"
         "value of FILE (as regedit exports it, or as cvcal writes it natively) into it.",
         "  cvcal config import store.reg",
         {},
         Import},
        {"config show",
         "show the store's configuration",
         "",
         "  cvcal config show\n"
         "  cvcal --registry /etc/cvaicp/store.reg --json config show",
         {},
         Show},
    };
}

}  // namespace cvcal
