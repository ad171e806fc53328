// The preview's timeline without GL: playing, pausing, seeks, steps, landmarks, the loop, the end and the caption,
// each as a script of clock readings and keys with the position and pause state expected after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "show.h"
#include "timeline.h"

namespace {

// One line of a script: at clock reading ticks, a key (SDLK_UNKNOWN: a frame, advance only), then what is shown.
struct Step {
    Uint32 ticks;
    SDLKey key;
    Uint32 position_ms;
    bool paused;
};

// Runs the script on a timeline that starts at at_ms (playing unless paused) at clock reading start.
void run_script(const char* name, Uint32 at_ms, bool paused, Uint32 start, const std::vector<Step>& steps)
{
    Timeline timeline = start_timeline(at_ms, paused, start);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (step.key == SDLK_UNKNOWN)
            advance(timeline, step.ticks);
        else
            EXPECT_EQ(apply_key(timeline, step.ticks, step.key), KeyAction::none) << name << " step " << i;
        EXPECT_EQ(show_position(timeline, step.ticks), step.position_ms) << name << " step " << i;
        EXPECT_EQ(timeline.paused, step.paused) << name << " step " << i;
    }
}

const SDLKey frame = SDLK_UNKNOWN;

TEST(PreviewTimeline, PlaysAndPausesOnTheClock)
{
    run_script("from 20 s", 20000, false, 500,
               {{500, frame, 20000, false},
                {1653, frame, 21153, false},
                {1700, SDLK_SPACE, 21200, true},
                {9000, frame, 21200, true},
                {9000, SDLK_SPACE, 21200, false},
                {9250, frame, 21450, false}});
    run_script("--paused", 4400, true, 0, {{0, frame, 4400, true}, {5000, frame, 4400, true}});
    run_script("the clock wraps past 2^32", 9000, false, 4294967000u,
               {{4294967000u, frame, 9000, false}, {704, frame, 10000, false}});
}

TEST(PreviewTimeline, SeeksStepsAndLandmarksLandOnTheirTimes)
{
    run_script("paused", 20000, true, 0,
               {{0, SDLK_RIGHT, 21000, true},
                {0, SDLK_PERIOD, 21017, true},
                {0, SDLK_PERIOD, 21033, true},
                {0, SDLK_COMMA, 21017, true},
                {0, SDLK_COMMA, 21000, true},
                {0, SDLK_PAGEDOWN, 31000, true},
                {0, SDLK_PAGEUP, 21000, true},
                {0, SDLK_LEFT, 20000, true},
                {0, SDLK_HOME, 0, true},
                {0, SDLK_COMMA, 0, true},
                {0, SDLK_LEFT, 0, true},
                {0, SDLK_2, 4300, true},
                {0, SDLK_3, 9000, true},
                {0, SDLK_4, 36000, true},
                {0, SDLK_5, 95000, true},
                {0, SDLK_6, 130000, true},
                {0, SDLK_PAGEDOWN, 136000, true},
                {0, SDLK_1, 0, true},
                {0, SDLK_a, 0, true}});
    run_script("playing", 20005, false, 0,
               {{100, SDLK_RIGHT, 21105, false},
                {600, frame, 21605, false},
                {600, SDLK_PERIOD, 21617, true},
                {900, SDLK_SPACE, 21617, false},
                {1000, frame, 21717, false}});
}

TEST(PreviewTimeline, LoopReturnsToItsStartAfterItsEnd)
{
    run_script("loop 9.5-10.5 s", 9000, false, 0,
               {{500, SDLK_LEFTBRACKET, 9500, false},
                {1500, SDLK_RIGHTBRACKET, 10500, false},
                {1500, frame, 9500, false},
                {2400, frame, 10400, false},
                {2600, frame, 9500, false},
                {2700, SDLK_PAGEDOWN, 19600, false},
                {3000, frame, 19900, false},
                {3000, SDLK_3, 9000, false},
                {4600, frame, 9500, false},
                {4600, SDLK_BACKSPACE, 9500, false},
                {6000, frame, 10900, false}});
}

TEST(PreviewTimeline, PausesOnTheLastFrameAtTheEnd)
{
    run_script("from 135 s", 135000, false, 0,
               {{999, frame, 135999, false},
                {1000, frame, run_length, true},
                {5000, frame, run_length, true},
                {5000, SDLK_RIGHT, run_length, true}});
}

TEST(PreviewTimeline, CaptionShowsTimeFrameTimePauseAndLoop)
{
    Timeline timeline = start_timeline(9000, false, 0);
    apply_key(timeline, 0, SDLK_LEFTBRACKET);
    EXPECT_EQ(caption(timeline, 0, 153), "velquorin preview - 9.000 s - 153 ms - loop 9.000-");
    for (const SDLKey key : {SDLK_RIGHTBRACKET, SDLK_PAGEDOWN, SDLK_LEFT, SDLK_LEFT})   // 12 s, 22 s, 21 s, 20 s
        apply_key(timeline, 3000, key);
    apply_key(timeline, 3106, SDLK_SPACE);
    EXPECT_EQ(caption(timeline, 7000, 153), "velquorin preview - 20.106 s - 153 ms - paused - loop 9.000-12.000");
}

}   // namespace
