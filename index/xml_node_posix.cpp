// The nodes of the XML DOM seam over libxml2: their names, texts and XML, and the edits of a tree
// (see xml_document_posix.h for who owns what).
#include "index/xml_document_posix.h"

#include <cstring>
#include <memory>

namespace cv {
namespace {

using detail::Absent;
using detail::AsXmlChars;
using detail::DomText;
using detail::ErrorCapture;
using detail::Fail;
using detail::FromDomText;
using detail::LinkLastChild;
using detail::MakeRoom;
using detail::NodeText;
using detail::StateOf;
using detail::ToDomText;
using detail::XmlAccess;
using detail::XmlDocumentState;
using detail::XmlNodeState;

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

}  // namespace cv
