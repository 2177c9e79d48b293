// The remote channel and the forwarding of exports, against a scripted peer that records every
// byte: the decision, the exact texts of each exchange, and the records copied back.
#include "remote/channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/host_thread.h"
#include "common/platform.h"
#include "include/cvaicp.h"
#include "remote/framing.h"
#include "remote/packing.h"
#include "tests/remote/scripted_peer.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::ScriptedPeer;

const std::string kAuth =
    "<DATA><METHOD>AUTH</METHOD><PROTOCOL>PLAIN</PROTOCOL><CREDENTIALS>s3cret</CREDENTIALS>"
    "<REALM></REALM><Library>CVAIAU.DLL</Library></DATA>";
const std::string kLoad = "<DATA><METHOD>LOAD</METHOD><LIBRARY>CVAICP.DLL</LIBRARY></DATA>";
const std::string kPing = "<DATA><METHOD>PING</METHOD></DATA>";
const std::string kQuit = "<DATA><METHOD>QUIT</METHOD></DATA>";

std::string Packed(const void* data, size_t size) {
    std::vector<char> text(kRemoteBufferSize);
    PackParameter(data, size, text.data(), text.size());
    return text.data();
}

std::string Element(int number, const void* data, size_t size) {
    return "<PARAMETER" + std::to_string(number) + " SIZE=" + std::to_string(size) + ">" +
           Packed(data, size) + "</PARAMETER" + std::to_string(number) + ">";
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

    HostThread host_thread_;
    testing::TestRegistry registry_;
    ScriptedPeer peer_;
};

TEST_F(ChannelTest, WithoutAHostCallsStayLocal) {
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
    registry_.SetDword(Hive::kCurrentUser, kAdministrationKey, "ForceDefaultHost", 0);
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(0, peer_.connections());
}

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
    Configure("far", peer_);
    SetCurrentHostName("far");
    ASSERT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    peer_.ClearRequests();
    SetCurrentHostName("FAR");  // host names compare without regard to case
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode("cvaicp.dll"));
    EXPECT_EQ(std::vector<std::string>{kPing}, peer_.requests());
    EXPECT_EQ(1, peer_.connections());
}

TEST_F(ChannelTest, ADeadConnectionToTheSameHostIsRenewed) {
    Configure("far", peer_);
    SetCurrentHostName("far");
    ASSERT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    peer_.DropConnection();
    peer_.ClearRequests();
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(2, peer_.connections());
    std::vector<std::string> seen = peer_.requests();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(kAuth, seen[seen.size() - 2]);
    EXPECT_EQ(kLoad, seen.back());
}

TEST_F(ChannelTest, ChangingHostPingsTheOldOneAndQuitsOnlyWhenItIsDead) {
    ScriptedPeer other;
    Configure("one", peer_);
    Configure("two", other);
    SetCurrentHostName("one");
    ASSERT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    peer_.ClearRequests();
    SetCurrentHostName("two");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(std::vector<std::string>{kPing}, peer_.requests());  // alive: no QUIT
    EXPECT_EQ((std::vector<std::string>{kAuth, kLoad}), other.requests());

    // A peer that stops answering gets a QUIT before the channel moves on.
    other.set_responder([](const std::string& request) {
        return request.find("QUIT") != std::string::npos ? ScriptedPeer::Answer{{}, true}
                                                         : ScriptedPeer::Answer{{}, false};
    });
    other.ClearRequests();
    SetCurrentHostName("one");
    // The PING waits for the receive time-out; make that short for the test.
    SetReceiveTimeout(TheRemoteChannel().ChannelSocket, 200);
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    other.WaitForRequests(2);
    EXPECT_EQ((std::vector<std::string>{kPing, kQuit}), other.requests());
}

TEST_F(ChannelTest, LoopbackHostNameMakesNoConnection) {
    Configure("far", peer_);
    SetCurrentHostName("far");
    ASSERT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    peer_.ClearRequests();
    SetCurrentHostName("127.0.0.1");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(1, peer_.connections());  // the old connection stays and hears the AUTH
    std::vector<std::string> seen = peer_.requests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(kPing, seen[0]);
    EXPECT_NE(std::string::npos, seen[1].find("<METHOD>AUTH</METHOD><PROTOCOL></PROTOCOL>"));
}

