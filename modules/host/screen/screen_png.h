// Writes a frame of 0x00RRGGBB words as an 8-bit RGB PNG file (libpng).
#pragma once

#include <cstdint>
#include <string>

namespace host::detail {

// False when it cannot be written (nothing is left at the temporary name),
// with the words in *problem: "<path> cannot be written (No space left on
// device)". Nothing is printed.
bool writeScreenPng(const std::string& path, const uint32_t* pixels, int width, int height,
                    std::string* problem = nullptr);

}  // namespace host::detail
