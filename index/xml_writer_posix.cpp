// Saving a document of the XML DOM seam over libxml2: a plain tree, as a folder index is, by a
// writer of its own, any other through libxml2's dump.
#include "index/xml_document_posix.h"

#include <libxml/parserInternals.h>  // xmlStringText

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"

namespace cv {
namespace {

using detail::ByteClasses;
using detail::ErrorCapture;
using detail::Fail;
using detail::kAsIs;
using detail::kAttributeBytes;
using detail::kForeign;
using detail::kTextBytes;

// Deeper trees, which only a transform could make, go to libxml2's dump, which does not recurse.
constexpr int kMaxPlainDepth = 256;

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
    void PutEscape(unsigned char c) {
        const char* reference = detail::EscapeOf(c);
        Put(reference, std::strlen(reference));
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
            PutEscape(*p++);
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

}  // namespace

const char* detail::EscapeOf(unsigned char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '\r':
            return "&#13;";
        case '"':
            return "&quot;";
        case '\n':
            return "&#10;";
        default:
            return "&#9;";  // the tab
    }
}

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

}  // namespace cv
