// Benchmark: start-up phases to the first swapped frame, median frame times of the empty pipeline and of the
// full show at chosen moments (finished, with the process's CPU time for it, swap to swap, and each pass by GPU
// timer), with vertical sync off, and
// peak resident memory. Prints figures, optionally also as CSV rows; asserts nothing.
// Usage: demo_bench [--csv FILE] [FRAMES]   or   demo_bench --renderer
#include <SDL/SDL.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "display_config.h"
#include "drawables.h"
#include "fail.h"
#include "gl.h"
#include "programs.h"
#include "render.h"
#include "soundtrack.h"
#include "window.h"

// Where the build leaves the track; a tree whose build does not say (bench/compare.sh builds this file in other
// commits' trees) reads it from the working folder.
#ifndef BENCH_MUSIC_DIR
#define BENCH_MUSIC_DIR "."
#endif

using Clock = std::chrono::steady_clock;

static double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

static double median(std::vector<double>& values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU time of the whole process (every driver thread included) in milliseconds: on a machine shared with other
// work it counts this process's frames alone, where wall time counts the others' too.
static double process_cpu_ms()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Median wall time of one frame at time t: render, swap, and wait until the GL has finished it; and the median
// CPU time of the process for it in *cpu_ms.
static double median_frame_ms(float t, int frames, double* cpu_ms = nullptr)
{
    render_frame(t);   // the first frame at a new moment warms caches
    SDL_GL_SwapBuffers();
    glFinish();
    std::vector<double> times(static_cast<size_t>(frames)), cpu(static_cast<size_t>(frames));
    for (size_t frame = 0; frame < times.size(); ++frame) {
        const auto start = Clock::now();
        const double cpu_start = process_cpu_ms();
        render_frame(t);
        SDL_GL_SwapBuffers();
        glFinish();
        times[frame] = ms_since(start);
        cpu[frame] = process_cpu_ms() - cpu_start;
    }
    if (cpu_ms)
        *cpu_ms = median(cpu);
    return median(times);
}

// Median wall time from one swap to the next at time t, nothing finished in between: the rate at which the
// driver takes frames when it may queue them, which vertical sync would otherwise pace.
static double median_swap_to_swap_ms(float t, int frames)
{
    render_frame(t);
    SDL_GL_SwapBuffers();
    glFinish();
    std::vector<double> times(static_cast<size_t>(frames));
    auto last_swap = Clock::now();
    for (double& time : times) {
        render_frame(t);
        SDL_GL_SwapBuffers();
        const auto swapped = Clock::now();
        time = std::chrono::duration<double, std::milli>(swapped - last_swap).count();
        last_swap = swapped;
    }
    glFinish();
    return median(times);
}

// The passes of one frame in render_frame's order, each to be timed on its own.
struct Pass {
    const char* name;
    void (*run)(float t);
};
static const Pass frame_passes[] = {
    {"clear", [](float) { clear_sample_buffer(); }},      {"particles", draw_particles},
    {"reduce_x", [](float) { reduce_along_x(); }},        {"reduce_y", [](float) { reduce_along_y(); }},
    {"display", [](float) { display_filtered_image(); }},
};
constexpr size_t pass_count = sizeof frame_passes / sizeof frame_passes[0];

// Median GPU time of each pass at time t, from one timer query per pass and frame, read after the swap.
static std::vector<double> median_pass_ms(float t, int frames)
{
    GLuint queries[pass_count];
    glGenQueries(static_cast<GLsizei>(pass_count), queries);
    std::vector<std::vector<double>> times(pass_count, std::vector<double>(static_cast<size_t>(frames)));
    for (size_t frame = 0; frame < static_cast<size_t>(frames); ++frame) {
        for (size_t pass = 0; pass < pass_count; ++pass) {
            glBeginQuery(GL_TIME_ELAPSED, queries[pass]);
            frame_passes[pass].run(t);
            glEndQuery(GL_TIME_ELAPSED);
        }
        SDL_GL_SwapBuffers();
        for (size_t pass = 0; pass < pass_count; ++pass) {
            GLuint64 nanoseconds = 0;
            glGetQueryObjectui64v(queries[pass], GL_QUERY_RESULT, &nanoseconds);
            times[pass][frame] = static_cast<double>(nanoseconds) / 1e6;
        }
    }
    glDeleteQueries(static_cast<GLsizei>(pass_count), queries);
    std::vector<double> medians(pass_count);
    std::transform(times.begin(), times.end(), medians.begin(), median);
    return medians;
}

// GPU time of one piece of work, by a timer query (the software renderer runs it when it is flushed).
template <typename Work> static double gpu_ms(Work work)
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

// Rows "configuration,moment,measure,ms" for scripts, appended to a file when --csv names one.
static FILE* csv_file = nullptr;
static char configuration[32];

static void csv_row(const char* moment, const char* measure, double ms)
{
    if (csv_file)
        fprintf(csv_file, "%s,%s,%s,%.3f\n", configuration, moment, measure, ms);
}

static void print_renderer()
{
    const struct {
        GLenum name;
        const char* label;
    } strings[] = {{GL_VENDOR, "vendor"},
                   {GL_RENDERER, "renderer"},
                   {GL_VERSION, "version"},
                   {GL_SHADING_LANGUAGE_VERSION, "glsl"}};
    for (const auto& string : strings) {
        const char* value = reinterpret_cast<const char*>(glGetString(string.name));
        printf("%s: %s\n", string.label, value ? value : "(none)");
    }
}

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int frames = 7;
    bool renderer_only = false;
    std::string csv_path;
    enum { renderer_option = 256, csv_option };
    static const option table[] = {{"renderer", no_argument, nullptr, renderer_option},
                                   {"csv", required_argument, nullptr, csv_option},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, version_option},
                                   {nullptr, 0, nullptr, 0}};
    set_tool("demo_bench");
    set_usage("usage: demo_bench [--csv FILE] [FRAMES]   or   demo_bench --renderer\n"
              "Times the start-up, the empty pipeline and the show at chosen moments with vertical sync off.\n"
              "  FRAMES            frames per median, 1 to 10000 (default 7)\n"
              "      --csv FILE    also append the figures to FILE as rows configuration,moment,measure,ms\n"
              "      --renderer    print the OpenGL renderer's strings and exit\n"
              "  -h, --help        this text\n"
              "      --version     the version of demo_bench\n");
    for (int found; (found = next_option(argc, argv, "h", table)) != -1;) {
        if (found == renderer_option)
            renderer_only = true;
        else if (found == csv_option)
            csv_path = optarg;
        else
            bad_argument("unknown option '%s'", argv[optind - 1]);
    }
    if (optind + 1 < argc)
        bad_argument("one number of frames at most, not '%s' and '%s'", argv[optind], argv[optind + 1]);
    if (optind < argc)
        frames = static_cast<int>(parse_whole(argv[optind], "FRAMES", 1, 10000));
    const auto process_start = Clock::now();
    // The track is read from the build folder, where the build renders it.
    if (chdir(BENCH_MUSIC_DIR) != 0)
        warn("cannot enter %s: %s; the music is not timed", BENCH_MUSIC_DIR, strerror(errno));

    // Vertical sync off, so that no swap waits for the display: the drivers' own switches, read when the
    // context is made, and SDL's swap control, which needs its video part up before the window opens.
    setenv("__GL_SYNC_TO_VBLANK", "0", 1);
    setenv("vblank_mode", "0", 1);
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0)
        SDL_GL_SetAttribute(SDL_GL_SWAP_CONTROL, 0);

    if (!open_window())
        return 1;
    const double window_ms = ms_since(process_start);
    if (renderer_only) {
        print_renderer();
        SDL_Quit();
        return 0;
    }
    if (!csv_path.empty()) {
        csv_file = fopen(csv_path.c_str(), "a");
        if (!csv_file) {
            warn("cannot open %s: %s", csv_path.c_str(), strerror(errno));
            SDL_Quit();
            return 1;
        }
    }
    snprintf(configuration, sizeof configuration, "%dx%d", window_width, window_height);
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

    // What the music's start costs: opening the device, judging the track and handing it to the mixer.
    phase = Clock::now();
    if (Mix_Music* music = open_music())
        Mix_PlayMusic(music, -1);
    const double music_ms = ms_since(phase);

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
    int swap_interval = -1;
    SDL_GL_GetAttribute(SDL_GL_SWAP_CONTROL, &swap_interval);
    printf("renderer: %s; swap interval %d (-1: not reported)\n",
           reinterpret_cast<const char*>(glGetString(GL_RENDERER)), swap_interval);
    printf("start-up: window %.1f ms, targets %.1f ms, programs %.1f ms, batches %.1f ms, music %.1f ms, first "
           "frame %.1f ms\n",
           window_ms, targets_ms, programs_ms, batches_ms, music_ms, first_frame_ms);
    printf("start-up to first swapped frame: %.1f ms (shader building %.0f%%)\n", to_first_swap_ms,
           100.0 * programs_ms / to_first_swap_ms);
    csv_row("start-up", "window", window_ms);
    csv_row("start-up", "targets", targets_ms);
    csv_row("start-up", "programs", programs_ms);
    csv_row("start-up", "batches", batches_ms);
    csv_row("start-up", "music", music_ms);
    csv_row("start-up", "first_frame", first_frame_ms);
    csv_row("start-up", "to_first_swap", to_first_swap_ms);

    double floor_cpu_ms = 0;
    const double floor_ms = median_frame_ms(0.0f, frames, &floor_cpu_ms);
    printf("empty pipeline (clear, two filter passes, display): median %.1f ms, CPU %.1f ms\n", floor_ms, floor_cpu_ms);
    csv_row("empty", "finished", floor_ms);
    csv_row("empty", "cpu", floor_cpu_ms);
    print_pipeline_breakdown();
    GLuint64 floor_shaded = 0, floor_passed = 0;
    count_samples(0.0f, &floor_shaded, &floor_passed);

    show.swap(draw_ops);
    for (float t : {0.5f, 4.4f, 20.0f, 60.0f, 110.0f}) {
        double cpu_ms = 0;
        const double show_ms = median_frame_ms(t, frames, &cpu_ms);
        GLuint64 shaded = 0, passed = 0;
        count_samples(t, &shaded, &passed);
        printf("full show at %6.1f s: median %.1f ms (CPU %.1f ms), ratio to the empty pipeline %.2f; particle "
               "samples shaded %.2f M, written %.2f M\n",
               t, show_ms, cpu_ms, show_ms / floor_ms, static_cast<double>(shaded - floor_shaded) / 1e6,
               static_cast<double>(passed - floor_passed) / 1e6);
        const double swap_ms = median_swap_to_swap_ms(t, frames);
        const std::vector<double> pass_ms = median_pass_ms(t, frames);
        printf("full show at %6.1f s: swap to swap median %.2f ms; GPU timer medians: clear %.3f, particles %.3f, "
               "reduce x %.3f, reduce y %.3f, display %.3f ms\n",
               t, swap_ms, pass_ms[0], pass_ms[1], pass_ms[2], pass_ms[3], pass_ms[4]);
        char moment[16];
        snprintf(moment, sizeof moment, "%g", static_cast<double>(t));
        csv_row(moment, "finished", show_ms);
        csv_row(moment, "cpu", cpu_ms);
        csv_row(moment, "swap_to_swap", swap_ms);
        for (size_t pass = 0; pass < pass_count; ++pass)
            csv_row(moment, (std::string("gpu_") + frame_passes[pass].name).c_str(), pass_ms[pass]);
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf("peak resident memory: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (csv_file)
        fclose(csv_file);
    SDL_Quit();
    return 0;
}
