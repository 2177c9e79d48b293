#include "index/stylesheet_policy.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace cv {
namespace {

constexpr const char* kXslt = "http://www.w3.org/1999/XSL/Transform";
constexpr const char* kOldXsl = "http://www.w3.org/TR/WD-xsl";

// Elements that reach outside or run code, by namespace and name (null: every element of the
// namespace). Those of the extension namespaces act only where a stylesheet declares them as
// extensions, but no sorting stylesheet needs them at all.
struct ForbiddenElement {
    const char* namespace_uri;
    const char* local_name;
    const char* why;
};
constexpr ForbiddenElement kForbiddenElements[] = {
    {kXslt, "include", "xsl:include reads another stylesheet"},
    {kXslt, "import", "xsl:import reads another stylesheet"},
    {kXslt, "document", "xsl:document writes a file"},
    {kOldXsl, "script", "it holds script"},
    {kOldXsl, "eval", "it holds script"},
    {"urn:schemas-microsoft-com:xslt", "script", "it holds script"},
    {"http://exslt.org/common", "document", "exsl:document writes a file"},
    {"http://xmlsoft.org/XSLT/namespace", nullptr, "it uses the XSLT processor's own extensions"},
    {"http://icl.com/saxon", nullptr, "it uses extensions that write files or evaluate text"},
    {"org.apache.xalan.xslt.extensions.Redirect", nullptr, "it uses extensions that write files"},
    {"http://www.jclark.com/xt", nullptr, "it uses extensions that write files"},
    {"http://www.w3.org/2001/XInclude", nullptr, "it includes other documents"},
    {"http://www.w3.org/2003/XInclude", nullptr, "it includes other documents"},
};

// Functions, by their name without a prefix, that load documents (document()) or evaluate a text
// as an expression, which would put any function within reach of a computed string.
constexpr const char* kForbiddenFunctions[] = {"document", "evaluate", "eval", "expression"};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool StartsWith(std::string_view text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// XML allows a document type declaration only in the prolog, before the root element, among the
// XML declaration, processing instructions, comments and white space. Anything else there is
// refused before a parser sees it, so that no DTD (and so no entity) ever reaches one.
bool HasPlainProlog(std::string_view text) {
    size_t at = 0;
    for (;;) {
        while (at < text.size() && IsXmlSpace(text[at])) ++at;
        const char* start = "<?";
        const char* end = "?>";
        if (StartsWith(text, at, "<!--")) {
            start = "<!--";
            end = "-->";
        } else if (!StartsWith(text, at, start)) {
            return at + 1 < text.size() && text[at] == '<' && text[at + 1] != '!' &&
                   text[at + 1] != '?';
        }
        size_t found = text.find(end, at + std::strlen(start));
        if (found == std::string_view::npos) return false;
        at = found + std::strlen(end);
    }
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsForbiddenFunction(std::string_view name) {
    size_t colon = name.rfind(':');
    if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
    for (const char* forbidden : kForbiddenFunctions) {
        if (name == forbidden) return true;
    }
    return false;
}

// Whether an XPath expression calls a forbidden function: a name followed, after white space, by
// an opening parenthesis, outside string literals. An unterminated literal runs to the end.
bool CallsForbiddenFunction(std::string_view expression) {
    for (size_t at = 0; at < expression.size();) {
        const char c = expression[at];
        if (c == '\'' || c == '"') {
            size_t close = expression.find(c, at + 1);
            if (close == std::string_view::npos) return false;
            at = close + 1;
        } else if (IsNameChar(c)) {
            const size_t start = at;
            while (at < expression.size() && IsNameChar(expression[at])) ++at;
            size_t next = at;
            while (next < expression.size() && IsXmlSpace(expression[next])) ++next;
            if (next < expression.size() && expression[next] == '(' &&
                IsForbiddenFunction(expression.substr(start, at - start))) {
                return true;
            }
        } else {
            ++at;
        }
    }
    return false;
}

// The same for an attribute value template: the expressions between braces ("{{" is a brace of
// the text).
bool TemplateCallsForbiddenFunction(std::string_view value) {
    for (size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '{') continue;
        if (at + 1 < value.size() && value[at + 1] == '{') {
            ++at;
            continue;
        }
        size_t end = at + 1;
        while (end < value.size() && value[end] != '}') {
            if (value[end] == '\'' || value[end] == '"') {
                size_t close = value.find(value[end], end + 1);
                end = close == std::string_view::npos ? value.size() : close + 1;
            } else {
                ++end;
            }
        }
        if (CallsForbiddenFunction(value.substr(at + 1, end - at - 1))) return true;
        at = end;
    }
    return false;
}

// The attributes of XSLT elements that hold an expression or a pattern.
bool IsExpressionAttribute(const std::string& name) {
    for (const char* expression : {"select", "test", "match", "use", "count", "from", "value"}) {
        if (name == expression) return true;
    }
    return false;
}

const char* ForbiddenUse(const XmlElementView& element) {
    for (const ForbiddenElement& forbidden : kForbiddenElements) {
        if (element.namespace_uri == forbidden.namespace_uri &&
            (forbidden.local_name == nullptr || element.local_name == forbidden.local_name)) {
            return forbidden.why;
        }
    }
    const bool xslt = element.namespace_uri == kXslt;
    const bool literal = element.namespace_uri.empty();
    for (const XmlAttributeView& attribute : element.attributes) {
        // An XSLT element's expressions are its attributes of these names, and its other
        // attributes are templates or plain names; a literal result element's attributes are
        // templates. What another namespace's elements make of theirs is not known here, so
        // those are read both ways, that neither reading hides a call.
        const bool expression = xslt && IsExpressionAttribute(attribute.name);
        if (((expression || !(xslt || literal)) && CallsForbiddenFunction(attribute.value)) ||
            (!expression && TemplateCallsForbiddenFunction(attribute.value))) {
            return "it loads documents or evaluates text (document(), evaluate())";
        }
        // The old dialect runs script from an attribute.
        if (element.namespace_uri == kOldXsl && attribute.name == "expr") return "it holds script";
    }
    return nullptr;
}

bool Refuse(std::string* why, const char* reason) {
    if (why != nullptr) *why = reason;
    return false;
}

}  // namespace

bool LoadConfinedStylesheet(const char* text, XmlDocument* sheet, std::string* why) {
    // An editor may save a sheet with a UTF-8 byte order mark. The host's text is in its own code
    // page, where those bytes would be three letters before the prolog, so the mark is dropped.
    if (StartsWith(text, 0, "\xEF\xBB\xBF")) text += 3;
    if (!HasPlainProlog(text)) {
        return Refuse(why, "it is not XML, or it has a document type declaration (DTD)");
    }
    XmlParseError parse_error;
    XmlError error;
    if (!XmlDocument::Create(sheet, &error)) return Refuse(why, "no XML document can be made");
    XmlLoadResult loaded = sheet->LoadStylesheetText(text, &parse_error, &error);
    if (loaded != XmlLoadResult::kLoaded) {
        sheet->Reset();
        return Refuse(why, loaded == XmlLoadResult::kRejected
                               ? "it is not well-formed XML"
                               : "the XML parser cannot be made to refuse external references");
    }
    std::vector<XmlElementView> elements;
    if (!sheet->ListElements(&elements, &error)) {
        sheet->Reset();
        return Refuse(why, "its elements cannot be read");
    }
    for (const XmlElementView& element : elements) {
        if (const char* reason = ForbiddenUse(element)) {
            sheet->Reset();
            return Refuse(why, reason);
        }
    }
    return true;
}

}  // namespace cv
