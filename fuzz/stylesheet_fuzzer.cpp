// A listing's stylesheet, as a host or a remote peer may send any text in its place: the check
// refuses it with a reason and no document, or lets it through to a transform of a small index,
// and neither crashes, leaks or hangs whatever the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "index/stylesheet_policy.h"
#include "index/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The record's field: 4096 bytes with a NUL at the end.
    std::string text(reinterpret_cast<const char*>(data), size < 4095 ? size : 4095);
    text = text.substr(0, text.find('\0'));
    cv::XmlDocument sheet;
    std::string why;
    if (!cv::LoadConfinedStylesheet(text.c_str(), &sheet, &why)) {
        FUZZ_CHECK(sheet.IsNull() && !why.empty());
        return 0;
    }
    cv::XmlDocument index, output;
    cv::XmlParseError parse_error;
    FUZZ_CHECK(cv::XmlDocument::Create(&index) && cv::XmlDocument::Create(&output));
    FUZZ_CHECK(index.LoadText("<BASEELEMENT><ELEMENT ID=\"a\"><START>2</START></ELEMENT>"
                              "<ELEMENT ID=\"b\"><START>1</START></ELEMENT></BASEELEMENT>",
                              &parse_error) == cv::XmlLoadResult::kLoaded);
    index.TransformInto(sheet, &output);
    return 0;
}
