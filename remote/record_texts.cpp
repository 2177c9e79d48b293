#include "remote/record_texts.h"

#include <cstring>
#include <string>

#include "platform/code_page.h"

namespace cv {
namespace {

// Converts one field into `out` (the same size), NUL-terminated; false when it cannot.
template <size_t Size>
bool ConvertField(TextWay way, const char (&field)[Size], char (&out)[Size]) {
    const void* nul = std::memchr(field, '\0', Size);
    const size_t length = nul ? static_cast<const char*>(nul) - field : Size;
    std::string converted;
    if (way == TextWay::kToWire) {
        if (!ToWireText(std::string_view(field, length), &converted)) return false;
    } else {
        FromWireText(std::string_view(field, length), &converted);
    }
    // A field that was full without a terminator stays so: what it means is the receiver's to say.
    if (converted.size() > Size || (converted.size() == Size && nul != nullptr)) return false;
    std::memset(out, 0, Size);
    std::memcpy(out, converted.data(), converted.size());
    return true;
}

// Converts a copy and puts it in place only when every field converted.
template <typename Record, typename Fields>
bool ConvertAll(Record* record, Fields fields) {
    Record copy = *record;
    if (!fields(copy)) return false;
    *record = copy;
    return true;
}

}  // namespace

bool ConvertRecordTexts(TextWay way, AppointmentRequest* record) {
    const AppointmentRequest& in = *record;
    return ConvertAll(record, [&](AppointmentRequest& out) {
        return ConvertField(way, in.Mailbox, out.Mailbox) &&
               ConvertField(way, in.Postoffice, out.Postoffice) &&
               ConvertField(way, in.ItemId, out.ItemId) &&
               ConvertField(way, in.PeriodName, out.PeriodName);
    });
}

bool ConvertRecordTexts(TextWay way, AppointmentItemRequest* record) {
    const AppointmentItemRequest& in = *record;
    return ConvertAll(record, [&](AppointmentItemRequest& out) {
        return ConvertField(way, in.Mailbox, out.Mailbox) &&
               ConvertField(way, in.Postoffice, out.Postoffice) &&
               ConvertField(way, in.ItemFileName, out.ItemFileName);
    });
}

bool ConvertRecordTexts(TextWay way, FreeBusyRequest* record) {
    const FreeBusyRequest& in = *record;
    return ConvertAll(record, [&](FreeBusyRequest& out) {
        return ConvertField(way, in.Mailbox, out.Mailbox) &&
               ConvertField(way, in.Postoffice, out.Postoffice) &&
               ConvertField(way, in.NamePrefix, out.NamePrefix);
    });
}

bool ConvertRecordTexts(TextWay way, ListContext* record) {
    const ListContext& in = *record;
    return ConvertAll(record, [&](ListContext& out) {
        return ConvertField(way, in.Postoffice, out.Postoffice) &&
               ConvertField(way, in.Mailbox, out.Mailbox) &&
               ConvertField(way, in.Stylesheet, out.Stylesheet);
    });
}

bool ConvertRecordTexts(TextWay way, ListItem* record) {
    const ListItem& in = *record;
    return ConvertAll(record, [&](ListItem& out) {
        if (!ConvertField(way, in.Mailbox, out.Mailbox) ||
            !ConvertField(way, in.Postoffice, out.Postoffice) ||
            !ConvertField(way, in.ItemId, out.ItemId) ||
            !ConvertField(way, in.ItemXml, out.ItemXml)) {
            return false;
        }
        out.ItemXmlLength = static_cast<uint32_t>(strnlen(out.ItemXml, sizeof out.ItemXml));
        return true;
    });
}

}  // namespace cv
