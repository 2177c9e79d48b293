// The XML DOM seam over the system's COM DOM document, version 3.0.
//
// The library never initialises COM: the calling thread must have done so, and creating a
// document fails otherwise. Texts are converted between the ANSI code page and UTF-16 with the
// system's conversions.
#include "index/xml_document.h"

#include "platform/code_page.h"

#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace cv {
namespace {

// The DOM document 3.0 class and the interfaces used, spelled out here so that no import library
// is needed for them.
constexpr CLSID kDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
constexpr IID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidDomNode = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomElement = {
    0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// In-process server, in-process handler or local server.
constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// One counted reference to a COM interface.
template <typename T>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** out() {
        Reset();
        return &p_;
    }
    void** void_out() { return reinterpret_cast<void**>(out()); }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

  private:
    T* p_ = nullptr;
};

// A BSTR owned for the length of a call. Texts that are UTF-8 are read as such (items written
// by cvcal, the CalDAV server or the native build), others in the ANSI code page, as the native
// build reads them (platform/code_page.h).
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const char* text) {
        if (text == nullptr) text = "";
        const UINT code_page = IsUtf8(text) ? CP_UTF8 : CP_ACP;
        int length = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
        if (length <= 0) return;
        value_ = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
        if (value_ != nullptr) MultiByteToWideChar(code_page, 0, text, -1, value_, length);
    }
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }
    BSTR* out() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    bool ok() const { return value_ != nullptr; }

  private:
    BSTR value_ = nullptr;
};

std::string ToAnsi(const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0') return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The system's message text for a result code, as a COM error object reports it.
std::string CodeMeaning(HRESULT code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string meaning;
    if (length > 0 && text != nullptr) {
        meaning = Trimmed(std::string(text, length));
    } else {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "Unknown error 0x%08lX",
                      static_cast<unsigned long>(code));
        meaning = fallback;
    }
    if (text != nullptr) LocalFree(text);
    return meaning;
}

// Fills the error record from a failed call, with the error object the DOM left on the thread.
// Errors of our own making carry their description instead.
bool Fail(HRESULT code, XmlError* error, const char* description = nullptr) {
    ComRef<IErrorInfo> info;
    bool has_info =
        description == nullptr && GetErrorInfo(0, info.out()) == S_OK && info.get() != nullptr;
    if (error == nullptr) return false;
    *error = XmlError();
    error->code = static_cast<uint32_t>(code);
    error->meaning = CodeMeaning(code);
    if (has_info) {
        Bstr source;
        Bstr text;
        if (SUCCEEDED(info->GetSource(source.out()))) error->source = ToAnsi(source.get());
        if (SUCCEEDED(info->GetDescription(text.out()))) {
            error->description = Trimmed(ToAnsi(text.get()));
        }
    }
    if (description != nullptr) error->description = description;
    return false;
}

bool Absent(XmlError* error) {
    if (error != nullptr) *error = XmlError();
    return false;
}

}  // namespace

namespace detail {

struct XmlDocumentState {
    explicit XmlDocumentState(IXMLDOMDocument* d) : doc(d) {}
    ~XmlDocumentState() { doc->Release(); }
    IXMLDOMDocument* doc;
};

struct XmlNodeState {
    explicit XmlNodeState(IXMLDOMNode* n) : node(n) {}
    ~XmlNodeState() { node->Release(); }
    IXMLDOMNode* node;
};

struct XmlAccess {
    static IXMLDOMDocument* Get(const XmlDocument& document) {
        return document.state_ ? document.state_->doc : nullptr;
    }
    static IXMLDOMNode* Get(const XmlNode& node) {
        return node.state_ ? node.state_->node : nullptr;
    }
    // Takes over the reference; gives it back when no wrapper can be made for it.
    static void Set(XmlDocument* document, IXMLDOMDocument* doc) {
        try {
            document->state_ = std::make_shared<XmlDocumentState>(doc);
        } catch (...) {
            doc->Release();
            throw;
        }
    }
    static void Set(XmlNode* out, IXMLDOMNode* node) {
        try {
            out->state_ = std::make_shared<XmlNodeState>(node);
        } catch (...) {
            node->Release();
            throw;
        }
    }
};

}  // namespace detail

