// The dictionary coder that compresses every packed parameter (packing.h). Its code stream is a
// wire format shared with the service on the other side and must not change by a single byte.
#pragma once

#include <cstddef>

namespace cv {

// Dictionary coder. The code stream is a sequence of 16-bit little-endian entry numbers, nothing
// else (no header, no end code). The dictionary starts with the 256 single bytes and gains one
// entry per code word until it holds 1023; a code word stands for at most 62 bytes.
//
// Writes the code stream of the data into out, which must hold 2 * size bytes (a code word never
// stands for less than one byte), and answers its length in bytes. An empty block gives an empty
// stream.
size_t DictCompress(const void* data, size_t size, void* out);

// Decodes a code stream (a final odd byte is ignored) into out, at most capacity bytes, and sets
// out_length. False for a stream that no compressor writes: a first code word above 255, a later
// one above the number of entries or beyond the 1023 the dictionary can hold, one that would grow
// an entry past 63 bytes, or output longer than capacity; out then holds a partial result. Prints
// "Something wrong" for the code word 0xFFFF.
bool DictDecompress(const void* stream, size_t length, void* out, size_t capacity,
                    size_t* out_length);

}  // namespace cv
