// A Calendar folder whose files another tool wrote under other letter cases: the provider works on
// them as on its own, and never makes a second file beside one.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "include/cvaicp.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;

class StoreNameCaseTest : public testing::AppointmentTest {
  protected:
    // Every entry of the Calendar folder by its upper-case name: how many there are of each.
    std::map<std::string, int> Entries() const {
        std::map<std::string, int> names;
        DirectorySearch search;
        FindData entry;
        for (bool found = search.First(PathOf("*").c_str(), &entry); found;
             found = search.Next(&entry)) {
            for (char& c : entry.name) c = static_cast<char>(std::toupper(c));
            if (entry.name != "." && entry.name != "..") ++names[entry.name];
        }
        return names;
    }
    static AppointmentItemRequest Item(const char* name) {
        AppointmentItemRequest request;
        std::memset(&request, 0, sizeof request);
        std::strcpy(request.Postoffice, "example");
        std::strcpy(request.Mailbox, "anna");
        std::strcpy(request.ItemFileName, name);
        return request;
    }
};

TEST_F(StoreNameCaseTest, EveryKindOfStoreFileIsFoundUnderAnotherCase) {
    Put("y09m03d15.cal", "1\t2\ta");
    Put("y09m03d15.bak", "old");
    Put("y09m03d15.tmp", "left by a crash");
    Put("y09m03d15.blk", "");  // a writer that died: broken after the (zero) wait
    Put("_change.dty", "x");
    Put("A", "Subject: one\r\n\r\nbody");

    AppointmentRequest get = MakeRequest("a", 0, 0);
    EXPECT_EQ(1, AppointmentGet(&get));
    EXPECT_EQ(2, get.FinishTime);
    AppointmentRequest b = MakeRequest("b", 3, 4);
    EXPECT_EQ(1, AppointmentAdd(&b));
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.BAK"));

    AppointmentItemRequest item = Item("a");
    EXPECT_EQ(1, AppointmentItemGetFirstChunk(&item));
    EXPECT_EQ("Subject: one\r\n\r\nbody", std::string(item.Data, item.DataLength));
    item = Item("a");
    std::strcpy(item.Data, "Subject: two\r\n\r\n");
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&item));
    EXPECT_EQ("Subject: two\r\n\r\n", Contents("A"));

    const std::map<std::string, int> expected{
        {"A", 1}, {"Y09M03D15.BAK", 1}, {"Y09M03D15.CAL", 1}, {"_CHANGE.DTY", 1}};
    EXPECT_EQ(expected, Entries());

    // The last removal deletes the period file, under whatever case it is held.
    for (const char* id : {"a", "b"}) {
        AppointmentRequest remove = MakeRequest(id, 0, 0);
        EXPECT_EQ(1, AppointmentRemove(&remove)) << id;
    }
    EXPECT_EQ(0u, Entries().count("Y09M03D15.CAL"));
    EXPECT_EQ(1, Entries()["_CHANGE.DTY"]);
}

}  // namespace
}  // namespace cv
