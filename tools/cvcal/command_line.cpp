#include "tools/cvcal/command_line.h"

#include <cstring>

#include "store/calendar_paths.h"
#include "tools/cvcal/remote_probe.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {

CommandLine::CommandLine(const std::vector<std::string>& arguments,
                         const std::vector<OptionSpec>& known) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 3 || argument.compare(0, 2, "--") != 0) {
            words_.push_back(argument);
            continue;
        }
        std::string name = argument.substr(2);
        std::string value;
        bool inline_value = false;
        std::string::size_type equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inline_value = true;
        }
        const OptionSpec* option = nullptr;
        for (const OptionSpec& s : known) {
            if (name == s.name) option = &s;
        }
        if (option == nullptr) throw UsageError("--" + name + ": unknown option");
        if (!option->takes_value) {
            if (inline_value) throw UsageError("--" + name + ": takes no value");
            flags_.insert(name);
            continue;
        }
        if (!inline_value) {
            if (i + 1 >= arguments.size()) throw UsageError("--" + name + ": missing value");
            value = arguments[++i];
        }
        if (values_.count(name)) throw UsageError("--" + name + ": given twice");
        values_[name] = value;
    }
}

const std::string& CommandLine::Required(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) throw UsageError("--" + name + ": required");
    return it->second;
}

std::string CommandLine::Optional(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

int32_t CommandLine::Time(const std::string& name, DayPart part) const {
    int32_t seconds = 0;
    std::string reason;
    if (!ParseTimeArgument(Required(name), &seconds, &reason, part)) {
        throw UsageError("--" + name + ": " + reason);
    }
    return seconds;
}

void CopyField(char* field, size_t size, const std::string& value, const char* option) {
    if (value.size() >= size || value.find('\0') != std::string::npos) {
        throw UsageError(std::string("--") + option + ": longer than " + std::to_string(size - 1) +
                         " characters");
    }
    std::memcpy(field, value.c_str(), value.size() + 1);
}

std::string CheckReach(const Context& context, const CommandLine& line, Access access) {
    if (!context.host.empty()) return "";
    return CheckMailbox(line.Required("postoffice"), line.Required("mailbox"), access);
}

void ExplainRemoteFailure(const Context& context) {
    if (!context.host.empty()) ProbeRemoteHost(context.host);
}

void CheckId(const std::string& id, const char* option, bool names_a_file) {
    if (id.find_first_of("\t\r\n") != std::string::npos) {
        throw UsageError(std::string("--") + option + ": an id cannot hold a tab or a line break");
    }
    if (names_a_file && !cv::IsPathComponent(id.c_str(), id.size() + 1)) {
        throw UsageError(std::string("--") + option + ": " + id +
                         " cannot name an item file (no / \\ : * ?, not . or ..)");
    }
}

AppointmentRequest AppointmentRecord(const CommandLine& line) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    CopyField(request.Mailbox, sizeof request.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(request.Postoffice, sizeof request.Postoffice, line.Required("postoffice"),
              "postoffice");
    return request;
}

}  // namespace cvcal
