// The COM DOM's save is its own (its declaration, its white space), and a copy of it by hand could
// drift from it: the Windows build does not stream, and its callers build a document.
#include "index/xml_stream.h"

namespace cv {

struct XmlStreamFile::State {};

bool XmlStreamFile::Streams() {
    return false;
}

XmlStreamFile::XmlStreamFile() = default;
XmlStreamFile::~XmlStreamFile() = default;

bool XmlStreamFile::Open(const char*, const char*) {
    return false;
}
bool XmlStreamFile::BeginElement(const char*, const char*, const char*) {
    return false;
}
bool XmlStreamFile::TextChild(const char*, const char*) {
    return false;
}
void XmlStreamFile::EndElement(bool) {}
bool XmlStreamFile::Finish() {
    return false;
}
bool XmlStreamFile::refused() const {
    return false;
}

}  // namespace cv
