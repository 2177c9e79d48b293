// The provider in remote mode against a real cvadmind serving another store: each record kind
// crosses the wire, and every forwarded call must answer what the same call answers locally.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_platform.h"
#include "host/host_thread.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "remote/channel.h"
#include "tests/support/hostile_stylesheets.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

const int32_t kNoon = 1237118400;  // 2009-03-15 12:00 UTC

const std::string kItem = "Subject: over\r\n\r\n" + std::string(8191 - 17, 'a');  // a whole chunk

// A sequence of calls and everything they answered, as text. `calendar` is the Calendar folder of
// the store the calls reach.
std::vector<std::string> RunScript(const std::string& calendar) {
    std::vector<std::string> log;
    auto note = [&](int32_t result, const void* record, size_t size) {
        log.push_back(std::to_string(result) + ":" +
                      std::string(static_cast<const char*>(record), size));
    };
    AppointmentRequest r = testing::MakeRequest("");
    for (int i = 0; i < 3; ++i) {
        std::snprintf(r.ItemId, sizeof r.ItemId, "id-%d", i);
        r.StartTime = kNoon + i;
        r.FinishTime = kNoon + 100 + i;
        note(AppointmentAdd(&r), &r, sizeof r);
    }
    note(AppointmentAdd(&r), &r, sizeof r);
    std::strcpy(r.ItemId, "ID-1");
    note(AppointmentGet(&r), &r, sizeof r);
    AppointmentRequest edited = r;
    edited.StartTime = kNoon + 50;
    note(AppointmentEdit(&r, &edited), &r, sizeof r);
    r.ItemId[0] = '\0';
    for (int32_t found = AppointmentFindFirst(&r); found; found = AppointmentFindNext(&r)) {
        note(found, &r, sizeof r);
        r.ItemId[0] = '\0';
    }
    AppointmentItemRequest chunk = testing::MakeItemRequest("id-1", kItem);
    // A remote write answers its result only (DataLength is not sent back).
    note(AppointmentItemWriteFirstChunk(&chunk), "", 0);
    note(AppointmentItemWriteNextChunk(&chunk), "", 0);
    note(AppointmentItemGetSize(&chunk), &chunk.DataLength, 4);
    for (int32_t more = AppointmentItemGetFirstChunk(&chunk); more;
         more = AppointmentItemGetNextChunk(&chunk)) {
        note(more, &chunk, sizeof chunk);
    }
    // A listing shows the item file's time: the two runs write theirs at different moments.
    SetFileTimes((calendar + "\\id-1").c_str(), kFileTimeUnixEpoch + 10000000ULL * kNoon);
    ListContext context = testing::MakeListContext(kNoon - 3600, kNoon + 3600);
    ListItem item = {};
    for (int32_t found = AppointmentListItemFindFirst(&context, &item); found;
         found = AppointmentListItemFindNext(&context, &item)) {
        note(found, &item, sizeof item);
    }
    note(AppointmentListItemFindClose(&context), "", 0);
    std::strcpy(r.ItemId, "id-0");
    note(AppointmentRemove(&r), &r, sizeof r);
    note(AppointmentRemove(&r), &r, sizeof r);
    return log;
}

