// Benchmark: start-up phases to the first swapped frame, median frame times of the empty pipeline and of the
// full show at chosen moments, and peak resident memory. Prints figures; asserts nothing.
#include <SDL/SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "display_config.h"
#include "drawables.h"
#include "gl.h"
#include "programs.h"
#include "render.h"
#include "window.h"

using Clock = std::chrono::steady_clock;

static double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median wall time of one frame at time t: render, swap, and wait until the GL has finished it.
static double median_frame_ms(float t, int frames)
{
    render_frame(t);   // the first frame at a new moment warms caches
    SDL_GL_SwapBuffers();
    glFinish();
    std::vector<double> times(static_cast<size_t>(frames));
    for (double& time : times) {
        const auto start = Clock::now();
        render_frame(t);
        SDL_GL_SwapBuffers();
        glFinish();
        time = ms_since(start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// GPU time of one piece of work, by a timer query (the software renderer runs it when it is flushed).
template <typename Work>
static double gpu_ms(Work work)
{
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_TIME_ELAPSED, query);
    work();
    glEndQuery(GL_TIME_ELAPSED);
    GLuint64 nanoseconds = 0;
    glGetQueryObjectui64v(query, GL_QUERY_RESULT, &nanoseconds);
    glDeleteQueries(1, &query);
    return static_cast<double>(nanoseconds) / 1e6;
}

// Fragment-stage invocations and samples that passed the depth test during one frame at time t.
static void count_samples(float t, GLuint64* shaded, GLuint64* passed)
{
    GLuint queries[2];
    glGenQueries(2, queries);
    glBeginQuery(GL_FRAGMENT_SHADER_INVOCATIONS_ARB, queries[0]);
    glBeginQuery(GL_SAMPLES_PASSED, queries[1]);
    render_frame(t);
    glEndQuery(GL_SAMPLES_PASSED);
    glEndQuery(GL_FRAGMENT_SHADER_INVOCATIONS_ARB);
    glGetQueryObjectui64v(queries[0], GL_QUERY_RESULT, shaded);
    glGetQueryObjectui64v(queries[1], GL_QUERY_RESULT, passed);
    glDeleteQueries(2, queries);
}

// The passes of the empty pipeline, each timed alone; with an empty draw list the sample pass is its clear.
static void print_pipeline_breakdown()
{
    const double clear = gpu_ms([] {
        clear_sample_buffer();
        draw_particles(0.0f);
    });
    const double x = gpu_ms(reduce_along_x);
    const double y = gpu_ms(reduce_along_y);
    const double display = gpu_ms(display_filtered_image);
    printf("empty pipeline by GPU timer: clear %.1f ms, reduce x %.1f ms, reduce y %.1f ms, display %.1f ms\n", clear,
           x, y, display);
}

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const auto process_start = Clock::now();

    if (!open_window())
        return 1;
    const double window_ms = ms_since(process_start);

    // The steps of create_show, in its order, each timed.
    auto phase = Clock::now();
    create_render_targets();
    const double targets_ms = ms_since(phase);
    phase = Clock::now();
    build_programs();
    glFinish();
    const double programs_ms = ms_since(phase);

    phase = Clock::now();
    create_draw_list();
    disable_colour_clamping();
    const double batches_ms = ms_since(phase);

    // The empty pipeline first, with the show's draw list put aside. Its first frame is timed as the demo's
    // first frame would be without its batches.
    std::vector<std::function<void(float)>> show;
    show.swap(draw_ops);
    phase = Clock::now();
    render_frame(0.0f);
    SDL_GL_SwapBuffers();
    glFinish();
    const double first_frame_ms = ms_since(phase);
    const double to_first_swap_ms = ms_since(process_start);

    printf("configuration %dx%d, sample buffer %dx%d, %d frames per median\n", window_width, window_height,
           sample_width, sample_height, frames);
    printf("start-up: window %.1f ms, targets %.1f ms, programs %.1f ms, batches %.1f ms, first frame %.1f ms\n",
           window_ms, targets_ms, programs_ms, batches_ms, first_frame_ms);
    printf("start-up to first swapped frame: %.1f ms (shader building %.0f%%)\n", to_first_swap_ms,
           100.0 * programs_ms / to_first_swap_ms);

    const double floor_ms = median_frame_ms(0.0f, frames);
    printf("empty pipeline (clear, two filter passes, display): median %.1f ms\n", floor_ms);
    print_pipeline_breakdown();
    GLuint64 floor_shaded = 0, floor_passed = 0;
    count_samples(0.0f, &floor_shaded, &floor_passed);

    show.swap(draw_ops);
    for (float t : {0.5f, 4.4f, 20.0f, 60.0f, 110.0f}) {
        const double show_ms = median_frame_ms(t, frames);
        GLuint64 shaded = 0, passed = 0;
        count_samples(t, &shaded, &passed);
        printf("full show at %6.1f s: median %.1f ms, ratio to the empty pipeline %.2f; particle samples shaded "
               "%.2f M, written %.2f M\n",
               t, show_ms, show_ms / floor_ms, static_cast<double>(shaded - floor_shaded) / 1e6,
               static_cast<double>(passed - floor_passed) / 1e6);
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf("peak resident memory: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    SDL_Quit();
    return 0;
}
