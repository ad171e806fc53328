// The glyph font and numerify: the font table cell by cell, the layout of texts, and characters without a glyph.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "letters.h"

namespace {

struct Point {
    float x, y, z;
};

std::vector<Point> layout(const std::string& text)
{
    std::vector<Point> points;
    for (const GlyphPoint& p : numerify(text))
        points.push_back(Point{p(0, 0), p(1, 0), p(2, 0)});
    return points;
}

std::string describe(const std::vector<Point>& points)
{
    std::string text;
    for (const Point& p : points)
        text += "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ", " + std::to_string(p.z) + ") ";
    return text;
}

// The font as drawn by hand, rows top to bottom, '.' for a dark cell, with the lit-cell count of each glyph.
struct Glyph {   // NOLINT(clang-analyzer-optin.performance.Padding): laid out as the table reads
    char key;
    const char* rows[5];
    int lit;
};

const Glyph font[] = {
    {' ', {"....", "....", "....", "....", "...."}, 0},  {'.', {"....", "....", "....", "....", ".x.."}, 1},
    {'2', {".xx.", "x..x", "..x.", ".x..", "xxxx"}, 10}, {'7', {"xxxx", "...x", "..x.", ".x..", "x..."}, 8},
    {'a', {".xx.", "x..x", "xxxx", "x..x", "x..x"}, 12}, {'b', {"xxx.", "x..x", "xxx.", "x..x", "xxx."}, 13},
    {'c', {".xx.", "x..x", "x...", "x..x", ".xx."}, 9},  {'d', {"xxx.", "x..x", "x..x", "x..x", "xxx."}, 12},
    {'e', {"xxxx", "x...", "xxx.", "x...", "xxxx"}, 13}, {'f', {"xxxx", "x...", "xxx.", "x...", "x..."}, 10},
    {'g', {".xx.", "x...", "x.xx", "x..x", ".xx."}, 10}, {'h', {"x..x", "x..x", "xxxx", "x..x", "x..x"}, 12},
    {'i', {".x..", ".x..", ".x..", ".x..", ".x.."}, 5},  {'j', {"...x", "...x", "...x", "x..x", ".xx."}, 7},
    {'k', {"x..x", "x.x.", "xx..", "x.x.", "x..x"}, 10}, {'l', {"x...", "x...", "x...", "x...", "xxxx"}, 8},
    {'m', {"x..x", "xxxx", "x..x", "x..x", "x..x"}, 12}, {'n', {"x..x", "xx.x", "x.xx", "x..x", "x..x"}, 12},
    {'o', {".xx.", "x..x", "x..x", "x..x", ".xx."}, 10}, {'p', {"xxx.", "x..x", "xxx.", "x...", "x..."}, 10},
    {'q', {".xx.", "x..x", "x..x", "x.x.", ".x.x"}, 10}, {'r', {"xxx.", "x..x", "xxx.", "x..x", "x..x"}, 12},
    {'s', {".xxx", "x...", "xxxx", "...x", "xxxx"}, 13}, {'t', {"xxxx", ".x..", ".x..", ".x..", ".x.."}, 8},
    {'u', {"x..x", "x..x", "x..x", "x..x", ".xx."}, 10}, {'v', {"x..x", "x..x", "x..x", ".x.x", "..x."}, 9},
    {'w', {"x..x", "x..x", "x..x", "xxxx", "x..x"}, 12}, {'x', {"x..x", "x..x", ".xx.", "x..x", "x..x"}, 10},
    {'y', {"x..x", "x..x", ".xx.", "..x.", "..x."}, 8},  {'z', {"xxxx", "...x", ".xx.", "x...", "xxxx"}, 12},
    {'!', {".x..", ".x..", ".x..", "....", ".x.."}, 4},
};

// The rows a single character lays out: with L = 1 column c sits at x = c - 2.5, row r at y = r.
std::vector<std::string> drawn_rows(char key)
{
    std::vector<std::string> rows(5, "....");
    for (const Point& p : layout(std::string(1, key))) {
        const int column = static_cast<int>(p.x + 2.5f);
        const int row = static_cast<int>(p.y);
        if (column >= 0 && column < 4 && row >= 0 && row < 5 && p.x + 2.5f == static_cast<float>(column))
            rows[static_cast<size_t>(row)][static_cast<size_t>(column)] = 'x';
        else
            ADD_FAILURE() << "'" << key << "': point (" << p.x << ", " << p.y << ") is off the 4 x 5 grid";
    }
    return rows;
}

TEST(Font, HoldsExactlyTheThirtyOneGlyphsInKeyOrder)
{
    std::string keys;
    for (const auto& entry : _letters)
        keys += entry.first;
    EXPECT_EQ(keys, std::string(" !.27abcdefghijklmnopqrstuvwxyz")) << "keys in character-code order";
}

TEST(Font, EveryGlyphHasTwentyCellsAndItsLitCount)
{
    for (const Glyph& g : font) {
        const auto entry = _letters.find(g.key);
        ASSERT_NE(entry, _letters.end()) << "'" << g.key << "' should be in the font";
        const std::string cells = entry->second;
        ASSERT_EQ(cells.size(), 20u) << "'" << g.key << "' should be 5 rows of 4 cells";
        int lit = 0;
        for (char cell : cells)
            lit += cell != ' ';
        EXPECT_EQ(lit, g.lit) << "lit cells of '" << g.key << "'";
        EXPECT_EQ(layout(std::string(1, g.key)).size(), static_cast<size_t>(g.lit))
            << "points numerify makes for '" << g.key << "'";
    }
}

