// The texts of a conversation with cvadmind: set-up requests, EXEC requests with records packed
// as the library packs them (without its progress on standard output), replies, and a record read
// back out of one. Built on the coder and Base64, not on the framing code they check.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "remote/base64.h"
#include "remote/dictionary_coder.h"
#include "remote/framing.h"
#include "remote/packing.h"

namespace cv {
namespace testing {

inline const std::string kAuth =
    "<DATA><METHOD>AUTH</METHOD><PROTOCOL>PLAIN</PROTOCOL><CREDENTIALS>s3cret</CREDENTIALS>"
    "<REALM></REALM><Library>CVAIAU.DLL</Library></DATA>";
inline const std::string kLoad = "<DATA><METHOD>LOAD</METHOD><LIBRARY>CVAICP.DLL</LIBRARY></DATA>";
inline const std::string kPing = "<DATA><METHOD>PING</METHOD></DATA>";
inline const std::string kQuit = "<DATA><METHOD>QUIT</METHOD></DATA>";
inline const std::string kFailure = "<DATA><STATUS>FAILURE</STATUS></DATA>";

template <typename Record>
std::string Bytes(const Record& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// The block compressed and Base64-encoded.
inline std::string Packed(const std::string& bytes) {
    std::vector<unsigned char> stream(2 * bytes.size() + 2);
    const size_t length = DictCompress(bytes.data(), bytes.size(), stream.data());
    std::vector<char> text((length + 2) / 3 * 4 + 1);
    Base64Encode(stream.data(), length, text.data(), text.size());
    return text.data();
}

// Parameter element `number` with any size text and content, or a block packed with its size.
inline std::string Element(int number, const std::string& size, const std::string& packed) {
    const std::string n = std::to_string(number);
    return "<PARAMETER" + n + " SIZE=" + size + ">" + packed + "</PARAMETER" + n + ">";
}
inline std::string Element(int number, const std::string& bytes) {
    return Element(number, std::to_string(bytes.size()), Packed(bytes));
}

inline std::string ExecRequest(const std::string& function, const std::string& elements) {
    return "<DATA><METHOD>EXEC</METHOD><FUNCTION>" + function + "</FUNCTION><PARAMETERS>" +
           elements + "</PARAMETERS></DATA>";
}

inline std::string SuccessReply(const std::string& elements) {
    return "<DATA><STATUS>SUCCESS</STATUS><PARAMETERS>" + elements + "</PARAMETERS></DATA>";
}

// Reply parameter `number`, which must be there and unpack to exactly `size` bytes.
inline bool ReplyRecord(const std::string& reply, int number, void* out, size_t size) {
    std::vector<char> packed(kRemoteBufferSize);
    if (!ExtractReplyParameter(reply.c_str(), number, packed.data(), packed.size(), nullptr)) {
        return false;
    }
    std::vector<unsigned char> stream(std::strlen(packed.data()) + 4);
    const int length = Base64Decode(packed.data(), stream.data(), stream.size());
    size_t produced = 0;
    return length >= 2 &&
           DictDecompress(stream.data(), static_cast<size_t>(length), out, size, &produced) &&
           produced == size;
}

}  // namespace testing
}  // namespace cv
