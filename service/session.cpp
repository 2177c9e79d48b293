#include "service/session.h"

#include <cstring>
#include <vector>

#include "common/delimited_text.h"
#include "common/text_helpers.h"
#include "include/cvaicp_exports.h"
#include "remote/base64.h"
#include "remote/channel.h"
#include "remote/dictionary_coder.h"
#include "remote/packing.h"
#include "remote/record_texts.h"

namespace cvadmind {
namespace {

// Runs an export through a pointer of the type it is declared with: a call through any other
// function type (say, one taking void*) is undefined, even where the calling convention happens
// to pass the same bytes.
using Invoker = int32_t (*)(void* entry, unsigned char* first, unsigned char* second);

template <int Arguments, typename First, typename Second>
int32_t Call(void* entry, unsigned char* first, unsigned char* second) {
    using Function = typename cvaicp::Function<Arguments, First, Second>::Type;
    if constexpr (Arguments == 0) {
        return reinterpret_cast<Function>(entry)();
    } else if constexpr (Arguments == 1) {
        return reinterpret_cast<Function>(entry)(reinterpret_cast<First*>(first));
    } else {
        return reinterpret_cast<Function>(entry)(reinterpret_cast<First*>(first),
                                                 reinterpret_cast<Second*>(second));
    }
}

// Every export, from the export table: a client may run those that the library forwards, with
// the size of each record they take, whether the client reads that record back, and how the
// export is called.
struct ServedExport {
    const char* name;
    bool served;
    int records;
    size_t sizes[2];
    bool read_back[2];
    bool (*convert_texts[2])(cv::TextWay, void*);
    Invoker call;
};

constexpr ServedExport kServed[] = {
#define CV_SERVED_EXPORT(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, \
                         Forwarded)                                                      \
    {#Name,                                                                              \
     Forwarded != 0,                                                                     \
     Arguments,                                                                          \
     {cvaicp::RecordSize<First>(), cvaicp::RecordSize<Second>()},                        \
     {FirstBack != 0, SecondBack != 0},                                                  \
     {cv::ConvertTextsOf<First>, cv::ConvertTextsOf<Second>},                            \
     Call<Arguments, First, Second>},
    CVAICP_EXPORTS(CV_SERVED_EXPORT)
#undef CV_SERVED_EXPORT
};

// Compares without leaking, through the time it takes, where the texts differ.
bool SameSecret(const std::string& given, const std::string& expected) {
    unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ expected[i % (expected.size() + 1)]);
    }
    return difference == 0;
}

// A record's packed text: the dictionary coder, then Base64.
bool Pack(const void* data, size_t size, std::string* text) {
    std::vector<unsigned char> stream(2 * size + 2);
    size_t length = cv::DictCompress(data, size, stream.data());
    std::vector<char> encoded(cv::kRemoteBufferSize);
    int written = cv::Base64Encode(stream.data(), length, encoded.data(), encoded.size());
    if (written < 0) return false;
    text->assign(encoded.data(), static_cast<size_t>(written));
    return true;
}

// Unpacks a packed text that must decode to exactly size bytes.
bool UnpackExactly(const std::string& text, void* out, size_t size) {
    std::vector<unsigned char> stream(text.size() + 4);
    int length = cv::Base64Decode(text.c_str(), stream.data(), stream.size());
    if (length < 2) return false;
    size_t produced = 0;
    return cv::DictDecompress(stream.data(), static_cast<size_t>(length), out, size, &produced) &&
           produced == size;
}

// Parameter `number` of a request: its SIZE attribute and its packed content.
bool FindParameter(const std::string& request, int number, long* size, std::string* content) {
    std::string open = "<PARAMETER" + std::to_string(number) + " SIZE=";
    std::string close = "</PARAMETER" + std::to_string(number) + ">";
    std::string::size_type start = request.find(open);
    if (start == std::string::npos) return false;
    start += open.size();
    std::string::size_type end_of_tag = request.find('>', start);
    if (end_of_tag == std::string::npos || end_of_tag == start) return false;
    // Read digit by digit, giving up beyond any record's size: a conversion that overflows (a
    // 32-bit long takes 4294967944 for 648) would let a size be claimed that is not the one sent.
    long value = 0;
    for (std::string::size_type at = start; at < end_of_tag; ++at) {
        if (request[at] < '0' || request[at] > '9') return false;
        value = value * 10 + (request[at] - '0');
        if (value > static_cast<long>(cv::kRemoteBufferSize)) return false;
    }
    *size = value;
    std::string::size_type end = request.find(close, end_of_tag + 1);
    if (end == std::string::npos) return false;
    *content = request.substr(end_of_tag + 1, end - end_of_tag - 1);
    return true;
}

std::string Element(int number, size_t size, const std::string& packed) {
    return "<PARAMETER" + std::to_string(number) + " SIZE=" + std::to_string(size) + ">" + packed +
           "</PARAMETER" + std::to_string(number) + ">";
}

}  // namespace

std::string Refusal(const std::string& reason) {
    return "<DATA><STATUS>FAILURE</STATUS><ERROR>" + reason + "</ERROR></DATA>";
}

