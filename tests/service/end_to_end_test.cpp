// The provider in remote mode against a real cvadmind serving another store: every forwarded call
// must give what the same call gives locally on that store.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

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

// A sequence of calls and everything they answered, as text.
std::string RunScript() {
    std::string log;
    auto note = [&](const char* what, int32_t result, const void* record, size_t size) {
        log += std::string(what) + "=" + std::to_string(result) + ":" +
               std::string(static_cast<const char*>(record), size) + "\n";
    };
    AppointmentRequest r = testing::MakeRequest("");
    for (int i = 0; i < 3; ++i) {
        std::snprintf(r.ItemId, sizeof r.ItemId, "id-%d", i);
        r.StartTime = 100 + i;
        r.FinishTime = 200 + i;
        note("add", AppointmentAdd(&r), &r, sizeof r);
    }
    note("add-again", AppointmentAdd(&r), &r, sizeof r);
    std::strcpy(r.ItemId, "ID-1");
    note("get", AppointmentGet(&r), &r, sizeof r);
    AppointmentRequest edited = r;
    edited.StartTime = 150;
    note("edit", AppointmentEdit(&r, &edited), &r, sizeof r);
    r.ItemId[0] = '\0';
    for (int32_t found = AppointmentFindFirst(&r); found; found = AppointmentFindNext(&r)) {
        note("walk", found, &r, sizeof r);
        r.ItemId[0] = '\0';
    }
    std::strcpy(r.ItemId, "id-0");
    note("remove", AppointmentRemove(&r), &r, sizeof r);
    note("remove-again", AppointmentRemove(&r), &r, sizeof r);

    AppointmentItemRequest item = testing::MakeItemRequest("id-1", std::string(8191, 'a'));
    // A remote write answers its result only (DataLength is not sent back).
    note("write-first", AppointmentItemWriteFirstChunk(&item), "", 0);
    note("write-next", AppointmentItemWriteNextChunk(&item), "", 0);
    note("size", AppointmentItemGetSize(&item), &item.DataLength, 4);
    for (int32_t more = AppointmentItemGetFirstChunk(&item); more;
         more = AppointmentItemGetNextChunk(&item)) {
        note("read", more, &item, sizeof item);
    }
    return log;
}

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        local_.CreateMailbox("example", "anna");
        remote_root_.reset(new testing::TempFolder);
        std::string mailbox = remote_root_->path() + "\\example";
        MakeDirectory(mailbox.c_str());
        MakeDirectory((mailbox + "\\MAILROOT").c_str());
        MakeDirectory((mailbox + "\\MAILROOT\\anna").c_str());
    }

    // Starts cvadmind on the remote store and points the host "far" at it.
    void StartService() {
        // The service's library reads the mail root when it is loaded, after this change; this
        // process read its own when the store was set up.
        local_.registry().SetString(Hive::kLocalMachine, kStoreKey, "Mail Root",
                                    remote_root_->path());
        std::string config = remote_root_->Join("cvadmind.conf");
        std::string port_file = remote_root_->Join("port");
        ASSERT_TRUE(testing::WriteFileBytes(
            config, "credentials = s3cret\nprotocol = PLAIN\nlibrary = CVAICP.DLL " +
                        testing::ProviderLibraryPath() + "\n"));
        uint16_t port = testing::StartAdminService(&service_, config, port_file);
        ASSERT_NE(0, port) << "cvadmind did not start";
        std::string key = std::string(kHostsKey) + "\\far";
        local_.registry().SetString(Hive::kCurrentUser, key.c_str(), "Address", "127.0.0.1");
        local_.registry().SetDword(Hive::kCurrentUser, key.c_str(), "Port", port);
        local_.registry().SetString(Hive::kCurrentUser, key.c_str(), "Credentials", "s3cret");
        local_.registry().SetString(Hive::kCurrentUser, key.c_str(), "Authentication Protocol",
                                    "PLAIN");
    }

    void TearDown() override {
        SetCurrentHost("");
        CheckRemoteMode(kProviderLibraryName);  // closes the connection
        service_.Kill();
        service_.Wait();
    }

    HostThread host_;
    testing::TestStore local_;
    std::unique_ptr<testing::TempFolder> remote_root_;
    ChildProcess service_;
};

TEST_F(EndToEndTest, RemoteCallsAnswerAsLocalCallsOnTheRemoteStore) {
    std::string local_log = RunScript();
    std::string local_file =
        testing::ReadFileOrEmpty(local_.CalendarFolder("example", "anna") + "\\Y09M03D15.CAL");
    StartService();
    SetCurrentHost("far");
    std::string remote_log = RunScript();
    std::string remote_calendar = remote_root_->path() + "\\example\\MAILROOT\\anna\\Calendar";
    std::istringstream local_lines(local_log), remote_lines(remote_log);
    std::string local_line, remote_line;
    for (int n = 1; std::getline(local_lines, local_line); ++n) {
        std::getline(remote_lines, remote_line);
        EXPECT_TRUE(local_line == remote_line)
            << "call " << n << " answered otherwise: " << local_line.substr(0, 20);
    }
    EXPECT_EQ(local_file, testing::ReadFileOrEmpty(remote_calendar + "\\Y09M03D15.CAL"));
    EXPECT_TRUE(std::string(16382, 'a') == testing::ReadFileOrEmpty(remote_calendar + "\\id-1"));
}

}  // namespace
}  // namespace cv
