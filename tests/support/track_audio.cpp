// The sound the tests compare: stretches of media files decoded by ffmpeg, and their correlation.
#include "track_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::vector<int16_t> decode_audio(const std::string& path, double from, double length)
{
    char command[1024];
    snprintf(command, sizeof command,
             "ffmpeg -nostdin -loglevel error -ss %.3f -i '%s' -t %.3f -f s16le -ac 1 -ar 44100 -", from, path.c_str(),
             length);
    std::vector<int16_t> samples;
    if (FILE* pipe = popen(command, "r")) {
        int16_t buffer[4096];
        size_t got;
        while ((got = fread(buffer, sizeof buffer[0], 4096, pipe)) > 0)
            samples.insert(samples.end(), buffer, buffer + got);
        pclose(pipe);
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
