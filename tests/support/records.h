// The request records as the tests fill them: zeroed, then each text copied in and cut to its
// field. Defaults name the mailbox the test stores make (example\anna) and a day period.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "include/cvaicp.h"

namespace cv {
namespace testing {

template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

template <typename Record>
Record Zeroed(const std::string& mailbox, const std::string& postoffice) {
    Record record;
    std::memset(&record, 0, sizeof record);
    SetField(record.Postoffice, postoffice);
    SetField(record.Mailbox, mailbox);
    return record;
}

inline AppointmentRequest MakeRequest(const std::string& id, int32_t start = 100,
                                      int32_t finish = 200, const std::string& period = "Y09M03D15",
                                      const std::string& mailbox = "anna",
                                      const std::string& postoffice = "example") {
    auto request = Zeroed<AppointmentRequest>(mailbox, postoffice);
    SetField(request.PeriodName, period);
    SetField(request.ItemId, id);
    request.StartTime = start;
    request.FinishTime = finish;
    return request;
}

// A chunk request; `data` is cut to one chunk.
inline AppointmentItemRequest MakeItemRequest(const std::string& name, const std::string& data = "",
                                              const std::string& mailbox = "anna",
                                              const std::string& postoffice = "example") {
    auto request = Zeroed<AppointmentItemRequest>(mailbox, postoffice);
    SetField(request.ItemFileName, name);
    request.DataLength = static_cast<int32_t>(std::min(data.size(), sizeof request.Data));
    std::memcpy(request.Data, data.data(), static_cast<size_t>(request.DataLength));
    return request;
}

inline FreeBusyRequest MakeFreeBusyRequest(const std::string& prefix,
                                           const std::string& mailbox = "anna",
                                           const std::string& postoffice = "example") {
    auto request = Zeroed<FreeBusyRequest>(mailbox, postoffice);
    SetField(request.NamePrefix, prefix);
    return request;
}

inline ListContext MakeListContext(int32_t range_start, int32_t range_end,
                                   const std::string& stylesheet = "",
                                   const std::string& mailbox = "anna",
                                   const std::string& postoffice = "example") {
    auto context = Zeroed<ListContext>(mailbox, postoffice);
    context.RangeStart = range_start;
    context.RangeEnd = range_end;
    SetField(context.Stylesheet, stylesheet);
    return context;
}

}  // namespace testing
}  // namespace cv
