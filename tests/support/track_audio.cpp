// The sound the tests compare: stretches of media files decoded by ffmpeg, and their correlation.
#include "track_audio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "program_run.h"
#include "temp_dir.h"

std::vector<int16_t> decode_audio(const std::string& path, double from, double length)
{
    const TempDir dir;
    const std::string raw = dir / "decoded.s16";
    const RunResult decoded =
        run_program({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-ss", std::to_string(from), "-i", path, "-t",
                     std::to_string(length), "-f", "s16le", "-ac", "1", "-ar", "44100", raw},
                    {}, "", 120);
    std::vector<int16_t> samples;
    if (decoded.exited && decoded.status == 0) {
        const std::string bytes = read_file(raw);
        samples.resize(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    }
    return samples;
}

double correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
    const size_t n = std::min(a.size(), b.size());
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}
