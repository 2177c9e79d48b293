// The XML DOM seam over libxml2 and libxslt.
//
// libxml2 frees a node only with its tree, while the DOM keeps every node alive as long as a
// reference holds it. So a document's state owns everything the document ever made: the nodes it
// created (those still unattached at the end are freed with it), the children that SetText took
// away, and earlier trees that a load or a transform replaced. Nothing is freed while a handle to
// the document or to one of its nodes remains.
//
// Documents are parsed without a name dictionary (XML_PARSE_NODICT), so that nodes can move
// between trees and be freed with any of them. Files are read and written through the platform
// seam, which maps the store's backslash paths; libxml2 never touches the file system or the
// network, and a stylesheet may neither read nor write files nor reach the network.
#include "index/xml_document.h"

#include "platform/code_page.h"

#include <algorithm>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace cv {
namespace detail {

struct XmlDocumentState {
    xmlDocPtr doc = nullptr;
    std::vector<xmlDocPtr> retired;
    std::vector<xmlNodePtr> created;

    ~XmlDocumentState() {
        // Unattached nodes first, found before anything is freed: freeing one subtree must not
        // leave a dangling node to look at. A node can be listed twice (made here, then taken off
        // a tree again by SetText or by an attribute set in its place), but it is freed once.
        // The list is sorted in place, since a destructor has no room to fail in.
        auto loose_end = std::partition(created.begin(), created.end(),
                                        [](xmlNodePtr node) { return node->parent == nullptr; });
        std::sort(created.begin(), loose_end);
        loose_end = std::unique(created.begin(), loose_end);
        for (auto it = created.begin(); it != loose_end; ++it) {
            xmlNodePtr node = *it;
            if (node->type == XML_ATTRIBUTE_NODE) {
                xmlFreeProp(reinterpret_cast<xmlAttrPtr>(node));
            } else {
                xmlFreeNode(node);
            }
        }
        for (xmlDocPtr old : retired) xmlFreeDoc(old);
        if (doc != nullptr) xmlFreeDoc(doc);
    }

    // Puts a new tree in place of the current one, keeping the old one for nodes still held.
    // The new tree is the state's from the call on, whether or not the call returns.
    void Replace(xmlDocPtr fresh) {
        if (doc != nullptr) {
            try {
                retired.push_back(doc);
            } catch (...) {
                xmlFreeDoc(fresh);
                throw;
            }
        }
        doc = fresh;
    }
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

}  // namespace detail

namespace {

using detail::XmlAccess;
using detail::XmlDocumentState;
using detail::XmlNodeState;

constexpr uint32_t kUnspecifiedError = 0x80004005u;  // E_FAIL
constexpr const char* kErrorSource = "libxml2";

// Room for `more` nodes in the document's list of the nodes it made, made before they are, so that
// every node made is listed. The list at least doubles when it grows: grown by what each call
// needs, it was copied whole at every node, and a folder index of thousands of appointments took
// the square of their number.
void MakeRoom(std::vector<xmlNodePtr>* list, size_t more) {
    if (list->capacity() - list->size() >= more) return;
    list->reserve(std::max(list->size() + more, 2 * list->capacity()));
}

// ---- Texts: this build's code page is UTF-8 (see common/code_page.h) ---------------------------

std::string ToDomText(const char* text) {
    return CodePageToUtf8(text ? text : "");
}

// A text on its way into the tree. Nearly every text the index stores is printable ASCII, which
// the conversion to UTF-8 and the making of a carriable text both leave as it is: such a text is
// used in place instead of being copied twice for every node of a folder scan.
class DomText {
  public:
    // `carriable`: control characters that a saved document cannot carry become '?'.
    DomText(const char* text, bool carriable) {
        const char* given = text != nullptr ? text : "";
        if (IsPrintableAscii(given)) {
            text_ = given;
            return;
        }
        converted_ = ToDomText(carriable ? detail::XmlCarriableText(given).c_str() : given);
        text_ = converted_.c_str();
    }
    DomText(const DomText&) = delete;
    DomText& operator=(const DomText&) = delete;

    const xmlChar* get() const { return reinterpret_cast<const xmlChar*>(text_); }

  private:
    static bool IsPrintableAscii(const char* text) {
        for (; *text != '\0'; ++text) {
            const unsigned char c = static_cast<unsigned char>(*text);
            if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') return false;
        }
        return true;
    }

