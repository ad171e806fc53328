// 8-bit RGB frames: pixel shares and comparisons.
#include "frame8.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

double share_near(const Frame8& frame, int r, int g, int b, int tolerance)
{
    return share_where(frame, 0, 0, frame.width, frame.height, [&](const unsigned char* p) {
        return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance;
    });
}

bool dark(const unsigned char* pixel)
{
    return pixel[0] < 40 && pixel[1] < 40 && pixel[2] < 40;
}

double title_band_dark_share(const Frame8& frame, int x0, int x1)
{
    return share_where(frame, x0, frame.height * 45 / 100, x1 < 0 ? frame.width : x1, frame.height * 60 / 100, dark);
}

std::string first_difference(const Frame8& expected, const Frame8& observed)
{
    if (expected.width != observed.width || expected.height != observed.height)
        return "size " + std::to_string(observed.width) + "x" + std::to_string(observed.height) + ", expected " +
               std::to_string(expected.width) + "x" + std::to_string(expected.height);
    long different = 0;
    std::string first;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (memcmp(expected.at(x, y), observed.at(x, y), 3) != 0) {
                if (different++ == 0) {
                    const unsigned char* e = expected.at(x, y);
                    const unsigned char* o = observed.at(x, y);
                    std::ostringstream text;
                    text << "pixel (" << x << ", " << y << "): expected (" << int(e[0]) << ", " << int(e[1]) << ", "
                         << int(e[2]) << ") got (" << int(o[0]) << ", " << int(o[1]) << ", " << int(o[2]) << ")";
                    first = text.str();
                }
            }
    return different ? first + "; " + std::to_string(different) + " pixels differ" : "";
}
