#include "store/period_search.h"

#include <cctype>
#include <cstring>

#include "store/period_file.h"
#include "store/sse2.h"

// A get reads a whole period file to find the last line with an id. Cutting every line into a
// piece and viewing it costs far more than reading the file; but a piece whose id matches holds a
// tab with the id's bytes right after it, so the text is searched for that first: a tab, and at a
// fixed distance after it one byte of the id (the anchor) in one of the forms it matches. Only the
// lines around what that finds are cut and viewed, exactly as every piece would be. The search
// goes from the end back, so the first line that holds the id is the last one, and ends it.

namespace cv {
namespace {

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

constexpr int kMostForms = 2;

struct Needle {
    const char* id;
    size_t length;
    size_t shift;  // from the tab to the anchor
    unsigned char forms[kMostForms];
    int form_count;  // 0: the anchor has more forms than the search compares
};

// The bytes that MatchesId takes for the anchor: itself and, where it is no digit, every other
// non-digit with the same lower case. Digits make the best anchors (one form, no case mapping to
// ask), so the last digit of the id is taken, else its last byte.
Needle NeedleFor(const char* id) {
    Needle needle{id, std::strlen(id), 0, {0, 0}, 1};
    size_t anchor = needle.length - 1;
    for (size_t i = needle.length; i-- > 0;) {
        if (IsDigit(static_cast<unsigned char>(id[i]))) {
            anchor = i;
            break;
        }
    }
    needle.shift = 1 + anchor;
    const unsigned char c = static_cast<unsigned char>(id[anchor]);
    needle.forms[0] = needle.forms[1] = c;
    if (IsDigit(c)) return needle;
    const int lower = std::tolower(c);
    for (int x = 0; x < 256; ++x) {
        if (x == c || IsDigit(x) || std::tolower(x) != lower) continue;
        if (needle.form_count == kMostForms) {
            needle.form_count = 0;
            break;
        }
        needle.forms[needle.form_count++] = static_cast<unsigned char>(x);
    }
    return needle;
}

class Search {
  public:
    Search(std::string_view text, const Needle& needle) : text_(text), needle_(needle) {}

    // A tab at `tab` with a form of the anchor at the anchor's distance. True once the line
    // around it holds a piece with the id: the search goes from the end of the text, so that
    // piece's line is the last one with the id, and the search is over.
    bool Decide(size_t tab) {
        if (tab >= decided_from_ || text_.size() - tab - 1 < needle_.length) return false;
        // The ids of one calendar mostly share their beginnings and differ in their last
        // digits, which no case mapping touches: the last but one is compared first.
        if (needle_.length >= 2) {
            const char have = text_[tab + needle_.length - 1];
            const char want = needle_.id[needle_.length - 2];
            if (have != want && (IsDigit(have) || IsDigit(want))) return false;
        }
        if (!MatchesId(text_.substr(tab + 1, needle_.length), needle_.id)) return false;
        // The id is there: the line around it decides.
        size_t begin = tab;
        while (begin > 0 && text_[begin - 1] != '\n') --begin;
        size_t end = text_.find('\n', tab + 1 + needle_.length);
        bool broken = end != std::string_view::npos;
        if (!broken) end = text_.size();
        decided_from_ = begin;
        if (end - begin <= kLineSize - 2) {
            // A line this short is one piece: the line without its CR LF or LF.
            size_t length = end - begin;
            if (broken && length > 0 && text_[end - 1] == '\r') --length;
            Check(text_.substr(begin, length));
            return found_;
        }
        // A longer line comes in several pieces: each is cut as the reader cuts it.
        for (size_t at = begin; at < text_.size() && at <= end;) {
            std::string_view piece;
            at += CutPiece(text_.substr(at), &piece);
            Check(piece);
        }
        return found_;
    }

    // The places before `to`, from the last one back, where a tab has a form of the anchor at its
    // distance, until one decides.
    bool DecideEachBefore(size_t to) {
        const char* data = text_.data();
        for (size_t p = to; p-- > 0;) {
            if (data[p] != '\t') continue;
            unsigned char anchor = static_cast<unsigned char>(data[p + needle_.shift]);
            if ((anchor == needle_.forms[0] || anchor == needle_.forms[1]) && Decide(p)) {
                return true;
            }
        }
        return false;
    }

