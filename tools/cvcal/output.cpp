#include "tools/cvcal/output.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/code_page.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {
namespace {

using Json = nlohmann::ordered_json;

// The store's texts are in the library's code page and may hold any byte: JSON carries them as
// UTF-8, which the library's code page gives its own way.
Json JsonValue(const Output::Value& value) {
    using Kind = Output::Value::Kind;
    switch (value.kind) {
        case Kind::kNumber:
            return Json(value.number);
        case Kind::kBool:
            return Json(value.number != 0);
        case Kind::kNull:
            return Json(nullptr);
        case Kind::kNumbers:
            return Json(value.numbers);
        case Kind::kTime:
            return Json(IsoTimeText(static_cast<int32_t>(value.number)));
        default:
            return Json(cv::CodePageToUtf8(value.text));
    }
}

Json JsonObject(const Output::Fields& fields) {
    Json object = Json::object();
    for (const auto& field : fields)
        object[cv::CodePageToUtf8(field.first)] = JsonValue(field.second);
    return object;
}

// Nothing is left that is not UTF-8; should anything be, it is replaced, never written raw.
void PrintJson(FILE* to, const Json& json) {
    std::fprintf(to, "%s\n", json.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

std::string Padding(const std::string& cell, size_t width) {
    size_t shown = DisplayWidth(cell);
    return std::string(width > shown ? width - shown : 0, ' ');
}

}  // namespace

Output::Value Output::Time(int32_t seconds) {
    return Make(Value::Kind::kTime, LocalTimeText(seconds), seconds);
}

size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (unsigned char c : cv::CodePageToUtf8(text)) width += (c & 0xC0) != 0x80;
    return width;
}

void PrintJsonError(FILE* to, int code, const std::string& kind, const std::string& message) {
    PrintJson(to,
              Json{{"error",
                    {{"code", code}, {"kind", kind}, {"message", cv::CodePageToUtf8(message)}}}});
}

void Output::Print(bool json, FILE* to) const {
    if (json) {
        Json out = JsonObject(fields_);
        if (has_rows_) {
            Json rows = Json::array();
            for (const Fields& row : rows_) rows.push_back(JsonObject(row));
            out[cv::CodePageToUtf8(rows_name_)] = std::move(rows);
        }
        PrintJson(to, out);
        return;
    }
    for (const std::string& line : lines_) std::fprintf(to, "%s\n", line.c_str());
    size_t width = 0;
    for (const auto& field : fields_) width = std::max(width, DisplayWidth(field.first) + 1);
    for (const auto& field : fields_) {
        std::string label = field.first + ":";
        std::fprintf(to, "%s%s  %s\n", label.c_str(), Padding(label, width).c_str(),
                     field.second.text.c_str());
    }
    if (!has_rows_) return;
    if (rows_.empty()) {
        std::fprintf(to, "(no %s)\n", rows_name_.c_str());
        return;
    }
    // A table: one column per field of the first row, each as wide as its widest cell.
    std::vector<size_t> widths;
    for (const auto& cell : rows_[0]) widths.push_back(DisplayWidth(cell.first));
    for (const Fields& row : rows_) {
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], DisplayWidth(row[c].second.text));
        }
    }
    auto print_row = [&](auto cell_text) {
        std::string line;
        for (size_t c = 0; c < widths.size(); ++c) {
            std::string cell = cell_text(c);
            line += cell;
            if (c + 1 < widths.size()) line += Padding(cell, widths[c]) + "  ";
        }
        std::fprintf(to, "%s\n", line.c_str());
    };
    print_row([&](size_t c) { return rows_[0][c].first; });
    for (const Fields& row : rows_) {
        print_row([&](size_t c) { return c < row.size() ? row[c].second.text : std::string(); });
    }
}

}  // namespace cvcal
