#include "remote/packing.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

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
        if (code == 0xFFFF) std::fputs("Something wrong\n", stdout);
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
        if (code == 0xFFFF) std::fputs("Something wrong\n", stdout);
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

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding classes beside the six-bit values 0 to 63.
constexpr uint8_t kWhitespace = 64;
constexpr uint8_t kPad = 65;
constexpr uint8_t kEnd = 66;
constexpr uint8_t kInvalid = 67;

struct DecodeTable {
    uint8_t value[256] = {};
    // The four characters of a group, each one's bits already where they go in the three bytes
    // (byte 0 lowest); anything but an alphabet character sets bit 24.
    uint32_t group[4][256] = {};
    constexpr DecodeTable() {
        for (int c = 0; c < 256; ++c) value[c] = kInvalid;
        for (int i = 0; i < 64; ++i) {
            value[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
        }
        for (const char* c = " \t\n\v\f\r"; *c != '\0'; ++c) {
            value[static_cast<uint8_t>(*c)] = kWhitespace;
        }
        value[static_cast<uint8_t>('=')] = kPad;
        value[0] = kEnd;
        for (int c = 0; c < 256; ++c) {
            const uint32_t v = value[c];
            const bool alphabet = v < 64;
            group[0][c] = alphabet ? v << 2 : kNotAlphabet;
            group[1][c] = alphabet ? v >> 4 | (v & 15) << 12 : kNotAlphabet;
            group[2][c] = alphabet ? (v >> 2) << 8 | (v & 3) << 22 : kNotAlphabet;
            group[3][c] = alphabet ? v << 16 : kNotAlphabet;
        }
    }
    static constexpr uint32_t kNotAlphabet = 1u << 24;
};

constexpr DecodeTable kDecode;

}  // namespace

int Base64Encode(const void* data, size_t length, char* text, size_t capacity) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    const size_t groups = length / 3 + (length % 3 != 0);
    if (groups > (static_cast<size_t>(INT_MAX) - 1) / 4 || groups * 4 + 1 > capacity) {
        if (capacity > 0) text[0] = '\0';
        return -1;
    }
    char* o = text;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | in[i + 1] << 8 | in[i + 2];
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[v >> 12 & 63];
        o[2] = kAlphabet[v >> 6 & 63];
        o[3] = kAlphabet[v & 63];
        o += 4;
    }
    if (i < length) {
        const bool two = i + 1 < length;
        const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | (two ? in[i + 1] << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[v >> 12 & 63];
        o[2] = two ? kAlphabet[v >> 6 & 63] : '=';
        o[3] = '=';
        o += 4;
    }
    *o = '\0';
    return static_cast<int>(o - text);
}

int Base64Decode(const char* text, void* out, size_t capacity) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* const end = p + std::strlen(text);
    uint8_t* o = static_cast<uint8_t*>(out);
    if (capacity > static_cast<size_t>(INT_MAX)) capacity = INT_MAX;
    size_t n = 0;   // whole bytes so far; o[n] holds the bits of a partial group
    int state = 0;  // characters of the current group taken
    for (;;) {
        if (state == 0) {
            // Whole groups of four alphabet characters, the common case, without the state
            // machine.
            while (end - p >= 4 && n + 3 <= capacity) {
                const uint32_t v = kDecode.group[0][p[0]] | kDecode.group[1][p[1]] |
                                   kDecode.group[2][p[2]] | kDecode.group[3][p[3]];
                if (v >= DecodeTable::kNotAlphabet) break;
                o[n] = static_cast<uint8_t>(v);
                o[n + 1] = static_cast<uint8_t>(v >> 8);
                o[n + 2] = static_cast<uint8_t>(v >> 16);
                n += 3;
                p += 4;
            }
        }
        const uint8_t v = kDecode.value[*p++];
        if (v < 64) {
            switch (state) {
                case 0:
                    if (n >= capacity) return -1;
                    o[n] = static_cast<uint8_t>(v << 2);
                    break;
                case 1:
                    if (n + 1 >= capacity) return -1;
                    o[n] = static_cast<uint8_t>(o[n] | v >> 4);
                    o[++n] = static_cast<uint8_t>(v << 4);
                    break;
                case 2:
                    if (n + 1 >= capacity) return -1;
                    o[n] = static_cast<uint8_t>(o[n] | v >> 2);
                    o[++n] = static_cast<uint8_t>(v << 6);
                    break;
                default:
                    if (n >= capacity) return -1;
                    o[n] = static_cast<uint8_t>(o[n] | v);
                    ++n;
                    break;
            }
            state = (state + 1) & 3;
            continue;
        }
        if (v == kWhitespace) continue;
        if (v == kEnd) return state == 0 ? static_cast<int>(n) : -1;
        if (v == kPad) break;
        return -1;
    }
    // Padding: a group of two characters ends with "==", one of three with "=".
    if (state < 2) return -1;
    if (state == 2) {
        while (kDecode.value[*p] == kWhitespace) ++p;
        if (*p != '=') return -1;
        ++p;
    }
    while (kDecode.value[*p] == kWhitespace) ++p;
    if (*p != '\0') return -1;
    // The last character's unused bits went into o[n]; an encoder leaves them zero.
    if (o[n] != 0) return -1;
    return static_cast<int>(n);
}

int PackParameter(const void* data, size_t size, char* text, size_t capacity) {
    if (capacity > 0) text[0] = '\0';
    if (size > static_cast<size_t>(INT_MAX) / 2) return 0;
    std::unique_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[size > 0 ? 2 * size : 1]);
    if (!stream) return 0;
    std::fputs("compressing...\n", stdout);
    const size_t stream_length = DictCompress(data, size, stream.get());
    std::printf("Compressed size: %d\n", static_cast<int>(stream_length));
    int text_length = Base64Encode(stream.get(), stream_length, text, capacity);
    if (text_length < 0) text_length = 0;  // Base64Encode left the text empty
    std::printf("Result of base64 encoding: %s\nSize:%d\n", capacity > 0 ? text : "", text_length);
    return 1;
}

int UnpackParameter(const char* text, void* destination, size_t destination_size) {
    std::fputs("decompressing\n", stdout);
    const size_t text_length = std::strlen(text);
    // The decoded stream is never longer than the text, and never more than the largest text a
    // reply can carry; the output is decoded aside so that a bad stream leaves the destination
    // as it was.
    const size_t stream_capacity =
        text_length + 1 < kRemoteBufferSize ? text_length + 1 : kRemoteBufferSize;
    if (destination_size > SIZE_MAX - stream_capacity) return 0;
    std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[stream_capacity + destination_size]);
    if (!work) return 0;
    uint8_t* stream = work.get();
    uint8_t* decoded = work.get() + stream_capacity;
    std::printf("B64Source length: %d parameter size=%d\n", static_cast<int>(text_length),
                static_cast<int>(destination_size));
    const int stream_length = Base64Decode(text, stream, stream_capacity);
    std::printf("Decoded size=%d\n", stream_length);
    if (stream_length < 0) return 0;
    size_t decoded_length = 0;
    if (stream_length >= 2) {
        if (!DictDecompress(stream, static_cast<size_t>(stream_length), decoded, destination_size,
                            &decoded_length)) {
            return 0;
        }
        std::memcpy(destination, decoded, decoded_length);
    }
    std::printf("Uncompressed size=%d\n", static_cast<int>(decoded_length));
    std::fputs("Freeing\n", stdout);
    return 1;
}

}  // namespace cv
