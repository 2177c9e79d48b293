// cvadmind's answers, request by request: what it takes, what it refuses.
#include "service/session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/host_thread.h"
#include "include/cvaicp.h"
#include "remote/channel.h"
#include "remote/framing.h"
#include "remote/packing.h"
#include "tests/support/test_store.h"

namespace cvadmind {
namespace {

const std::string kAuth =
    "<DATA><METHOD>AUTH</METHOD><PROTOCOL>PLAIN</PROTOCOL><CREDENTIALS>s3cret</CREDENTIALS>"
    "<REALM></REALM><Library>CVAIAU.DLL</Library></DATA>";
const std::string kLoad = "<DATA><METHOD>LOAD</METHOD><LIBRARY>cvaicp.dll</LIBRARY></DATA>";

std::string Exec(const char* function, const std::vector<std::pair<const void*, size_t>>& records,
                 const std::vector<long>& sizes = {}) {
    std::vector<char> request(cv::kRemoteBufferSize);
    cv::BuildExecRequest(request.data(), function);
    for (size_t i = 0; i < records.size(); ++i) {
        cv::AddRequestParameter(request.data(), static_cast<int>(i + 1), records[i].first,
                                records[i].second);
    }
    std::string text = request.data();
    for (size_t i = 0; i < sizes.size(); ++i) {  // a lying SIZE attribute
        std::string from = "<PARAMETER" + std::to_string(i + 1) +
                           " SIZE=" + std::to_string(records[i].second) + ">";
        std::string to =
            "<PARAMETER" + std::to_string(i + 1) + " SIZE=" + std::to_string(sizes[i]) + ">";
        text.replace(text.find(from), from.size(), to);
    }
    return text;
}

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() : libraries_(config_), session_(config_, libraries_) {
        config_.protocol = "PLAIN";
        config_.credentials = "s3cret";
        config_.libraries.push_back({"CVAICP.DLL", cv::testing::ProviderLibraryPath()});
        calendar_ = store_.CreateMailbox("po", "anna");
    }
    std::string Ask(const std::string& request) {
        bool close = false;
        return session_.Answer(request, &close);
    }
    static bool Succeeded(const std::string& answer) {
        return answer.find(cv::kSuccessText) != std::string::npos;
    }
    static AppointmentRequest Record(const char* id) {
        AppointmentRequest r;
        std::memset(&r, 0, sizeof r);
        std::strcpy(r.Mailbox, "anna");
        std::strcpy(r.Postoffice, "po");
        std::strcpy(r.ItemId, id);
        std::strcpy(r.PeriodName, "Y26M12D07");
        r.StartTime = 5;
        r.FinishTime = 6;
        return r;
    }

