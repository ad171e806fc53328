// The 4 x 5 glyph font and numerify, which lays a text out as one point per lit glyph cell.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace experimental {

// A small Rows x Cols matrix of consecutive elements; the font uses 3 x 1 as a point (x, y, z).
template <typename T, int Rows, int Cols> struct matrix {
    T elements[Rows * Cols];

    T& operator()(int row, int col) { return elements[row * Cols + col]; }
    const T& operator()(int row, int col) const { return elements[row * Cols + col]; }
};

}   // namespace experimental

using GlyphPoint = experimental::matrix<float, 3, 1>;

// Character -> glyph of 20 cells (5 rows of 4, row-major, a space for a dark cell). The font's name since
// its first version, kept although a leading underscore is reserved at global scope.
extern const std::map<char, const char*> _letters;   // NOLINT(bugprone-reserved-identifier)

// One point per lit cell, in text order, each glyph row by row from the top: x = 5i + c - 2.5 L for column c
// of character i in a text of L characters, y = the row (0 at the top), z = 0. Characters without a glyph
// yield nothing but keep their slot.
std::vector<GlyphPoint> numerify(std::string text);
