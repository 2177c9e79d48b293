#include "provider/period_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/civil_time.h"
#include "common/text_helpers.h"

namespace cv {
namespace {

struct UtcDate {
    int64_t year;
    int month;
    int day;
};

UtcDate DateOf(int32_t time) {
    CivilTime t = UtcCivilTime(time);
    return UtcDate{t.year, t.month, t.day};
}

}  // namespace

std::string GetPeriodName(int32_t start, int32_t finish) {
    UtcDate a = DateOf(start);
    UtcDate b = DateOf(finish);
    char name[kPeriodNameSize];
    if (a.year != b.year) {
        std::snprintf(name, sizeof name, "Y");
    } else if (a.month != b.month) {
        std::snprintf(name, sizeof name, "Y%lld", static_cast<long long>(a.year - 2000));
    } else if (a.day != b.day) {
        std::snprintf(name, sizeof name, "Y%02lldM%02d", static_cast<long long>(a.year - 2000),
                      a.month);
    } else {
        std::snprintf(name, sizeof name, "Y%02lldM%02dD%02d", static_cast<long long>(a.year - 2000),
                      a.month, a.day);
    }
    return name;
}

int GetDelimitedField(const char* text, const char* delimiter, int n, char* out, size_t out_size) {
    size_t delimiter_length = std::strlen(delimiter);
    const char* first = delimiter_length ? std::strstr(text, delimiter) : nullptr;
    if (first == nullptr) {
        if (n > 1) return 0;
        CopyBounded(out, text, out_size);
        return 1;
    }
    const char* field = text;
    const char* end = first;
    for (int k = 1; k < n; ++k) {
        if (end == nullptr) {  // fewer than n fields
            if (out_size) out[0] = '\0';
            return 1;
        }
        field = end + delimiter_length;
        end = std::strstr(field, delimiter);
    }
    size_t length = end ? static_cast<size_t>(end - field) : std::strlen(field);
    if (out_size == 0) return 1;
    if (length >= out_size) length = out_size - 1;
    std::memcpy(out, field, length);
    out[length] = '\0';
    return 1;
}

PeriodLine ParsePeriodLine(const char* text) {
    PeriodLine line;
    char field[kLineSize];
    field[0] = '\0';
    if (GetDelimitedField(text, "\t", 1, field, sizeof field)) line.start = ReadDecimal(field);
    field[0] = '\0';
    if (GetDelimitedField(text, "\t", 2, field, sizeof field)) line.finish = ReadDecimal(field);
    GetDelimitedField(text, "\t", 3, line.id, sizeof line.id);
    return line;
}

bool MatchesId(const char* line_id, const char* request_id) {
    return request_id[0] == '\0' || CompareNoCase(line_id, request_id) == 0;
}

bool PeriodFileReader::Open(const char* path) {
    window_.clear();
    start_ = 0;
    position_ = 0;
    end_ = failed_ = false;
    return file_.Open(path, File::Mode::kRead);
}

bool PeriodFileReader::SeekTo(uint64_t offset) {
    window_.clear();
    start_ = 0;
    end_ = false;
    if (!file_.Seek(static_cast<int64_t>(offset))) {
        failed_ = true;
        return false;
    }
    position_ = offset;
    return true;
}

// Keeps at least a whole piece and the two bytes of a line break after it in the window, so that
// every piece is decided as a reading from the start would decide it.
void PeriodFileReader::Fill() {
    while (!end_ && window_.size() - start_ < kLineSize + 1) {
        window_.erase(0, start_);
        start_ = 0;
        char buffer[16384];
        int64_t got = file_.Read(buffer, sizeof buffer);
        if (got < 0) failed_ = true;
        if (got <= 0) {
            end_ = true;
            break;
        }
        window_.append(buffer, static_cast<size_t>(got));
    }
}

bool PeriodFileReader::Next(std::string_view* line) {
    Fill();
    if (failed_ || start_ >= window_.size()) return false;
    size_t end = start_;
    size_t counted = 0;
    bool broke = false;
    while (end < window_.size() && counted < kLineSize - 1) {
        if (window_[end] == '\n' ||
            (window_[end] == '\r' && end + 1 < window_.size() && window_[end + 1] == '\n')) {
            broke = true;
            break;
        }
        ++end;
        ++counted;
    }
    *line = std::string_view(window_.data() + start_, end - start_);
    if (broke) end += window_[end] == '\r' ? 2 : 1;
    position_ += end - start_;
    start_ = end;
    return true;
}

void PeriodFileWriter::Add(int32_t start, int32_t finish, const char* id) {
    char line[kLineSize + 32];
    int written = std::snprintf(line, sizeof line, lines_ ? "\r\n%d\t%d\t%s" : "%d\t%d\t%s", start,
                                finish, id);
    if (written > 0)
        content_.append(line, static_cast<size_t>(written) < sizeof line
                                  ? static_cast<size_t>(written)
                                  : sizeof line - 1);
    ++lines_;
}

bool PeriodFileWriter::WriteTo(const char* path) const {
    File file;
    if (!file.Open(path, File::Mode::kWriteTruncate)) return false;
    bool written = file.Write(content_.data(), content_.size());
    return file.Close() && written;
}

}  // namespace cv
