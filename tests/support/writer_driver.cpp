// A host of the library for the tests and benchmarks that run it in several processes: loads the
// provider as the mail server does and changes appointments of its own, logging each call so that
// a test can tell afterwards exactly what the store must hold.
//
//   writer_driver [--registry FILE] [--after FILE] LIBRARY POSTOFFICE MAILBOX LOG SCRIPT PREFIX
//                 COUNT SEED PERIOD...
//
// --registry points the process at a ".reg" file of settings; --after makes it wait (a minute at
// most) until FILE exists, so that processes that start at different speeds write at one time.
//
// Appointment i is PREFIX-i, in PERIOD number i modulo their count. Scripts:
//   add    adds COUNT appointments.
//   cycle  adds COUNT appointments, edits each once (its times move by 1000 seconds) and removes
//          every third one, interleaved: add i, edit i-1, remove i-2 when 3 divides it.
//   churn  COUNT calls chosen at random from SEED: add a new appointment, or edit or remove one
//          it added before. Meant to be killed part-way.
//
// The log ("-" for none) gets one line per call: "add|edit|remove PERIOD ID START FINISH", written
// before the call, then " RESULT" and the line break once the call has returned, each flushed at
// once. A line without its result is the call that was under way when the process died.
//
// Exit codes: 0 when every call returned 1; 1 when some did not; 2 on bad arguments; 3 when the
// library or the log cannot be opened.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/host_platform.h"
#include "common/platform.h"
#include "common/registry_import.h"
#include "include/cvaicp.h"
#include "tests/support/records.h"

namespace {

using AddFn = int32_t(CVAPI*)(AppointmentRequest*);
using EditFn = int32_t(CVAPI*)(AppointmentRequest*, AppointmentRequest*);

class Writer {
  public:
    Writer(cv::DynamicLibrary& library, const std::vector<std::string>& args, cv::File* log)
        : postoffice_(args[1]),
          mailbox_(args[2]),
          prefix_(args[5]),
          periods_(args.begin() + 8, args.end()),
          log_(log),
          add_(reinterpret_cast<AddFn>(library.Symbol("AppointmentAdd"))),
          remove_(reinterpret_cast<AddFn>(library.Symbol("AppointmentRemove"))),
          edit_(reinterpret_cast<EditFn>(library.Symbol("AppointmentEdit"))) {}
    bool loaded() const { return add_ != nullptr && remove_ != nullptr && edit_ != nullptr; }
    bool all_succeeded() const { return all_succeeded_; }

    AppointmentRequest Nth(int i) const {
        int32_t start = 1236000000 + i * 60;
        return cv::testing::MakeRequest(prefix_ + "-" + std::to_string(i), start, start + 30,
                                        periods_[static_cast<size_t>(i) % periods_.size()],
                                        mailbox_, postoffice_);
    }
    static AppointmentRequest Moved(AppointmentRequest a) {
        a.StartTime += 1000;
        a.FinishTime += 1000;
        return a;
    }

    bool Add(AppointmentRequest a) { return Call("add", a, &a); }
    bool Edit(AppointmentRequest from, AppointmentRequest to) { return Call("edit", to, &from); }
    bool Remove(AppointmentRequest a) { return Call("remove", a, &a); }

  private:
    // Logs the call with the appointment `a` that it adds, edits to or removes.
    bool Call(const char* operation, AppointmentRequest a, AppointmentRequest* request) {
        Log("%s %s %s %ld %ld", operation, a.PeriodName, a.ItemId, static_cast<long>(a.StartTime),
            static_cast<long>(a.FinishTime));
        int32_t result = operation[0] == 'a'   ? add_(request)
                         : operation[0] == 'e' ? edit_(request, &a)
                                               : remove_(request);
        Log(" %ld\n", static_cast<long>(result));
        all_succeeded_ = all_succeeded_ && result == 1;
        return result == 1;
    }
    // Each piece of the log goes to the system in one write, so that a kill loses none of it.
    void Log(const char* format, ...) {
        if (log_ == nullptr) return;
        char text[256];
        va_list arguments;
        va_start(arguments, format);
        int n = std::vsnprintf(text, sizeof text, format, arguments);
        va_end(arguments);
        if (n > 0 && static_cast<size_t>(n) < sizeof text)
            log_->Write(text, static_cast<size_t>(n));
    }

    std::string postoffice_, mailbox_, prefix_;
    std::vector<std::string> periods_;
    cv::File* log_;
    AddFn add_;
    AddFn remove_;
    EditFn edit_;
    bool all_succeeded_ = true;
};

void Churn(Writer& writer, int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<AppointmentRequest> present;
    int next = 0;
    for (int call = 0; call < count; ++call) {
        uint32_t choice = random() % 4;
        if (present.empty() || choice < 2) {
            AppointmentRequest a = writer.Nth(next++);
            if (writer.Add(a)) present.push_back(a);
            continue;
        }
        size_t at = random() % present.size();
        if (choice == 2) {
            AppointmentRequest moved = Writer::Moved(present[at]);
            if (writer.Edit(present[at], moved)) present[at] = moved;
        } else if (writer.Remove(present[at])) {
            present.erase(present.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string after;
    while (args.size() >= 2 && (args[0] == "--registry" || args[0] == "--after")) {
        if (args[0] == "--after") {
            after = args[1];
        } else if (!cv::ImportRegistryFile(args[1])) {
            std::fprintf(stderr, "cannot read %s\n", args[1].c_str());
            return 3;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 9 || (args[4] != "add" && args[4] != "cycle" && args[4] != "churn")) {
        std::fprintf(stderr,
                     "usage: writer_driver [--registry FILE] [--after FILE] LIBRARY POSTOFFICE "
                     "MAILBOX LOG|- add|cycle|churn PREFIX COUNT SEED PERIOD...\n");
        return 2;
    }
    cv::DynamicLibrary library;
    if (!library.Open(args[0].c_str())) {
        std::fprintf(stderr, "cannot load %s: %s\n", args[0].c_str(), library.Error().c_str());
        return 3;
    }
    cv::File log;
    if (args[3] != "-" && !log.Open(args[3].c_str(), cv::File::Mode::kAppend)) {
        std::fprintf(stderr, "cannot open %s\n", args[3].c_str());
        return 3;
    }
    for (int waited = 0; !after.empty() && !cv::EntryExists(after.c_str()); ++waited) {
        if (waited == 60000) return 3;
        cv::SleepMilliseconds(1);
    }
    Writer writer(library, args, args[3] != "-" ? &log : nullptr);
    if (!writer.loaded()) return 3;
    int count = std::atoi(args[6].c_str());
    if (args[4] == "churn") {
        Churn(writer, count, static_cast<uint32_t>(std::strtoul(args[7].c_str(), nullptr, 10)));
    }
    for (int i = 0; args[4] == "add" && i < count; ++i) writer.Add(writer.Nth(i));
    for (int i = 0; args[4] == "cycle" && i <= count + 1; ++i) {
        if (i < count) writer.Add(writer.Nth(i));
        if (i >= 1 && i <= count) writer.Edit(writer.Nth(i - 1), Writer::Moved(writer.Nth(i - 1)));
        if (i >= 2 && (i - 2) % 3 == 0) writer.Remove(Writer::Moved(writer.Nth(i - 2)));
    }
    return writer.all_succeeded() ? 0 : 1;
}
