// Parameter packing: every record that travels to or from the remote admin service is compressed
// with the dictionary coder (dictionary_coder.h) and then Base64-encoded (base64.h), so that a
// parameter element holds printable characters only. The service on the other side packs and
// unpacks the same way; the code stream is therefore a wire format and must not change by a
// single byte.
#pragma once

#include <cstddef>

namespace cv {

// Every text of a remote exchange (request, reply, one packed parameter) lives in a buffer of
// this many bytes, its NUL included.
constexpr size_t kRemoteBufferSize = 32768;

// Packs the block (compression, then Base64) into text, NUL-terminated; the text is empty when it
// does not fit the capacity. Prints its progress on standard output. 1, or 0 when its scratch
// memory cannot be had (text is then empty).
int PackParameter(const void* data, size_t size, char* text, size_t capacity);

// Unpacks a packed text into the destination: 1 when it decodes, 0 when it does not, in which
// case the destination is left as it was. A valid stream that decodes to fewer bytes than the
// destination holds fills only its beginning. Prints its progress on standard output.
int UnpackParameter(const char* text, void* destination, size_t destination_size);

}  // namespace cv
