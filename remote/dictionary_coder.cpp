#include "remote/dictionary_coder.h"

#include <cstdint>
#include <cstring>

#include "common/diagnostics.h"

namespace cv {
namespace {

// The dictionary both coders grow in step. Entries 0 to 255 are the single bytes. Each code word
// after the first adds one entry, the previous code word's string followed by the first byte of
// the next one, until the dictionary holds kMaxEntries; after that it stays as it is. The
// compressor never lets a code word stand for more than kMaxMatch bytes, so entries have at most
// kMaxMatch + 1 bytes, and at that cap the same string can be added twice. When a string is in
// the dictionary more than once, its lowest-numbered entry is the one that is written.
constexpr int kFirstFreeCode = 256;
constexpr int kMaxEntries = 1023;
constexpr int kMaxMatch = 62;
constexpr int kMaxEntryLength = kMaxMatch + 1;

// The compressor's view of the dictionary: for an entry and one more byte, the lowest-numbered
// entry holding that string. Every entry of two or more bytes was added as some entry followed
// by a byte, and the lowest number of a string never changes once it exists, so an index keyed
// by (lowest entry of the prefix, byte) answers exactly what a scan of all entries would, in
// constant time. Runs of one byte value (the zero padding of records, above all) also get a
// table of their own, so that a run can be matched in one step instead of byte by byte.
class CodeDictionary {
  public:
    CodeDictionary() {
        std::memset(slots_, 0, sizeof slots_);
        std::memset(run_length_, 1, sizeof run_length_);
        for (int b = 0; b < 256; ++b) run_code_[1][b] = static_cast<uint16_t>(b);
    }

    // Entry holding the string of entry `prefix` followed by `byte`, or -1.
    int Find(int prefix, uint8_t byte) const {
        const uint32_t key = Key(prefix, byte);
        for (uint32_t at = Hash(key);; at = (at + 1) & kSlotMask) {
            const uint32_t slot = slots_[at];
            if (slot == 0) return -1;
            if (slot >> kCodeBits == key) return static_cast<int>(slot & kCodeMask);
        }
    }

    // Adds entry `prefix` (of prefix_length bytes, its lowest entry) followed by `byte`, unless
    // the dictionary is full. The caller has made sure that a string of up to kMaxMatch bytes is
    // not in the dictionary yet.
    void Add(int prefix, int prefix_length, uint8_t byte) {
        if (count_ >= kMaxEntries) return;
        const int code = count_++;
        // Strings of kMaxEntryLength bytes only take up their number: the compressor never
        // extends a string that long, so it never looks for one.
        if (prefix_length >= kMaxMatch) return;
        const uint32_t key = Key(prefix, byte);
        uint32_t at = Hash(key);
        while (slots_[at] != 0) at = (at + 1) & kSlotMask;
        slots_[at] = key << kCodeBits | static_cast<uint32_t>(code);
        if (prefix_length == run_length_[byte] && run_code_[prefix_length][byte] == prefix) {
            run_length_[byte] = static_cast<uint8_t>(prefix_length + 1);
            run_code_[prefix_length + 1][byte] = static_cast<uint16_t>(code);
        }
    }

    // Whether the string of `code` (length bytes) is `byte` repeated and the dictionary also
    // holds a longer run of it.
    bool RunContinues(int code, int length, uint8_t byte) const {
        return length < run_length_[byte] && run_code_[length][byte] == code;
    }
    int RunLength(uint8_t byte) const { return run_length_[byte]; }
    int RunCode(uint8_t byte, int length) const { return run_code_[length][byte]; }

  private:
    // Keys are (prefix << 8 | byte), 18 bits; a slot holds key << 10 | entry number and is never
    // 0 once used, since added entries are numbered from 256. At most 767 keys in 2048 slots.
    static constexpr int kCodeBits = 10;
    static constexpr uint32_t kCodeMask = (1u << kCodeBits) - 1;
    static constexpr int kSlotBits = 11;
    static constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;

    static uint32_t Key(int prefix, uint8_t byte) {
        return static_cast<uint32_t>(prefix) << 8 | byte;
    }
    static uint32_t Hash(uint32_t key) { return (key * 0x9E3779B1u) >> (32 - kSlotBits); }

