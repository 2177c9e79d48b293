#include "tools/cvcal/output.h"

#include <algorithm>
#include <cstdio>

namespace cvcal {
namespace {

std::string JsonValue(const Output::Value& value) {
    return value.number ? value.text : JsonQuote(value.text);
}

std::string JsonObject(const Output::Fields& fields) {
    std::string out = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ", ";
        out += JsonQuote(fields[i].first) + ": " + JsonValue(fields[i].second);
    }
    return out + "}";
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void Output::Print(bool json, FILE* to) const {
    if (json) {
        std::string out = "{";
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) out += ", ";
            out += JsonQuote(fields_[i].first) + ": " + JsonValue(fields_[i].second);
        }
        if (has_rows_) {
            if (!fields_.empty()) out += ", ";
            out += JsonQuote(rows_name_) + ": [";
            for (size_t i = 0; i < rows_.size(); ++i) {
                if (i) out += ", ";
                out += JsonObject(rows_[i]);
            }
            out += "]";
        }
        std::fprintf(to, "%s}\n", out.c_str());
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
