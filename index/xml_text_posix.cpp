// Texts between the seam's code page and libxml2's trees (see xml_document_posix.h).
#include "index/xml_document_posix.h"

#include "platform/code_page.h"

namespace cv {
namespace detail {
bool IsPrintableAscii(const char* text) {
    for (; *text != '\0'; ++text) {
        const unsigned char c = static_cast<unsigned char>(*text);
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

namespace {

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string ToDomText(const char* text) {
    return CodePageToUtf8(text ? text : "");
}

DomText::DomText(const char* text, bool carriable) {
    const char* given = text != nullptr ? text : "";
    if (IsPrintableAscii(given)) {
        text_ = given;
        return;
    }
    converted_ = ToDomText(carriable ? XmlCarriableText(given).c_str() : given);
    text_ = converted_.c_str();
}

std::string FromDomText(const xmlChar* text) {
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string NodeText(xmlNodePtr node) {
    const bool trimmed = node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE;
    if (node->type == XML_DOCUMENT_NODE) node = xmlDocGetRootElement(node->doc);
    if (node == nullptr) return std::string();
    xmlChar* content = xmlNodeGetContent(node);
    std::string out = FromDomText(content);
    xmlFree(content);
    if (trimmed) {
        size_t begin = 0;
        size_t end = out.size();
        while (begin < end && IsXmlSpace(out[begin])) ++begin;
        while (end > begin && IsXmlSpace(out[end - 1])) --end;
        out = out.substr(begin, end - begin);
    }
    return out;
}

}  // namespace detail
}  // namespace cv
