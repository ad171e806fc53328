// The music: opening the audio device, checking and loading the track, playing it in a loop.
#include "soundtrack.h"

#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <vector>

// Length in bytes of the MPEG audio frame whose 4-byte header starts at h, or 0 if h is no valid header.
static size_t mpeg_frame_length(const uint8_t* h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3;   // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;     // 1: III, 2: II, 3: I
    const int bitrate_index = h[2] >> 4;
    const int rate_index = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
        return 0;

    static const int kbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},   // version 1, layer I
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},      // layer II
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},      // layer III
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},      // versions 2 and 2.5, layer I
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},           // layers II and III
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};

    const bool mpeg1 = version == 3;
    const int bitrate = 1000 * kbps[mpeg1 ? 0 : 1][3 - layer][bitrate_index];
    const int rate = rates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 3) {
        const int slots = 12 * bitrate / rate + padding;   // 4-byte slots
        return static_cast<size_t>(slots) * 4;
    }
    const int bytes = ((layer == 1 && !mpeg1) ? 72 : 144) * bitrate / rate + padding;
    return static_cast<size_t>(bytes);
}

std::string mp3_file_problem(const char* path)
{
    struct stat info {};
    if (stat(path, &info) != 0)
        return "";   // missing or unreadable: the loader says so
    if (S_ISDIR(info.st_mode))
        return "is a directory";
    FILE* file = fopen(path, "rb");
    if (!file)
        return "";
    std::vector<uint8_t> head(size_t{256} * 1024);
    head.resize(fread(head.data(), 1, head.size(), file));
    fclose(file);
    if (head.empty())
        return "is empty";

    // Skip an ID3v2 tag; its size is stored in 7-bit bytes.
    size_t start = 0;
    if (head.size() >= 10 && head[0] == 'I' && head[1] == 'D' && head[2] == '3')
        start = 10 + ((head[6] & 0x7Fu) << 21 | (head[7] & 0x7Fu) << 14 | (head[8] & 0x7Fu) << 7 | (head[9] & 0x7Fu));

    // A stream is two frames in a row; a lone sync pattern in random bytes is not.
    for (size_t at = start; at + 4 <= head.size(); at++) {
        const size_t length = mpeg_frame_length(&head[at]);
        if (length == 0)
            continue;
        const size_t next = at + length;
        if (next + 4 > head.size()) {
            if (next == head.size())
                return "";   // the file ends with this one whole frame
            continue;
        }
        if (mpeg_frame_length(&head[next]) != 0 && (head[next + 1] & 0xFE) == (head[at + 1] & 0xFE))
            return "";
    }
    return "holds no MPEG audio stream";
}

Mix_Music* open_music()
{
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 4096) != 0) {
        printf("Mix_OpenAudio() failed\n");
        return nullptr;
    }
    // The loader accepts an empty file, a directory or noise under this name and plays silence without a word.
    const std::string problem = mp3_file_problem(music_file);
    if (!problem.empty()) {
        printf("Mix_LoadMUS() failed: %s %s\n", music_file, problem.c_str());
        return nullptr;
    }
    Mix_Music* music = Mix_LoadMUS(music_file);
    if (!music)
        printf("Mix_LoadMUS() failed\n");
    return music;
}

void start_music()
{
    Mix_Music* music = open_music();
    if (music && Mix_PlayMusic(music, -1) == -1)   // loops; the show's own clock ends the run
        printf("Mix_PlayMusic: %s\n", SDL_GetError());
}
