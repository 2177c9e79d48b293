#include "tools/cvcal/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/code_page.h"
#include "store/calendar_paths.h"
#include "tools/cvcal/remote_probe.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {

namespace {

// Edits (insertions, deletions, changes of one character, and swaps of two) from one text to the
// other.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t change = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

const char* StatusKind(int status) {
    switch (status) {
        case kExitRefused:
            return "refused";
        case kExitUsage:
            return "usage";
        case kExitConfig:
            return "configuration";
        case kExitUnreachable:
            return "unreachable";
        default:
            return "failure";
    }
}

std::string Failure::kind() const {
    return kind_.empty() ? StatusKind(status_) : kind_;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates) {
    const std::string* best = nullptr;
    size_t best_distance = typed.size() / 3 + 1;  // a third of it wrong, at most
    for (const std::string& candidate : candidates) {
        size_t distance = Distance(typed, candidate);
        if (distance < best_distance || (best == nullptr && distance == best_distance)) {
            best = &candidate;
            best_distance = distance;
        }
    }
    return best == nullptr ? "" : " (did you mean '" + *best + "'?)";
}

CommandLine::CommandLine(const std::vector<std::string>& arguments,
                         const std::vector<OptionSpec>& known) {
    std::vector<std::string> names;
    for (const OptionSpec& s : known) names.push_back(std::string("--") + s.name);
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() > 1 && argument[0] == '-' &&
            (argument.size() < 3 || argument[1] != '-')) {
            // "-" alone is standard input; "-x" and "--" are nothing cvcal knows.
            throw UsageError(argument + ": unknown option" + DidYouMean("-" + argument, names));
        }
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
        if (option == nullptr) {
            throw UsageError("--" + name + ": unknown option" + DidYouMean("--" + name, names));
        }
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

// A name that goes to a remote host must be one its texts can hold: the wire carries them in the
// Windows build's code page, and a name it cannot hold would otherwise come back as no data.
void CheckWireTexts(const Context& context, const CommandLine& line) {
    for (const char* option : {"mailbox", "postoffice", "id", "new-id", "period", "prefix"}) {
        std::string wire;
        if (line.Has(option) && !cv::ToWireText(line.Required(option), &wire)) {
            throw UsageError(std::string("--") + option + ": '" + line.Required(option) +
                             "' cannot go to " + context.host + ": the remote admin service's " +
                             "texts are in " + cv::WireCodePageName() +
                             ", which has no character for some of it");
        }
    }
}

std::string CheckReach(const Context& context, const CommandLine& line, Access access) {
    if (!context.host.empty()) {
        CheckWireTexts(context, line);
        return "";
    }
    return CheckMailbox(line.Required("postoffice"), line.Required("mailbox"), access);
}

void ExplainRemoteFailure(const Context& context) {
    if (context.host.empty()) return;
    ProbeRemoteHost(context.host);
    // Locally cvcal looks at the folders first; a remote admin service answers only the calls,
    // and a call on a mailbox that is not there answers as one on an empty calendar.
    std::fprintf(stderr,
                 "cvcal: note: %s answered no or nothing; its remote admin service does not say "
                 "whether the postoffice and mailbox are there\n",
                 context.host.c_str());
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