    void Check(std::string_view piece) {
        if (!piece.empty() && MatchesId(ViewPeriodPiece(piece).id, needle_.id)) {
            found_ = true;
            last_ = piece;
        }
    }

    bool found() const { return found_; }
    std::string_view last() const { return last_; }

  private:
    std::string_view text_;
    const Needle& needle_;
    size_t decided_from_ = std::string_view::npos;  // places from it lie in lines decided
    bool found_ = false;
    std::string_view last_;
};

// Every piece viewed in turn: for an anchor with more forms than the search compares.
void CheckEveryPiece(std::string_view text, Search* search) {
    for (size_t at = 0; at < text.size();) {
        std::string_view piece;
        at += CutPiece(text.substr(at), &piece);
        search->Check(piece);
    }
}

#ifdef CVAICP_SSE2
// The places marked in `mask` (bit i: place `from` + i), from the last one back, until one
// decides.
inline bool DecideMarked(unsigned mask, size_t from, Search* search) {
    while (mask) {
        const unsigned bit = 31u - static_cast<unsigned>(__builtin_clz(mask));
        if (search->Decide(from + bit)) return true;
        mask &= ~(1u << bit);
    }
    return false;
}

// Sixteen places at a time, from the end of [0, to) back: where the text holds a tab, and where
// it holds a form of the anchor `shift` bytes further on. Returns where it stopped: the search is
// over when a place decided, and otherwise fewer than sixteen places are left before it.
CVAICP_SSE2_FUNCTION size_t DecideWide(std::string_view text, size_t to, const Needle& needle,
                                       Search* search) {
    const char* data = text.data();
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i form0 = _mm_set1_epi8(static_cast<char>(needle.forms[0]));
    const __m128i form1 = _mm_set1_epi8(static_cast<char>(needle.forms[1]));
    size_t p = to;
    while (p >= 16) {
        p -= 16;
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        __m128i there = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + needle.shift));
        __m128i anchor = _mm_or_si128(_mm_cmpeq_epi8(there, form0), _mm_cmpeq_epi8(there, form1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, tab), anchor)));
        if (DecideMarked(mask, p, search)) return 0;
    }
    return p;
}

// The same, thirty-two places at a time.
CVAICP_AVX2_FUNCTION size_t DecideWider(std::string_view text, size_t to, const Needle& needle,
                                        Search* search) {
    const char* data = text.data();
    const __m256i tab = _mm256_set1_epi8('\t');
    const __m256i form0 = _mm256_set1_epi8(static_cast<char>(needle.forms[0]));
    const __m256i form1 = _mm256_set1_epi8(static_cast<char>(needle.forms[1]));
    size_t p = to;
    while (p >= 32) {
        p -= 32;
        __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p));
        __m256i there =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p + needle.shift));
        __m256i anchor =
            _mm256_or_si256(_mm256_cmpeq_epi8(there, form0), _mm256_cmpeq_epi8(there, form1));
        unsigned mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(here, tab), anchor)));
        if (DecideMarked(mask, p, search)) return 0;
    }
    return p;
}
#endif

}  // namespace

bool FindLastPieceWithId(std::string_view text, const char* id, std::string_view* found) {
    Needle needle = NeedleFor(id);
    Search search(text, needle);
    if (needle.form_count == 0) {
        CheckEveryPiece(text, &search);
    } else if (text.size() > needle.shift) {
        // The places whose anchor lies inside the text.
        size_t to = text.size() - needle.shift;
#ifdef CVAICP_SSE2
        if (HasAvx2()) to = DecideWider(text, to, needle, &search);
        if (to > 0 && !search.found() && HasSse2()) to = DecideWide(text, to, needle, &search);
#endif
        if (to > 0 && !search.found()) search.DecideEachBefore(to);
    }
    if (search.found()) *found = search.last();
    return search.found();
}

}  // namespace cv
