// Writing the new content of a period file in memory, then to its temporary copy in one piece.
#include "store/period_file.h"

#include <charconv>
#include <cstring>

namespace cv {

void PeriodFileWriter::Add(int32_t start, int32_t finish, const char* id) {
    // The line as "%d\t%d\t%s" gives it, cut to kLineSize + 31 characters; composed by hand,
    // since every change rewrites every line.
    constexpr size_t kMostCharacters = kLineSize + 31;
    constexpr int kDigits = 11;  // "-2147483648"
    char line[kMostCharacters];
    char* at = line;
    at = std::to_chars(at, at + kDigits, start).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + kDigits, finish).ptr;
    *at++ = '\t';
    size_t head = static_cast<size_t>(at - line);
    size_t id_length = strnlen(id, kMostCharacters - head);
    std::memcpy(at, id, id_length);
    CopyRun();
    AppendLine(line, head + id_length);
    ++lines_;
}

void PeriodFileWriter::AddAsWritten(std::string_view piece) {
    const char* run_end = run_.data() + run_.size();
    if (!run_.empty() && piece.data() == run_end + 2 && run_end[0] == '\r' && run_end[1] == '\n') {
        run_ = std::string_view(run_.data(), run_.size() + 2 + piece.size());
    } else {
        CopyRun();
        run_ = piece;
    }
    ++lines_;
}

void PeriodFileWriter::AppendLine(const char* bytes, size_t size) const {
    if (appended_) content_.append("\r\n", 2);
    content_.append(bytes, size);
    ++appended_;
}

// The run of pieces becomes one line as far as the separators go: its own CR LFs are in it.
void PeriodFileWriter::CopyRun() const {
    if (run_.data() == nullptr) return;
    AppendLine(run_.data(), run_.size());
    run_ = std::string_view();
}

const std::string& PeriodFileWriter::content() const {
    CopyRun();
    return content_;
}

bool PeriodFileWriter::WriteTo(const char* path) const {
    File file;
    if (!file.Open(path, File::Mode::kWriteTruncate)) return false;
    const std::string& bytes = content();
    bool written = file.Write(bytes.data(), bytes.size());
    return file.Close() && written;
}

}  // namespace cv
