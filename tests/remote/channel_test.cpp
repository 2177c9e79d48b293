// The remote channel and the forwarding of exports, against a scripted peer that records every
// byte: the decision, the exact texts of each exchange, and the records copied back.
#include "remote/channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_thread.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "tests/remote/scripted_peer.h"
#include "tests/support/diagnostics.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"
#include "tests/support/wire.h"

namespace cv {
namespace {

using namespace testing;

// Reply parameter 0, the result 1, and perhaps more elements.
std::string ResultAnd(const std::string& elements) {
    return SuccessReply(Element(0, Bytes(int32_t{1})) + elements);
}

class ChannelTest : public ::testing::Test {
  protected:
    ChannelTest() { Reset(); }
    ~ChannelTest() override { Reset(); }

    static void Reset() {
        CloseRemoteChannel();
        RemoteChannel& channel = TheRemoteChannel();
        channel.CurrentHost[0] = channel.ConnectedHost[0] = channel.LoadedLibrary[0] = '\0';
    }

    void Configure(const std::string& host, const ScriptedPeer& peer, uint32_t port_bits = 0) {
        std::string key = std::string(kHostsKey) + "\\" + host;
        registry_.SetString(Hive::kCurrentUser, key.c_str(), "Address", "127.0.0.1");
        registry_.SetDword(Hive::kCurrentUser, key.c_str(), "Port", port_bits | peer.port());
        registry_.SetString(Hive::kCurrentUser, key.c_str(), "Credentials", "s3cret");
        registry_.SetString(Hive::kCurrentUser, key.c_str(), "Authentication Protocol", "PLAIN");
    }

    // Makes the configured host current and sets the channel up, then forgets those requests.
    void ConnectTo(const char* host) {
        SetCurrentHostName(host);
        EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
        peer_.ClearRequests();
    }

