#include "bench/history_store.h"

#include <cstdio>
#include <map>

#include "common/civil_time.h"
#include "host/host_files.h"
#include "host/item_dates.h"
#include "store/period_file.h"

namespace cvbench {
namespace {

// About 2.5 KB of body, the same for every item but its first line.
std::string BodyText() {
    std::string body;
    for (int line = 0; line < 36; ++line) {
        body += "Agenda point " + std::to_string(line + 1) +
                ": where we stand, what is left to do, and who takes it on.\r\n";
    }
    return body;
}

std::string ItemMessage(int number, int32_t start, int32_t finish, const std::string& body) {
    std::string message;
    message += "Subject: Meeting " + std::to_string(number) + " about the quarter's plans\r\n";
    message += "X-Location: Room " + std::to_string(number % 40 + 1) + ", second floor\r\n";
    message += "X-StartTime: " + cv::ShortDateText(start) + "\r\n";
    message += "X-FinishTime: " + cv::ShortDateText(finish) + "\r\n";
    message += "Date: " + cv::MessageDateText(start - 7 * 86400) + "\r\n";
    message += "\r\n";
    message += "Notes for meeting " + std::to_string(number) + "\r\n";
    message += body;
    return message;
}

// An appointment of the spread history: most last half an hour within a morning, some span days
// (a month file, or a year file when they cross into the next month), a few weeks (a year file),
// and a very few over a year ("Y"). All start before noon, so none lies in the busy day's range.
void SpreadTimes(int number, int32_t* start, int32_t* finish) {
    const int64_t first_day = cv::DaysFromCivil(2007, 1, 1);
    const int64_t days = cv::DaysFromCivil(2027, 1, 1) - first_day;
    const int64_t day =
        first_day +
        number * days / (HistoryStore::kAppointments - HistoryStore::kBusyDayAppointments);
    *start = static_cast<int32_t>(day * 86400 + 7 * 3600 + (number % 8) * 1800);
    const uint32_t kind = (static_cast<uint32_t>(number) * 2654435761u >> 16) % 1000;
    int32_t length = 1800;
    if (kind >= 995) {
        length = 400 * 86400;
    } else if (kind >= 970) {
        length = (10 + number % 30) * 86400;
    } else if (kind >= 900) {
        length = (2 + number % 3) * 86400;
    }
    *finish = *start + length;
}

}  // namespace

HistoryStore::HistoryStore(const std::string& name) : store_(name) {
    const std::string body = BodyText();
    std::map<std::string, std::string> periods;  // period name -> its lines
    item_ids_.reserve(kAppointments);
    for (int number = 0; number < kAppointments; ++number) {
        const int busy = number - (kAppointments - kBusyDayAppointments);
        int32_t start, finish;
        if (busy >= 0) {
            start = kBusyNoon + busy * 8;
            finish = start + 5;
        } else {
            SpreadTimes(number, &start, &finish);
        }
        char id[32];
        std::snprintf(id, sizeof id, "appointment-%06d", number);
        std::string& lines = periods[cv::GetPeriodName(start, finish)];
        char line[96];
        std::snprintf(line, sizeof line, "%s%d\t%d\t%s", lines.empty() ? "" : "\r\n", start, finish,
                      id);
        lines += line;
        ok_ = ok_ && cv::WriteWholeFile((store_.calendar() + "/" + id).c_str(),
                                        ItemMessage(number, start, finish, body));
        item_ids_.push_back(id);
    }
    for (const auto& [period, lines] : periods) {
        ok_ = ok_ && cv::WriteWholeFile((store_.calendar() + "/" + period + ".CAL").c_str(), lines);
    }
}

}  // namespace cvbench
