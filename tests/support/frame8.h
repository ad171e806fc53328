// The pixel shares and comparisons the tests make on 8-bit frames as the window shows them (grabbed by vclock or
// decoded from the capture tool's files).
#pragma once

#include <string>

#include "frames.h"   // Frame8 and the reader, as the tools have them

// Share of pixels (0..1) whose channels are all within tolerance of the colour.
double share_near(const Frame8& frame, int r, int g, int b, int tolerance);

// Share of pixels in the rectangle [x0, x1) x [y0, y1) for which the predicate holds.
template <typename Predicate>
double share_where(const Frame8& frame, int x0, int y0, int x1, int y1, Predicate predicate)
{
    long hits = 0, total = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++total)
            if (predicate(frame.at(x, y)))
                ++hits;
    return total ? static_cast<double>(hits) / total : 0.0;
}

// A pixel of the title's black: every channel below 40.
bool dark(const unsigned char* pixel);

// Share of dark pixels in columns [x0, x1) of the band where the title stands (45% to 60% of the height);
// x1 < 0 for the whole width.
double title_band_dark_share(const Frame8& frame, int x0 = 0, int x1 = -1);

// Describes the first pixel where two frames differ ("" when they are equal).
std::string first_difference(const Frame8& expected, const Frame8& observed);