    const char* text_;
    std::string converted_;
};

// The DOM's UTF-8 is this build's code page already.
std::string FromDomText(const xmlChar* text) {
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

const xmlChar* AsXmlChars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// ---- Errors -----------------------------------------------------------------------------------

std::string Trimmed(const char* text) {
    std::string out(text ? text : "");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// Collects what libxml2 and libxslt report while it is in scope on this thread, instead of the
// libraries printing it.
class ErrorCapture {
  public:
    ErrorCapture()
        : previous_(xmlStructuredError),
          previous_context_(xmlStructuredErrorContext),
          previous_generic_(xmlGenericError),
          previous_generic_context_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(this, OnXmlError);
        // Some messages (XPath's among them) bypass the structured channel.
        xmlSetGenericErrorFunc(nullptr, OnPrintfError);
        outer_ = t_active;
        t_active = this;
    }
    ~ErrorCapture() {
        t_active = outer_;
        xmlSetGenericErrorFunc(previous_generic_context_, previous_generic_);
        xmlSetStructuredErrorFunc(previous_context_, previous_);
    }
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    bool has_error() const { return has_error_; }
    int code() const { return code_; }
    int line() const { return line_; }
    int column() const { return column_; }
    const std::string& message() const { return message_; }

    // The printf-style channels (libxml2's generic one, libxslt's global one and a
    // transformation's), routed to the capture active on this thread.
    static void OnPrintfError(void*, const char* format, ...) {
        ErrorCapture* self = t_active;
        if (self == nullptr || self->has_error_) return;
        char text[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        // A message may come in pieces; it is complete with its line break.
        self->pending_ += text;
        if (self->pending_.find('\n') != std::string::npos) {
            self->Record(0, 0, 0, self->pending_.c_str());
        }
    }

  private:
    static void OnXmlError(void* context, xmlErrorPtr error) {
        auto* self = static_cast<ErrorCapture*>(context);
        if (error == nullptr || error->level < XML_ERR_ERROR) return;
        self->Record(error->code, error->line, error->int2, error->message);
    }
    void Record(int code, int line, int column, const char* message) {
        if (has_error_) return;  // the first error is the cause; the rest follow from it
        has_error_ = true;
        code_ = code;
        line_ = line;
        column_ = column;
        message_ = Trimmed(message);
    }

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

thread_local ErrorCapture* ErrorCapture::t_active = nullptr;

bool Fail(XmlError* error, const std::string& description) {
    if (error != nullptr) {
        error->code = kUnspecifiedError;
        error->meaning = "Unspecified error";
        error->source = kErrorSource;
        error->description = description;
    }
    return false;
}

bool Absent(XmlError* error) {
    if (error != nullptr) *error = XmlError();
    return false;
}

void InitializeLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xsltInit();
        xsltSetGenericErrorFunc(nullptr, ErrorCapture::OnPrintfError);
    });
}

xmlDocPtr NewEmptyDocument() {
    return xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
}

// ---- Nodes --------------------------------------------------------------------------------

const XmlNodeState* StateOf(const XmlNode& node) {
    return XmlAccess::State(node).get();
}

// Links an unattached node in as the parent's last child. The node's content is never merged
// into a neighbour (xmlAddChild would merge adjacent texts and free the node).
void LinkLastChild(xmlNodePtr parent, xmlNodePtr node) {
    node->parent = parent;
    node->prev = parent->last;
    node->next = nullptr;
    if (parent->last != nullptr) {
        parent->last->next = node;
    } else {
        parent->children = node;
    }
    parent->last = node;
}

// A name of ASCII letters, digits, '_', '-' and '.' that starts with a letter or '_', as every
// name the store gives is, is valid without asking libxml2, which decodes it character by
// character.
bool IsPlainAsciiName(const xmlChar* name) {
    auto letter = [](xmlChar c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (!letter(name[0])) return false;
    for (const xmlChar* at = name + 1; *at != '\0'; ++at) {
        if (!letter(*at) && !(*at >= '0' && *at <= '9') && *at != '-' && *at != '.') return false;
    }
    return true;
}

bool IsValidName(const xmlChar* name) {
    return IsPlainAsciiName(name) || (name[0] != '\0' && xmlValidateName(name, 0) == 0);
}

std::string NodeXml(xmlDocPtr doc, xmlNodePtr node) {
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (buffer == nullptr) return std::string();
    if (node->type == XML_DOCUMENT_NODE) {
        for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
            xmlNodeDump(buffer.get(), doc, child, 0, 0);
        }
    } else {
        xmlNodeDump(buffer.get(), doc, node, 0, 0);
    }
    return FromDomText(xmlBufferContent(buffer.get()));
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text of a node and everything below it. The text of an element (or of the document) comes
// without white space at its ends, as the platform's DOM gives it; an attribute's value and a text
// node come as they are.
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

bool IsInside(xmlNodePtr node, xmlNodePtr ancestor) {
    for (; node != nullptr; node = node->parent) {
        if (node == ancestor) return true;
    }
    return false;
}

}  // namespace

XmlNodeType XmlNode::Type() const {
    if (IsNull()) return XmlNodeType::kOther;
    switch (state_->Resolve()->type) {
        case XML_ELEMENT_NODE:
            return XmlNodeType::kElement;
        case XML_ATTRIBUTE_NODE:
            return XmlNodeType::kAttribute;
        case XML_TEXT_NODE:
            return XmlNodeType::kText;
        case XML_DOCUMENT_NODE:
            return XmlNodeType::kDocument;
        default:
            return XmlNodeType::kOther;
    }
}

bool XmlNode::Name(std::string* name, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    xmlNodePtr node = state_->Resolve();
    if (node->type == XML_DOCUMENT_NODE) {
        *name = "#document";
    } else if (node->type == XML_TEXT_NODE) {
        *name = "#text";
    } else {
        *name = FromDomText(node->name);
    }
    return true;
}

bool XmlNode::Text(std::string* text, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    *text = NodeText(state_->Resolve());
    return true;
}

bool XmlNode::Xml(std::string* xml, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    ErrorCapture capture;
    *xml = NodeXml(state_->document->doc, state_->Resolve());
    return true;
}

bool XmlNode::SetText(const char* text, XmlError* error) {
    if (IsNull()) return Fail(error, "No node");
    xmlNodePtr node = state_->Resolve();
    if (node->type == XML_DOCUMENT_NODE) return Fail(error, "A document holds no text");
    XmlDocumentState& document = *state_->document;
    const DomText utf8(text, true);
    if (node->type == XML_TEXT_NODE) {
        xmlNodeSetContent(node, utf8.get());  // a text node's content is taken as it stands
        return true;
    }
    // The old children may still be held by someone: they leave the tree but live on, each kept
    // in the list of nodes that the document frees (room made first, so that none is lost).
    size_t children = 0;
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) ++children;
    MakeRoom(&document.created, children);
    while (node->children != nullptr) {
        xmlNodePtr child = node->children;
        xmlUnlinkNode(child);
        document.created.push_back(child);
    }
    xmlNodePtr text_node = xmlNewDocText(node->doc, utf8.get());
    if (text_node == nullptr) return Fail(error, "Out of memory");
    if (node->type == XML_ATTRIBUTE_NODE) {
        // An attribute's value is its one text child.
        text_node->parent = node;
        node->children = node->last = text_node;
    } else if (xmlAddChild(node, text_node) == nullptr) {
        xmlFreeNode(text_node);
        return Fail(error, "The node cannot hold text");
    }
    return true;
}

bool XmlNode::AppendChild(const XmlNode& child, XmlError* error) {
    const XmlNodeState* other = StateOf(child);
    if (IsNull() || other == nullptr) return Fail(error, "No node");
    if (other->document != state_->document) {
        return Fail(error, "The node belongs to another document");
    }
    xmlNodePtr parent = state_->Resolve();
    xmlNodePtr node = other->Resolve();
    if (node->type != XML_ELEMENT_NODE && node->type != XML_TEXT_NODE) {
        return Fail(error, "This kind of node cannot be appended");
    }
    if (IsInside(parent, node)) return Fail(error, "A node cannot be appended below itself");
    if (parent->type == XML_DOCUMENT_NODE) {
        xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent));
        if (node->type != XML_ELEMENT_NODE || (root != nullptr && root != node)) {
            return Fail(error, "A document has only one root element");
        }
    } else if (parent->type != XML_ELEMENT_NODE) {
        return Fail(error, "This node takes no children");
    }
    // As in the DOM, appending moves a node that sits elsewhere.
    xmlUnlinkNode(node);
    if (node->doc != parent->doc) xmlSetTreeDoc(node, parent->doc);
    LinkLastChild(parent, node);
    return true;
}

