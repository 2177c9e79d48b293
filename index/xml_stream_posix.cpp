// The streamed plain document natively: the bytes of the plain tree writer (xml_writer_posix.cpp)
// for the same tree, made without the tree.
#include "index/xml_stream.h"

#include <cstring>
#include <string>

#include "index/xml_document_posix.h"
#include "platform/platform.h"

namespace cv {
namespace {

constexpr size_t kFlushAt = 64 * 1024;

void AppendEscaped(std::string* out, const char* text, const detail::ByteClasses& classes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (;;) {
        const unsigned char* run = p;
        while (*p != '\0' && classes.of[*p] == detail::kAsIs) ++p;
        out->append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (*p == '\0') return;
        out->append(detail::EscapeOf(*p++));
    }
}

}  // namespace

struct XmlStreamFile::State {
    File file;
    std::string root;
    std::string element;  // the name of the element begun
    std::string out;      // what goes to the file next
    size_t element_at = 0;
    bool in_element = false;
    bool element_children = false;
    bool root_open = false;
    bool ok = true;
    bool refused = false;

    void Flush() {
        ok = ok && file.Write(out.data(), out.size());
        out.clear();
    }
    bool Refuse() {
        refused = true;
        return false;
    }
};

bool XmlStreamFile::Streams() {
    return true;
}

XmlStreamFile::XmlStreamFile() = default;
XmlStreamFile::~XmlStreamFile() = default;

bool XmlStreamFile::Open(const char* path, const char* root) {
    state_.reset(new State);
    if (!detail::IsPlainAsciiName(root)) return state_->Refuse();
    state_->root = root;
    if (!state_->file.Open(path, File::Mode::kWriteTruncate)) {
        state_->ok = false;
        return false;
    }
    state_->out.reserve(kFlushAt + 4096);
    state_->out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    return true;
}

bool XmlStreamFile::BeginElement(const char* name, const char* attribute, const char* value) {
    State& s = *state_;
    if (s.in_element) EndElement(false);
    if (!detail::IsPlainAsciiName(name) || !detail::IsPlainAsciiName(attribute) ||
        !detail::IsPrintableAscii(value))
        return s.Refuse();
    s.element_at = s.out.size();
    s.in_element = true;
    s.element_children = false;
    s.element = name;
    s.out.append("  <").append(name).append(" ").append(attribute).append("=\"");
    AppendEscaped(&s.out, value, detail::kAttributeBytes);
    s.out.append("\"");
    return true;
}

bool XmlStreamFile::TextChild(const char* name, const char* text) {
    State& s = *state_;
    if (!s.in_element) return false;
    if (!detail::IsPlainAsciiName(name) || !detail::IsPrintableAscii(text)) return s.Refuse();
    if (!s.element_children) s.out.append(">\n");
    s.element_children = true;
    s.out.append("    <").append(name).append(">");
    AppendEscaped(&s.out, text, detail::kTextBytes);
    s.out.append("</").append(name).append(">\n");
    return true;
}

void XmlStreamFile::EndElement(bool keep) {
    State& s = *state_;
    if (!s.in_element) return;
    s.in_element = false;
    if (!keep) {
        s.out.resize(s.element_at);
        return;
    }
    if (s.element_children) {
        s.out.append("  </").append(s.element).append(">\n");
    } else {
        s.out.append("/>\n");
    }
    if (!s.root_open) {
        // The root's start goes before the first element, which is already in the buffer.
        s.out.insert(s.element_at, "<" + s.root + ">\n");
        s.root_open = true;
    }
    if (s.out.size() >= kFlushAt) s.Flush();
}

bool XmlStreamFile::Finish() {
    if (state_ == nullptr) return false;
    State& s = *state_;
    if (s.in_element) EndElement(false);
    if (s.root_open) {
        s.out.append("</").append(s.root).append(">\n");
    } else {
        s.out.append("<").append(s.root).append("/>\n");
    }
    s.Flush();
    const bool closed = s.file.Close();
    return s.ok && closed && !s.refused;
}

bool XmlStreamFile::refused() const {
    return state_ != nullptr && state_->refused;
}

}  // namespace cv
