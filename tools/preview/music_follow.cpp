// The preview's music: the track paused, resumed and moved with the picture, so that the beat stays on it.
#include <SDL/SDL_mixer.h>

#include <cstdio>

#include "preview.h"
#include "soundtrack.h"

static Mix_Music* music = nullptr;   // null: the show goes on in silence
static bool music_paused = false;
static unsigned jumps_followed = 0;     // the timeline's jumps the music has been told of
static bool position_pending = false;   // a jump while paused: the music moves when playing resumes

// Plays the loaded track from ms milliseconds: from its start, then a seek forward.
static void play_from(Uint32 ms)
{
    music_paused = false;
    if (Mix_PlayMusic(music, -1) == -1) {
        printf("Mix_PlayMusic: %s\n", SDL_GetError());
        return;
    }
    if (ms > 0 && Mix_SetMusicPosition(ms / 1000.0) == -1)
        printf("Mix_SetMusicPosition: %s\n", Mix_GetError());
}

// Seeking this MP3 backwards lands elsewhere, and playing the same track again does not reliably start it from
// its beginning, so every move plays a freshly loaded track and seeks forward from its start.
static void move_to(Uint32 ms)
{
    Mix_HaltMusic();
    Mix_FreeMusic(music);
    music = load_music();   // checked again: the file may have been replaced since the start
    if (music)
        play_from(ms);
}

void start_music_at(const Timeline& timeline, Uint32 ticks)
{
    music = open_music();
    if (!music)
        return;
    play_from(show_position(timeline, ticks));
    jumps_followed = timeline.jumps;
    if (timeline.paused) {
        Mix_PauseMusic();
        music_paused = true;
    }
}

void follow_music(const Timeline& timeline, Uint32 ticks)
{
    if (!music)
        return;
    if (timeline.jumps != jumps_followed) {
        jumps_followed = timeline.jumps;
        position_pending = true;
    }
    if (timeline.paused) {
        if (!music_paused)
            Mix_PauseMusic();
        music_paused = true;
        return;
    }
    if (position_pending) {
        position_pending = false;
        move_to(show_position(timeline, ticks));
    } else if (music_paused) {
        Mix_ResumeMusic();
        music_paused = false;
    }
}