bool XmlNode::SetAttributeNode(const XmlNode& attribute, XmlError* error) {
    const XmlNodeState* other = StateOf(attribute);
    if (IsNull() || other == nullptr) return Fail(error, "No node");
    if (other->document != state_->document) {
        return Fail(error, "The node belongs to another document");
    }
    xmlNodePtr element = state_->Resolve();
    xmlNodePtr node = other->Resolve();
    if (element->type != XML_ELEMENT_NODE || node->type != XML_ATTRIBUTE_NODE) {
        return Fail(error, "Only an attribute can be set on an element");
    }
    if (node->parent == element) return true;
    if (node->parent != nullptr) return Fail(error, "The attribute belongs to another element");
    xmlAttrPtr old = xmlHasProp(element, node->name);
    if (old != nullptr) {
        xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(old));
        state_->document->created.push_back(reinterpret_cast<xmlNodePtr>(old));
    }
    xmlAttrPtr attr = reinterpret_cast<xmlAttrPtr>(node);
    attr->parent = element;
    attr->doc = element->doc;
    attr->next = nullptr;
    attr->prev = nullptr;
    if (element->properties == nullptr) {
        element->properties = attr;
    } else {
        xmlAttrPtr last = element->properties;
        while (last->next != nullptr) last = last->next;
        last->next = attr;
        attr->prev = last;
    }
    return true;
}