namespace {

using detail::XmlAccess;

constexpr const char* kNoNode = "No node";

std::string Utf16Text(BSTR text) {
    return ToAnsi(text);
}

// Takes over an element reference as a node.
bool AdoptElement(IXMLDOMElement* element, XmlNode* node, XmlError* error) {
    ComRef<IXMLDOMNode> as_node;
    HRESULT hr = element->QueryInterface(kIidDomNode, as_node.void_out());
    element->Release();
    if (FAILED(hr)) return Fail(hr, error);
    XmlAccess::Set(node, as_node.release());
    return true;
}

XmlLoadResult ParseFailed(IXMLDOMDocument* doc, XmlParseError* parse_error, XmlError* error) {
    ComRef<IXMLDOMParseError> parsed;
    HRESULT hr = doc->get_parseError(parsed.out());
    if (FAILED(hr) || parsed.get() == nullptr) {
        Fail(FAILED(hr) ? hr : E_FAIL, error);
        return XmlLoadResult::kFailed;
    }
    if (parse_error != nullptr) {
        *parse_error = XmlParseError();
        LONG code = 0;
        LONG line = 0;
        LONG position = 0;
        Bstr reason;
        parsed->get_errorCode(&code);
        parsed->get_line(&line);
        parsed->get_linepos(&position);
        parsed->get_reason(reason.out());
        parse_error->code = static_cast<uint32_t>(code);
        parse_error->line = line;
        parse_error->position = position;
        parse_error->reason = Trimmed(Utf16Text(reason.get()));
    }
    return XmlLoadResult::kRejected;
}

}  // namespace

// ---- Nodes ----------------------------------------------------------------------------------

XmlNodeType XmlNode::Type() const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    DOMNodeType type = NODE_INVALID;
    if (node == nullptr || FAILED(node->get_nodeType(&type))) return XmlNodeType::kOther;
    switch (type) {
        case NODE_ELEMENT:
            return XmlNodeType::kElement;
        case NODE_ATTRIBUTE:
            return XmlNodeType::kAttribute;
        case NODE_TEXT:
            return XmlNodeType::kText;
        case NODE_DOCUMENT:
            return XmlNodeType::kDocument;
        default:
            return XmlNodeType::kOther;
    }
}

bool XmlNode::Name(std::string* name, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    Bstr text;
    HRESULT hr = node->get_nodeName(text.out());
    if (FAILED(hr)) return Fail(hr, error);
    *name = Utf16Text(text.get());
    return true;
}

bool XmlNode::Text(std::string* text, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    Bstr value;
    HRESULT hr = node->get_text(value.out());
    if (FAILED(hr)) return Fail(hr, error);
    *text = Utf16Text(value.get());
    return true;
}

bool XmlNode::Xml(std::string* xml, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    Bstr value;
    HRESULT hr = node->get_xml(value.out());
    if (FAILED(hr)) return Fail(hr, error);
    *xml = Utf16Text(value.get());
    return true;
}

bool XmlNode::SetText(const char* text, XmlError* error) {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    Bstr value(detail::XmlCarriableText(text).c_str());
    if (!value.ok()) return Fail(E_OUTOFMEMORY, error);
    HRESULT hr = node->put_text(value.get());
    return FAILED(hr) ? Fail(hr, error) : true;
}

bool XmlNode::AppendChild(const XmlNode& child, XmlError* error) {
    IXMLDOMNode* parent = XmlAccess::Get(*this);
    IXMLDOMNode* node = XmlAccess::Get(child);
    if (parent == nullptr || node == nullptr) return Fail(E_POINTER, error, kNoNode);
    // Some DOMs let a document take a second root element; the index's documents never have one.
    if (Type() == XmlNodeType::kDocument && child.Type() == XmlNodeType::kElement) {
        ComRef<IXMLDOMDocument> doc;
        ComRef<IXMLDOMElement> root;
        HRESULT hr = parent->QueryInterface(kIidDomDocument, doc.void_out());
        if (FAILED(hr)) return Fail(hr, error);
        hr = doc->get_documentElement(root.out());
        if (FAILED(hr)) return Fail(hr, error);
        if (root.get() != nullptr) {
            return Fail(E_FAIL, error, "A document has only one root element");
        }
    }
    ComRef<IXMLDOMNode> appended;
    HRESULT hr = parent->appendChild(node, appended.out());
    return FAILED(hr) ? Fail(hr, error) : true;
}

