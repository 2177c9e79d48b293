#include "index/xml_document.h"

namespace cv {
namespace detail {

std::string XmlCarriableText(const char* text) {
    std::string carried(text ? text : "");
    for (char& c : carried) {
        unsigned char byte = static_cast<unsigned char>(c);
        // A document with one of these in a text cannot be saved and loaded back.
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') c = '?';
    }
    return carried;
}

}  // namespace detail
}  // namespace cv
