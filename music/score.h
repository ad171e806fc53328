// score.h: the piece "Tarnhollow", rendered whole from its score.
#pragma once
#include "synth.h"

namespace music {

// The finished track at music time (sample 0 = t 0): left and right channels, float, 44.1 kHz.
Bus render_piece();

}   // namespace music
