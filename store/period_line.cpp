// The line format of period files: parsing a line, matching its id, and cutting a text into
// lines, sixteen bytes at a time where the processor allows.
#include "store/period_file.h"

#include <cctype>
#include <cstring>

#include "common/text_helpers.h"
#include "store/sse2.h"

namespace cv {

namespace {

// A field of a tab-separated line, [begin, end).
struct Span {
    const char* begin;
    const char* end;
};

// Copies a field into out (kLineSize bytes), cut to fit, NUL-terminated.
void CopySpan(Span span, char* out) {
    size_t length = static_cast<size_t>(span.end - span.begin);
    if (length > kLineSize - 1) length = kLineSize - 1;
    std::memcpy(out, span.begin, length);
    out[length] = '\0';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// The fields as DelimitedField with a tab gives them, found in one pass: field 1 up to the
// first tab (or the whole line), field 2 only when there is a tab, field 3 only when there are
// two, each ending at the next tab or at the end of the line.
PeriodLine ParsePeriodLine(const char* text) {
    PeriodLine line;
    const char* end = text + std::strlen(text);
    const char* tabs[3] = {nullptr, nullptr, nullptr};
    const char* from = text;
    for (int k = 0; k < 3; ++k) {
        tabs[k] =
            static_cast<const char*>(std::memchr(from, '\t', static_cast<size_t>(end - from)));
        if (tabs[k] == nullptr) break;
        from = tabs[k] + 1;
    }
    char field[kLineSize];
    CopySpan(Span{text, tabs[0] ? tabs[0] : end}, field);
    line.start = ReadDecimal(field);
    line.id[0] = '\0';
    if (tabs[0] == nullptr) return line;
    CopySpan(Span{tabs[0] + 1, tabs[1] ? tabs[1] : end}, field);
    line.finish = ReadDecimal(field);
    if (tabs[1] == nullptr) return line;
    CopySpan(Span{tabs[1] + 1, tabs[2] ? tabs[2] : end}, line.id);
    return line;
}

bool MatchesId(const char* line_id, const char* request_id) {
    return MatchesId(std::string_view(line_id), request_id);
}

// The same letter in another case counts as the same (as the C runtime's case mapping has it);
// equal bytes are the rule, and the mapping is asked only where they differ.
bool MatchesId(std::string_view line_id, const char* request_id) {
    if (request_id[0] == '\0') return true;
    for (size_t i = 0; i < line_id.size(); ++i) {
        char a = line_id[i], b = request_id[i];  // b is NUL where the request's id is shorter
        if (a == b) continue;
        // Ids tend to differ in digits, which no case mapping touches: no need to ask it then.
        if (IsDigit(a) || IsDigit(b) ||
            std::tolower(static_cast<unsigned char>(a)) !=
                std::tolower(static_cast<unsigned char>(b))) {
            return false;
        }
    }
    return request_id[line_id.size()] == '\0';
}

namespace {

// Whether a field is a number as "%d" writes it: an optional minus, digits without a leading
// zero (0 alone), within the 32-bit range, "-0" excepted.
bool IsPlainNumber(std::string_view field) {
    bool negative = !field.empty() && field[0] == '-';
    std::string_view digits = field.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 10) return false;
    if (digits[0] == '0') return digits.size() == 1 && !negative;
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= (negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX);
}

}  // namespace

PeriodPiece ViewPeriodPiece(std::string_view piece, bool may_hold_nul) {
    // One pass over the piece, as ParsePeriodLine reads it: a C text, which ends at a NUL, of at
    // most kLineSize - 1 characters (as the reader hands pieces out).
    const size_t whole = piece.size();
    piece = piece.substr(0, kLineSize - 1);
    const char* data = piece.data();
    size_t end = piece.size();
    if (const void* nul = may_hold_nul ? std::memchr(data, '\0', end) : nullptr) {
        end = static_cast<size_t>(static_cast<const char*>(nul) - data);
    }
    size_t tabs[3];
    size_t found = 0;
    for (size_t from = 0; found < 3; from = tabs[found - 1] + 1) {
        const void* tab = std::memchr(data + from, '\t', end - from);
        if (tab == nullptr) break;
        tabs[found++] = static_cast<size_t>(static_cast<const char*>(tab) - data);
    }
    if (found == 3) end = tabs[2];  // the id ends here; the line is not as written
    PeriodPiece view;
    if (found < 2) return view;  // no third field: the id is empty
    size_t id_end = found == 3 ? tabs[2] : end;
    view.id = piece.substr(tabs[1] + 1, id_end - tabs[1] - 1);
    if (found == 2 && end == whole) {
        view.start_field = piece.substr(0, tabs[0]);
        view.finish_field = piece.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1);
        view.three_fields = true;
    }
    return view;
}

bool PeriodPiece::AsWritten() const {
    return three_fields &&
           (plain_numbers || (IsPlainNumber(start_field) && IsPlainNumber(finish_field)));
}

namespace {

// A plain number (see IsPlainNumber) from `at` up to a tab, which `at` is then moved past.
bool TakePlainNumber(const char*& at, const char* end) {
    const char* p = at;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    const char* digits = p;
    while (p < end && IsDigit(*p)) ++p;
    if (p == end || *p != '\t') return false;
    const size_t count = static_cast<size_t>(p - digits);
    if (count == 0 || count > 10) return false;
    if (*digits == '0' && (count > 1 || negative)) return false;
    if (count == 10 && std::memcmp(digits, negative ? "2147483648" : "2147483647", 10) > 0) {
        return false;
    }
    at = p + 1;
    return true;
}

}  // namespace

namespace {

// A common line whose tabs and line feed are found: the piece and its view.
size_t TakeCommonLine(const char* begin, const char* tab1, const char* tab2, const char* lf,
                      std::string_view* piece, PeriodPiece* view) {
    const char* id = tab2 + 1;
    const char* end = lf > id && lf[-1] == '\r' ? lf - 1 : lf;
    *piece = std::string_view(begin, static_cast<size_t>(end - begin));
    view->id = std::string_view(id, static_cast<size_t>(end - id));
    view->start_field = std::string_view(begin, static_cast<size_t>(tab1 - begin));
    view->finish_field = std::string_view(tab1 + 1, static_cast<size_t>(tab2 - tab1 - 1));
    view->three_fields = view->plain_numbers = true;
    return static_cast<size_t>(lf + 1 - begin);
}

#ifdef CVAICP_SSE2
// The rules of a plain number (see IsPlainNumber) for a field known to be an optional minus and
// digits.
bool PlainDigits(const char* field, size_t length) {
    const bool negative = length > 0 && field[0] == '-';
    const char* digits = field + (negative ? 1 : 0);
    const size_t count = length - (negative ? 1 : 0);
    if (count == 0 || count > 10) return false;
    if (*digits == '0' && (count > 1 || negative)) return false;
    return count < 10 || std::memcmp(digits, negative ? "2147483648" : "2147483647", 10) <= 0;
}

constexpr size_t kWideLine = 64;
constexpr size_t kUndecided = ~size_t{0};

// The bytes found equal in the k-th sixteen of a line, as bits of the whole line.
CVAICP_SSE2_FUNCTION inline uint64_t Bits(__m128i equal, int k) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(equal))) << (16 * k);
}