    cv::HostThread host_;
    cv::testing::TestStore store_;
    std::string calendar_;
    ServiceConfig config_;
    LibraryCache libraries_;
    Session session_;
};

TEST_F(SessionTest, PingIsAnsweredAtAnyTime) {
    EXPECT_EQ(cv::kSuccessText, Ask("<DATA><METHOD>PING</METHOD></DATA>"));
}

TEST_F(SessionTest, NothingRunsBeforeAuthAndLoad) {
    AppointmentRequest r = Record("a");
    EXPECT_FALSE(Succeeded(Ask(Exec("AppointmentAdd", {{&r, sizeof r}}))));
    EXPECT_FALSE(Succeeded(Ask(kLoad)));
    EXPECT_TRUE(Succeeded(Ask(kAuth)));
    EXPECT_FALSE(Succeeded(Ask(Exec("AppointmentAdd", {{&r, sizeof r}}))));
    EXPECT_TRUE(Succeeded(Ask(kLoad)));
    EXPECT_FALSE(cv::testing::PathExists(calendar_ + "\\Y26M12D07.CAL"));
}

TEST_F(SessionTest, WrongCredentialsOrProtocolAreRefused) {
    std::string wrong = kAuth;
    wrong.replace(wrong.find("s3cret"), 6, "s3creT");
    EXPECT_FALSE(Succeeded(Ask(wrong)));
    std::string protocol = kAuth;
    protocol.replace(protocol.find("PLAIN"), 5, "OTHER");
    EXPECT_FALSE(Succeeded(Ask(protocol)));
    EXPECT_FALSE(Succeeded(Ask("<DATA><METHOD>AUTH</METHOD></DATA>")));
    EXPECT_FALSE(session_.authenticated());
    EXPECT_TRUE(Succeeded(Ask(kAuth)));
    EXPECT_FALSE(Succeeded(Ask(wrong)));  // a failed AUTH takes back what an earlier one gave
    EXPECT_FALSE(session_.authenticated());
}

TEST_F(SessionTest, OnlyConfiguredLibraryNamesLoad) {
    ASSERT_TRUE(Succeeded(Ask(kAuth)));
    for (const std::string& name : {cv::testing::ProviderLibraryPath(), std::string("CVAIAU.DLL"),
                                    std::string("..\\CVAICP.DLL"), std::string("")}) {
        EXPECT_FALSE(
            Succeeded(Ask("<DATA><METHOD>LOAD</METHOD><LIBRARY>" + name + "</LIBRARY></DATA>")))
            << name;
    }
    EXPECT_TRUE(Succeeded(Ask(kLoad)));
    EXPECT_EQ("CVAICP.DLL", session_.loaded());
}

TEST_F(SessionTest, RunsAnExportAndReturnsItsResultAndRecords) {
    ASSERT_TRUE(Succeeded(Ask(kAuth)));
    ASSERT_TRUE(Succeeded(Ask(kLoad)));
    AppointmentRequest r = Record("remote-1");
    std::string answer = Ask(Exec("AppointmentAdd", {{&r, sizeof r}}));
    int32_t result = 0;
    ASSERT_EQ(1, cv::ReadReplyParameter(answer.c_str(), 0, &result, sizeof result));
    EXPECT_EQ(1, result);
    AppointmentRequest back;
    ASSERT_EQ(1, cv::ReadReplyParameter(answer.c_str(), 1, &back, sizeof back));
    EXPECT_EQ(0, std::memcmp(&r, &back, sizeof r));
    EXPECT_EQ("5\t6\tremote-1", cv::testing::ReadFileOrEmpty(calendar_ + "\\Y26M12D07.CAL"));

    AppointmentRequest get = Record("REMOTE-1");
    answer = Ask(Exec("AppointmentGet", {{&get, sizeof get}}));
    ASSERT_EQ(1, cv::ReadReplyParameter(answer.c_str(), 1, &back, sizeof back));
    EXPECT_STREQ("remote-1", back.ItemId);
}

TEST_F(SessionTest, RefusesUnknownFunctionsAndRecordsOfTheWrongSize) {
    ASSERT_TRUE(Succeeded(Ask(kAuth)));
    ASSERT_TRUE(Succeeded(Ask(kLoad)));
    AppointmentRequest r = Record("x");
    std::vector<char> big(sizeof r + 1, 0);
    const std::vector<std::string> bad = {
        Exec("AppointmentGetLastError", {}),
        Exec("SetCurrentHost", {{&r, sizeof r}}),
        Exec("DllMain", {{&r, sizeof r}}),
        Exec("AppointmentAdd", {}),                          // parameter missing
        Exec("AppointmentAdd", {{&r, sizeof r - 1}}),        // one byte short
        Exec("AppointmentAdd", {{big.data(), big.size()}}),  // one byte long
        Exec("AppointmentAdd", {{&r, sizeof r}}, {647}),     // SIZE lies
        Exec("AppointmentEdit", {{&r, sizeof r}}),           // second record missing
        "<DATA><METHOD>EXEC</METHOD><FUNCTION>AppointmentAdd</FUNCTION><PARAMETERS>"
        "<PARAMETER1 SIZE=648>%%%%</PARAMETER1></PARAMETERS></DATA>",  // not Base64
        "<DATA><METHOD>FORMAT</METHOD></DATA>",
        "not even framed</DATA>",
    };
    for (const std::string& request : bad) {
        std::string answer = Ask(request);
        EXPECT_FALSE(Succeeded(answer)) << request.substr(0, 120);
        EXPECT_EQ(std::string::npos, answer.find("<PARAMETER0")) << request.substr(0, 120);
    }
    EXPECT_FALSE(cv::testing::PathExists(calendar_ + "\\Y26M12D07.CAL"));
}

// Each export is called through its own declared type (a call through another function type is
// undefined, which clang's UB sanitizer reports), and each answers with its result.
TEST_F(SessionTest, EveryServedExportRunsWithItsOwnRecords) {
    ASSERT_TRUE(Succeeded(Ask(kAuth)));
    ASSERT_TRUE(Succeeded(Ask(kLoad)));
    AppointmentRequest a = Record("a");
    AppointmentRequest b = Record("b");
    AppointmentItemRequest item;
    std::memset(&item, 0, sizeof item);
    std::strcpy(item.Mailbox, "anna");
    std::strcpy(item.Postoffice, "po");
    std::strcpy(item.ItemFileName, "a.eml");
    ListContext context;
    std::memset(&context, 0, sizeof context);
    std::strcpy(context.Mailbox, "anna");
    std::strcpy(context.Postoffice, "po");
    ListItem listed;
    std::memset(&listed, 0, sizeof listed);
    const std::vector<std::pair<const char*, std::vector<std::pair<const void*, size_t>>>> calls = {
        {"AppointmentAdd", {{&a, sizeof a}}},
        {"AppointmentEdit", {{&a, sizeof a}, {&b, sizeof b}}},
        {"AppointmentItemWriteFirstChunk", {{&item, sizeof item}}},
        {"AppointmentItemGetSize", {{&item, sizeof item}}},
        {"AppointmentListItemFindFirst", {{&context, sizeof context}, {&listed, sizeof listed}}},
        {"AppointmentListItemFindClose", {{&context, sizeof context}}},
    };
    for (const auto& call : calls) {
        std::string answer = Ask(Exec(call.first, call.second));
        int32_t result = -1;
        EXPECT_EQ(1, cv::ReadReplyParameter(answer.c_str(), 0, &result, sizeof result))
            << call.first;
    }
}

TEST_F(SessionTest, QuitEndsTheConversation) {
    bool close = false;
    EXPECT_EQ("", session_.Answer("<DATA><METHOD>QUIT</METHOD></DATA>", &close));
    EXPECT_TRUE(close);
}

}  // namespace
}  // namespace cvadmind
