// The preview's music: the track decoded once and played by the preview itself from the sample of the picture's
// time, so that every move is heard at once and at the picture's sample, and nothing is loaded or sought again.
#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "preview.h"
#include "soundtrack.h"

// A quarter of the demo's buffer: a move is heard within about 23 ms at 44100 Hz.
constexpr int buffer_samples = 1024;

// What the audio thread plays; changed only under SDL_LockAudio.
struct Player {
    std::vector<int16_t> samples;   // the whole track, interleaved; empty: the show goes on in silence
    int channels = 2;
    long rate = 44100;
    long frames = 0;   // sample frames in the track: its loop, as the demo's music loops
    long at = 0;       // the next sample frame played
    long left = 0;     // frames still to play: -1 without end, 0 silence
};
static Player player;

static bool music_paused = false;
static unsigned jumps_followed = 0, steps_followed = 0;

// The music hook: the track from the shared position, silence where nothing is left to play.
static void play_track(void*, Uint8* stream, int length)
{
    auto* out = reinterpret_cast<int16_t*>(stream);
    const long wanted = length / (2 * player.channels);
    long done = 0;
    while (done < wanted && player.left != 0) {
        long count = std::min(wanted - done, player.frames - player.at);
        if (player.left > 0)
            count = std::min(count, player.left);
        std::memcpy(out + done * player.channels, player.samples.data() + player.at * player.channels,
                    static_cast<size_t>(count * player.channels) * 2);
        done += count;
        player.at = (player.at + count) % player.frames;
        if (player.left > 0)
            player.left -= count;
    }
    std::memset(out + done * player.channels, 0, static_cast<size_t>((wanted - done) * player.channels) * 2);
}

// Plays from the picture's position (milliseconds of show) for frames sample frames: -1 on and on, 0 silence.
static void play_at(Uint32 ms, long frames)
{
    SDL_LockAudio();
    player.at = static_cast<long>(static_cast<int64_t>(ms) * player.rate / 1000 % player.frames);
    player.left = frames;
    SDL_UnlockAudio();
}

void start_music_at(const Timeline& timeline, Uint32 ticks)
{
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, buffer_samples) != 0) {
        printf("Mix_OpenAudio() failed\n");
        return;
    }
    Uint16 format = 0;
    int rate = 0;
    Mix_QuerySpec(&rate, &format, &player.channels);
    player.rate = rate;
    player.samples = decode_music();
    player.frames = static_cast<long>(player.samples.size()) / player.channels;
    if (player.frames == 0)
        return;
    jumps_followed = timeline.jumps;
    steps_followed = timeline.steps;
    music_paused = timeline.paused;
    play_at(show_position(timeline, ticks), timeline.paused ? 0 : -1);
    Mix_HookMusic(play_track, nullptr);
}

void follow_music(const Timeline& timeline, Uint32 ticks)
{
    if (player.frames == 0)
        return;
    const bool moved = timeline.jumps != jumps_followed, stepped = timeline.steps != steps_followed;
    jumps_followed = timeline.jumps;
    steps_followed = timeline.steps;
    if (timeline.paused) {
        if (stepped)   // the frame's sixtieth of a second, heard as the picture shows it
            play_at(show_position(timeline, ticks), player.rate / 60);
        else if (!music_paused)
            play_at(show_position(timeline, ticks), 0);
        music_paused = true;
    } else if (moved || music_paused) {
        play_at(show_position(timeline, ticks), -1);
        music_paused = false;
    }
}
