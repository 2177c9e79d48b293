// EXEC requests and reply parameters. The texts are XML-like but are built and searched as plain
// strings: no declaration, no whitespace between elements, no escaping (the content of a
// parameter is Base64). Request and reply buffers are kRemoteBufferSize bytes.
#pragma once

#include <cstddef>

#include "remote/packing.h"

namespace cv {

// Writes the request that runs the named function, with no parameters yet, into request
// (kRemoteBufferSize bytes), replacing what was there. 1, or 0 (request empty) when the name
// does not fit.
int BuildExecRequest(char* request, const char* function);

// Packs size bytes of data and adds them to the request (kRemoteBufferSize bytes) as parameter
// `number`, after the parameters added before. 1 when added; also 1, with the request unchanged
// and the request printed, when it has no parameter list to add to. 0, with the request
// unchanged, when the parameter would not fit the request or work memory cannot be had.
int AddRequestParameter(char* request, int number, const void* data, size_t size);

// Writes into out the text with insert placed before the first occurrence of marker, and answers
// 1. When the marker is missing, out receives the text unchanged and the result is 0. When the
// result would not fit out_size bytes with its NUL, out is not written and the result is 0. Text
// and out must not overlap.
int InsertBeforeMarker(const char* text, const char* marker, const char* insert, char* out,
                       size_t out_size);

// Finds reply parameter `number` and copies its content (the packed text) into out, NUL-
// terminated. 1 when found; size_value (may be null) then receives the leading number of its
// size text, 0 otherwise. 0 when it is absent: no element for the number, no "SIZE=" or ">"
// after its opening, no closing text, a size text longer than 259 characters or content that
// does not fit out_size; out is then not written.
int ExtractReplyParameter(const char* reply, int number, char* out, size_t out_size,
                          long* size_value);

// Extracts reply parameter `number` and unpacks it into the destination. 1 on success; 0 when it
// is absent, does not decode, or work memory cannot be had, and the destination is then not
// written.
int ReadReplyParameter(const char* reply, int number, void* destination, size_t destination_size);

}  // namespace cv
