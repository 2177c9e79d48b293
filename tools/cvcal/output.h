// What cvcal prints: aligned text for people, or JSON (--json) for scripts. A command fills one
// Output with fields and, for lists, rows; Print writes it in the chosen form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cvcal {

class Output {
  public:
    struct Value {
        std::string text;
        bool number = false;
    };
    using Fields = std::vector<std::pair<std::string, Value>>;

    static Value Text(std::string text) { return Value{std::move(text), false}; }
    static Value Number(int64_t number) { return Value{std::to_string(number), true}; }

    // A line said before the fields in text form (left out of JSON).
    void Say(std::string line) { lines_.push_back(std::move(line)); }
    void Field(const std::string& name, Value value) { fields_.emplace_back(name, value); }
    // A list of records under one name, shown as a table in text form.
    void Rows(const std::string& name, std::vector<Fields> rows) {
        rows_name_ = name;
        rows_ = std::move(rows);
        has_rows_ = true;
    }
    void Print(bool json, FILE* to) const;

  private:
    std::vector<std::string> lines_;
    Fields fields_;
    std::string rows_name_;
    std::vector<Fields> rows_;
    bool has_rows_ = false;
};

}  // namespace cvcal
