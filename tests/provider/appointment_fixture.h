// A store with one mailbox (example\anna) and short blocking-file waits, and record builders.
#pragma once

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "include/cvaicp.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {

inline AppointmentRequest MakeRequest(const char* id, int32_t start = 100, int32_t finish = 200,
                                      const char* period = "Y09M03D15",
                                      const char* mailbox = "anna",
                                      const char* postoffice = "example") {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.Postoffice, postoffice, sizeof request.Postoffice - 1);
    std::strncpy(request.Mailbox, mailbox, sizeof request.Mailbox - 1);
    std::strncpy(request.PeriodName, period, sizeof request.PeriodName - 1);
    std::strncpy(request.ItemId, id, sizeof request.ItemId - 1);
    request.StartTime = start;
    request.FinishTime = finish;
    return request;
}

class AppointmentTest : public ::testing::Test {
  protected:
    AppointmentTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }
    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }
    std::string Contents(const std::string& name) const { return ReadFileOrEmpty(PathOf(name)); }
    bool Exists(const std::string& name) const { return PathExists(PathOf(name)); }
    void Put(const std::string& name, const std::string& bytes) {
        MakeCalendar();
        ASSERT_TRUE(WriteFileBytes(PathOf(name), bytes));
    }
    void MakeCalendar() {
        if (!PathExists(calendar_)) MakeDirectory(calendar_.c_str());
    }

    TestStore store_;
    std::string calendar_;
};

}  // namespace testing
}  // namespace cv