bool XmlNode::SetAttributeNode(const XmlNode& attribute, XmlError* error) {
    IXMLDOMNode* element = XmlAccess::Get(*this);
    IXMLDOMNode* node = XmlAccess::Get(attribute);
    if (element == nullptr || node == nullptr) return Fail(E_POINTER, error, kNoNode);
    ComRef<IXMLDOMNamedNodeMap> attributes;
    HRESULT hr = element->get_attributes(attributes.out());
    if (FAILED(hr)) return Fail(hr, error);
    if (attributes.get() == nullptr) return Fail(E_FAIL, error, "The node has no attributes");
    ComRef<IXMLDOMNode> replaced;
    hr = attributes->setNamedItem(node, replaced.out());
    return FAILED(hr) ? Fail(hr, error) : true;
}

bool XmlNode::Attribute(const char* name, std::string* value, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    ComRef<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(kIidDomElement, element.void_out()))) return Absent(error);
    Bstr attribute_name(name);
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = element->getAttribute(attribute_name.get(), &result);
    if (FAILED(hr)) return Fail(hr, error);
    bool found = result.vt == VT_BSTR;
    if (found) *value = Utf16Text(result.bstrVal);
    VariantClear(&result);
    return found ? true : Absent(error);
}

bool XmlNode::FirstChild(XmlNode* child, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    ComRef<IXMLDOMNode> first;
    HRESULT hr = node->get_firstChild(first.out());
    if (FAILED(hr)) return Fail(hr, error);
    if (first.get() == nullptr) return Absent(error);
    XmlAccess::Set(child, first.release());
    return true;
}

bool XmlNode::NextSibling(XmlNode* next, XmlError* error) const {
    IXMLDOMNode* node = XmlAccess::Get(*this);
    if (node == nullptr) return Fail(E_POINTER, error, kNoNode);
    ComRef<IXMLDOMNode> sibling;
    HRESULT hr = node->get_nextSibling(sibling.out());
    if (FAILED(hr)) return Fail(hr, error);
    if (sibling.get() == nullptr) return Absent(error);
    XmlAccess::Set(next, sibling.release());
    return true;
}

bool XmlNode::ChildElementText(const char* name, std::string* text, XmlError* error) const {
    XmlNode child;
    for (bool more = FirstChild(&child); more; more = child.NextSibling(&child)) {
        std::string child_name;
        if (child.Type() != XmlNodeType::kElement) continue;
        if (!child.Name(&child_name, error)) return false;
        if (child_name == name) return child.Text(text, error);
    }
    return Absent(error);
}

// ---- Documents --------------------------------------------------------------------------------

