// What the files of the XML DOM seam over libxml2 and libxslt share, and nothing else includes:
// the states behind documents and nodes (xml_document_posix.cpp), the conversion of texts
// (xml_text_posix.cpp) and the capture of the libraries' error reports (xml_errors_posix.cpp).
// The nodes' operations, the plain tree writer and the transform have files of their own.
//
// libxml2 frees a node only with its tree, while the DOM keeps every node alive as long as a
// reference holds it. So a document's state owns everything the document ever made: the nodes it
// created (those still unattached at the end are freed with it), the children that SetText took
// away, and earlier trees that a load or a transform replaced. Nothing is freed while a handle to
// the document or to one of its nodes remains.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "index/xml_document.h"

namespace cv {
namespace detail {

// ---- Ownership (xml_document_posix.cpp) --------------------------------------------------------

struct XmlDocumentState {
    xmlDocPtr doc = nullptr;
    std::vector<xmlDocPtr> retired;
    std::vector<xmlNodePtr> created;

    ~XmlDocumentState();

    // Puts a new tree in place of the current one, keeping the old one for nodes still held.
    // The new tree is the state's from the call on, whether or not the call returns.
    void Replace(xmlDocPtr fresh);
};

struct XmlNodeState {
    std::shared_ptr<XmlDocumentState> document;
    xmlNodePtr node = nullptr;  // null: the document itself, whatever tree it holds now

    xmlNodePtr Resolve() const {
        return node != nullptr ? node : reinterpret_cast<xmlNodePtr>(document->doc);
    }
};

struct XmlAccess {
    static const std::shared_ptr<XmlDocumentState>& State(const XmlDocument& document) {
        return document.state_;
    }
    static void SetState(XmlDocument* document, std::shared_ptr<XmlDocumentState> state) {
        document->state_ = std::move(state);
    }
    static const std::shared_ptr<XmlNodeState>& State(const XmlNode& node) { return node.state_; }
    static void SetNode(XmlNode* out, const std::shared_ptr<XmlDocumentState>& document,
                        xmlNodePtr node) {
        auto state = std::make_shared<XmlNodeState>();
        state->document = document;
        state->node = node;
        out->state_ = std::move(state);
    }
};

inline const XmlNodeState* StateOf(const XmlNode& node) {
    return XmlAccess::State(node).get();
}
inline const std::shared_ptr<XmlDocumentState>& StateOf(const XmlDocument& document) {
    return XmlAccess::State(document);
}

// Sets libxml2 and libxslt up, once per process, before the first document.
void InitializeLibraries();
xmlDocPtr NewEmptyDocument();

// Room for `more` nodes in the document's list of the nodes it made, made before they are, so that
// every node made is listed; the list at least doubles when it grows.
void MakeRoom(std::vector<xmlNodePtr>* list, size_t more);

// Links an unattached node in as the parent's last child. The node's content is never merged
// into a neighbour (xmlAddChild would merge adjacent texts and free the node).
void LinkLastChild(xmlNodePtr parent, xmlNodePtr node);

// ---- Texts (xml_text_posix.cpp): this build's code page is UTF-8 (platform/code_page.h) -------

std::string ToDomText(const char* text);

// A name of ASCII letters, digits, '_', '-' and '.' that starts with a letter or '_': a valid name
// (xml_document_posix.cpp), as every name the store gives is.
bool IsPlainAsciiName(const char* name);

// Printable ASCII, tab, line feed and carriage return only: a text that every conversion into the
// tree leaves as it is.
bool IsPrintableAscii(const char* text);

// A text on its way into the tree. Nearly every text the index stores is printable ASCII, which
// the conversion to UTF-8 and the making of a carriable text both leave as it is: such a text is
// used in place instead of being copied twice for every node of a folder scan.
class DomText {
  public:
    // `carriable`: control characters that a saved document cannot carry become '?'.
    DomText(const char* text, bool carriable);
    DomText(const DomText&) = delete;
    DomText& operator=(const DomText&) = delete;

    const xmlChar* get() const { return reinterpret_cast<const xmlChar*>(text_); }

  private:
    const char* text_;
    std::string converted_;
};

// The DOM's UTF-8 is this build's code page already.
std::string FromDomText(const xmlChar* text);

inline const xmlChar* AsXmlChars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// The text of a node and everything below it. The text of an element (or of the document) comes
// without white space at its ends, as the platform's DOM gives it; an attribute's value and a text
// node come as they are.
std::string NodeText(xmlNodePtr node);

// ---- Saving (xml_writer_posix.cpp, xml_stream_posix.cpp) --------------------------------------

// How a saved text carries each byte: as it is, as a character reference, or not at all by the
// plain writers (beyond ASCII: libxml2 escapes those in ways not worth copying).
enum ByteClass : unsigned char { kAsIs, kEscaped, kForeign };
struct ByteClasses {
    ByteClass of[256];
};
// libxml2's escapes for UTF-8 output: in texts &, <, > and CR; in attribute values also the quote,
// LF and tab.
constexpr ByteClasses MakeByteClasses(bool attribute) {
    ByteClasses classes{};
    for (int c = 0; c < 256; ++c) {
        const bool escaped = c == '&' || c == '<' || c == '>' || c == '\r' ||
                             (attribute && (c == '"' || c == '\n' || c == '\t'));
        classes.of[c] = c >= 0x80 ? kForeign : escaped ? kEscaped : kAsIs;
    }
    return classes;
}
constexpr ByteClasses kTextBytes = MakeByteClasses(false);
constexpr ByteClasses kAttributeBytes = MakeByteClasses(true);

// The reference that stands for an escaped byte in a saved text.
const char* EscapeOf(unsigned char c);

// ---- Errors (xml_errors_posix.cpp) -------------------------------------------------------------

constexpr uint32_t kUnspecifiedError = 0x80004005u;  // E_FAIL

// Collects what libxml2 and libxslt report while it is in scope on this thread, instead of the
// libraries printing it.
class ErrorCapture {
  public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    bool has_error() const { return has_error_; }
    int code() const { return code_; }
    int line() const { return line_; }
    int column() const { return column_; }
    const std::string& message() const { return message_; }

    // The printf-style channels (libxml2's generic one, libxslt's global one and a
    // transformation's), routed to the capture active on this thread.
    static void OnPrintfError(void*, const char* format, ...);

  private:
    static void OnXmlError(void* context, xmlErrorPtr error);
    void Record(int code, int line, int column, const char* message);

    static thread_local ErrorCapture* t_active;
    xmlStructuredErrorFunc previous_;
    void* previous_context_;
    xmlGenericErrorFunc previous_generic_;
    void* previous_generic_context_;
    ErrorCapture* outer_ = nullptr;
    bool has_error_ = false;
    int code_ = 0;
    int line_ = 0;
    int column_ = 0;
    std::string message_;
    std::string pending_;
};

// Fills the error record (where there is one) with an unspecified error of libxml2 that the
// description explains; false.
bool Fail(XmlError* error, const std::string& description);
// What a lookup of something that is not there answers: false, with an empty error record.
bool Absent(XmlError* error);

}  // namespace detail
}  // namespace cv
