// cvadmind's side of a connection: the bytes a client sends, cut into requests where the service
// cuts them (at "</DATA>"), answered one by one by one session. Whatever arrives: every answer is
// the success text, a refusal or an EXEC reply that fits the client's receive, nothing but PING
// and AUTH succeeds before a successful AUTH, and every EXEC reply carries a result that the
// client can unpack.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "remote/channel.h"
#include "service/service_config.h"
#include "service/session.h"
#include "tests/support/wire.h"

namespace {

cvadmind::ServiceConfig* g_config;
cvadmind::LibraryCache* g_libraries;

std::string Method(const std::string& request) {
    const size_t open = request.find("<METHOD>"), close = request.find("</METHOD>", open + 8);
    return open == std::string::npos || close == std::string::npos
               ? ""
               : request.substr(open + 8, close - open - 8);
}

void CheckAnswer(const std::string& request, const std::string& answer, bool was_authenticated) {
    FUZZ_CHECK(answer.size() < cv::kRemoteBufferSize);
    const bool success = answer.find(cv::kSuccessText) != std::string::npos;
    const bool reply = answer.rfind("<DATA><STATUS>SUCCESS</STATUS><PARAMETERS>", 0) == 0;
    FUZZ_CHECK(success || reply || answer.rfind("<DATA><STATUS>FAILURE</STATUS>", 0) == 0);
    const std::string method = Method(request);
    if ((success || reply) && method != "PING" && method != "AUTH") FUZZ_CHECK(was_authenticated);
    if (reply) {
        FUZZ_CHECK(method == "EXEC");
        int32_t result = -1;
        FUZZ_CHECK(cv::testing::ReplyRecord(answer, 0, &result, sizeof result));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_config = new cvadmind::ServiceConfig;
    g_config->protocol = "PLAIN";
    g_config->credentials = "s3cret";
    g_config->libraries.push_back({"CVAICP.DLL", CV_STUB_PROVIDER});
    g_libraries = new cvadmind::LibraryCache(*g_config);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stream(reinterpret_cast<const char*>(data), size);
    cvadmind::Session session(*g_config, *g_libraries);
    // Without a further "</DATA>" the service waits for the rest, which never comes.
    for (size_t at = 0, end; (end = stream.find("</DATA>", at)) != std::string::npos;
         at = end + 7) {
        const std::string request = stream.substr(at, end + 7 - at);
        if (request.size() > cv::kRemoteBufferSize - 1) break;  // the service hangs up
        const bool was_authenticated = session.authenticated();
        bool close = false;
        const std::string answer = session.Answer(request, &close);
        if (close) {
            FUZZ_CHECK(answer.empty());
            break;
        }
        CheckAnswer(request, answer, was_authenticated);
    }
    return 0;
}