// A line of fewer than kWideLine bytes, decided from the masks of its tabs, line feeds, digits
// and minus signs, sixteen bytes at a time; kUndecided for a longer one. Needs kWideLine bytes.
CVAICP_SSE2_FUNCTION size_t CutCommonLineWide(const char* begin, std::string_view* piece,
                                              PeriodPiece* view) {
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9), minus = _mm_set1_epi8('-');
    uint64_t tabs = 0, lfs = 0, digits = 0, signs = 0;
    for (int k = 0; k < 4; ++k) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + 16 * k));
        __m128i value = _mm_sub_epi8(x, zero);  // a digit's value, anything else 10 or more
        tabs |= Bits(_mm_cmpeq_epi8(x, tab), k);
        lfs |= Bits(_mm_cmpeq_epi8(x, lf), k);
        digits |= Bits(_mm_cmpeq_epi8(_mm_min_epu8(value, nine), value), k);
        signs |= Bits(_mm_cmpeq_epi8(x, minus), k);
    }
    if (lfs == 0) return kUndecided;
    const int at = __builtin_ctzll(lfs);
    uint64_t line_tabs = tabs & ((uint64_t{1} << at) - 1);
    if (line_tabs == 0) return 0;
    const int tab1 = __builtin_ctzll(line_tabs);
    line_tabs &= line_tabs - 1;
    if (line_tabs == 0) return 0;
    const int tab2 = __builtin_ctzll(line_tabs);
    if ((line_tabs & (line_tabs - 1)) != 0) return 0;  // a third tab
    // Both numbers hold digits only, but for a minus where each begins.
    const uint64_t numbers = ((uint64_t{1} << tab2) - 1) & ~(uint64_t{1} << tab1);
    const uint64_t allowed = digits | (signs & (uint64_t{1} | uint64_t{1} << (tab1 + 1)));
    if ((numbers & ~allowed) != 0) return 0;
    if (!PlainDigits(begin, static_cast<size_t>(tab1)) ||
        !PlainDigits(begin + tab1 + 1, static_cast<size_t>(tab2 - tab1 - 1))) {
        return 0;
    }
    return TakeCommonLine(begin, begin + tab1, begin + tab2, begin + at, piece, view);
}
#endif

}  // namespace

size_t CutCommonLine(std::string_view text, std::string_view* piece, PeriodPiece* view) {
    const char* begin = text.data();
#ifdef CVAICP_SSE2
    if (text.size() >= kWideLine && HasSse2()) {
        size_t consumed = CutCommonLineWide(begin, piece, view);
        if (consumed != kUndecided) return consumed;
    }
#endif
    const char* limit = begin + (text.size() < kLineSize - 1 ? text.size() : kLineSize - 1);
    const char* at = begin;
    if (!TakePlainNumber(at, limit)) return 0;
    const char* tab1 = at - 1;
    if (!TakePlainNumber(at, limit)) return 0;
    const char* tab2 = at - 1;
    const char* lf =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(limit - at)));
    if (lf == nullptr || std::memchr(at, '\t', static_cast<size_t>(lf - at)) != nullptr) return 0;
    return TakeCommonLine(begin, tab1, tab2, lf, piece, view);
}

size_t CutPiece(std::string_view text, std::string_view* piece) {
    const char* begin = text.data();
    size_t available = text.size();
    size_t searched = available < kLineSize ? available : kLineSize;
    const char* lf = static_cast<const char*>(std::memchr(begin, '\n', searched));
    size_t at = lf ? static_cast<size_t>(lf - begin) : searched;
    size_t length, consumed;
    if (lf && at > 0 && begin[at - 1] == '\r') {
        length = at - 1;
        consumed = at + 1;
    } else if (lf && at < kLineSize - 1) {
        length = at;
        consumed = at + 1;
    } else {
        length = consumed = available < kLineSize - 1 ? available : kLineSize - 1;
    }
    *piece = std::string_view(begin, length);
    return consumed;
}

}  // namespace cv
