// Reading a period file piece by piece, as it is walked, or whole.
#include "store/period_file.h"

#include <cstring>
#include <memory>

namespace cv {

PeriodFileReader::PeriodFileReader(Purpose purpose)
    : mode_(purpose == Purpose::kChange ? File::Mode::kRead : File::Mode::kReadQuick),
      read_size_(purpose == Purpose::kWalk ? 4 * kLineSize : 64 * kLineSize) {}

bool PeriodFileReader::Open(const char* path, const FolderHandle* folder) {
    start_ = end_ = 0;
    position_ = 0;
    at_end_ = failed_ = has_whole_ = false;
    return file_.Open(path, mode_, folder);
}

bool PeriodFileReader::SeekTo(uint64_t offset) {
    start_ = end_ = 0;
    at_end_ = has_whole_ = false;
    if (!file_.Seek(static_cast<int64_t>(offset))) {
        failed_ = true;
        return false;
    }
    position_ = offset;
    return true;
}

void PeriodFileReader::ReadMore() {
    const size_t held = end_ - start_;
    // A read asks for read_size_ bytes; or, where the file's size is known and less is left, for
    // what is left and one byte more, which meets the end. A large window for a small file costs
    // the heap more than the reading.
    size_t wanted = read_size_;
    int64_t size = file_.SizeAtOpen();
    uint64_t offset = position_ + held;
    if (size >= 0 && static_cast<uint64_t>(size) >= offset &&
        static_cast<uint64_t>(size) - offset < wanted) {
        wanted = static_cast<size_t>(static_cast<uint64_t>(size) - offset) + 1;
    }
    if (capacity_ - end_ < wanted) {
        // Room at the front is taken back first; the window grows only when what it holds and
        // the read do not fit.
        if (held + wanted > capacity_) {
            size_t capacity = capacity_ * 2 > held + wanted ? capacity_ * 2 : held + wanted;
            std::unique_ptr<char[]> grown(new char[capacity]);
            if (held) std::memcpy(grown.get(), window_.get() + start_, held);
            window_ = std::move(grown);
            capacity_ = capacity;
        } else if (held) {
            std::memmove(window_.get(), window_.get() + start_, held);
        }
        start_ = 0;
        end_ = held;
    }
    size_t asked = capacity_ - end_;
    int64_t got = file_.Read(window_.get() + end_, asked);
    if (got < 0) failed_ = true;
    if (got > 0) end_ += static_cast<size_t>(got);
    // File::Read fills what it was asked unless the end of the file comes first.
    if (got < 0 || static_cast<size_t>(got) < asked) at_end_ = true;
}

bool PeriodFileReader::Next(std::string_view* line) {
    // A whole piece and the two bytes of a line break after it are in the window before the
    // piece is cut, so that every piece is decided as a reading from the start would decide it.
    while (!at_end_ && end_ - start_ < kLineSize + 1) ReadMore();
    if (failed_ || start_ >= end_) return false;
    size_t consumed = CutPiece(std::string_view(window_.get() + start_, end_ - start_), line);
    position_ += consumed;
    start_ += consumed;
    return true;
}

bool PeriodFileReader::ReadRest(std::string_view* rest) {
    while (!at_end_) ReadMore();
    *rest = std::string_view(window_.get() + start_, end_ - start_);
    has_whole_ = position_ == 0 && !failed_;
    if (has_whole_) whole_ = *rest;
    position_ += end_ - start_;
    start_ = end_;
    return !failed_;
}

}  // namespace cv
