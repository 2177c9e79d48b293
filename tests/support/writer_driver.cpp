// A host of the library for the multi-process tests: loads the provider as the mail server does
// and changes appointments of its own, logging each call so that the test can tell afterwards
// exactly what the store must hold.
//
//   writer_driver [--registry FILE] [--after FILE] LIBRARY POSTOFFICE MAILBOX LOG SCRIPT PREFIX
//                 COUNT SEED PERIOD...
//
// --registry points the process at a ".reg" file of settings; --after makes it wait (a minute at
// most) until FILE exists, so that processes that start at different speeds write at one time.
//
// Scripts (ids are PREFIX-0, PREFIX-1, ...; appointment i lies in PERIOD number i modulo their
// count):
//   cycle  adds COUNT appointments, edits each once (its times move by 1000 seconds) and removes
//          every third one, interleaved: add i, edit i-1, remove i-2 when 3 divides it.
//   churn  COUNT calls chosen at random from SEED: add a new appointment, or edit or remove one
//          it added before. Meant to be killed part-way.
//
// The log gets one line per call: "add|edit|remove PERIOD ID START FINISH", written before the
// call, then " RESULT" and the line break once the call has returned, each flushed at once. A line
// without its result is the call that was under way when the process died.
//
// Exit codes: 0 when every call returned 1; 1 when some did not; 2 on bad arguments; 3 when the
// library or the log cannot be opened.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/host_platform.h"
#include "common/registry_import.h"
#include "include/cvaicp.h"

namespace {

using AddFn = int32_t(CVAPI*)(AppointmentRequest*);
using EditFn = int32_t(CVAPI*)(AppointmentRequest*, AppointmentRequest*);

struct Appointment {
    std::string period;
    std::string id;
    int32_t start = 0;
    int32_t finish = 0;
};

class Writer {
  public:
    Writer(const char* postoffice, const char* mailbox, cv::File* log)
        : postoffice_(postoffice), mailbox_(mailbox), log_(log) {}

    bool Load(cv::DynamicLibrary& library) {
        add_ = reinterpret_cast<AddFn>(library.Symbol("AppointmentAdd"));
        remove_ = reinterpret_cast<AddFn>(library.Symbol("AppointmentRemove"));
        edit_ = reinterpret_cast<EditFn>(library.Symbol("AppointmentEdit"));
        return add_ != nullptr && remove_ != nullptr && edit_ != nullptr;
    }

    int Add(const Appointment& a) {
        AppointmentRequest request = Request(a);
        Begin("add", a);
        return End(add_(&request));
    }
    int Edit(const Appointment& old_one, const Appointment& new_one) {
        AppointmentRequest old_request = Request(old_one);
        AppointmentRequest new_request = Request(new_one);
        Begin("edit", new_one);
        return End(edit_(&old_request, &new_request));
    }
    int Remove(const Appointment& a) {
        AppointmentRequest request = Request(a);
        Begin("remove", a);
        return End(remove_(&request));
    }
    bool all_succeeded() const { return all_succeeded_; }

  private:
    AppointmentRequest Request(const Appointment& a) const {
        AppointmentRequest request;
        std::memset(&request, 0, sizeof request);
        std::snprintf(request.Postoffice, sizeof request.Postoffice, "%s", postoffice_);
        std::snprintf(request.Mailbox, sizeof request.Mailbox, "%s", mailbox_);
        std::snprintf(request.PeriodName, sizeof request.PeriodName, "%s", a.period.c_str());
        std::snprintf(request.ItemId, sizeof request.ItemId, "%s", a.id.c_str());
        request.StartTime = a.start;
        request.FinishTime = a.finish;
        return request;
    }
    // Each piece of the log goes to the system in one write, so that a kill loses none of it.
    void Begin(const char* operation, const Appointment& a) {
        char text[256];
        int n =
            std::snprintf(text, sizeof text, "%s %s %s %ld %ld", operation, a.period.c_str(),
                          a.id.c_str(), static_cast<long>(a.start), static_cast<long>(a.finish));
        if (n > 0 && static_cast<size_t>(n) < sizeof text)
            log_->Write(text, static_cast<size_t>(n));
    }
    int End(int32_t result) {
        char text[32];
        int n = std::snprintf(text, sizeof text, " %ld\n", static_cast<long>(result));
        if (n > 0 && static_cast<size_t>(n) < sizeof text)
            log_->Write(text, static_cast<size_t>(n));
        if (result != 1) all_succeeded_ = false;
        return result;
    }

