// The options of one cvcal command: "--name value" (or "--name=value") and bare flags, checked
// against the options the command knows. Mistakes are thrown as UsageError, which main turns into
// one line on standard error and the exit status 2.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "include/cvaicp.h"
#include "tools/cvcal/output.h"
#include "tools/cvcal/provider_library.h"

namespace cvcal {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takes_value;
};

class CommandLine {
  public:
    CommandLine(const std::vector<std::string>& arguments, const std::vector<OptionSpec>& known);

    bool Has(const std::string& name) const { return values_.count(name) || flags_.count(name); }
    // The option's value; UsageError when it is missing.
    const std::string& Required(const std::string& name) const;
    std::string Optional(const std::string& name, const std::string& fallback = "") const;
    // A time given as ISO 8601 or seconds since 1970.
    int32_t Time(const std::string& name) const;
    const std::vector<std::string>& words() const { return words_; }

  private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> words_;
};

// What every command works with.
struct Context {
    ProviderLibrary& library;
    bool json;
    Output output;
    FILE* results;  // where the command's results go (the library's diagnostics do not)
};

struct Command {
    const char* name;
    const char* summary;
    const char* usage;  // the command's --help text, after its summary
    std::vector<OptionSpec> options;
    int (*run)(Context& context, const CommandLine& line);
};

// The commands of each group.
std::vector<Command> AppointmentCommands();
std::vector<Command> ItemCommands();
std::vector<Command> ConfigCommands();
std::vector<Command> ListCommands();
// The calendar index (props, reindex, index): run in cvcal itself, not through the library.
std::vector<Command> IndexCommands();
bool WorksOnStoreDirectly(const std::string& command);

// Record builders shared by the commands: the names are copied into their fields, refusing what
// does not fit.
AppointmentRequest AppointmentRecord(const CommandLine& line);
void CopyField(char* field, size_t size, const std::string& value, const char* option);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

}  // namespace cvcal
