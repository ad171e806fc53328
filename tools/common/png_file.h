// 8-bit RGB pixels to and from PNG files through libpng: the capture tool's stills, the tests' pictures and the
// frame comparison.
#pragma once

#include <string>
#include <vector>

// Rows in memory order: top row first, or bottom row first as GL reads them back (bottom_up).
enum class RowOrder { top_down, bottom_up };

// Writes width x height pixels of 3 bytes each to path. On failure returns false and says why in error.
bool write_png(const std::string& path, int width, int height, const unsigned char* rgb, RowOrder order,
               std::string* error = nullptr);

// Reads a PNG file of any colour type and depth as 8-bit RGB pixels, top row first (alpha dropped, grey
// spread to three channels). On failure returns false and says why in error.
bool read_png(const std::string& path, int* width, int* height, std::vector<unsigned char>* rgb,
              std::string* error = nullptr);
