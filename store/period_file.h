// Period files: the appointments of one calendar period, one line "start<TAB>finish<TAB>id" each,
// lines separated by CR LF with no line break after the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace cv {

constexpr size_t kLineSize = 1024;  // lines are read in pieces of at most kLineSize - 1
constexpr size_t kPeriodNameSize = 64;

// The period file's base name for an appointment, from the UTC dates of start and finish: "Y" when
// the years differ, "Y<year-2000>" when the months differ, "Y<yy>M<mm>" when the days differ, and
// "Y<yy>M<mm>D<dd>" for one day. Every 32-bit time has a date (a proleptic calendar, before 1970
// too), so every pair has a name.
std::string GetPeriodName(int32_t start, int32_t finish);

// One parsed line. Missing fields read as 0 and the empty text. (The id is set by
// ParsePeriodLine rather than zeroed at construction: lines are parsed by the thousand.)
struct PeriodLine {
    int32_t start = 0;
    int32_t finish = 0;
    char id[kLineSize];
};

// Parses a line whose line break has been removed.
PeriodLine ParsePeriodLine(const char* text);

// Whether a line belongs to a request's id: an empty id matches every line, otherwise the ids are
// compared without regard to case.
bool MatchesId(const char* line_id, const char* request_id);
bool MatchesId(std::string_view line_id, const char* request_id);

// A piece seen in place, without parsing it: the id that ParsePeriodLine would give, and whether
// the writer would give the piece's own bytes back for the parsed line (AsWritten: both numbers
// in their plain decimal form, exactly three fields, no NUL). Most lines of a file are such lines,
// and a rewrite can then copy them instead of parsing and formatting each.
struct PeriodPiece {
    std::string_view id;
    bool AsWritten() const;

    // What AsWritten looks at: the number fields of a piece of exactly three fields and no NUL.
    std::string_view start_field, finish_field;
    bool three_fields = false;
    bool plain_numbers = false;  // known already: both fields are plain numbers
};
// `may_hold_nul` false: the caller has found no NUL in the text the piece was cut from, and the
// piece is not searched for one again.
PeriodPiece ViewPeriodPiece(std::string_view piece, bool may_hold_nul = true);

// The common line cut and viewed at once: "<number>\t<number>\t<id>", both numbers plain, an id
// without a tab, CR LF or LF after it, within kLineSize - 1 characters, from a text that holds no
// NUL. Gives what CutPiece and ViewPeriodPiece would give (as written, then) and returns the bytes
// the piece took up; returns 0 for any other piece, which the caller then cuts and views.
size_t CutCommonLine(std::string_view text, std::string_view* piece, PeriodPiece* view);

// Cuts the first piece off a period file's text as the C runtime's fgets would read it in text
// mode with a kLineSize buffer: up to a line break (LF, or CR LF) that begins within its first
// kLineSize - 1 characters, without the break; else those characters, and a break just after them
// comes as a piece of its own. The text must hold kLineSize + 1 bytes or run to the end of the
// file. Returns the bytes the piece took up, its line break included.
size_t CutPiece(std::string_view text, std::string_view* piece);

// Reads a period file piece by piece (see CutPiece). It reads as it goes, so a walk that stops
// early reads only what it needed, and it can start at any piece boundary an earlier reading
// reported; or it reads the rest of the file at once, for an operation that needs all of it.
class PeriodFileReader {
  public:
    // What the file is read for. A walk wants the next line or so, a lookup and a change want
    // all of the file, in one call if they can. A change writes back what it read, so its reads
    // go on until the end is certain; the others take a short read for the end.
    enum class Purpose { kWalk, kLookup, kChange };
    explicit PeriodFileReader(Purpose purpose);

    bool Open(const char* path, const FolderHandle* folder = nullptr);
    // Continues at a byte offset that position() gave for this same file.
    bool SeekTo(uint64_t offset);
    // The next piece without its line break; false at the end, or when reading failed.
    bool Next(std::string_view* line);
    // Everything not handed out yet, to the end of the file, in one text for CutPiece. False when
    // a read failed: the text is not the whole rest.
    bool ReadRest(std::string_view* rest);
    // True when a read failed: what was read is not the whole file.
    bool failed() const { return failed_; }
    // Every byte of the file, where ReadRest read it from the start to the end; null otherwise.
    // Valid until the reader opens or reads again.
    const std::string_view* whole() const { return has_whole_ ? &whole_ : nullptr; }
    // The byte offset of the next piece.
    uint64_t position() const { return position_; }
    // Lets go of the file: Windows does not replace a file that is still open.
    void Close() { file_.Close(); }
    File& file() { return file_; }

  private:
    // Reads once more into the window, making room for read_size_ bytes after what it holds.
    void ReadMore();

    File file_;
    File::Mode mode_;
    size_t read_size_;
    std::unique_ptr<char[]> window_;  // [start_, end_) not handed out yet
    size_t capacity_ = 0;
    size_t start_ = 0;
    size_t end_ = 0;
    uint64_t position_ = 0;
    bool at_end_ = false;
    bool failed_ = false;
    bool has_whole_ = false;
    std::string_view whole_;
};

// Builds the new content of a period file: lines joined by CR LF, none after the last.
class PeriodFileWriter {
  public:
    void Add(int32_t start, int32_t finish, const char* id);
    // A piece that ViewPeriodPiece found as written, as it is. Pieces that follow each other in
    // the text they were cut from, CR LF between them, are copied in one run: the text must stay
    // in place until the content is next asked for or written.
    void AddAsWritten(std::string_view piece);
    // Room for this many bytes of content, so that it is not copied as it grows.
    void Reserve(size_t bytes) { content_.reserve(bytes); }
    size_t lines() const { return lines_; }
    const std::string& content() const;
    // Writes the content to a new or truncated file. False on any failure.
    bool WriteTo(const char* path) const;

  private:
    void AppendLine(const char* bytes, size_t size) const;
    void CopyRun() const;

    mutable std::string content_;
    mutable size_t appended_ = 0;  // lines in content_, the run not yet copied aside
    mutable std::string_view run_;
    size_t lines_ = 0;
};

}  // namespace cv
