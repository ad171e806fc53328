// compare_frames: two PNG frames of one size, compared channel by channel: largest and mean difference per
// channel, the share of pixels where some channel differs by more than 3/255, and optionally a difference image.
// Usage: compare_frames [--gain N] A.png B.png [DIFF.png]
// Exit status 0 when compared, 1 when a file cannot be read or written or the sizes differ, 2 on a wrong call.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "png_file.h"

namespace {

constexpr int tolerance = 3;   // 8-bit steps a channel may differ by before its pixel counts as different

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;   // top row first
};

Image read_or_exit(const char* path)
{
    Image image;
    std::string error;
    if (!read_png(path, &image.width, &image.height, &image.rgb, &error)) {
        printf("compare_frames: cannot read %s: %s\n", path, error.c_str());
        exit(1);
    }
    return image;
}

}   // namespace

int main(int argc, char** argv)
{
    int gain = 1;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--gain") == 0 && i + 1 < argc)
            gain = atoi(argv[++i]);
        else
            paths.push_back(argv[i]);
    }
    if (paths.size() < 2 || paths.size() > 3 || gain < 1) {
        printf("usage: compare_frames [--gain N] A.png B.png [DIFF.png]  (DIFF: |A - B| per channel, times N)\n");
        return 2;
    }
    const Image a = read_or_exit(paths[0]), b = read_or_exit(paths[1]);
    if (a.width != b.width || a.height != b.height) {
        printf("compare_frames: sizes differ: %s is %dx%d, %s is %dx%d\n", paths[0], a.width, a.height, paths[1],
               b.width, b.height);
        return 1;
    }

    const size_t pixels = a.rgb.size() / 3;
    int largest[3] = {0, 0, 0};
    double sum[3] = {0, 0, 0};
    size_t differing = 0;
    std::vector<unsigned char> difference(a.rgb.size());
    for (size_t pixel = 0; pixel < pixels; ++pixel) {
        bool beyond = false;
        for (size_t channel = 0; channel < 3; ++channel) {
            const size_t at = pixel * 3 + channel;
            const int step = std::abs(a.rgb[at] - b.rgb[at]);
            largest[channel] = std::max(largest[channel], step);
            sum[channel] += step;
            beyond = beyond || step > tolerance;
            difference[at] = static_cast<unsigned char>(std::min(255, step * gain));
        }
        if (beyond)
            ++differing;
    }

    printf("compare_frames: %s and %s, %dx%d\n", paths[0], paths[1], a.width, a.height);
    const char* const names[3] = {"red", "green", "blue"};
    for (size_t channel = 0; channel < 3; ++channel)
        printf("%s: max %d, mean %.3f\n", names[channel], largest[channel],
               pixels ? sum[channel] / static_cast<double>(pixels) : 0.0);
    printf("differing by more than %d/255: %.3f%% of pixels (%zu of %zu)\n", tolerance,
           pixels ? 100.0 * static_cast<double>(differing) / static_cast<double>(pixels) : 0.0, differing, pixels);

    if (paths.size() == 3) {
        std::string error;
        if (!write_png(paths[2], a.width, a.height, difference.data(), RowOrder::top_down, &error)) {
            printf("compare_frames: cannot write %s: %s\n", paths[2], error.c_str());
            return 1;
        }
    }
    return 0;
}