    int count_ = kFirstFreeCode;
    uint32_t slots_[1u << kSlotBits];
    // run_length_[b]: the longest run of b in the dictionary (every shorter one is there too);
    // run_code_[k][b]: its lowest entry for k up to that length. Rows above it are unset.
    uint8_t run_length_[256];
    uint16_t run_code_[kMaxMatch + 1][256];
};

// How many bytes from p on, at most limit, equal byte.
size_t CountRun(const uint8_t* p, size_t limit, uint8_t byte) {
    const uint64_t pattern = 0x0101010101010101ull * byte;
    size_t n = 0;
    for (uint64_t word; n + 8 <= limit; n += 8) {
        std::memcpy(&word, p + n, 8);
        if (word != pattern) break;
    }
    while (n < limit && p[n] == byte) ++n;
    return n;
}

void PutCode(uint8_t* out, size_t& n, int code) {
    out[n++] = static_cast<uint8_t>(code & 0xFF);
    out[n++] = static_cast<uint8_t>(code >> 8);
}

// The decompressor's view of the dictionary: where each added entry's bytes are. Every added
// entry is a stretch of the output already written (the previous code word's bytes and the first
// byte written after them), so an offset and a length are all it takes.
struct EntryTable {
    int count = kFirstFreeCode;
    size_t offset[kMaxEntries];
    uint8_t length[kMaxEntries];
};

unsigned ReadCode(const uint8_t* p) {
    return p[0] | p[1] << 8;
}

// Copies length bytes (at most kMaxEntryLength) of the output from offset `from`, which lies
// wholly before pos, to pos. Where the output has room, in whole 16-byte pieces, each read before
// it is written: the bytes a piece carries past the entry's end are overwritten later.
void CopyEntry(uint8_t* o, size_t pos, size_t from, unsigned length, size_t capacity) {
    if (capacity - pos >= kMaxEntryLength + 1) {
        for (unsigned k = 0; k < length; k += 16) {
            uint8_t piece[16];
            std::memcpy(piece, o + from + k, sizeof piece);
            std::memcpy(o + pos + k, piece, sizeof piece);
        }
    } else {
        std::memcpy(o + pos, o + from, length);
    }
}

}  // namespace

size_t DictCompress(const void* data, size_t size, void* out) {
    if (size == 0) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    uint8_t* codes = static_cast<uint8_t*>(out);
    CodeDictionary dictionary;
    size_t n = 0;
    int code = in[0];  // the lowest entry of the current string
    int length = 1;
    for (size_t i = 1; i < size;) {
        const uint8_t byte = in[i];
        if (length < kMaxMatch) {
            if (dictionary.RunContinues(code, length, byte)) {
                const size_t limit = static_cast<size_t>(dictionary.RunLength(byte) - length);
                const size_t run = CountRun(in + i, limit < size - i ? limit : size - i, byte);
                length += static_cast<int>(run);
                code = dictionary.RunCode(byte, length);
                i += run;
                continue;
            }
            const int longer = dictionary.Find(code, byte);
            if (longer >= 0) {
                code = longer;
                ++length;
                ++i;
                continue;
            }
        }
        PutCode(codes, n, code);
        dictionary.Add(code, length, byte);
        code = byte;
        length = 1;
        ++i;
    }
    PutCode(codes, n, code);
    return n;
}

bool DictDecompress(const void* stream, size_t length, void* out, size_t capacity,
                    size_t* out_length) {
    const uint8_t* in = static_cast<const uint8_t*>(stream);
    uint8_t* o = static_cast<uint8_t*>(out);
    *out_length = 0;
    if (length < 2) return true;
    const unsigned first = ReadCode(in);
    if (first >= kFirstFreeCode || capacity < 1) return false;
    o[0] = static_cast<uint8_t>(first);
    size_t pos = 1;
    EntryTable table;
    size_t at = 2;
    // While the dictionary grows, every code word adds an entry: the previous code word's bytes
    // and the first byte written after them.
    size_t previous_at = 0;
    unsigned previous_length = 1;
    for (; at + 2 <= length && table.count < kMaxEntries; at += 2) {
        const unsigned code = ReadCode(in + at);
        if (code == 0xFFFF) Diagnose("Something wrong\n");
        const unsigned count = static_cast<unsigned>(table.count);
        if (code > count || previous_length >= kMaxEntryLength) return false;
        unsigned written;
        if (code < kFirstFreeCode) {
            if (pos >= capacity) return false;
            o[pos] = static_cast<uint8_t>(code);
            written = 1;
        } else if (code < count) {
            written = table.length[code];
            if (written > capacity - pos) return false;
            CopyEntry(o, pos, table.offset[code], written, capacity);
        } else {
            // The entry this very step defines: the previous string followed by its own first
            // byte.
            written = previous_length + 1;
            if (written > capacity - pos) return false;
            CopyEntry(o, pos, previous_at, previous_length, capacity);
            o[pos + previous_length] = o[previous_at];
        }
        table.offset[count] = previous_at;
        table.length[count] = static_cast<uint8_t>(previous_length + 1);
        ++table.count;
        previous_at = pos;
        previous_length = written;
        pos += written;
    }
    // Once it is full, code words only name entries.
    for (; at + 2 <= length; at += 2) {
        const unsigned code = ReadCode(in + at);
        if (code == 0xFFFF) Diagnose("Something wrong\n");
        if (code >= kMaxEntries) return false;
        if (code < kFirstFreeCode) {
            if (pos >= capacity) return false;
            o[pos++] = static_cast<uint8_t>(code);
        } else {
            const unsigned written = table.length[code];
            if (written > capacity - pos) return false;
            CopyEntry(o, pos, table.offset[code], written, capacity);
            pos += written;
        }
    }
    *out_length = pos;
    return true;
}

}  // namespace cv
