// cvadmind's answers, request by request: what it takes and what it refuses, whatever a client
// sends. Everything here is request handling; the socket-level attacks are in
// hostile_client_test.cpp.
#include "service/session.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host/host_thread.h"
#include "include/cvaicp_exports.h"
#include "remote/channel.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"
#include "tests/support/wire.h"

namespace cvadmind {
namespace {

using namespace cv::testing;
using namespace std::string_literals;

// Every export cvadmind serves, with the sizes of its records.
struct Served {
    const char* name;
    std::vector<size_t> sizes;
};
const std::vector<Served>& ServedExports() {
#define CV_SERVED(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded) \
    if (Forwarded) {                                                                         \
        served.push_back({#Name, {cvaicp::RecordSize<First>()}});                            \
        if (Arguments == 2) served.back().sizes.push_back(cvaicp::RecordSize<Second>());     \
    }
    static const std::vector<Served> list = [] {
        std::vector<Served> served;
        CVAICP_EXPORTS(CV_SERVED)
        return served;
    }();
#undef CV_SERVED
    return list;
}

// A plausible record of each size the wire carries, naming an item no call may create.
std::string RecordOfSize(size_t size) {
    if (size == sizeof(AppointmentItemRequest)) return Bytes(MakeItemRequest("intruder", "x"));
    if (size == sizeof(ListContext)) return Bytes(MakeListContext(0, 0x7FFFFFFF));
    if (size == sizeof(ListItem)) return std::string(size, '\0');
    return Bytes(MakeRequest("intruder", 1, 2));
}

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() : libraries_(config_), session_(config_, libraries_) {
        config_.protocol = "PLAIN";
        config_.credentials = "s3cret";
        config_.libraries.push_back({"CVAICP.DLL", ProviderLibraryPath()});
        calendar_ = store_.CreateMailbox("example", "anna");
    }
    std::string Ask(const std::string& request) {
        bool close = false;
        return session_.Answer(request, &close);
    }
    static bool Succeeded(const std::string& answer) {
        return answer.find(cv::kSuccessText) != std::string::npos;
    }
    // An answer that grants nothing: a failure, no success text, no parameter.
    static ::testing::AssertionResult Refused(const std::string& answer) {
        if (answer.rfind("<DATA><STATUS>FAILURE</STATUS>", 0) == 0 && !Succeeded(answer) &&
            answer.find("<PARAMETER") == std::string::npos) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "not a refusal: " << answer.substr(0, 160);
    }
    void Open() {
        ASSERT_TRUE(Succeeded(Ask(kAuth)));
        ASSERT_TRUE(Succeeded(Ask(kLoad)));
    }
    // Nothing a refused call could have left: no period file, no item.
    void ExpectStoreUntouched() {
        EXPECT_FALSE(PathExists(calendar_ + "\\Y09M03D15.CAL"));
        EXPECT_FALSE(PathExists(calendar_ + "\\intruder"));
    }

    cv::HostThread host_;
    TestStore store_;
    std::string calendar_;
    ServiceConfig config_;
    LibraryCache libraries_;
    Session session_;
};

TEST_F(SessionTest, OnlyPingAndAuthRunBeforeAuthAndOnlyThoseAndLoadBeforeLoad) {
    const std::string add = ExecRequest("AppointmentAdd", Element(1, Bytes(MakeRequest("a"))));
    EXPECT_EQ(cv::kSuccessText, Ask(kPing));
    EXPECT_TRUE(Refused(Ask(add)));
    EXPECT_TRUE(Refused(Ask(kLoad)));
    EXPECT_TRUE(Succeeded(Ask(kAuth)));
    EXPECT_TRUE(Refused(Ask(add)));
    EXPECT_TRUE(Succeeded(Ask(kLoad)));
    ExpectStoreUntouched();
    bool close = false;
    EXPECT_EQ("", session_.Answer(kQuit, &close));
    EXPECT_TRUE(close);
}

TEST_F(SessionTest, WrongCredentialsOrProtocolAreRefusedAndTakeBackAnEarlierAuth) {
    auto with = [](const std::string& from, const std::string& to) {
        std::string text = kAuth;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string get = ExecRequest("AppointmentGet", Element(1, Bytes(MakeRequest("a"))));
    for (const std::string& guess :
         {with("s3cret", "s3creT"), with("s3cret", "S3CRET"), with("s3cret", "s3cre"),
          with("s3cret", ""), with("s3cret", std::string(20000, 's')), with("PLAIN", "plain"),
          with("PLAIN", "OTHER"), "<DATA><METHOD>AUTH</METHOD></DATA>"s}) {
        SCOPED_TRACE(guess.substr(0, 120));
        EXPECT_TRUE(Refused(Ask(guess)));
        EXPECT_FALSE(session_.authenticated());
        EXPECT_TRUE(Refused(Ask(get)));
        ASSERT_TRUE(Succeeded(Ask(kAuth)));
        EXPECT_TRUE(Refused(Ask(get)));  // the library went with the failed AUTH
        ASSERT_TRUE(Succeeded(Ask(kLoad)));
    }
    int32_t result = 0;
    EXPECT_TRUE(ReplyRecord(Ask(get), 0, &result, sizeof result));
}

TEST_F(SessionTest, LoadTakesOnlyTheConfiguredNames) {
    ASSERT_TRUE(Succeeded(Ask(kAuth)));
    const std::string get = ExecRequest("AppointmentGet", Element(1, Bytes(MakeRequest("a"))));
    for (const std::string& name :
         {"..\\x"s, "..\\CVAICP.DLL"s, "/etc/passwd"s, "C:\\Windows\\System32\\kernel32.dll"s,
          "C:CVAICP.DLL"s, "\\\\host\\share\\CVAICP.DLL"s, ProviderLibraryPath(), "CVAIAU.DLL"s,
          "CVAICP.DLL "s, " CVAICP.DLL"s, "CVAICP"s, "CVAICP.DLL\0x"s, ""s,
          std::string(30000, 'L')}) {
        EXPECT_TRUE(
            Refused(Ask("<DATA><METHOD>LOAD</METHOD><LIBRARY>" + name + "</LIBRARY></DATA>")))
            << name.substr(0, 60);
        EXPECT_TRUE(Refused(Ask(get))) << "after LOAD of " << name.substr(0, 60);
    }
    EXPECT_TRUE(Succeeded(Ask("<DATA><METHOD>LOAD</METHOD><LIBRARY>cvaicp.dll</LIBRARY></DATA>")));
    EXPECT_EQ("CVAICP.DLL", session_.loaded());
}

TEST_F(SessionTest, ExecRunsOnlyTheServedExports) {
    Open();
    const std::string record = Element(1, Bytes(MakeRequest("a")));
    for (const std::string& function :
         {"DllMain"s, "SetCurrentHost"s, "AppointmentGetLastError"s, "GetFreeBusyData"s,
          "AppointmentItemDelete"s, "AppointmentItemGetCurrentOffset"s, "appointmentget"s,
          "AppointmentGet "s, "AppointmentGetX"s, "AppointmentGet\0"s, "..\\AppointmentGet"s,
          "%s%s%s%n"s, ""s, std::string(30000, 'F')}) {
        EXPECT_TRUE(Refused(Ask(ExecRequest(function, record)))) << function.substr(0, 60);
    }
    for (const char* request :
         {"<DATA><METHOD>EXEC</METHOD></DATA>", "<DATA><METHOD>FORMAT</METHOD></DATA>",
          "<DATA></DATA>", "</DATA>", "not even framed</DATA>"}) {
        EXPECT_TRUE(Refused(Ask(request))) << request;
    }
    // What an operator reads in the log: the operation that ran and its answer.
    EXPECT_FALSE(Refused(Ask(ExecRequest("AppointmentGet", record))));
    EXPECT_EQ("AppointmentGet answered 0", session_.event());
}

TEST_F(SessionTest, EveryRecordMustHaveExactlyItsSize) {
    Open();
    int requests = 0;
    for (const Served& e : ServedExports()) {
        for (size_t bad = 0; bad < e.sizes.size(); ++bad) {
            const std::string right = RecordOfSize(e.sizes[bad]);
            const std::string size = std::to_string(right.size());
            // Content one byte short or long, with a SIZE that agrees or holds the right size;
            // the right content with a SIZE one off either way, or a SIZE no record has; content
            // that is not Base64 or unpacks far beyond its SIZE.
            const std::string short_one = right.substr(0, right.size() - 1),
                              long_one = right + '\1';
            const std::pair<std::string, std::string> variants[] = {
                {std::to_string(short_one.size()), Packed(short_one)},
                {size, Packed(short_one)},
                {std::to_string(long_one.size()), Packed(long_one)},
                {size, Packed(long_one)},
                {std::to_string(right.size() - 1), Packed(right)},
                {std::to_string(right.size() + 1), Packed(right)},
                {std::to_string(right.size() + (1ull << 32)), Packed(right)},
                {"18446744073709552264", Packed(right)},
                {"99999999999", Packed(right)},
                {"2147483647", Packed(right)},
                {"-" + size, Packed(right)},
                {"0", Packed(right)},
                {"", Packed(right)},
                {size, "%%%%"},
                {size, Packed(std::string(20000, '\0'))},
                {size, std::string(30000, 'A')},
                {size, Packed(right + right)},
            };
            for (const auto& v : variants) {
                std::string elements;
                for (size_t k = 0; k < e.sizes.size(); ++k) {
                    const int number = static_cast<int>(k + 1);
                    elements += k == bad ? Element(number, v.first, v.second)
                                         : Element(number, RecordOfSize(e.sizes[k]));
                }
                ++requests;
                EXPECT_TRUE(Refused(Ask(ExecRequest(e.name, elements))))
                    << e.name << " record " << bad + 1 << " SIZE=" << v.first << " "
                    << v.second.substr(0, 20);
            }
        }
    }
    EXPECT_EQ(17 * 17, requests);
    EXPECT_TRUE(Refused(Ask(ExecRequest("AppointmentAdd", ""))));  // a record missing
    EXPECT_TRUE(Refused(Ask(ExecRequest("AppointmentEdit", Element(1, RecordOfSize(648))))));
    ExpectStoreUntouched();
}

// Noise and damaged requests from a stranger: always an answer (but to a QUIT), never carrying a
// parameter. (The session fuzzer also damages the requests of a client that may run calls.)
TEST_F(SessionTest, DamagedRequestsAreAnsweredWithoutGrantingAnything) {
    std::mt19937 random(20240607);
    auto noise = [&](size_t count) {
        std::string text(count, '\0');
        for (char& c : text) c = static_cast<char>(random() & 0xFF);
        return text;
    };
    auto damage = [&](std::string text) {
        // Any byte but the closing "</DATA>", so that the request still ends there.
        for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n) {
            text[random() % (text.size() - 7)] = static_cast<char>(random() & 0xFF);
        }
        return text;
    };
    const std::string get = ExecRequest("AppointmentGet", Element(1, Bytes(MakeRequest("a"))));
    bool close = false;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        Session stranger(config_, libraries_);
        EXPECT_TRUE(
            Refused(stranger.Answer("<DATA>" + noise(random() % 8192) + "</DATA>", &close)));
        const std::string* from[] = {&kAuth, &kLoad, &get, &kPing};
        const std::string answer = stranger.Answer(damage(*from[random() % 4]), &close);
        EXPECT_TRUE(close || answer.find("</DATA>") != std::string::npos);
        EXPECT_EQ(std::string::npos, answer.find("<PARAMETER"));
    }
    ExpectStoreUntouched();
}

}  // namespace
}  // namespace cvadmind
