// One-call compression and decompression of zlib streams with the GUI
// library's own codec (used among others for packed fonts).
#pragma once

#include <cstdint>

// Compresses input at the default level. On success (0) *out points to a new
// buffer of *outLength bytes that the caller releases with delete[]. A
// compressor that did not finish gives -5; other codec results unchanged.
int GuiZip(uint8_t** out, uint32_t* outLength, const uint8_t* input, uint32_t inputLength);

// Decompresses a zlib stream. With a buffer, *length is its size; with null
// only the unpacked length is measured. On success (0) *length is the
// unpacked size; a buffer that is too small gives -5 and leaves *length.
int GuiUnzip(uint8_t* out, uint32_t* length, const uint8_t* input, uint32_t inputLength);
