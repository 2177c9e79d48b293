// A store with one mailbox (example\anna) and blocking-file waits of 0.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {

class AppointmentTest : public ::testing::Test {
  protected:
    AppointmentTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }
    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }
    std::string Contents(const std::string& name) const { return ReadFileOrEmpty(PathOf(name)); }
    bool Exists(const std::string& name) const { return PathExists(PathOf(name)); }
    void MakeCalendar() { MakeDirectory(calendar_.c_str()); }
    void Put(const std::string& name, const std::string& bytes) {
        MakeCalendar();
        ASSERT_TRUE(WriteFileBytes(PathOf(name), bytes));
    }

    TestStore store_;
    std::string calendar_;
};

}  // namespace testing
}  // namespace cv
