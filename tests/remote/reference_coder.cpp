#include "tests/remote/reference_coder.h"

#include <cstring>

namespace cv {
namespace reference {
namespace {

constexpr int kMaxEntries = 1023;
constexpr int kSlotSize = 64;
constexpr int kMaxMatch = 62;

struct Dictionary {
    uint8_t slot[kMaxEntries][kSlotSize];
    uint8_t length[kMaxEntries];
    int16_t count = 256;
    int longest = 1;
    int16_t first_index[kSlotSize] = {};
    Dictionary() {
        for (int k = 0; k < 256; ++k) {
            slot[k][0] = static_cast<uint8_t>(k);
            length[k] = 1;
        }
    }
    int Find(const uint8_t* s, int n) const {
        if (n > longest) return -1;
        for (int k = first_index[n]; k < count; ++k) {
            if (length[k] == n && std::memcmp(slot[k], s, static_cast<size_t>(n)) == 0) return k;
        }
        return -1;
    }
    void Add(const uint8_t* s, int n) {
        if (count >= kMaxEntries) return;
        if (n > longest) {
            longest = n;
            first_index[n] = count;
        }
        std::memcpy(slot[count], s, static_cast<size_t>(n));
        length[count] = static_cast<uint8_t>(n);
        ++count;
    }
};

}  // namespace

size_t Compress(const uint8_t* data, size_t size, uint8_t* out) {
    if (size == 0) return 0;
    Dictionary d;
    uint8_t current[kMaxMatch + 1];
    int length = 0;
    size_t n = 0;
    auto put = [&](int code) {
        out[n++] = static_cast<uint8_t>(code & 0xFF);
        out[n++] = static_cast<uint8_t>(code >> 8);
    };
    for (size_t i = 0; i < size; ++i) {
        current[length] = data[i];
        if (length >= kMaxMatch || d.Find(current, length + 1) < 0) {
            put(d.Find(current, length));
            d.Add(current, length + 1);
            current[0] = data[i];
            length = 1;
        } else {
            ++length;
        }
    }
    put(d.Find(current, length));
    return n;
}

bool Decompress(const uint8_t* stream, size_t length, uint8_t* out, size_t capacity,
                size_t* out_length) {
    *out_length = 0;
    if (length < 2) return true;
    Dictionary d;
    size_t n = 0;
    auto write = [&](const uint8_t* s, int len) {
        if (static_cast<size_t>(len) > capacity - n) return false;
        std::memcpy(out + n, s, static_cast<size_t>(len));
        n += static_cast<size_t>(len);
        return true;
    };
    int previous = stream[0] | stream[1] << 8;
    if (previous > 255 || !write(d.slot[previous], 1)) return false;
    for (size_t at = 2; at + 2 <= length; at += 2) {
        const int code = stream[at] | stream[at + 1] << 8;
        if (code > d.count || code >= kMaxEntries) return false;
        // An entry of 64 bytes has no place in the dictionary.
        if (d.count < kMaxEntries && d.length[previous] >= kSlotSize - 1) return false;
        uint8_t entry[kSlotSize];
        const int previous_length = d.length[previous];
        std::memcpy(entry, d.slot[previous], static_cast<size_t>(previous_length));
        if (code < d.count) {
            if (!write(d.slot[code], d.length[code])) return false;
            entry[previous_length] = d.slot[code][0];
            d.Add(entry, previous_length + 1);
        } else {
            entry[previous_length] = entry[0];
            d.Add(entry, previous_length + 1);
            if (!write(entry, previous_length + 1)) return false;
        }
        previous = code;
    }
    *out_length = n;
    return true;
}

}  // namespace reference
}  // namespace cv