bool XmlNode::Attribute(const char* name, std::string* value, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    xmlNodePtr element = state_->Resolve();
    if (element->type != XML_ELEMENT_NODE) return Absent(error);
    xmlAttrPtr attr = xmlHasProp(element, AsXmlChars(ToDomText(name)));
    if (attr == nullptr || attr->type != XML_ATTRIBUTE_NODE) return Absent(error);
    *value = NodeText(reinterpret_cast<xmlNodePtr>(attr));
    return true;
}

bool XmlNode::FirstChild(XmlNode* child, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    xmlNodePtr node = state_->Resolve()->children;
    if (node == nullptr) return Absent(error);
    XmlAccess::SetNode(child, state_->document, node);
    return true;
}

bool XmlNode::NextSibling(XmlNode* next, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    xmlNodePtr node = state_->Resolve()->next;
    if (node == nullptr) return Absent(error);
    XmlAccess::SetNode(next, state_->document, node);
    return true;
}

bool XmlNode::ChildElementText(const char* name, std::string* text, XmlError* error) const {
    if (IsNull()) return Fail(error, "No node");
    std::string wanted = ToDomText(name);
    for (xmlNodePtr child = state_->Resolve()->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE &&
            std::strcmp(reinterpret_cast<const char*>(child->name), wanted.c_str()) == 0) {
            *text = NodeText(child);
            return true;
        }
    }
    return Absent(error);
}

// ---- Documents ----------------------------------------------------------------------------

namespace {

const std::shared_ptr<XmlDocumentState>& StateOf(const XmlDocument& document) {
    return XmlAccess::State(document);
}

// Parses a text into a new tree. Null when the text is refused, with the parse error filled.
xmlDocPtr Parse(const char* data, size_t size, bool utf8_given, XmlParseError* parse_error) {
    ErrorCapture capture;
    if (size > static_cast<size_t>(INT_MAX)) {
        if (parse_error != nullptr) {
            *parse_error = XmlParseError();
            parse_error->code = kUnspecifiedError;
            parse_error->reason = "The document is too large";
        }
        return nullptr;
    }
    int options = XML_PARSE_NODICT | XML_PARSE_NOBLANKS | XML_PARSE_NONET;
    if (utf8_given) options |= XML_PARSE_IGNORE_ENC;
    xmlDocPtr doc = xmlReadMemory(data, static_cast<int>(size), nullptr,
                                  utf8_given ? "UTF-8" : nullptr, options);
    if (doc == nullptr && parse_error != nullptr) {
        *parse_error = XmlParseError();
        parse_error->code =
            capture.has_error() ? static_cast<uint32_t>(capture.code()) : kUnspecifiedError;
        parse_error->line = capture.line();
        parse_error->position = capture.column();
        parse_error->reason = capture.has_error() ? capture.message() : "The text is no document";
    }
    return doc;
}

XmlLoadResult Loaded(XmlDocumentState* state, xmlDocPtr doc) {
    if (doc != nullptr) {
        state->Replace(doc);
        return XmlLoadResult::kLoaded;
    }
    state->Replace(NewEmptyDocument());
    return XmlLoadResult::kRejected;
}

}  // namespace

bool XmlDocument::Create(XmlDocument* document, XmlError* error) {
    InitializeLibraries();
    auto state = std::make_shared<XmlDocumentState>();
    state->doc = NewEmptyDocument();
    if (state->doc == nullptr) return Fail(error, "Out of memory");
    XmlAccess::SetState(document, std::move(state));
    return true;
}

bool XmlDocument::AsNode(XmlNode* node, XmlError* error) const {
    if (IsNull()) return Fail(error, "No document");
    XmlAccess::SetNode(node, state_, nullptr);
    return true;
}

