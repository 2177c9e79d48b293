// What the multi-process tests expect of a store: the calls that the writer drivers logged,
// replayed on a model of the period files, and the period files as they are on disk.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cv {
namespace testing {

// One line of a writer driver's log.
struct LoggedCall {
    std::string operation;  // "add", "edit" or "remove"
    std::string period;
    std::string id;
    int32_t start = 0;
    int32_t finish = 0;
    bool returned = false;  // false for the call under way when the process died
    int result = 0;
};

// The calls of a log, in order; false when the log is malformed (a call without its result
// anywhere but at the end).
bool ReadCallLog(const std::string& path, std::vector<LoggedCall>* calls);

// The lines that the period files must hold, kept as period -> id -> "start\tfinish\tid".
class StoreModel {
  public:
    // Applies a call as the library does when the call succeeded.
    void Apply(const LoggedCall& call);
    // The sorted lines of a period; empty when the period must have no file.
    std::vector<std::string> Lines(const std::string& period) const;
    std::vector<std::string> Periods() const;

  private:
    std::map<std::string, std::map<std::string, std::string>> periods_;
};

// The sorted lines of "<calendar>\<period>.CAL", split at CR LF. False when there is no file.
bool ReadPeriodLines(const std::string& calendar, const std::string& period,
                     std::vector<std::string>* lines);

}  // namespace testing
}  // namespace cv
