#include "store/period_search.h"

#include <cctype>
#include <cstring>

#include "store/period_file.h"
#include "store/sse2.h"

// A get reads a whole period file to find the last line with an id. Cutting every line into a
// piece and viewing it costs far more than reading the file; but a piece whose id matches holds a
// tab with the id's bytes right after it, so the text is searched for that first: a tab, and at a
// fixed distance after it one byte of the id (the anchor) in one of the forms it matches. Only the
// lines around what that finds are cut and viewed, exactly as every piece would be.

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

    // A tab at `tab` with a form of the anchor at the anchor's distance.
    void Consider(size_t tab) {
        if (tab < resume_ || text_.size() - tab - 1 < needle_.length) return;
        if (!MatchesId(text_.substr(tab + 1, needle_.length), needle_.id)) return;
        // The id is there: the line around it decides.
        size_t begin = tab;
        while (begin > 0 && text_[begin - 1] != '\n') --begin;
        size_t end = text_.find('\n', tab + 1 + needle_.length);
        bool broken = end != std::string_view::npos;
        if (!broken) end = text_.size();
        resume_ = end + 1;
        if (end - begin <= kLineSize - 2) {
            // A line this short is one piece: the line without its CR LF or LF.
            size_t length = end - begin;
            if (broken && length > 0 && text_[end - 1] == '\r') --length;
            Check(text_.substr(begin, length));
            return;
        }
        // A longer line comes in several pieces: each is cut as the reader cuts it.
        for (size_t at = begin; at < text_.size() && at <= end;) {
            std::string_view piece;
            at += CutPiece(text_.substr(at), &piece);
            Check(piece);
        }
    }

    // Every place in [from, to) where a tab has a form of the anchor at its distance.
    void ConsiderEach(size_t from, size_t to) {
        const char* data = text_.data();
        for (size_t p = from; p < to; ++p) {
            const void* tab = std::memchr(data + p, '\t', to - p);
            if (tab == nullptr) return;
            p = static_cast<size_t>(static_cast<const char*>(tab) - data);
            if (p + needle_.shift >= text_.size()) return;
            unsigned char anchor = static_cast<unsigned char>(data[p + needle_.shift]);
            if (anchor == needle_.forms[0] || anchor == needle_.forms[1]) Consider(p);
        }
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
    size_t resume_ = 0;  // places before it lie in lines already decided
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
// Sixteen places at a time: where the text holds a tab, and where it holds a form of the anchor
// `shift` bytes further on. Returns where it stopped: the places left have no sixteen bytes
// after their anchor to compare.
CVAICP_SSE2_FUNCTION size_t ConsiderWide(std::string_view text, const Needle& needle,
                                         Search* search) {
    const char* data = text.data();
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i form0 = _mm_set1_epi8(static_cast<char>(needle.forms[0]));
    const __m128i form1 = _mm_set1_epi8(static_cast<char>(needle.forms[1]));
    size_t p = 0;
    for (; p + needle.shift + 16 <= text.size(); p += 16) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        __m128i there = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + needle.shift));
        __m128i anchor = _mm_or_si128(_mm_cmpeq_epi8(there, form0), _mm_cmpeq_epi8(there, form1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, tab), anchor)));
        while (mask) {
            search->Consider(p + static_cast<size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
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
    } else {
        size_t from = 0;
#ifdef CVAICP_SSE2
        if (HasSse2()) from = ConsiderWide(text, needle, &search);
#endif
        search.ConsiderEach(from, text.size());
    }
    if (search.found()) *found = search.last();
    return search.found();
}

}  // namespace cv
