// The dictionary coder the plain way: each entry in a 64-byte slot, and the lookup a linear scan
// from the first entry of the wanted length. Slow, but simple enough to trust; the fast coder must
// give the same code stream for every input, and the benchmarks measure it against this one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cv {
namespace reference {

// As DictCompress: out holds 2 * size bytes; answers the stream length.
size_t Compress(const uint8_t* data, size_t size, uint8_t* out);

// As DictDecompress, with the same streams refused.
bool Decompress(const uint8_t* stream, size_t length, uint8_t* out, size_t capacity,
                size_t* out_length);

}  // namespace reference
}  // namespace cv