// A cvadmind serving a store of its own (a mailbox example\anna), and this process's calls sent
// to it as host "far".
class RemoteService {
  public:
    explicit RemoteService(testing::TestStore& local) {
        for (const char* folder :
             {"\\example", "\\example\\MAILROOT", "\\example\\MAILROOT\\anna"}) {
            MakeDirectory((remote_.path() + folder).c_str());
        }
        // The service's library reads the mail root when it is loaded, after this change; this
        // process read its own when the store was set up.
        local.registry().SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", remote_.path());
        const std::string config = remote_.Join("cvadmind.conf");
        EXPECT_TRUE(testing::WriteServiceConfig(
            config, "credentials = s3cret\nprotocol = PLAIN\nlibrary = CVAICP.DLL " +
                        testing::ProviderLibraryPath() + "\n"));
        port_ = testing::StartAdminService(&service_, config, remote_.Join("port"));
        const std::string key = std::string(kHostsKey) + "\\far";
        local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Address", "127.0.0.1");
        local.registry().SetDword(Hive::kCurrentUser, key.c_str(), "Port", port_);
        local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Credentials", "s3cret");
        local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Authentication Protocol",
                                   "PLAIN");
        SetCurrentHost("far");
    }
    ~RemoteService() { Stop(); }
    bool started() const { return port_ != 0; }
    std::string calendar() const { return remote_.path() + "\\example\\MAILROOT\\anna\\Calendar"; }
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        SetCurrentHost("");
        CheckRemoteMode(kProviderLibraryName);  // closes the connection
        service_.Kill();
        service_.Wait();
    }

  private:
    testing::TempFolder remote_;
    ChildProcess service_;
    uint16_t port_ = 0;
    bool stopped_ = false;
};

TEST(EndToEnd, RemoteCallsAnswerAsLocalCallsOnTheRemoteStore) {
    HostThread host;
    testing::TestStore local;
    local.CreateMailbox("example", "anna");
    const std::vector<std::string> local_log = RunScript(local.CalendarFolder("example", "anna"));
    const std::string local_file =
        testing::ReadFileOrEmpty(local.CalendarFolder("example", "anna") + "\\Y09M03D15.CAL");

    RemoteService remote(local);
    ASSERT_TRUE(remote.started()) << "cvadmind did not start";
    const std::string calendar = remote.calendar();
    const std::vector<std::string> remote_log = RunScript(calendar);
    remote.Stop();

    ASSERT_EQ(local_log.size(), remote_log.size());
    for (size_t i = 0; i < local_log.size(); ++i) {
        EXPECT_TRUE(local_log[i] == remote_log[i]) << "call " << i << " answered otherwise";
    }
    EXPECT_EQ(local_file, testing::ReadFileOrEmpty(calendar + "\\Y09M03D15.CAL"));
    EXPECT_TRUE(kItem + kItem == testing::ReadFileOrEmpty(calendar + "\\id-1"));
}

// The service applies a peer's stylesheet on its own server: it refuses the ones that reach
// outside the listing as the library does, and sorts with the others.
TEST(EndToEnd, TheServiceRefusesStylesheetsThatReachOutside) {
    HostThread host;
    testing::TestStore local;
    RemoteService remote(local);
    ASSERT_TRUE(remote.started()) << "cvadmind did not start";
    AppointmentRequest r = testing::MakeRequest("a", kNoon, kNoon + 60);
    ASSERT_EQ(1, AppointmentAdd(&r));
    AppointmentItemRequest chunk = testing::MakeItemRequest("a", "Subject: s\r\n\r\n");
    AppointmentItemWriteFirstChunk(&chunk);
    testing::OutsideWorld world;
    ListItem item = {};
    for (const testing::HostileSheet& sheet : testing::HostileStylesheets(world)) {
        SCOPED_TRACE(sheet.what);
        ListContext context = testing::MakeListContext(kNoon - 3600, kNoon + 3600, sheet.text);
        EXPECT_EQ(0, AppointmentListItemFindFirst(&context, &item));
        EXPECT_EQ(std::string::npos, std::string(item.ItemXml).find(testing::kSecret));
        AppointmentListItemFindClose(&context);
    }
    ListContext context =
        testing::MakeListContext(kNoon - 3600, kNoon + 3600, testing::LookAlikeStylesheet());
    EXPECT_EQ(1, AppointmentListItemFindFirst(&context, &item));
    EXPECT_STREQ("a", item.ItemId);
    AppointmentListItemFindClose(&context);
    remote.Stop();
    EXPECT_EQ(0, world.Connections());
    EXPECT_FALSE(testing::PathExists(world.Written()));
}

}  // namespace
}  // namespace cv
