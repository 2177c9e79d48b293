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
#include "tools/cvcal/store_check.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A failure that is not the arguments' fault, with the exit status that tells its kind
// (kExitRefused, kExitConfig, kExitUnreachable). main prints it as UsageError is printed.
// `kind` is the stable name a script can test (in the JSON error object), such as
// "mailbox-not-found"; by default the status's own ("refused", "configuration", "unreachable").
class Failure : public std::runtime_error {
  public:
    Failure(int status, const std::string& message, std::string kind = "")
        : std::runtime_error(message), status_(status), kind_(std::move(kind)) {}
    int status() const { return status_; }
    std::string kind() const;

  private:
    int status_;
    std::string kind_;
};

// The kind of a failure of that exit status that names none of its own.
const char* StatusKind(int status);

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takes_value;
};

// " (did you mean 'X'?)" for the candidate nearest to what was typed, when one is near enough to
// be a slip of the fingers; "" otherwise.
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates);

class CommandLine {
  public:
    CommandLine(const std::vector<std::string>& arguments, const std::vector<OptionSpec>& known);

    bool Has(const std::string& name) const { return values_.count(name) || flags_.count(name); }
    // The option's value; UsageError when it is missing.
    const std::string& Required(const std::string& name) const;
    std::string Optional(const std::string& name, const std::string& fallback = "") const;
    // A time given as ISO 8601, seconds since 1970 or relative to today (see time_text.h).
    int32_t Time(const std::string& name, DayPart part = DayPart::kStart) const;
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
    FILE* results;     // where the command's results go (the library's diagnostics do not)
    std::string host;  // --host: the remote host the calls go to, empty for the local store
};

struct Command {
    const char* name;
    const char* summary;
    const char* usage;  // the command's --help text, after its summary
    // Whole command lines, one a line, each indented by two spaces: shown under "Examples:" in
    // the command's help, and the man pages take them from there.
    const char* examples;
    std::vector<OptionSpec> options;
    int (*run)(Context& context, const CommandLine& line);
};

// The commands of each group.
std::vector<Command> AppointmentCommands();
std::vector<Command> ItemCommands();
std::vector<Command> ConfigCommands();
std::vector<Command> ListCommands();
std::vector<Command> FindCommands();
#ifdef CVCAL_ICALENDAR
// import, export and roll of iCalendar objects, through the engine linked in: native only.
std::vector<Command> ICalendarCommands();
#endif
// The calendar index (props, reindex, index): run in cvcal itself, not through the library.
std::vector<Command> IndexCommands();
bool WorksOnStoreDirectly(const std::string& command);

// Record builders shared by the commands: the names are copied into their fields, refusing what
// does not fit.
AppointmentRequest AppointmentRecord(const CommandLine& line);
void CopyField(char* field, size_t size, const std::string& value, const char* option);

// Before a call that reaches the mailbox of --mailbox and --postoffice: for the local store, the
// checks of store_check.h (a Failure names what is missing); nothing in remote mode, where the
// host's own store is used. The Calendar folder's path, empty in remote mode.
std::string CheckReach(const Context& context, const CommandLine& line, Access access);

// After a call answered no or nothing: in remote mode the host is probed, and a Failure names
// the step that failed; when the host is reachable the answer stands, with a note that it cannot
// tell a missing mailbox from an empty one.
void ExplainRemoteFailure(const Context& context);

// The id of an appointment or item, refused when a period line could not hold it (a tab or a
// line break splits the line) or, for a name that becomes a file (new ids), when it is not one
// file name.
void CheckId(const std::string& id, const char* option, bool names_a_file);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;      // the library said no: not found, duplicate
constexpr int kExitUsage = 2;        // wrong arguments
constexpr int kExitConfig = 3;       // the configuration or the store is not as it must be
constexpr int kExitUnreachable = 4;  // the remote host could not be reached or refused us

}  // namespace cvcal