bool XmlDocument::CreateNode(XmlNodeType type, const char* name, XmlNode* node,
                             XmlError* error) const {
    if (IsNull()) return Fail(error, "No document");
    const DomText utf8(name, false);
    if (!IsValidName(utf8.get())) return Fail(error, "The name is not a valid XML name");
    // Room in the list of the document's nodes first: a node made must be in it.
    MakeRoom(&state_->created, 1);
    xmlNodePtr made = nullptr;
    if (type == XmlNodeType::kElement) {
        made = xmlNewDocNode(state_->doc, nullptr, utf8.get(), nullptr);
    } else if (type == XmlNodeType::kAttribute) {
        made = reinterpret_cast<xmlNodePtr>(xmlNewDocProp(state_->doc, utf8.get(), nullptr));
    } else {
        return Fail(error, "Only elements and attributes are made here");
    }
    if (made == nullptr) return Fail(error, "Out of memory");
    state_->created.push_back(made);
    XmlAccess::SetNode(node, state_, made);
    return true;
}

bool XmlDocument::CreateElement(const char* name, XmlNode* node, XmlError* error) const {
    return CreateNode(XmlNodeType::kElement, name, node, error);
}

bool XmlDocument::AppendTextElement(XmlNode* parent, const char* name, const char* text,
                                    XmlError* error) const {
    const XmlNodeState* at = parent != nullptr ? StateOf(*parent) : nullptr;
    if (IsNull() || at == nullptr) return Fail(error, "No node");
    if (at->document != state_) return Fail(error, "The node belongs to another document");
    xmlNodePtr element = at->Resolve();
    if (element->type != XML_ELEMENT_NODE) return Fail(error, "This node takes no children");
    const DomText utf8_name(name, false);
    if (!IsValidName(utf8_name.get())) return Fail(error, "The name is not a valid XML name");
    const DomText utf8_text(text, true);
    // Made, filled and linked in at once: the new element is in the tree from the start, and the
    // tree frees it, so it need not be listed among the document's loose nodes.
    xmlNodePtr child = xmlNewDocNode(element->doc, nullptr, utf8_name.get(), nullptr);
    xmlNodePtr text_node =
        child != nullptr ? xmlNewDocText(element->doc, utf8_text.get()) : nullptr;
    if (text_node == nullptr) {
        if (child != nullptr) xmlFreeNode(child);
        return Fail(error, "Out of memory");
    }
    LinkLastChild(child, text_node);
    LinkLastChild(element, child);
    return true;
}

bool XmlDocument::DocumentElement(XmlNode* element, XmlError* error) const {
    if (IsNull()) return Fail(error, "No document");
    xmlNodePtr root = xmlDocGetRootElement(state_->doc);
    if (root == nullptr) return Absent(error);
    XmlAccess::SetNode(element, state_, root);
    return true;
}

// ---- Saving -------------------------------------------------------------------------------

// Deeper trees, which only a transform could make, go to libxml2's dump, which does not recurse.
constexpr int kMaxPlainDepth = 256;

// How the plain writer treats each byte of a text: as it is, as a character reference, or as the
// sign of a tree it does not write (beyond ASCII: libxml2 escapes those in ways not worth copying).
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

// Writes a plain document as libxml2's formatted dump would: the declaration, two spaces of
// indentation per level, an element's content on one line once it holds text. A plain document
// is one root element, and below it elements without namespaces, their attributes and texts, all
// of it ASCII. A folder index is such a tree of hundreds of thousands of nodes, and the general
// dump spends most of its time on questions that such trees never raise; it also builds the whole
// text in memory first, where this writes it to the file as it goes. The tree is checked as it is
// written, in the one pass: at the first node that is not plain the writer gives up, and the
// caller writes the file anew from libxml2's dump.
class PlainTreeWriter {
  public:
    enum class Result { kWritten, kNotPlain, kFailed };

    explicit PlainTreeWriter(File* file) : file_(*file) {}

    Result Document(const xmlDoc* doc) {
        const bool plain = doc->version != nullptr &&
                           std::strcmp(reinterpret_cast<const char*>(doc->version), "1.0") == 0 &&
                           doc->standalone == -1 && doc->intSubset == nullptr &&
                           doc->extSubset == nullptr && doc->children != nullptr &&
                           doc->children->next == nullptr;
        if (!plain) return Result::kNotPlain;
        Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        const bool whole = Element(doc->children, 0, true);
        Put("\n");
        Flush();
        if (!ok_) return Result::kFailed;
        return whole ? Result::kWritten : Result::kNotPlain;
    }

