// compare_frames: two PNG frames of one size, compared channel by channel: largest and mean difference per
// channel, the share of pixels where some channel differs by more than 3/255, and optionally a difference image.
// Usage: compare_frames [--gain N] A.png B.png [DIFF.png]
// Exit status 0 when compared, 1 when a file cannot be read or written or the sizes differ, 2 on a wrong call.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "fail.h"
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
    if (!read_png(path, &image.width, &image.height, &image.rgb, &error))
        fail(exit_failed, "cannot read %s: %s", path, error.c_str());
    return image;
}

}   // namespace

int main(int argc, char** argv)
{
    int gain = 1;
    static const option table[] = {{"gain", required_argument, nullptr, 'g'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, version_option},
                                   {nullptr, 0, nullptr, 0}};
    set_tool("compare_frames");
    set_usage("usage: compare_frames [--gain N] A.png B.png [DIFF.png]\n"
              "Compares two PNG frames of one size channel by channel; DIFF gets |A - B| per channel, times N.\n"
              "      --gain N    the difference image's gain, 1 to 255 (default 1)\n"
              "  -h, --help      this text\n"
              "      --version   the version of compare_frames\n");
    for (int found; (found = next_option(argc, argv, "h", table)) != -1;) {
        if (found != 'g')
            bad_argument("unknown option '%s'", argv[optind - 1]);
        gain = static_cast<int>(parse_whole(optarg, "--gain", 1, 255));
    }
    const std::vector<const char*> paths(argv + optind, argv + argc);
    if (paths.size() < 2 || paths.size() > 3)
        bad_argument("two frames to compare and at most a difference image, not %zu files", paths.size());
    // cppcheck-suppress containerOutOfBounds ; bad_argument above does not return
    const Image a = read_or_exit(paths[0]), b = read_or_exit(paths[1]);
    if (a.width != b.width || a.height != b.height)
        fail(exit_failed, "sizes differ: %s is %dx%d, %s is %dx%d", paths[0], a.width, a.height, paths[1], b.width,
             b.height);

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
        if (!write_png(paths[2], a.width, a.height, difference.data(), RowOrder::top_down, &error))
            fail(exit_failed, "cannot write %s: %s", paths[2], error.c_str());
    }
    return 0;
}