bool XmlDocument::Create(XmlDocument* document, XmlError* error) {
    // Created as IUnknown and put into the running state first: a local server is allowed too.
    ComRef<IUnknown> unknown;
    HRESULT hr =
        CoCreateInstance(kDomDocument30, nullptr, kClassContext, kIidUnknown, unknown.void_out());
    if (hr != S_OK) return Fail(hr, error);
    hr = OleRun(unknown.get());
    if (hr != S_OK) return Fail(hr, error);
    ComRef<IXMLDOMDocument> doc;
    hr = unknown->QueryInterface(kIidDomDocument, doc.void_out());
    if (hr != S_OK) return Fail(hr, error);
    // Loads finish before they return, and a document never fetches anything it refers to.
    doc->put_async(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    XmlAccess::Set(document, doc.release());
    return true;
}

bool XmlDocument::AsNode(XmlNode* node, XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    ComRef<IXMLDOMNode> as_node;
    HRESULT hr = doc->QueryInterface(kIidDomNode, as_node.void_out());
    if (FAILED(hr)) return Fail(hr, error);
    XmlAccess::Set(node, as_node.release());
    return true;
}

bool XmlDocument::CreateNode(XmlNodeType type, const char* name, XmlNode* node,
                             XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    VARIANT node_type;
    VariantInit(&node_type);
    node_type.vt = VT_I4;
    node_type.lVal = static_cast<LONG>(type);
    Bstr node_name(name);
    Bstr name_space("");
    ComRef<IXMLDOMNode> made;
    HRESULT hr = doc->createNode(node_type, node_name.get(), name_space.get(), made.out());
    if (FAILED(hr)) return Fail(hr, error);
    if (made.get() == nullptr) return Fail(E_FAIL, error);
    XmlAccess::Set(node, made.release());
    return true;
}

bool XmlDocument::CreateElement(const char* name, XmlNode* node, XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    Bstr element_name(name);
    IXMLDOMElement* element = nullptr;
    HRESULT hr = doc->createElement(element_name.get(), &element);
    if (FAILED(hr)) return Fail(hr, error);
    if (element == nullptr) return Fail(E_FAIL, error);
    return AdoptElement(element, node, error);
}

bool XmlDocument::AppendTextElement(XmlNode* parent, const char* name, const char* text,
                                    XmlError* error) const {
    XmlNode child;
    return CreateElement(name, &child, error) && child.SetText(text, error) &&
           parent->AppendChild(child, error);
}

bool XmlDocument::DocumentElement(XmlNode* element, XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    IXMLDOMElement* root = nullptr;
    HRESULT hr = doc->get_documentElement(&root);
    if (FAILED(hr)) return Fail(hr, error);
    if (root == nullptr) return Absent(error);
    return AdoptElement(root, element, error);
}

bool XmlDocument::Save(const char* path, XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    VARIANT destination;
    VariantInit(&destination);
    destination.vt = VT_BSTR;
    Bstr wide(path);
    destination.bstrVal = wide.get();
    HRESULT hr = doc->save(destination);  // the variant stays the Bstr's to free
    return FAILED(hr) ? Fail(hr, error) : true;
}

XmlLoadResult XmlDocument::Load(const char* path, XmlParseError* parse_error, XmlError* error) {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) {
        Fail(E_POINTER, error, "No document");
        return XmlLoadResult::kFailed;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    Bstr wide(path);
    source.bstrVal = wide.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = doc->load(source, &loaded);
    if (FAILED(hr)) {
        Fail(hr, error);
        return XmlLoadResult::kFailed;
    }
    if (loaded == VARIANT_TRUE) return XmlLoadResult::kLoaded;
    return ParseFailed(doc, parse_error, error);
}

XmlLoadResult XmlDocument::LoadText(const char* text, XmlParseError* parse_error, XmlError* error) {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) {
        Fail(E_POINTER, error, "No document");
        return XmlLoadResult::kFailed;
    }
    Bstr wide(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = doc->loadXML(wide.get(), &loaded);
    if (FAILED(hr)) {
        Fail(hr, error);
        return XmlLoadResult::kFailed;
    }
    if (loaded == VARIANT_TRUE) return XmlLoadResult::kLoaded;
    return ParseFailed(doc, parse_error, error);
}

namespace {

// Sets one of the DOM's second-level properties to a truth value.
HRESULT SetSwitch(IXMLDOMDocument* doc, const char* name, bool on) {
    ComRef<IXMLDOMDocument2> doc2;
    HRESULT hr = doc->QueryInterface(kIidDomDocument2, doc2.void_out());
    if (FAILED(hr)) return hr;
    Bstr property(name);
    if (!property.ok()) return E_OUTOFMEMORY;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    return doc2->setProperty(property.get(), value);
}

}  // namespace

XmlLoadResult XmlDocument::LoadStylesheetText(const char* text, XmlParseError* parse_error,
                                              XmlError* error) {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) {
        Fail(E_POINTER, error, "No document");
        return XmlLoadResult::kFailed;
    }
    // Known to the DOM 3.0 of every supported system; a release that refuses it is not trusted
    // with a stranger's text.
    HRESULT hr = doc->put_resolveExternals(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = doc->put_validateOnParse(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = SetSwitch(doc, "ProhibitDTD", true);
    if (FAILED(hr)) {
        Fail(hr, error, "The DOM cannot be made to refuse a DTD");
        return XmlLoadResult::kFailed;
    }
    return LoadText(text, parse_error, error);
}

bool XmlDocument::ListElements(std::vector<XmlElementView>* elements, XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    if (doc == nullptr) return Fail(E_POINTER, error, "No document");
    elements->clear();
    // Depth first without recursion: a hostile document may nest as deep as its text allows.
    // The path holds a reference to each node from the document element down to the current one.
    std::vector<IXMLDOMNode*> path;
    auto release_path = [&path] {
        for (IXMLDOMNode* node : path) node->Release();
        path.clear();
    };
    IXMLDOMElement* root = nullptr;
    HRESULT hr = doc->get_documentElement(&root);
    if (FAILED(hr)) return Fail(hr, error);
    if (root == nullptr) return true;
    IXMLDOMNode* node = nullptr;
    hr = root->QueryInterface(kIidDomNode, reinterpret_cast<void**>(&node));
    root->Release();
    if (FAILED(hr)) return Fail(hr, error);
    try {
        path.push_back(node);
        while (!path.empty()) {
            IXMLDOMNode* current = path.back();
            DOMNodeType type = NODE_INVALID;
            current->get_nodeType(&type);
            IXMLDOMNode* next = nullptr;
            if (type == NODE_ELEMENT) {
                XmlElementView view;
                Bstr text;
                if (SUCCEEDED(current->get_namespaceURI(text.out()))) {
                    view.namespace_uri = Utf16Text(text.get());
                }
                if (SUCCEEDED(current->get_baseName(text.out()))) {
                    view.local_name = Utf16Text(text.get());
                }
                ComRef<IXMLDOMNamedNodeMap> attributes;
                LONG count = 0;
                hr = current->get_attributes(attributes.out());
                if (SUCCEEDED(hr) && attributes.get() != nullptr)
                    hr = attributes->get_length(&count);
                if (FAILED(hr)) {
                    release_path();
                    return Fail(hr, error);
                }
                for (LONG i = 0; i < count; ++i) {
                    ComRef<IXMLDOMNode> attribute;
                    hr = attributes->get_item(i, attribute.out());
                    if (FAILED(hr) || attribute.get() == nullptr) {
                        release_path();
                        return Fail(FAILED(hr) ? hr : E_FAIL, error);
                    }
                    XmlAttributeView entry;
                    if (SUCCEEDED(attribute->get_nodeName(text.out()))) {
                        entry.name = Utf16Text(text.get());
                    }
                    if (SUCCEEDED(attribute->get_text(text.out()))) {
                        entry.value = Utf16Text(text.get());
                    }
                    view.attributes.push_back(std::move(entry));
                }
                elements->push_back(std::move(view));
                current->get_firstChild(&next);
            }
            if (next != nullptr) {
                path.push_back(next);
                continue;
            }
            // No child to go down to: on to the next sibling of this node or of an ancestor.
            while (!path.empty()) {
                IXMLDOMNode* done = path.back();
                path.pop_back();
                if (!path.empty()) done->get_nextSibling(&next);
                done->Release();
                if (next != nullptr) {
                    path.push_back(next);
                    break;
                }
            }
        }
    } catch (...) {
        release_path();
        throw;
    }
    return true;
}

bool XmlDocument::TransformInto(const XmlDocument& stylesheet, XmlDocument* output,
                                XmlError* error) const {
    IXMLDOMDocument* doc = XmlAccess::Get(*this);
    IXMLDOMDocument* sheet = XmlAccess::Get(stylesheet);
    IXMLDOMDocument* target = output != nullptr ? XmlAccess::Get(*output) : nullptr;
    if (doc == nullptr || sheet == nullptr || target == nullptr) {
        return Fail(E_POINTER, error, "No document");
    }
    // The switches hold for the transforms that follow their setting, and a release of the DOM
    // that does not know them runs no stranger's stylesheet.
    HRESULT hr = SetSwitch(sheet, "AllowDocumentFunction", false);
    if (SUCCEEDED(hr)) hr = SetSwitch(sheet, "AllowXsltScript", false);
    if (FAILED(hr))
        return Fail(hr, error, "The DOM cannot be made to refuse document() and script");
    // The output document is passed as its dispatch interface.
    VARIANT destination;
    VariantInit(&destination);
    destination.vt = VT_DISPATCH;
    destination.pdispVal = target;
    hr = doc->transformNodeToObject(sheet, destination);
    return FAILED(hr) ? Fail(hr, error) : true;
}

}  // namespace cv