    HostThread host_thread_;
    TestRegistry registry_;
    ScriptedPeer peer_;
};

TEST_F(ChannelTest, ForcedDefaultHostIsSetUpWithAuthAndLoad) {
    registry_.SetDword(Hive::kCurrentUser, kAdministrationKey, "ForceDefaultHost", 1);
    Configure("Default", peer_);
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_STREQ("Default", TheRemoteChannel().CurrentHost);
    EXPECT_STREQ("Default", TheRemoteChannel().ConnectedHost);
    EXPECT_STREQ("CVAICP.DLL", TheRemoteChannel().LoadedLibrary);
    EXPECT_EQ((std::vector<std::string>{kAuth, kLoad}), peer_.requests());
}

TEST_F(ChannelTest, ASetUpConnectionIsReusedWithOnePing) {
    Configure("far", peer_, 0x10000);  // the port is the low sixteen bits
    ConnectTo("far");
    SetCurrentHostName("FAR");  // host names compare without regard to case
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode("cvaicp.dll"));
    EXPECT_EQ(std::vector<std::string>{kPing}, peer_.requests());
    EXPECT_EQ(1, peer_.connections());
    // The loopback name makes no connection: the old one stays and hears the AUTH.
    SetCurrentHostName("127.0.0.1");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(1, peer_.connections());
    const std::vector<std::string> seen = peer_.requests();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(kPing, seen[1]);
    EXPECT_NE(std::string::npos, seen[2].find("<METHOD>AUTH</METHOD><PROTOCOL></PROTOCOL>"));
}

TEST_F(ChannelTest, ADeadConnectionToTheSameHostIsRenewed) {
    Configure("far", peer_);
    ConnectTo("far");
    peer_.DropConnection();
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(2, peer_.connections());
    const std::vector<std::string> seen = peer_.requests();
    EXPECT_EQ((std::vector<std::string>{kAuth, kLoad}),
              std::vector<std::string>(seen.end() - std::min<size_t>(2, seen.size()), seen.end()));
}

TEST_F(ChannelTest, ChangingHostPingsTheOldOneAndQuitsOnlyWhenItIsDead) {
    ScriptedPeer other;
    Configure("one", peer_);
    Configure("two", other);
    ConnectTo("one");
    SetCurrentHostName("two");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(std::vector<std::string>{kPing}, peer_.requests());  // alive: no QUIT
    EXPECT_EQ((std::vector<std::string>{kAuth, kLoad}), other.requests());

    // A peer that stops answering gets a QUIT before the channel moves on.
    other.set_responder([](const std::string& request) {
        return ScriptedPeer::Answer{{}, request.find("QUIT") != std::string::npos};
    });
    other.ClearRequests();
    SetCurrentHostName("one");
    // The PING waits for the receive time-out; make that short for the test.
    SetReceiveTimeout(TheRemoteChannel().ChannelSocket, 200);
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    other.WaitForRequests(2);
    EXPECT_EQ((std::vector<std::string>{kPing, kQuit}), other.requests());
}

TEST_F(ChannelTest, NoHostMissingAddressOrOverlongNamesGiveNoConnection) {
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
    registry_.SetDword(Hive::kCurrentUser, kAdministrationKey, "ForceDefaultHost", 0);
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
    SetCurrentHostName("nowhere");
    {
        KeptDiagnostics kept;
        EXPECT_EQ(RemoteMode::kUnreachable, CheckRemoteMode(kProviderLibraryName));
        EXPECT_EQ("", kept.Take());
    }
    EXPECT_STREQ("", TheRemoteChannel().ConnectedHost);

    std::string key = std::string(kHostsKey) + "\\long";
    registry_.SetString(Hive::kCurrentUser, key.c_str(), "Address", std::string(256, 'a'));
    SetCurrentHostName("long");
    EXPECT_EQ(RemoteMode::kUnreachable, CheckRemoteMode(kProviderLibraryName));

    SetCurrentHostName(std::string(1024, 'h').c_str());  // too long: no host, local
    EXPECT_STREQ("", TheRemoteChannel().CurrentHost);
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(0, peer_.connections());
}

TEST_F(ChannelTest, RefusedAuthStillAnswersRemoteAndRepeatsTheSetUp) {
    peer_.set_responder([](const std::string& request) {
        return ScriptedPeer::Reply(request.find("AUTH") != std::string::npos ? kFailure
                                                                             : kSuccessText);
    });
    Configure("far", peer_);
    SetCurrentHostName("far");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_STREQ("", TheRemoteChannel().LoadedLibrary);
    EXPECT_EQ(std::vector<std::string>{kAuth}, peer_.requests());  // no LOAD after a refusal
    peer_.ClearRequests();
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ((std::vector<std::string>{kPing, kAuth}), peer_.requests());
}

class ForwardingTest : public ChannelTest {
  protected:
    ForwardingTest() {
        Configure("far", peer_);
        SetCurrentHost("far");
    }
    // The peer answers EXEC with a reply in these pieces, closing afterwards when told to.
    void AnswerExec(const std::vector<std::string>& pieces, bool close = false) {
        peer_.set_responder([=](const std::string& request) {
            if (request.find("EXEC") == std::string::npos) return ScriptedPeer::Reply(kSuccessText);
            return ScriptedPeer::Answer{pieces, close};
        });
    }
};

TEST_F(ForwardingTest, GetSendsTheRecordAndCopiesBackTheOneRepliedInPieces) {
    const AppointmentRequest answer = MakeRequest("FOUND", 11, 22);
    const std::string reply = ResultAnd(Element(1, Bytes(answer)));
    const size_t third = reply.size() / 3;
    AnswerExec({reply.substr(0, third), reply.substr(third, third), reply.substr(2 * third)});
    AppointmentRequest request = MakeRequest("found");
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_EQ(Bytes(answer), Bytes(request));
    EXPECT_EQ(ExecRequest("AppointmentGet", Element(1, Bytes(MakeRequest("found")))),
              peer_.requests().back());
    // The next call is in step: its PING gets its own reply.
    peer_.ClearRequests();
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_EQ(kPing, peer_.requests().at(0));
}

TEST_F(ForwardingTest, EditAndItemWritesSendTheirRecordsAndReadOnlyTheResult) {
    const std::string other = Bytes(MakeRequest("OTHER"));
    AnswerExec({ResultAnd(Element(1, other) + Element(2, other))});
    AppointmentRequest old_record = MakeRequest("a"), new_record = MakeRequest("b");
    EXPECT_EQ(1, AppointmentEdit(&old_record, &new_record));
    EXPECT_EQ(Bytes(MakeRequest("a")) + Bytes(MakeRequest("b")),
              Bytes(old_record) + Bytes(new_record));
    EXPECT_EQ(ExecRequest("AppointmentEdit",
                          Element(1, Bytes(old_record)) + Element(2, Bytes(new_record))),
              peer_.requests().back());
    AppointmentItemRequest item = MakeItemRequest("item", "abc");
    item.DataLength = 99;
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&item));
    EXPECT_EQ(ExecRequest("AppointmentItemWriteFirstChunk", Element(1, Bytes(item))),
              peer_.requests().back());
    EXPECT_EQ(1, AppointmentItemWriteNextChunk(&item));
    EXPECT_EQ(ExecRequest("AppointmentItemWriteNextChunk", Element(1, Bytes(item))),
              peer_.requests().back());
    EXPECT_EQ(99, item.DataLength);  // not updated: only the result comes back
}

