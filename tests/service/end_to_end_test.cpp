// The provider in remote mode against a real cvadmind serving another store: each record kind
// crosses the wire, and every forwarded call must answer what the same call answers locally.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/host_thread.h"
#include "common/platform.h"
#include "common/host_platform.h"
#include "common/registry.h"
#include "include/cvaicp.h"
#include "remote/channel.h"
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

TEST(EndToEnd, RemoteCallsAnswerAsLocalCallsOnTheRemoteStore) {
    HostThread host;
    testing::TestStore local;
    local.CreateMailbox("example", "anna");
    const std::vector<std::string> local_log = RunScript(local.CalendarFolder("example", "anna"));
    const std::string local_file =
        testing::ReadFileOrEmpty(local.CalendarFolder("example", "anna") + "\\Y09M03D15.CAL");

    testing::TempFolder remote;
    for (const char* folder : {"\\example", "\\example\\MAILROOT", "\\example\\MAILROOT\\anna"}) {
        MakeDirectory((remote.path() + folder).c_str());
    }
    // The service's library reads the mail root when it is loaded, after this change; this
    // process read its own when the store was set up.
    local.registry().SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", remote.path());
    const std::string config = remote.Join("cvadmind.conf");
    ASSERT_TRUE(testing::WriteFileBytes(
        config, "credentials = s3cret\nprotocol = PLAIN\nlibrary = CVAICP.DLL " +
                    testing::ProviderLibraryPath() + "\n"));
    ChildProcess service;
    const uint16_t port = testing::StartAdminService(&service, config, remote.Join("port"));
    ASSERT_NE(0, port) << "cvadmind did not start";
    const std::string key = std::string(kHostsKey) + "\\far";
    local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Address", "127.0.0.1");
    local.registry().SetDword(Hive::kCurrentUser, key.c_str(), "Port", port);
    local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Credentials", "s3cret");
    local.registry().SetString(Hive::kCurrentUser, key.c_str(), "Authentication Protocol", "PLAIN");
    SetCurrentHost("far");
    const std::string calendar = remote.path() + "\\example\\MAILROOT\\anna\\Calendar";
    const std::vector<std::string> remote_log = RunScript(calendar);
    SetCurrentHost("");
    CheckRemoteMode(kProviderLibraryName);  // closes the connection
    service.Kill();
    service.Wait();

    ASSERT_EQ(local_log.size(), remote_log.size());
    for (size_t i = 0; i < local_log.size(); ++i) {
        EXPECT_TRUE(local_log[i] == remote_log[i]) << "call " << i << " answered otherwise";
    }
    EXPECT_EQ(local_file, testing::ReadFileOrEmpty(calendar + "\\Y09M03D15.CAL"));
    EXPECT_TRUE(kItem + kItem == testing::ReadFileOrEmpty(calendar + "\\id-1"));
}

}  // namespace
}  // namespace cv