  private:
    void Put(const char* text, size_t length) {
        if (length > sizeof buffer_ - used_) {
            Flush();
            if (length > sizeof buffer_) {
                ok_ = ok_ && file_.Write(text, length);
                return;
            }
        }
        std::memcpy(buffer_ + used_, text, length);
        used_ += length;
    }
    template <size_t N>
    void Put(const char (&text)[N]) {
        Put(text, N - 1);
    }
    void Indent(int level) {
        static const char kSpaces[] =
            "                                                            ";
        Put(kSpaces, static_cast<size_t>(2 * std::min(level, 30)));  // libxml2 stops at 60
    }
    void Flush() {
        ok_ = ok_ && file_.Write(buffer_, used_);
        used_ = 0;
    }

    // The length of a plain name (ASCII), or 0 when it is not one.
    static size_t PlainNameLength(const xmlChar* name) {
        if (name == nullptr) return 0;
        const size_t length = std::strlen(reinterpret_cast<const char*>(name));
        unsigned bits = 0;  // or-ed over the name, so that the loop runs over words at a time
        for (size_t i = 0; i < length; ++i) bits |= name[i];
        return (bits & 0x80) == 0 ? length : 0;
    }

    // The length of the run at the start of `text` that goes out as it is.
    static size_t AsIsLength(const unsigned char* text, const ByteClasses& classes) {
        size_t length = 0;
        while (text[length] != '\0' && classes.of[text[length]] == kAsIs) ++length;
        return length;
    }

    // An element's or an attribute's name, as it is; its length, or 0 when it is not plain.
    size_t Name(const xmlChar* name) {
        const size_t length = PlainNameLength(name);
        Put(reinterpret_cast<const char*>(name), length);
        return length;
    }

    // A text node's content, escaped; false when it is not plain.
    bool Text(const xmlNode* text, const ByteClasses& classes) {
        if (text->type != XML_TEXT_NODE || text->name != xmlStringText) return false;
        const unsigned char* p = text->content;
        if (p == nullptr) return true;
        for (;;) {
            const size_t run = AsIsLength(p, classes);  // the runs between escapes go whole
            Put(reinterpret_cast<const char*>(p), run);
            p += run;
            if (*p == '\0') return true;
            if (classes.of[*p] == kForeign) return false;
            switch (*p++) {
                case '&':
                    Put("&amp;");
                    break;
                case '<':
                    Put("&lt;");
                    break;
                case '>':
                    Put("&gt;");
                    break;
                case '\r':
                    Put("&#13;");
                    break;
                case '"':
                    Put("&quot;");
                    break;
                case '\n':
                    Put("&#10;");
                    break;
                default:
                    Put("&#9;");
                    break;  // the tab
            }
        }
    }

    // An element that holds one text and nothing else, as nearly every element of a folder index
    // does, written in one piece when it needs no escape. False, having written nothing, for any
    // other element: the general path takes it.
    bool Leaf(const xmlNode* node, int level, bool formatted) {
        const xmlNode* text = node->children;
        if (node->properties != nullptr || text == nullptr || text->next != nullptr ||
            text->type != XML_TEXT_NODE || text->name != xmlStringText ||
            text->content == nullptr) {
            return false;
        }
        const unsigned char* name = node->name;
        const size_t name_length = PlainNameLength(name);
        const unsigned char* content = text->content;
        const size_t text_length = AsIsLength(content, kTextBytes);
        if (content[text_length] != '\0') return false;  // an escape, or beyond ASCII
        const size_t indent = formatted ? static_cast<size_t>(2 * std::min(level, 30)) : 0;
        const size_t total = indent + 2 * name_length + text_length + 5;  // <n>text</n>
        if (name_length == 0 || total > sizeof buffer_) return false;
        if (total > sizeof buffer_ - used_) Flush();
        char* out = buffer_ + used_;
        std::memset(out, ' ', indent);
        out += indent;
        *out++ = '<';
        std::memcpy(out, name, name_length);
        out += name_length;
        *out++ = '>';
        std::memcpy(out, content, text_length);
        out += text_length;
        *out++ = '<';
        *out++ = '/';
        std::memcpy(out, name, name_length);
        out += name_length;
        *out++ = '>';
        used_ += total;
        return true;
    }

