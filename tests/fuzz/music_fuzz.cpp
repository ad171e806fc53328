// Fuzz target: any bytes under the music's name, through the demo's whole music path (the check, the decoding,
// the WAV stream handed to the mixer) and a few seconds of the mixer playing it, as the demo would; then decoded
// whole, to its end, as the preview decodes it.
#include <SDL/SDL.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mixer_without_device.h"
#include "soundtrack.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The file is written to a private folder in memory, under the music's name in the working directory.
    char folder[] = "/dev/shm/music-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0)
        abort();
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 4096) != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FILE* file = fopen(music_file, "wb");
    if (!file || fwrite(bytes, 1, size, file) != size || fclose(file) != 0)
        abort();
    if (Mix_Music* music = load_music()) {
        if (Mix_PlayMusic(music, -1) == 0)
            mixed_output(size_t{3} * 44100);   // three seconds, looping where the file is shorter
        Mix_HaltMusic();
        Mix_FreeMusic(music);
    }
    decode_music();
    return 0;
}
