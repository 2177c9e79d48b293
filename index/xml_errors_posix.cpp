// The error reports of libxml2 and libxslt, caught on their way to being printed and turned into
// the seam's error records (see xml_document_posix.h).
#include "index/xml_document_posix.h"

#include <libxml/parser.h>

#include <cstdarg>
#include <cstdio>

namespace cv {
namespace detail {
namespace {

constexpr const char* kErrorSource = "libxml2";

std::string Trimmed(const char* text) {
    std::string out(text ? text : "");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

}  // namespace

thread_local ErrorCapture* ErrorCapture::t_active = nullptr;

ErrorCapture::ErrorCapture()
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

ErrorCapture::~ErrorCapture() {
    t_active = outer_;
    xmlSetGenericErrorFunc(previous_generic_context_, previous_generic_);
    xmlSetStructuredErrorFunc(previous_context_, previous_);
}

void ErrorCapture::OnPrintfError(void*, const char* format, ...) {
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

void ErrorCapture::OnXmlError(void* context, xmlErrorPtr error) {
    auto* self = static_cast<ErrorCapture*>(context);
    if (error == nullptr || error->level < XML_ERR_ERROR) return;
    self->Record(error->code, error->line, error->int2, error->message);
}

void ErrorCapture::Record(int code, int line, int column, const char* message) {
    if (has_error_) return;  // the first error is the cause; the rest follow from it
    has_error_ = true;
    code_ = code;
    line_ = line;
    column_ = column;
    message_ = Trimmed(message);
}

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

}  // namespace detail
}  // namespace cv
