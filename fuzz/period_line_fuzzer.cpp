// Period files as the provider reads them: any bytes in a period file come back as the pieces that
// the C runtime's fgets would give in text mode (CR LF one line break, pieces of at most 1023
// characters), also when a walk resumes at a position it reported; each piece parses into a
// line that the writer writes back the same; and DelimitedField picks the field it names.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "common/delimited_text.h"
#include "platform/platform.h"
#include "common/text_helpers.h"
#include "fuzz/fuzz_folder.h"
#include "store/period_file.h"
#include "store/period_search.h"

namespace {

// fgets over the text as text mode hands it over: every CR LF becomes LF first.
std::vector<std::string> FgetsPieces(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text.push_back(bytes[i]);
    }
    std::vector<std::string> pieces;
    for (size_t at = 0; at < text.size();) {
        const size_t take = std::min(text.find('\n', at) - at, size_t{cv::kLineSize - 1});
        pieces.push_back(text.substr(at, take));
        at += take;
        // A full buffer stops before the line feed: the next fgets gets it, as an empty line.
        if (take < cv::kLineSize - 1 && at < text.size()) ++at;
    }
    return pieces;
}

void ReadFile(const std::string& bytes) {
    static const std::string path = cv::fuzzing::FuzzFolder() + "\\Y05M03D07.CAL";
    {
        cv::File file;
        FUZZ_CHECK(file.Open(path.c_str(), cv::File::Mode::kWriteTruncate));
        FUZZ_CHECK(file.Write(bytes.data(), bytes.size()) && file.Close());
    }
    const std::vector<std::string> expected = FgetsPieces(bytes);
    std::vector<uint64_t> positions;
    cv::PeriodFileReader reader(cv::PeriodFileReader::Purpose::kWalk);
    FUZZ_CHECK(reader.Open(path.c_str()));
    std::string_view piece;
    size_t count = 0;
    while (reader.Next(&piece)) {
        FUZZ_CHECK(count < expected.size() && piece == expected[count]);
        positions.push_back(reader.position());
        ++count;
    }
    FUZZ_CHECK(!reader.failed() && count == expected.size());
    reader.Close();

    // The search for a line by id agrees with viewing every piece, for the ids the file holds.
    for (size_t k = 0; k < expected.size() && k < 8; ++k) {
        const std::string id(cv::ViewPeriodPiece(expected[k]).id);
        if (id.empty() || id.find('\0') != std::string::npos) continue;
        std::string_view found, last;
        const bool any = cv::FindLastPieceWithId(bytes, id.c_str(), &found);
        for (const std::string& p : expected)
            if (!p.empty() && cv::MatchesId(cv::ViewPeriodPiece(p).id, id.c_str())) last = p;
        FUZZ_CHECK(any == !last.empty() && (!any || found == last));
    }
    // Each piece parses into a line that the writer writes back the same.
    for (const std::string& p : expected) {
        const cv::PeriodLine line = cv::ParsePeriodLine(p.c_str());
        FUZZ_CHECK(std::strlen(line.id) < sizeof line.id);
        cv::PeriodFileWriter writer;
        writer.Add(line.start, line.finish, line.id);
        const cv::PeriodLine again = cv::ParsePeriodLine(writer.content().c_str());
        FUZZ_CHECK(again.start == line.start && again.finish == line.finish &&
                   std::strcmp(again.id, line.id) == 0);
    }

    // A walk that stops after some piece and continues later from its position.
    if (positions.empty()) return;
    const size_t resume = bytes.size() % positions.size();
    cv::PeriodFileReader later(cv::PeriodFileReader::Purpose::kWalk);
    FUZZ_CHECK(later.Open(path.c_str()) && later.SeekTo(positions[resume]));
    for (size_t k = resume + 1; k < expected.size(); ++k) {
        FUZZ_CHECK(later.Next(&piece) && piece == expected[k]);
    }
    FUZZ_CHECK(!later.Next(&piece) && !later.failed());
}

// Field n of text by delimiter, as documented: no delimiter in the text makes field 1 (or less)
// the whole text and any later field a failure; with delimiters, a field past the last is empty.
void DelimitedField(const std::string& input) {
    if (input.size() < 2) return;
    const int n = static_cast<signed char>(input[0]);
    const size_t split = input.find('\x01', 1);
    if (split == std::string::npos) return;
    const std::string delimiter = input.substr(1, split - 1).c_str();
    const std::string text = input.substr(split + 1).c_str();
    std::string expected;
    bool ok = true;
    if (delimiter.empty() || text.find(delimiter) == std::string::npos) {
        ok = n <= 1;
        expected = text;
    } else {
        size_t field = 0, end = text.find(delimiter);
        for (int k = 1; k < n && field != std::string::npos; ++k) {
            field = end == std::string::npos ? end : end + delimiter.size();
            if (field != std::string::npos) end = text.find(delimiter, field);
        }
        if (field != std::string::npos) {
            expected = text.substr(field, end == std::string::npos ? end : end - field);
        }
    }
    for (size_t out_size : {size_t{1024}, size_t{5}}) {
        char out[1024];
        std::memset(out, 0x5A, sizeof out);
        FUZZ_CHECK(cv::DelimitedField(text.c_str(), delimiter.c_str(), n, out, out_size) ==
                   (ok ? 1 : 0));
        for (size_t i = 0; !ok && i < sizeof out; ++i) FUZZ_CHECK(out[i] == 0x5A);
        FUZZ_CHECK(!ok || expected.substr(0, out_size - 1) == out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Some inputs repeated, so that files larger than the reader's buffers occur.
    std::string bytes;
    const int copies = size > 0 ? 1 + (data[0] % 3) * 4 : 1;
    for (int i = 0; i < copies; ++i) bytes += input;
    ReadFile(bytes);
    DelimitedField(input);
    return 0;
}