TEST_F(ChannelTest, PortUsesItsLowSixteenBits) {
    Configure("far", peer_, 0x10000);
    SetCurrentHostName("far");
    EXPECT_EQ(RemoteMode::kRemote, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ(1, peer_.connections());
}

TEST_F(ChannelTest, MissingAddressOrOverlongNamesGiveNoConnection) {
    SetCurrentHostName("nowhere");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RemoteMode::kUnreachable, CheckRemoteMode(kProviderLibraryName));
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_STREQ("", TheRemoteChannel().ConnectedHost);

    std::string key = std::string(kHostsKey) + "\\long";
    registry_.SetString(Hive::kCurrentUser, key.c_str(), "Address", std::string(256, 'a'));
    SetCurrentHostName("long");
    EXPECT_EQ(RemoteMode::kUnreachable, CheckRemoteMode(kProviderLibraryName));

    SetCurrentHostName(std::string(1024, 'h').c_str());  // too long: no host, local
    EXPECT_STREQ("", TheRemoteChannel().CurrentHost);
    EXPECT_EQ(RemoteMode::kLocal, CheckRemoteMode(kProviderLibraryName));
}

TEST_F(ChannelTest, RefusedAuthStillAnswersRemoteAndRepeatsTheSetUp) {
    peer_.set_responder([](const std::string& request) {
        return ScriptedPeer::Reply(request.find("AUTH") != std::string::npos
                                       ? "<DATA><STATUS>FAILURE</STATUS></DATA>"
                                       : "<DATA><STATUS>SUCCESS</STATUS></DATA>");
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
    static AppointmentRequest Record(const char* id) {
        AppointmentRequest r;
        std::memset(&r, 0, sizeof r);
        std::strcpy(r.Mailbox, "anna");
        std::strcpy(r.Postoffice, "po");
        std::strcpy(r.ItemId, id);
        std::strcpy(r.PeriodName, "Y26M12D07");
        return r;
    }
    static std::string Success(const std::string& elements) {
        return "<DATA><STATUS>SUCCESS</STATUS><PARAMETERS>" + elements + "</PARAMETERS></DATA>";
    }
    std::string LastExec() const {
        std::string last;
        for (const std::string& r : peer_.requests()) {
            if (r.find("<METHOD>EXEC</METHOD>") != std::string::npos) last = r;
        }
        return last;
    }
};

TEST_F(ForwardingTest, GetSendsTheRecordAndCopiesTheRepliedOneBack) {
    AppointmentRequest answer = Record("FOUND");
    answer.StartTime = 11;
    answer.FinishTime = 22;
    int32_t one = 1;
    peer_.set_exec_reply([&](const std::string&) {
        return Success(Element(0, &one, 4) + Element(1, &answer, sizeof answer));
    });
    AppointmentRequest request = Record("found");
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_EQ(0, std::memcmp(&answer, &request, sizeof request));
    std::string sent = LastExec();
    AppointmentRequest original = Record("found");
    EXPECT_EQ("<DATA><METHOD>EXEC</METHOD><FUNCTION>AppointmentGet</FUNCTION><PARAMETERS>" +
                  Element(1, &original, sizeof original) + "</PARAMETERS></DATA>",
              sent);
}

TEST_F(ForwardingTest, EditSendsBothRecordsAndReadsOnlyTheResult) {
    AppointmentRequest other = Record("OTHER");
    int32_t one = 1;
    peer_.set_exec_reply([&](const std::string&) {
        return Success(Element(0, &one, 4) + Element(1, &other, sizeof other) +
                       Element(2, &other, sizeof other));
    });
    AppointmentRequest old_record = Record("a"), new_record = Record("b");
    AppointmentRequest old_copy = old_record, new_copy = new_record;
    EXPECT_EQ(1, AppointmentEdit(&old_record, &new_record));
    EXPECT_EQ(0, std::memcmp(&old_copy, &old_record, sizeof old_record));
    EXPECT_EQ(0, std::memcmp(&new_copy, &new_record, sizeof new_record));
    std::string sent = LastExec();
    EXPECT_NE(std::string::npos, sent.find("<FUNCTION>AppointmentEdit</FUNCTION>"));
    size_t first = sent.find("<PARAMETER1 SIZE=648>"), second = sent.find("<PARAMETER2 SIZE=648>");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
}

TEST_F(ForwardingTest, ItemWritesNameTheirOwnFunctionAndReadOnlyTheResult) {
    int32_t one = 1;
    peer_.set_exec_reply([&](const std::string&) { return Success(Element(0, &one, 4)); });
    AppointmentItemRequest item;
    std::memset(&item, 0, sizeof item);
    std::strcpy(item.Data, "abc");
    item.DataLength = 99;
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&item));
    EXPECT_NE(std::string::npos, LastExec().find("<FUNCTION>AppointmentItemWriteFirstChunk<"));
    EXPECT_EQ(1, AppointmentItemWriteNextChunk(&item));
    EXPECT_NE(std::string::npos, LastExec().find("<FUNCTION>AppointmentItemWriteNextChunk<"));
    EXPECT_EQ(99, item.DataLength);  // not updated: only the result comes back
}