TEST(Font, GlyphRowsCellByCell)
{
    // Letters whose rows are easy to get wrong: asymmetric, with a tail, or with a hole.
    for (char key : std::string("gjknqsvyz27!.")) {
        const Glyph* g = nullptr;
        for (const Glyph& candidate : font)
            if (candidate.key == key)
                g = &candidate;
        ASSERT_NE(g, nullptr);
        const std::string stored = _letters.at(key);
        const std::vector<std::string> drawn = drawn_rows(key);
        for (int row = 0; row < 5; row++) {
            std::string from_map = stored.substr(4 * static_cast<size_t>(row), 4);
            for (char& cell : from_map)
                cell = cell == ' ' ? '.' : 'x';
            EXPECT_EQ(from_map, g->rows[row]) << "'" << key << "' row " << row << " in the font";
            EXPECT_EQ(drawn[static_cast<size_t>(row)], g->rows[row]) << "'" << key << "' row " << row << " as laid out";
        }
    }
}

TEST(Numerify, EmptyTextGivesNoPoints)
{
    EXPECT_TRUE(layout("").empty());
}

TEST(Numerify, LetterIIsOneColumnLeftOfCentre)
{
    const std::vector<Point> points = layout("i");
    ASSERT_EQ(points.size(), 5u) << describe(points);
    for (int r = 0; r < 5; r++) {
        EXPECT_EQ(points[static_cast<size_t>(r)].x, -1.5f) << "row " << r;
        EXPECT_EQ(points[static_cast<size_t>(r)].y, static_cast<float>(r)) << "row " << r;
        EXPECT_EQ(points[static_cast<size_t>(r)].z, 0.0f) << "row " << r;
    }
}

TEST(Numerify, FullStopIsOnePointOnTheBottomRow)
{
    const std::vector<Point> points = layout(".");
    ASSERT_EQ(points.size(), 1u) << describe(points);
    EXPECT_EQ(points[0].x, -1.5f);
    EXPECT_EQ(points[0].y, 4.0f);
    EXPECT_EQ(points[0].z, 0.0f);
}

TEST(Numerify, MissingCharacterKeepsItsSlot)
{
    // "?x": the question mark has no glyph but shifts the x to columns 0..3.
    const Point expected[] = {{0, 0, 0}, {3, 0, 0}, {0, 1, 0}, {3, 1, 0}, {1, 2, 0},
                              {2, 2, 0}, {0, 3, 0}, {3, 3, 0}, {0, 4, 0}, {3, 4, 0}};
    const std::vector<Point> points = layout("?x");
    ASSERT_EQ(points.size(), 10u) << describe(points);
    for (size_t n = 0; n < 10; n++) {
        EXPECT_EQ(points[n].x, expected[n].x) << "point " << n << ": " << describe(points);
        EXPECT_EQ(points[n].y, expected[n].y) << "point " << n;
        EXPECT_EQ(points[n].z, expected[n].z) << "point " << n;
    }

    // A space and a capital keep their slots too: "A i" puts the i in slot 2 of 3, x = 10 + 1 - 7.5.
    const std::vector<Point> shifted = layout("A i");
    ASSERT_EQ(shifted.size(), 5u) << describe(shifted);
    EXPECT_EQ(shifted[0].x, 3.5f);
}

TEST(Numerify, CapitalsAndUnknownBytesYieldNothing)
{
    EXPECT_TRUE(layout("A").empty()) << describe(layout("A"));
    EXPECT_EQ(layout("a").size(), 12u);
    EXPECT_TRUE(layout("ABC0189#?\xc3\xa9").empty())
        << "no glyph for capitals, other digits, other marks, bytes > 0x7f";
}

TEST(Numerify, TitleSpansItsCellsAroundMinusOne)
{
    // "velquorin": L = 9, cells from x = -22.5 to 2.5 * 9 - 2 = 20.5; v, e, ... all in text order.
    const std::vector<Point> points = layout("velquorin");
    ASSERT_EQ(points.size(), 89u) << "9 + 13 + 8 + 10 + 10 + 10 + 12 + 5 + 12 lit cells";
    EXPECT_EQ(points.front().x, -22.5f) << "top-left cell of the v";
    EXPECT_EQ(points.front().y, 0.0f);
    EXPECT_EQ(points.back().x, 20.5f) << "bottom-right cell of the n";
    EXPECT_EQ(points.back().y, 4.0f);
    for (size_t n = 1; n < points.size(); n++)
        EXPECT_LE(std::floor((points[n - 1].x + 22.5f) / 5), std::floor((points[n].x + 22.5f) / 5))
            << "points come character by character, left to right (point " << n << ")";
}

TEST(Numerify, LeavesTheFontUnchanged)
{
    for (int n = 0; n < 1000; n++)
        layout(std::string("Hello, world! ") + static_cast<char>(n % 256) + "velquorin 2077.");
    EXPECT_EQ(_letters.size(), 31u) << "numerify only reads the font";
}

}   // namespace