TEST_F(ForwardingTest, BadRepliesGiveZeroAndLeaveTheRecord) {
    const AppointmentRequest copy = MakeRequest("x");
    const std::string changed = Element(1, Bytes(MakeRequest("CHANGED")));
    // Each parameter stands by itself: a record that reads is copied back though the result
    // does not.
    const std::pair<std::string, const char*> replies[] = {
        {kFailure, "x"},                                              // no parameters at all
        {"garbage", "x"},                                             // not framed
        {SuccessReply("<PARAMETER0 SIZE=4>!!!!</PARAMETER0>"), "x"},  // not Base64
        {SuccessReply(changed), "CHANGED"},                           // no parameter 0
        {SuccessReply(Element(0, "4", "!!!!") + changed), "CHANGED"},
    };
    for (const auto& reply : replies) {
        SCOPED_TRACE(reply.first);
        AnswerExec({reply.first});
        AppointmentRequest request = copy;
        EXPECT_EQ(0, AppointmentGet(&request));
        EXPECT_STREQ(reply.second, request.ItemId);
    }
}

TEST_F(ForwardingTest, AReplyCutOffByTheServerFailsTheCall) {
    const std::string reply = ResultAnd(Element(1, Bytes(MakeRequest("LATE"))));
    AnswerExec({reply.substr(0, reply.size() / 2)}, true);
    AppointmentRequest request = MakeRequest("late");
    EXPECT_EQ(0, AppointmentGet(&request));
    EXPECT_STREQ("late", request.ItemId);
    EXPECT_EQ(kNoSocket, TheRemoteChannel().ChannelSocket);
}

TEST_F(ForwardingTest, LocalOnlyExportsNeverTouchTheChannel) {
    TestStore store;
    std::string calendar = store.CreateMailbox("example", "anna");
    MakeDirectory(calendar.c_str());
    ASSERT_TRUE(WriteFileBytes(calendar + "\\item", "body"));
    peer_.ClearRequests();
    AppointmentItemRequest item = MakeItemRequest("item");
    EXPECT_EQ(1, AppointmentItemDelete(&item));
    EXPECT_FALSE(PathExists(calendar + "\\item"));
    AppointmentItemGetCurrentOffset(&item);
    EXPECT_EQ(0, AppointmentGetLastError());
    EXPECT_TRUE(peer_.requests().empty());
}

}  // namespace
}  // namespace cv