    bool Element(const xmlNode* node, int level, bool formatted) {
        if (level > kMaxPlainDepth || node->type != XML_ELEMENT_NODE || node->ns != nullptr ||
            node->nsDef != nullptr) {
            return false;
        }
        if (Leaf(node, level, formatted)) return true;
        if (formatted) Indent(level);
        Put("<");
        const size_t name_length = Name(node->name);
        if (name_length == 0) return false;
        for (const xmlAttr* attribute = node->properties; attribute != nullptr;
             attribute = attribute->next) {
            if (attribute->ns != nullptr) return false;
            Put(" ");
            if (Name(attribute->name) == 0) return false;
            Put("=\"");
            for (const xmlNode* text = attribute->children; text != nullptr; text = text->next) {
                if (!Text(text, kAttributeBytes)) return false;
            }
            Put("\"");
        }
        if (node->children == nullptr) {
            Put("/>");
            return true;
        }
        // An element that holds text is written on one line, all of its content unindented.
        bool children_formatted = formatted;
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
            if (child->type == XML_TEXT_NODE) children_formatted = false;
        }
        Put(children_formatted ? ">\n" : ">", children_formatted ? 2 : 1);
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
            const bool plain = child->type == XML_TEXT_NODE
                                   ? Text(child, kTextBytes)
                                   : Element(child, level + 1, children_formatted);
            if (!plain) return false;
            if (children_formatted) Put("\n");
        }
        if (children_formatted) Indent(level);
        Put("</");
        Put(reinterpret_cast<const char*>(node->name), name_length);
        Put(">");
        return true;
    }

    File& file_;
    char buffer_[64 * 1024];
    size_t used_ = 0;
    bool ok_ = true;
};

bool XmlDocument::Save(const char* path, XmlError* error) const {
    if (IsNull()) return Fail(error, "No document");
    File file;
    bool written = file.Open(path, File::Mode::kWriteTruncate);
    xmlChar* dumped = nullptr;
    if (written) {
        std::unique_ptr<PlainTreeWriter> writer(new PlainTreeWriter(&file));
        const PlainTreeWriter::Result result = writer->Document(state_->doc);
        written = result == PlainTreeWriter::Result::kWritten;
        if (result == PlainTreeWriter::Result::kNotPlain) {
            ErrorCapture capture;
            int size = 0;
            xmlDocDumpFormatMemoryEnc(state_->doc, &dumped, &size, "UTF-8", 1);
            if (dumped == nullptr) {
                return Fail(error, capture.has_error() ? capture.message()
                                                       : "The document could not be written out");
            }
            // What the plain writer got out before it gave up goes.
            written = file.Close() && file.Open(path, File::Mode::kWriteTruncate) &&
                      file.Write(dumped, static_cast<size_t>(size));
        }
    }
    uint32_t system_error = LastSystemError();
    bool closed = file.Close();
    xmlFree(dumped);
    if (!written || !closed) {
        char description[1200];
        std::snprintf(description, sizeof description, "Cannot write the file %s (system error %u)",
                      path, static_cast<unsigned>(system_error));
        return Fail(error, description);
    }
    return true;
}

XmlLoadResult XmlDocument::Load(const char* path, XmlParseError* parse_error, XmlError* error) {
    if (IsNull()) {
        Fail(error, "No document");
        return XmlLoadResult::kFailed;
    }
    File file;
    std::string content;
    bool read = file.Open(path, File::Mode::kRead);
    uint32_t system_error = LastSystemError();
    if (read) {
        char buffer[64 * 1024];
        for (;;) {
            int64_t got = file.Read(buffer, sizeof buffer);
            if (got <= 0) {
                read = got == 0;
                system_error = LastSystemError();
                break;
            }
            content.append(buffer, static_cast<size_t>(got));
        }
    }
    if (!read) {
        if (parse_error != nullptr) {
            *parse_error = XmlParseError();
            bool missing = system_error == kErrorFileNotFound || system_error == kErrorPathNotFound;
            // Other failures in the COM-style form of a system error.
            parse_error->code =
                missing ? kXmlFileNotFound : (0x80070000u | (system_error & 0xFFFF));
            parse_error->reason = missing ? "The file was not found" : "The file could not be read";
        }
        state_->Replace(NewEmptyDocument());
        return XmlLoadResult::kRejected;
    }
    return Loaded(state_.get(), Parse(content.data(), content.size(), false, parse_error));
}

XmlLoadResult XmlDocument::LoadText(const char* text, XmlParseError* parse_error, XmlError* error) {
    if (IsNull()) {
        Fail(error, "No document");
        return XmlLoadResult::kFailed;
    }
    InitializeLibraries();
    std::string utf8 = ToDomText(text);
    return Loaded(state_.get(), Parse(utf8.data(), utf8.size(), true, parse_error));
}

XmlLoadResult XmlDocument::LoadStylesheetText(const char* text, XmlParseError* parse_error,
                                              XmlError* error) {
    // LoadText already reads neither the network nor an external DTD, and substitutes no entity.
    return LoadText(text, parse_error, error);
}

