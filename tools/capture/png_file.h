// Writing 8-bit RGB pixels as a PNG file through libpng: the capture tool's stills and the tests' pictures.
#pragma once

#include <string>

// Rows in memory order: top row first, or bottom row first as GL reads them back (bottom_up).
enum class RowOrder { top_down, bottom_up };

// Writes width x height pixels of 3 bytes each to path. On failure returns false and says why in error.
bool write_png(const std::string& path, int width, int height, const unsigned char* rgb, RowOrder order,
               std::string* error = nullptr);
