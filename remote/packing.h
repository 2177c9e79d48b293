// Parameter packing: every record that travels to or from the remote admin service is compressed
// with the dictionary coder below and then Base64-encoded, so that a parameter element holds
// printable characters only. The service on the other side packs and unpacks the same way; the
// code stream is therefore a wire format and must not change by a single byte.
#pragma once

#include <cstddef>

namespace cv {

// Every text of a remote exchange (request, reply, one packed parameter) lives in a buffer of
// this many bytes, its NUL included.
constexpr size_t kRemoteBufferSize = 32768;

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

// RFC 4648 Base64 with "=" padding and no line breaks. Writes the text and its NUL and answers the
// number of characters, or -1 when they do not fit the capacity (text is then empty when it has
// room for that).
int Base64Encode(const void* data, size_t length, char* text, size_t capacity);

// Decodes a NUL-terminated Base64 text, skipping whitespace anywhere, and answers the number of
// bytes, or -1 for malformed text (a character outside the alphabet, a partial group, misplaced
// or trailing "=", unused bits that are not zero) or when capacity is too small. A text that ends
// in padding needs room for one byte more than it decodes to.
int Base64Decode(const char* text, void* out, size_t capacity);

// Packs the block (compression, then Base64) into text, NUL-terminated; the text is empty when it
// does not fit the capacity. Prints its progress on standard output. 1, or 0 when its scratch
// memory cannot be had (text is then empty).
int PackParameter(const void* data, size_t size, char* text, size_t capacity);

// Unpacks a packed text into the destination: 1 when it decodes, 0 when it does not, in which
// case the destination is left as it was. A valid stream that decodes to fewer bytes than the
// destination holds fills only its beginning. Prints its progress on standard output.
int UnpackParameter(const char* text, void* destination, size_t destination_size);

}  // namespace cv
