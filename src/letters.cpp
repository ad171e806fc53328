// The 4 x 5 glyph font and numerify, which lays a text out as one point per lit glyph cell.
#include "letters.h"

#include <cstdint>

namespace {

// clang-format off
// Five rows of four cells each; 'x' is lit.
const char space[] = "    " "    " "    " "    " "    ";
const char dot[]   = "    " "    " "    " "    " " x  ";
const char two[]   = " xx " "x  x" "  x " " x  " "xxxx";
const char seven[] = "xxxx" "   x" "  x " " x  " "x   ";
const char a[]     = " xx " "x  x" "xxxx" "x  x" "x  x";
const char b[]     = "xxx " "x  x" "xxx " "x  x" "xxx ";
const char c[]     = " xx " "x  x" "x   " "x  x" " xx ";
const char d[]     = "xxx " "x  x" "x  x" "x  x" "xxx ";
const char e[]     = "xxxx" "x   " "xxx " "x   " "xxxx";
const char f[]     = "xxxx" "x   " "xxx " "x   " "x   ";
const char g[]     = " xx " "x   " "x xx" "x  x" " xx ";
const char h[]     = "x  x" "x  x" "xxxx" "x  x" "x  x";
const char i[]     = " x  " " x  " " x  " " x  " " x  ";
const char j[]     = "   x" "   x" "   x" "x  x" " xx ";
const char k[]     = "x  x" "x x " "xx  " "x x " "x  x";
const char l[]     = "x   " "x   " "x   " "x   " "xxxx";
const char m[]     = "x  x" "xxxx" "x  x" "x  x" "x  x";
const char n[]     = "x  x" "xx x" "x xx" "x  x" "x  x";
const char o[]     = " xx " "x  x" "x  x" "x  x" " xx ";
const char p[]     = "xxx " "x  x" "xxx " "x   " "x   ";
const char q[]     = " xx " "x  x" "x  x" "x x " " x x";
const char r[]     = "xxx " "x  x" "xxx " "x  x" "x  x";
const char s[]     = " xxx" "x   " "xxxx" "   x" "xxxx";
const char t[]     = "xxxx" " x  " " x  " " x  " " x  ";
const char u[]     = "x  x" "x  x" "x  x" "x  x" " xx ";
const char v[]     = "x  x" "x  x" "x  x" " x x" "  x ";
const char w[]     = "x  x" "x  x" "x  x" "xxxx" "x  x";
const char x[]     = "x  x" "x  x" " xx " "x  x" "x  x";
const char y[]     = "x  x" "x  x" " xx " "  x " "  x ";
const char z[]     = "xxxx" "   x" " xx " "x   " "xxxx";
const char huuto[] = " x  " " x  " " x  " "    " " x  ";

}  // namespace

const std::map<char, const char*> _letters = {   // NOLINT(bugprone-reserved-identifier)
    {' ', space}, {'.', dot}, {'2', two}, {'7', seven},
    {'a', a}, {'b', b}, {'c', c}, {'d', d}, {'e', e}, {'f', f}, {'g', g}, {'h', h}, {'i', i},
    {'j', j}, {'k', k}, {'l', l}, {'m', m}, {'n', n}, {'o', o}, {'p', p}, {'q', q}, {'r', r},
    {'s', s}, {'t', t}, {'u', u}, {'v', v}, {'w', w}, {'x', x}, {'y', y}, {'z', z},
    {'!', huuto},
};
// clang-format on

std::vector<GlyphPoint> numerify(std::string text)
{
    std::vector<GlyphPoint> points;
    const int length = static_cast<int>(text.size());
    const float half_width = static_cast<float>(length) * 2.5f;   // glyph-cell units

    for (int i = 0; i < length; i++) {
        const auto entry = _letters.find(text[static_cast<size_t>(i)]);
        if (entry == _letters.end())
            continue;
        const char* glyph = entry->second;
        for (int row = 0; row < 5; row++) {
            for (int col = 0; col < 4; col++) {
                if (glyph[4 * row + col] == ' ')
                    continue;
                const float cell_x = static_cast<float>(5 * i + col) - half_width;
                points.push_back(GlyphPoint{{cell_x, static_cast<float>(row), 0.0f}});
            }
        }
    }
    return points;
}
