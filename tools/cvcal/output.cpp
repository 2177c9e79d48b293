#include "tools/cvcal/output.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "common/code_page.h"

namespace cvcal {
namespace {

using Json = nlohmann::ordered_json;

// The store's texts are in the library's code page and may hold any byte: JSON carries them as
// UTF-8, which the library's code page gives its own way.
Json JsonValue(const Output::Value& value) {
    if (value.number) return Json(std::stoll(value.text));
    return Json(cv::CodePageToUtf8(value.text));
}

Json JsonObject(const Output::Fields& fields) {
    Json object = Json::object();
    for (const auto& field : fields)
        object[cv::CodePageToUtf8(field.first)] = JsonValue(field.second);
    return object;
}

}  // namespace

void Output::Print(bool json, FILE* to) const {
    if (json) {
        Json out = JsonObject(fields_);
        if (has_rows_) {
            Json rows = Json::array();
            for (const Fields& row : rows_) rows.push_back(JsonObject(row));
            out[cv::CodePageToUtf8(rows_name_)] = std::move(rows);
        }
        // Nothing is left that is not UTF-8; should anything be, it is replaced, never written raw.
        std::fprintf(to, "%s\n", out.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
        return;
    }
    for (const std::string& line : lines_) std::fprintf(to, "%s\n", line.c_str());
    size_t width = 0;
    for (const auto& field : fields_) width = std::max(width, field.first.size() + 1);
    for (const auto& field : fields_) {
        std::fprintf(to, "%-*s  %s\n", static_cast<int>(width), (field.first + ":").c_str(),
                     field.second.text.c_str());
    }
    if (!has_rows_) return;
    if (rows_.empty()) {
        std::fprintf(to, "(no %s)\n", rows_name_.c_str());
        return;
    }
    // A table: one column per field of the first row, each as wide as its widest cell.
    std::vector<size_t> widths;
    for (const auto& cell : rows_[0]) widths.push_back(cell.first.size());
    for (const Fields& row : rows_) {
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].second.text.size());
        }
    }
    auto print_row = [&](auto cell_text) {
        std::string line;
        for (size_t c = 0; c < widths.size(); ++c) {
            std::string cell = cell_text(c);
            line += cell;
            if (c + 1 < widths.size()) line += std::string(widths[c] - cell.size() + 2, ' ');
        }
        std::fprintf(to, "%s\n", line.c_str());
    };
    print_row([&](size_t c) { return rows_[0][c].first; });
    for (const Fields& row : rows_) {
        print_row([&](size_t c) { return c < row.size() ? row[c].second.text : std::string(); });
    }
}

}  // namespace cvcal
