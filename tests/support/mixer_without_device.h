// The mixer played without an audio device: a program linked with this takes the device's place, so that what
// the mixer would play can be asked for and read, as fast as it is made, where no device is (or only the dummy,
// which never runs the mixer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The next frames sample frames the mixer plays, interleaved in the format Mix_OpenAudio asked for (16-bit
// samples); empty while no device is open.
std::vector<int16_t> mixed_output(size_t frames);
