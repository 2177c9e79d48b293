// What cvcal prints: aligned text for people, or JSON (--json) for scripts. A command fills one
// Output with fields and, for lists, rows; Print writes it in the chosen form. A value knows both
// of its forms, so that JSON gets numbers, true/false, null, lists and ISO times where people
// read words.
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
        enum class Kind { kText, kNumber, kBool, kNull, kNumbers, kTime };
        Kind kind = Kind::kText;
        std::string text;  // the text form
        int64_t number = 0;
        std::vector<int64_t> numbers;
    };
    using Fields = std::vector<std::pair<std::string, Value>>;

    static Value Text(std::string text) { return Make(Value::Kind::kText, std::move(text)); }
    static Value Number(int64_t number) {
        return Make(Value::Kind::kNumber, std::to_string(number), number);
    }
    static Value Bool(bool yes) { return Make(Value::Kind::kBool, yes ? "yes" : "no", yes); }
    // A value that is not there: shown as the text given, null in JSON.
    static Value Null(std::string shown = "(not set)") {
        return Make(Value::Kind::kNull, std::move(shown));
    }
    // Numbers: shown as the text given, a list of numbers in JSON.
    static Value Numbers(std::vector<int64_t> numbers, std::string shown) {
        Value value = Make(Value::Kind::kNumbers, std::move(shown));
        value.numbers = std::move(numbers);
        return value;
    }
    // Seconds since 1970: local time for people, ISO 8601 with the offset in JSON.
    static Value Time(int32_t seconds);

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
    static Value Make(Value::Kind kind, std::string text, int64_t number = 0) {
        Value value;
        value.kind = kind;
        value.text = std::move(text);
        value.number = number;
        return value;
    }

    std::vector<std::string> lines_;
    Fields fields_;
    std::string rows_name_;
    std::vector<Fields> rows_;
    bool has_rows_ = false;
};

// A failure as a script reads it with --json: {"error": {"code": N, "message": "..."}}.
void PrintJsonError(FILE* to, int code, const std::string& kind, const std::string& message);

// How many columns a text of the library's code page takes on a terminal: each character once.
size_t DisplayWidth(const std::string& text);

}  // namespace cvcal
