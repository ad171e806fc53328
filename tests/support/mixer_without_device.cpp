// The mixer played without an audio device. Defined in the program, SDL_OpenAudio and SDL_CloseAudio take the
// place of SDL's for the mixer's library (a program's definitions come first in the dynamic linker's search):
// opening keeps the mixer's callback and format, and no thread plays anything until mixed_output asks.
#include "mixer_without_device.h"

#include <SDL/SDL.h>

#include <algorithm>
#include <cstring>

static SDL_AudioSpec device;
static bool device_open = false;

// cppcheck-suppress constParameter ; SDL's own signature
int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    device = *desired;
    device.size = static_cast<Uint32>(device.samples) * device.channels * 2;   // 16-bit samples
    device_open = true;
    if (obtained)
        *obtained = device;
    return 0;
}

void SDL_CloseAudio(void)
{
    device_open = false;
}

std::vector<int16_t> mixed_output(size_t frames)
{
    std::vector<int16_t> out;
    if (!device_open)
        return out;
    std::vector<Uint8> block(device.size);
    const size_t block_frames = device.samples;
    for (size_t done = 0; done < frames; done += block_frames) {
        // The mixer adds to what the buffer holds: SDL clears it before each call.
        std::fill(block.begin(), block.end(), Uint8{0});
        device.callback(device.userdata, block.data(), static_cast<int>(block.size()));
        const size_t keep = std::min(block_frames, frames - done) * device.channels;
        const auto* samples = reinterpret_cast<const int16_t*>(block.data());
        out.insert(out.end(), samples, samples + keep);
    }
    return out;
}