const cv::DynamicLibrary* LibraryCache::Get(const std::string& name, std::string* canonical,
                                            std::string* error) {
    const ServiceConfig::Library* entry = nullptr;
    for (const ServiceConfig::Library& library : config_.libraries) {
        // The whole name: one with a NUL inside is not the name before the NUL.
        if (library.name.size() == name.size() &&
            cv::CompareNoCase(library.name.c_str(), name.c_str()) == 0) {
            entry = &library;
        }
    }
    if (entry == nullptr) {
        *error = "library not allowed";
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(guard_);
    std::unique_ptr<cv::DynamicLibrary>& slot = loaded_[entry->name];
    if (!slot) {
        auto library = std::make_unique<cv::DynamicLibrary>();
        if (!library->Open(entry->path.c_str())) {
            *error = "library did not load";
            loaded_.erase(entry->name);
            return nullptr;
        }
        slot = std::move(library);
    }
    *canonical = entry->name;
    return slot.get();
}

std::string Session::Answer(const std::string& request, bool* close) {
    *close = false;
    event_.clear();
    std::string method;
    if (request.compare(0, 6, "<DATA>") != 0 ||
        !cv::TextBetween(request, "<METHOD>", "</METHOD>", &method)) {
        event_ = "malformed request";
        return Refusal("malformed request");
    }
    if (method == "PING") return cv::kSuccessText;
    if (method == "QUIT") {
        *close = true;
        return "";
    }
    if (method == "AUTH") return Authenticate(request);
    if (method == "LOAD") return Load(request);
    if (method == "EXEC") return Exec(request);
    event_ = "unknown method";
    return Refusal("unknown method");
}

std::string Session::Authenticate(const std::string& request) {
    std::string protocol, credentials;
    bool complete = cv::TextBetween(request, "<PROTOCOL>", "</PROTOCOL>", &protocol) &&
                    cv::TextBetween(request, "<CREDENTIALS>", "</CREDENTIALS>", &credentials);
    // Both compared whole, whatever the first gave, so that the time does not tell which failed.
    bool protocol_ok = SameSecret(protocol, config_.protocol);
    bool credentials_ok = SameSecret(credentials, config_.credentials);
    authenticated_ = complete && protocol_ok && credentials_ok;
    library_ = nullptr;
    loaded_name_.clear();
    event_ = authenticated_ ? "authenticated" : "authentication refused";
    return authenticated_ ? cv::kSuccessText : Refusal("authentication failed");
}

std::string Session::Load(const std::string& request) {
    if (!authenticated_) {
        event_ = "LOAD before AUTH refused";
        return Refusal("not authenticated");
    }
    std::string name, error, canonical;
    if (!cv::TextBetween(request, "<LIBRARY>", "</LIBRARY>", &name)) {
        return Refusal("no library named");
    }
    const cv::DynamicLibrary* library = libraries_.Get(name, &canonical, &error);
    if (library == nullptr) {
        event_ = "LOAD of '" + name.substr(0, 64) + "' refused: " + error;
        return Refusal(error);
    }
    library_ = library;
    loaded_name_ = canonical;
    event_ = "loaded " + canonical;
    return cv::kSuccessText;
}

std::string Session::Exec(const std::string& request) {
    if (!authenticated_ || library_ == nullptr) {
        event_ = "EXEC before AUTH and LOAD refused";
        return Refusal("not authenticated");
    }
    std::string function;
    if (!cv::TextBetween(request, "<FUNCTION>", "</FUNCTION>", &function)) {
        return Refusal("no function");
    }
    const ServedExport* served = nullptr;
    for (const ServedExport& e : kServed) {
        if (e.served && function == e.name) served = &e;
    }
    if (served == nullptr) {
        event_ = "EXEC of unknown function refused";
        return Refusal("unknown function");
    }
    void* entry = library_->Symbol(served->name);
    if (entry == nullptr) return Refusal("function not available");

    std::vector<unsigned char> records[2];
    for (int i = 0; i < served->records; ++i) {
        long size = 0;
        std::string content;
        records[i].assign(served->sizes[i], 0);
        if (!FindParameter(request, i + 1, &size, &content) ||
            static_cast<size_t>(size) != served->sizes[i] ||
            !UnpackExactly(content, records[i].data(), served->sizes[i])) {
            event_ = "EXEC of " + function + " refused: parameter " + std::to_string(i + 1);
            return Refusal("bad parameter " + std::to_string(i + 1));
        }
    }
    // The records' texts arrive in the wire's code page and leave in it; the library between
    // reads them in this build's. A text that does not fit on the way in fails the call.
    int32_t result = 0;
    bool texts_fit = true;
    for (int i = 0; i < served->records; ++i) {
        texts_fit =
            texts_fit && served->convert_texts[i](cv::TextWay::kFromWire, records[i].data());
    }
    if (texts_fit) {
        std::lock_guard<std::mutex> hold(libraries_.exec_guard());
        result = served->call(entry, records[0].data(), records[1].data());
        event_ = function + " answered " + std::to_string(result);
    } else {
        event_ = "EXEC of " + function + ": a text does not fit its field in this build's form";
    }
    // A reply text that the wire's code page cannot hold fails the call: the client would read
    // another name than the one meant.
    for (int i = 0; i < served->records; ++i) {
        if (!served->convert_texts[i](cv::TextWay::kToWire, records[i].data())) result = 0;
    }
    // Every record goes back; should that not fit one reply, only those the client reads.
    for (bool only_read_back : {false, true}) {
        std::string packed;
        if (!Pack(&result, sizeof result, &packed)) break;
        std::string reply = std::string("<DATA><STATUS>SUCCESS</STATUS><PARAMETERS>") +
                            Element(0, sizeof result, packed);
        bool packed_all = true;
        for (int i = 0; i < served->records; ++i) {
            if (only_read_back && !served->read_back[i]) continue;
            if (!Pack(records[i].data(), records[i].size(), &packed)) packed_all = false;
            reply += Element(i + 1, records[i].size(), packed);
        }
        reply += "</PARAMETERS></DATA>";
        if (packed_all && reply.size() < cv::kRemoteBufferSize) return reply;
    }
    event_ = "reply of " + function + " too large";
    return Refusal("reply too large");
}

}  // namespace cvadmind
