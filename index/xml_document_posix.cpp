// The XML DOM seam over libxml2 and libxslt: the documents, what they own, and how they are made
// and loaded (see xml_document_posix.h). The nodes' operations are in xml_node_posix.cpp, saving
// in xml_writer_posix.cpp, the transform in xml_transform_posix.cpp.
//
// Documents are parsed without a name dictionary (XML_PARSE_NODICT), so that nodes can move
// between trees and be freed with any of them. Files are read and written through the platform
// seam, which maps the store's backslash paths; libxml2 never touches the file system or the
// network, and a stylesheet may neither read nor write files nor reach the network.
#include "index/xml_document_posix.h"

#include <libxml/parser.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <climits>
#include <mutex>

#include "platform/platform.h"

namespace cv {
namespace detail {

XmlDocumentState::~XmlDocumentState() {
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

void XmlDocumentState::Replace(xmlDocPtr fresh) {
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

// Room for `more` nodes in the document's list of the nodes it made, made before they are, so that
// every node made is listed. The list at least doubles when it grows: grown by what each call
// needs, it was copied whole at every node, and a folder index of thousands of appointments took
// the square of their number.
void MakeRoom(std::vector<xmlNodePtr>* list, size_t more) {
    if (list->capacity() - list->size() >= more) return;
    list->reserve(std::max(list->size() + more, 2 * list->capacity()));
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
bool IsPlainAsciiName(const char* name) {
    auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (!letter(name[0])) return false;
    for (const char* at = name + 1; *at != '\0'; ++at) {
        if (!letter(*at) && !(*at >= '0' && *at <= '9') && *at != '-' && *at != '.') return false;
    }
    return true;
}

}  // namespace detail

namespace {

using detail::Absent;
using detail::DomText;
using detail::ErrorCapture;
using detail::Fail;
using detail::FromDomText;
using detail::InitializeLibraries;
using detail::kUnspecifiedError;
using detail::LinkLastChild;
using detail::MakeRoom;
using detail::NewEmptyDocument;
using detail::NodeText;
using detail::StateOf;
using detail::ToDomText;
using detail::XmlAccess;
using detail::XmlDocumentState;
using detail::XmlNodeState;

bool IsValidName(const xmlChar* name) {
    return detail::IsPlainAsciiName(reinterpret_cast<const char*>(name)) ||
           (name[0] != '\0' && xmlValidateName(name, 0) == 0);
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

}  // namespace cv
