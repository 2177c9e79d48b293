#include "remote/base64.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace cv {
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

}  // namespace cv