TEST_F(ForwardingTest, RepliesInPiecesAreReadWhole) {
    AppointmentRequest answer = Record("PIECES");
    int32_t one = 1;
    std::string reply = Success(Element(0, &one, 4) + Element(1, &answer, sizeof answer));
    peer_.set_responder([&](const std::string& request) {
        if (request.find("EXEC") == std::string::npos) {
            return ScriptedPeer::Reply("<DATA><STATUS>SUCCESS</STATUS></DATA>");
        }
        size_t third = reply.size() / 3;
        return ScriptedPeer::Answer{
            {reply.substr(0, third), reply.substr(third, third), reply.substr(2 * third)}, false};
    });
    AppointmentRequest request = Record("pieces");
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_STREQ("PIECES", request.ItemId);
    // The next call is in step: its PING gets its own reply.
    peer_.ClearRequests();
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_EQ(kPing, peer_.requests().at(0));
}

TEST_F(ForwardingTest, BadRepliesGiveZeroAndLeaveTheRecord) {
    AppointmentRequest request = Record("x");
    AppointmentRequest copy = request;
    int32_t one = 1;
    AppointmentRequest answer = Record("CHANGED");
    const std::vector<std::string> replies = {
        "<DATA><STATUS>FAILURE</STATUS></DATA>",          // no parameters at all
        Success(Element(1, &answer, sizeof answer)),      // no parameter 0
        "garbage",                                        // not framed
        Success("<PARAMETER0 SIZE=4>!!!!</PARAMETER0>"),  // not Base64
    };
    for (size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(i);
        peer_.set_exec_reply([&](const std::string&) { return replies[i]; });
        int32_t result = AppointmentGet(&request);
        EXPECT_EQ(0, result);
        if (i != 1) {
            EXPECT_EQ(0, std::memcmp(&copy, &request, sizeof request));
        } else {
            EXPECT_STREQ("CHANGED", request.ItemId);  // each parameter stands by itself
            request = copy;
        }
    }
    (void)one;
}

TEST_F(ForwardingTest, AReplyCutOffByTheServerFailsTheCall) {
    int32_t one = 1;
    AppointmentRequest answer = Record("LATE");
    std::string reply = Success(Element(0, &one, 4) + Element(1, &answer, sizeof answer));
    peer_.set_responder([&](const std::string& request) {
        if (request.find("EXEC") == std::string::npos) {
            return ScriptedPeer::Reply("<DATA><STATUS>SUCCESS</STATUS></DATA>");
        }
        return ScriptedPeer::Answer{{reply.substr(0, reply.size() / 2)}, true};
    });
    AppointmentRequest request = Record("late");
    EXPECT_EQ(0, AppointmentGet(&request));
    EXPECT_STREQ("late", request.ItemId);
    EXPECT_EQ(kNoSocket, TheRemoteChannel().ChannelSocket);
}

TEST_F(ForwardingTest, LocalOnlyExportsNeverTouchTheChannel) {
    testing::TestStore store;
    std::string calendar = store.CreateMailbox("po", "anna");
    MakeDirectory(calendar.c_str());
    ASSERT_TRUE(testing::WriteFileBytes(calendar + "\\item", "body"));
    peer_.ClearRequests();
    AppointmentItemRequest item;
    std::memset(&item, 0, sizeof item);
    std::strcpy(item.Mailbox, "anna");
    std::strcpy(item.Postoffice, "po");
    std::strcpy(item.ItemFileName, "item");
    EXPECT_EQ(1, AppointmentItemDelete(&item));
    EXPECT_FALSE(testing::PathExists(calendar + "\\item"));
    AppointmentItemGetCurrentOffset(&item);
    EXPECT_EQ(0, AppointmentGetLastError());
    EXPECT_TRUE(peer_.requests().empty());
}

}  // namespace
}  // namespace cv
