// The sound the tests compare: a stretch of a media file decoded by ffmpeg, and how alike two stretches are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Mono 16-bit samples at 44100 Hz of a media file from a start time, for a length (seconds), decoded by ffmpeg.
std::vector<int16_t> decode_audio(const std::string& path, double from, double length);

// Normalised correlation of the common length of a and b: 1 for the same sound, near 0 for unrelated ones.
double correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b);
