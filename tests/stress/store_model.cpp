#include "tests/stress/store_model.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/support/test_store.h"

namespace cv {
namespace testing {

bool ReadCallLog(const std::string& path, std::vector<LoggedCall>* calls) {
    calls->clear();
    std::istringstream text(ReadFileOrEmpty(path));
    std::string line;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!calls->empty() && !calls->back().returned) return false;
        std::istringstream fields(line);
        LoggedCall call;
        long start = 0, finish = 0;
        if (!(fields >> call.operation >> call.period >> call.id >> start >> finish)) return false;
        call.start = static_cast<int32_t>(start);
        call.finish = static_cast<int32_t>(finish);
        call.returned = static_cast<bool>(fields >> call.result);
        calls->push_back(call);
    }
    return true;
}

void StoreModel::Apply(const LoggedCall& call) {
    std::map<std::string, std::string>& lines = periods_[call.period];
    std::string line =
        std::to_string(call.start) + "\t" + std::to_string(call.finish) + "\t" + call.id;
    if (call.operation == "add") {
        lines.emplace(call.id, line);
    } else if (call.operation == "edit") {
        auto found = lines.find(call.id);
        if (found != lines.end()) found->second = line;
    } else if (call.operation == "remove") {
        lines.erase(call.id);
    }
}

std::vector<std::string> StoreModel::Lines(const std::string& period) const {
    std::vector<std::string> result;
    auto found = periods_.find(period);
    if (found == periods_.end()) return result;
    for (const auto& entry : found->second) result.push_back(entry.second);
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::string> StoreModel::Periods() const {
    std::vector<std::string> result;
    for (const auto& entry : periods_) result.push_back(entry.first);
    return result;
}

bool ReadPeriodLines(const std::string& calendar, const std::string& period,
                     std::vector<std::string>* lines) {
    lines->clear();
    std::string bytes;
    if (!ReadFileBytes(calendar + "\\" + period + ".CAL", &bytes)) return false;
    size_t at = 0;
    while (at <= bytes.size()) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        if (end > at) lines->push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    std::sort(lines->begin(), lines->end());
    return true;
}

}  // namespace testing
}  // namespace cv
