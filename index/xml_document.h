// The XML DOM seam of the folder index: exactly the document operations that the index, its
// calendar scan, the list enumeration and the property map need, over the platform's DOM (the
// COM DOM document in the Windows build, libxml2 and libxslt natively).
//
// Texts cross this seam as NUL-terminated 8-bit texts in the system's code page (on Windows the
// ANSI code page; natively UTF-8, where a byte that is not part of valid UTF-8 is read as its
// Windows-1252 character); the documents hold Unicode. A character that the code page lacks comes
// back as '?'. Characters that an XML document cannot carry at all (the control characters other
// than tab, line feed and carriage return) are stored as '?', so that whatever a header line holds,
// the saved index loads back.
//
// Documents and nodes are counted references: copies share the object, Reset gives the reference
// back exactly once, and a node keeps its document alive. Every operation answers true on success;
// on failure it answers false and, when an error record is given, fills it. Lookups of something
// that is not there (no document element, no such child, no such attribute) answer false with an
// error code of 0.
//
// Serialisation (declaration, encoding, white space) is each DOM's own; what one build saves the
// other loads into the same tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cv {

// An error raised by the DOM: the result code (an HRESULT), the system's message text for it, the
// component that raised it and its description. Natively the code is a COM-style code as well,
// and source and description come from libxml2.
struct XmlError {
    uint32_t code = 0;
    std::string meaning;
    std::string source;
    std::string description;
};

// Why a load did not give a document: the DOM's parse error. kXmlFileNotFound is the code of a
// file that is not there.
struct XmlParseError {
    uint32_t code = 0;
    int32_t line = 0;
    int32_t position = 0;  // within the line
    std::string reason;
};
constexpr uint32_t kXmlFileNotFound = 0x800C0005u;

// Node types, with the DOM's numbers.
enum class XmlNodeType { kOther = 0, kElement = 1, kAttribute = 2, kText = 3, kDocument = 9 };

// An element as a check of a document's content sees it: the namespace it belongs to, its name
// within that namespace, and each attribute's name (with its prefix, as written) and value.
struct XmlAttributeView {
    std::string name;
    std::string value;
};
struct XmlElementView {
    std::string namespace_uri;
    std::string local_name;
    std::vector<XmlAttributeView> attributes;
};

enum class XmlLoadResult {
    kLoaded,
    kRejected,  // the DOM refused the text or file: the parse error tells why
    kFailed,    // the DOM raised an error: the error record tells it
};

namespace detail {
struct XmlDocumentState;
struct XmlNodeState;
struct XmlAccess;
}  // namespace detail

class XmlNode {
  public:
    XmlNode() = default;
    bool IsNull() const { return !state_; }
    void Reset() { state_.reset(); }

    // kOther for a null node.
    XmlNodeType Type() const;
    bool Name(std::string* name, XmlError* error = nullptr) const;
    // The text of the node and everything below it; an element's without white space at its ends
    // (ChildElementText too). Attribute values come as they are.
    bool Text(std::string* text, XmlError* error = nullptr) const;
    // The node and everything below it as XML text.
    bool Xml(std::string* xml, XmlError* error = nullptr) const;

    // Replaces the node's content with a text.
    bool SetText(const char* text, XmlError* error = nullptr);
    // Attaches a node as the last child. A document takes only one root element: a second one is
    // refused, and the first stays.
    bool AppendChild(const XmlNode& child, XmlError* error = nullptr);
    // Attaches an attribute node to an element (replacing one of the same name).
    bool SetAttributeNode(const XmlNode& attribute, XmlError* error = nullptr);

    // The value of an element's attribute.
    bool Attribute(const char* name, std::string* value, XmlError* error = nullptr) const;
    // The first child, and the node after this one under the same parent. The children are
    // walked with these two only, in constant steps: there is no access by position, which costs
    // a walk from the first child in both DOMs and made walks of large indexes quadratic.
    bool FirstChild(XmlNode* child, XmlError* error = nullptr) const;
    bool NextSibling(XmlNode* next, XmlError* error = nullptr) const;
    // The text of the first child element with that name.
    bool ChildElementText(const char* name, std::string* text, XmlError* error = nullptr) const;

  private:
    friend struct detail::XmlAccess;
    std::shared_ptr<detail::XmlNodeState> state_;
};

class XmlDocument {
  public:
    XmlDocument() = default;
    // A new, empty document in *document. Fails when the DOM cannot be had; in the Windows build
    // that is the case on a thread that has not initialised COM (the library never does).
    static bool Create(XmlDocument* document, XmlError* error = nullptr);

    bool IsNull() const { return !state_; }
    void Reset() { state_.reset(); }

    // The document itself as a node, to append the root element to.
    bool AsNode(XmlNode* node, XmlError* error = nullptr) const;
    // A new, unattached node of type element or attribute, with an empty namespace.
    bool CreateNode(XmlNodeType type, const char* name, XmlNode* node,
                    XmlError* error = nullptr) const;
    bool CreateElement(const char* name, XmlNode* node, XmlError* error = nullptr) const;
    // Appends a new element holding a text to an element of this document: CreateElement, SetText
    // and AppendChild in one step, without a handle to the new element. A folder scan appends a
    // dozen of these to the element of every appointment.
    bool AppendTextElement(XmlNode* parent, const char* name, const char* text,
                           XmlError* error = nullptr) const;
    bool DocumentElement(XmlNode* element, XmlError* error = nullptr) const;

    // Writes the document to the file, creating or replacing it.
    bool Save(const char* path, XmlError* error = nullptr) const;
    // Replaces the document's content by the file's, or by the text's. On kRejected the parse
    // error is filled, on kFailed the error record; the document is empty afterwards either way.
    XmlLoadResult Load(const char* path, XmlParseError* parse_error, XmlError* error = nullptr);
    XmlLoadResult LoadText(const char* text, XmlParseError* parse_error, XmlError* error = nullptr);
    // LoadText for a stylesheet that someone else wrote: nothing it names is fetched, and, where
    // the DOM has such switches, its transforms may neither run script nor load documents. A DOM
    // that cannot be told so answers kFailed rather than load it.
    XmlLoadResult LoadStylesheetText(const char* text, XmlParseError* parse_error,
                                     XmlError* error = nullptr);
    // Every element of the document, in document order.
    bool ListElements(std::vector<XmlElementView>* elements, XmlError* error = nullptr) const;
    // Applies the stylesheet document to this document and builds the result in *output. The
    // transform reads and writes no file, reaches no network and runs no script: a stylesheet
    // that tries fails (a DOM that cannot be told so does not transform at all).
    bool TransformInto(const XmlDocument& stylesheet, XmlDocument* output,
                       XmlError* error = nullptr) const;

  private:
    friend struct detail::XmlAccess;
    std::shared_ptr<detail::XmlDocumentState> state_;
};

namespace detail {
// The text as a document may hold it: the control characters that XML forbids become '?'.
std::string XmlCarriableText(const char* text);
}  // namespace detail

}  // namespace cv
