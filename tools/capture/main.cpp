// capture: records the unchanged demo under vclock's controlled clock, frame by frame at exact times,
// into an H.264 MP4 with the soundtrack (through ffmpeg) and into PNG stills.
//
// The demo runs with libvclock.so preloaded: every frame is drawn at a chosen time, read back from the back
// buffer and sent to this tool through a pipe; the demo's own mixer output is rendered in step with the same
// clock into a WAV file. Output files appear only when the run succeeded.
//   options.cpp     the command line
//   processes.cpp   the children and the X server
//   runs.cpp        the stills run and the video run
//   frames.cpp      vclock's frames through pipes
//   stills.cpp      PNG stills
//   progress.cpp    the progress line
#include <cstdio>
#include <cstdlib>

#include "capture.h"
#include "writable.h"

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    set_tool("capture", clean_up);
    catch_signals();
    Options options = parse_arguments(argc, argv);
    // Where the results go is tried before the first frame, not after the last one.
    if (!options.output.empty())
        check_writable(options.output, "--output " + options.output);
    for (const Still& still : options.stills)
        check_writable(still.path, "the still " + still.path);

    // Everything that can be missing is looked for before anything starts.
    const std::string here = own_directory();
    if (options.demo.empty())
        options.demo = here + "/" + options.demo_program;
    if (options.gentle && !is_program(options.demo))
        fail(1, "no gentle program at '%s' (build the %s target)", options.demo.c_str(), options.demo_program.c_str());
    if (!is_program(options.demo))
        fail(1, "no demo binary at '%s' (build it, or name it with --demo PATH)", options.demo.c_str());
    options.demo = absolute(options.demo);
    if (options.vclock.empty())
        options.vclock = here + "/libvclock.so";
    if (access(options.vclock.c_str(), R_OK) != 0)
        fail(1, "no clock library at '%s' (build the vclock target, or name it with --vclock PATH)",
             options.vclock.c_str());
    options.vclock = absolute(options.vclock);
    if (!options.output.empty()) {
        const std::string ffmpeg = find_program(options.ffmpeg);
        if (ffmpeg.empty())
            fail(1, "ffmpeg not found ('%s'): install it (apt-get install ffmpeg) or name it with --ffmpeg PATH",
                 options.ffmpeg.c_str());
        options.ffmpeg = ffmpeg;
    }
    if (options.workdir.empty())
        options.workdir = directory_of(options.demo);
    if (!is_directory(options.workdir))
        fail(1, "the working directory '%s' does not exist", options.workdir.c_str());
    if (!options.output.empty() && access((options.workdir + "/" + music_file).c_str(), R_OK) != 0)
        fprintf(stderr, "capture: warning: no %s in %s: the demo runs without music and the soundtrack is silent\n",
                music_file, options.workdir.c_str());

    temp_folder();

    const std::string display = open_display(options);
    if (!options.stills.empty())
        take_stills(options, display);
    if (!options.output.empty())
        record_video(options, display);
    clean_up();
    return 0;
}