    const char* postoffice_;
    const char* mailbox_;
    cv::File* log_;
    AddFn add_ = nullptr;
    AddFn remove_ = nullptr;
    EditFn edit_ = nullptr;
    bool all_succeeded_ = true;
};

class Script {
  public:
    Script(std::string prefix, std::vector<std::string> periods)
        : prefix_(std::move(prefix)), periods_(std::move(periods)) {}

    Appointment Nth(int i) const {
        Appointment a;
        a.period = periods_[static_cast<size_t>(i) % periods_.size()];
        a.id = prefix_ + "-" + std::to_string(i);
        a.start = 1236000000 + i * 60;
        a.finish = a.start + 30;
        return a;
    }
    static Appointment Moved(Appointment a) {
        a.start += 1000;
        a.finish += 1000;
        return a;
    }

    void Cycle(Writer& writer, int count) const {
        for (int i = 0; i <= count + 1; ++i) {
            if (i < count) writer.Add(Nth(i));
            if (i >= 1 && i <= count) writer.Edit(Nth(i - 1), Moved(Nth(i - 1)));
            if (i >= 2 && (i - 2) % 3 == 0) writer.Remove(Moved(Nth(i - 2)));
        }
    }

    void Churn(Writer& writer, int count, uint32_t seed) const {
        std::mt19937 random(seed);
        std::vector<Appointment> present;
        int next = 0;
        for (int call = 0; call < count; ++call) {
            uint32_t choice = random() % 4;
            if (present.empty() || choice < 2) {
                Appointment a = Nth(next++);
                if (writer.Add(a) == 1) present.push_back(a);
                continue;
            }
            size_t at = random() % present.size();
            if (choice == 2) {
                Appointment moved = Moved(present[at]);
                if (writer.Edit(present[at], moved) == 1) present[at] = moved;
            } else if (writer.Remove(present[at]) == 1) {
                present.erase(present.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
    }

  private:
    std::string prefix_;
    std::vector<std::string> periods_;
};

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
    if (args.size() < 9 || (args[4] != "cycle" && args[4] != "churn")) {
        std::fprintf(
            stderr,
            "usage: writer_driver [--registry FILE] [--after FILE] LIBRARY POSTOFFICE MAILBOX LOG "
            "cycle|churn PREFIX COUNT SEED PERIOD...\n");
        return 2;
    }
    cv::DynamicLibrary library;
    if (!library.Open(args[0].c_str())) {
        std::fprintf(stderr, "cannot load %s: %s\n", args[0].c_str(), library.Error().c_str());
        return 3;
    }
    cv::File log;
    if (!log.Open(args[3].c_str(), cv::File::Mode::kAppend)) {
        std::fprintf(stderr, "cannot open %s\n", args[3].c_str());
        return 3;
    }
    for (int waited = 0; !after.empty() && !cv::EntryExists(after.c_str()); ++waited) {
        if (waited == 60000) return 3;
        cv::SleepMilliseconds(1);
    }
    Writer writer(args[1].c_str(), args[2].c_str(), &log);
    if (!writer.Load(library)) return 3;
    Script script(args[5], std::vector<std::string>(args.begin() + 8, args.end()));
    int count = std::atoi(args[6].c_str());
    if (args[4] == "cycle") {
        script.Cycle(writer, count);
    } else {
        script.Churn(writer, count,
                     static_cast<uint32_t>(std::strtoul(args[7].c_str(), nullptr, 10)));
    }
    return writer.all_succeeded() ? 0 : 1;
}