bool XmlDocument::ListElements(std::vector<XmlElementView>* elements, XmlError* error) const {
    if (IsNull()) return Fail(error, "No document");
    elements->clear();
    xmlNodePtr root = xmlDocGetRootElement(state_->doc);
    // Depth first without recursion: a hostile document may nest as deep as its text allows.
    for (xmlNodePtr node = root; node != nullptr;) {
        if (node->type == XML_ELEMENT_NODE) {
            XmlElementView view;
            if (node->ns != nullptr) view.namespace_uri = FromDomText(node->ns->href);
            view.local_name = FromDomText(node->name);
            for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
                XmlAttributeView attribute;
                if (attr->ns != nullptr && attr->ns->prefix != nullptr) {
                    attribute.name = FromDomText(attr->ns->prefix) + ":";
                }
                attribute.name += FromDomText(attr->name);
                attribute.value = NodeText(reinterpret_cast<xmlNodePtr>(attr));
                view.attributes.push_back(std::move(attribute));
            }
            elements->push_back(std::move(view));
            if (node->children != nullptr) {
                node = node->children;
                continue;
            }
        }
        while (node != nullptr && node != root && node->next == nullptr) node = node->parent;
        node = node == root || node == nullptr ? nullptr : node->next;
    }
    return true;
}

namespace {

constexpr unsigned long kTransformStepLimit = 1ul << 24;

// The security check of every access a transform asks for: refused, and the transform stopped,
// so that a stylesheet that tries gets no output rather than an output without the data.
int RefuseAndStop(xsltSecurityPrefsPtr, xsltTransformContextPtr context, const char*) {
    if (context != nullptr) context->state = XSLT_STATE_STOPPED;
    return 0;
}

}  // namespace

bool XmlDocument::TransformInto(const XmlDocument& stylesheet, XmlDocument* output,
                                XmlError* error) const {
    if (IsNull() || stylesheet.IsNull() || output == nullptr || output->IsNull()) {
        return Fail(error, "No document");
    }
    InitializeLibraries();
    ErrorCapture capture;
    // libxslt takes the stylesheet's tree for its own: give it a copy.
    xmlDocPtr sheet_tree = xmlCopyDoc(StateOf(stylesheet)->doc, 1);
    if (sheet_tree == nullptr) return Fail(error, "Out of memory");
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(sheet_tree);
    if (sheet == nullptr) {
        xmlFreeDoc(sheet_tree);
        return Fail(error, capture.has_error() ? capture.message()
                                               : "The stylesheet is not a valid stylesheet");
    }
    xsltTransformContextPtr context = xsltNewTransformContext(sheet, state_->doc);
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    if (context == nullptr || prefs == nullptr) {
        if (prefs != nullptr) xsltFreeSecurityPrefs(prefs);
        if (context != nullptr) xsltFreeTransformContext(context);
        xsltFreeStylesheet(sheet);
        return Fail(error, "Out of memory");
    }
    // A caller's stylesheet sorts and filters; it has no business with files or the network.
    for (xsltSecurityOption option :
         {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
          XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
        xsltSetSecurityPrefs(prefs, option, RefuseAndStop);
    }
    xsltSetCtxtSecurityPrefs(prefs, context);
    // A stylesheet can ask for work without end (templates that call themselves twice over): the
    // transform's XPath steps are counted, and it fails at a bound some hundred times what sorting
    // the largest listing takes.
    if (context->xpathCtxt != nullptr) {
        context->xpathCtxt->opLimit = kTransformStepLimit;
        context->xpathCtxt->opCount = 0;
    }
    xsltSetTransformErrorFunc(context, nullptr, ErrorCapture::OnPrintfError);
    xmlDocPtr result =
        xsltApplyStylesheetUser(sheet, state_->doc, nullptr, nullptr, nullptr, context);
    bool failed = result == nullptr || context->state == XSLT_STATE_ERROR ||
                  context->state == XSLT_STATE_STOPPED;
    xsltFreeTransformContext(context);
    xsltFreeSecurityPrefs(prefs);
    xsltFreeStylesheet(sheet);
    if (failed) {
        if (result != nullptr) xmlFreeDoc(result);
        return Fail(error, capture.has_error() ? capture.message() : "The transformation failed");
    }
    // The result lives in libxslt's name dictionary; a plain copy can join the output's trees.
    xmlDocPtr copy = xmlCopyDoc(result, 1);
    xmlFreeDoc(result);
    if (copy == nullptr) return Fail(error, "Out of memory");
    StateOf(*output)->Replace(copy);
    return true;
}

}  // namespace cv
