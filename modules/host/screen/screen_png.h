// Writes a frame of 0x00RRGGBB words as an 8-bit RGB PNG file (libpng).
#pragma once

#include <cstdint>
#include <string>

namespace host::detail {

bool writeScreenPng(const std::string& path, const uint32_t* pixels, int width, int height);

}  // namespace host::detail
