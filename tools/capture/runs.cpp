// capture's runs: the demo under vclock, once for the stills at their times and once for the video's frames,
// each frame checked against the time it was asked for; the video run also encodes and adds the soundtrack.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture.h"
#include "vclock_protocol.h"

namespace {

const double last_words = 5;       // seconds an encoder that stopped taking frames has to end by itself
const size_t frames_queued = 16;   // frames the encoder may lag behind the demo (28 MiB at 960 x 600)

struct Run {
    int frames_fd = -1;        // the read end of vclock's frame pipe
    std::string output_path;   // the demo's stdout and stderr
};

// Starts the demo with vclock preloaded; frames arrive on the returned descriptor.
Run start_demo(const Options& options, const std::string& display, const std::vector<std::string>& clock_settings,
               const std::string& name)
{
    int frames[2];
    if (pipe2(frames, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
    fcntl(frames[0], F_SETPIPE_SZ, 1 << 20);   // fewer wake-ups per frame; a smaller pipe works as well
    Run run;
    run.output_path = temp_folder() + "/" + name + "-output.txt";
    const int output_fd = open(run.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output_fd < 0)
        fail(1, "cannot create %s: %s", run.output_path.c_str(), strerror(errno));
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

    // Dummy audio: vclock answers the audio device, nothing is played.
    std::vector<std::string> environment = clock_environment(options.vclock, clock_settings);
    environment.push_back("DISPLAY=" + display);
    environment.push_back(vclock::setting(vclock::grab_variable, "fd:3"));
    // The kept log is the video run's, or the stills run's when there is no video.
    const bool keep_log = !options.log.empty() && (name == "video" || options.output.empty());
    environment.push_back(
        vclock::setting(vclock::log_variable, keep_log ? options.log : temp_folder() + "/" + name + "-clock.log"));
    demo_child.pipes = {frames[0]};
    spawn(demo_child, {options.demo}, environment, options.workdir, {null_fd, output_fd, output_fd, frames[1]});
    close(null_fd);
    close(output_fd);
    close(frames[1]);
    run.frames_fd = frames[0];
    return run;
}

// Waits for the demo after its last wanted frame: it must end by itself with status 0.
void finish_demo(const Run& run, unsigned received, unsigned wanted)
{
    if (interrupted())
        fail(130, "interrupted");
    int status = 0;
    wait_for(demo_child, status);   // closes the frame pipe first
    const std::string output = read_file(run.output_path);
    if (received < wanted || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "the demo ended after %u of %u frames (%s); its output:\n%s", received, wanted,
             describe_status(status).c_str(), output.empty() ? "(nothing)\n" : output.c_str());
    if (!output.empty())
        fprintf(stderr, "capture: the demo said:\n%s", output.c_str());
}

// The next frame of vclock's stream; false at its end.
bool next_frame(int fd, Frame8& frame)
{
    std::string header;
    const FrameRead read = read_frame(fd, frame, &header);
    if (read == FrameRead::bad)
        fail(1, "unexpected frame header from vclock: %s", header.c_str());
    return read == FrameRead::frame;
}

}   // namespace

void take_stills(const Options& options, const std::string& display)
{
    std::string times;
    for (const Still& still : options.stills)
        times += (times.empty() ? "" : ",") + std::to_string(still.ms);
    const unsigned count = static_cast<unsigned>(options.stills.size());
    Run run = start_demo(options, display,
                         {vclock::setting(vclock::times_variable, times),
                          vclock::setting(vclock::grab_frames_variable, "1-" + std::to_string(count)),
                          vclock::setting(vclock::events_variable, std::to_string(count + 1) + ":quit")},
                         "stills");
    Progress progress{"stills", count, options.quiet};
    Frame8 frame;
    unsigned received = 0;
    while (received < count && !interrupted() && next_frame(run.frames_fd, frame)) {
        const Still& still = options.stills[received];
        if (frame.index != received + 1 || frame.ms != still.ms)
            fail(1, "vclock sent frame %u at %lld ms, expected frame %u at %lld ms", frame.index,
                 static_cast<long long>(frame.ms), received + 1, static_cast<long long>(still.ms));
        write_still(frame, still.path);
        ++received;
        progress.update(received);
    }
    finish_demo(run, received, count);
    for (const Still& still : options.stills)
        printf("still %s: t = %lld.%03lld s\n", still.path.c_str(), static_cast<long long>(still.ms / 1000),
               static_cast<long long>(still.ms % 1000));
}

namespace {

// The sample rate of the WAV file vclock wrote.
uint32_t wav_rate(const std::string& path)
{
    unsigned char header[44] = {};
    FILE* file = fopen(path.c_str(), "rb");
    const bool ok = file && fread(header, 1, sizeof header, file) == sizeof header && memcmp(header, "RIFF", 4) == 0;
    if (file)
        fclose(file);
    if (!ok)
        fail(1, "the demo opened no audio device, so there is no soundtrack to record (%s)", path.c_str());
    return header[24] | header[25] << 8 | header[26] << 16 | static_cast<uint32_t>(header[27]) << 24;
}

// ffmpeg with its output in the log, reading stdin_fd; to_ffmpeg is this side's end of that pipe, -1 for none.
void run_ffmpeg(const std::vector<std::string>& argv, const std::string& log_path, int stdin_fd, int to_ffmpeg)
{
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log_fd < 0)
        fail(1, "cannot create %s: %s", log_path.c_str(), strerror(errno));
    if (to_ffmpeg >= 0)
        ffmpeg_child.pipes = {to_ffmpeg};
    spawn(ffmpeg_child, argv, {}, "", {stdin_fd, log_fd, log_fd, -1});
    close(log_fd);
}

}   // namespace

void record_video(const Options& options, const std::string& display)
{
    const int64_t from_ms = to_ms(options.from);
    const double step_ms = 1000.0 / options.fps;
    const unsigned count = static_cast<unsigned>(std::ceil((options.to - options.from) * options.fps - 1e-6));
    char step_text[64];
    snprintf(step_text, sizeof step_text, "%.17g", step_ms);
    const std::string audio_path = temp_folder() + "/audio.wav";
    const std::string video_path = temp_folder() + "/video.mp4";
    const std::string ffmpeg_log = temp_folder() + "/ffmpeg.txt";

    Run run = start_demo(options, display,
                         {vclock::setting(vclock::first_variable, std::to_string(from_ms)),
                          vclock::setting(vclock::step_variable, step_text),
                          vclock::setting(vclock::grab_frames_variable, "1-" + std::to_string(count)),
                          vclock::setting(vclock::events_variable, std::to_string(count + 1) + ":quit"),
                          vclock::setting(vclock::audio_variable, audio_path)},
                         "video");
    char fps_text[64];
    snprintf(fps_text, sizeof fps_text, "%.17g", options.fps);
    Progress progress{"video", count, options.quiet};
    Frame8 frame;
    unsigned received = 0;
    std::unique_ptr<EncoderFeed> encoder;
    // What the encoder says on its way out belongs to the message when it stops taking frames.
    auto encoder_stopped = [&ffmpeg_log] {
        int status = 0;
        wait_for(ffmpeg_child, status, last_words);
        fail(1, "ffmpeg stopped taking frames; it said:\n%s", read_file(ffmpeg_log).c_str());
    };
    while (received < count && !interrupted() && next_frame(run.frames_fd, frame)) {
        const int64_t expected_ms = from_ms + llround(received * step_ms);
        if (frame.index != received + 1 || frame.ms != expected_ms)
            fail(1, "vclock sent frame %u at %lld ms, expected frame %u at %lld ms", frame.index,
                 static_cast<long long>(frame.ms), received + 1, static_cast<long long>(expected_ms));
        if (!encoder) {
            // The encoder starts with the first frame, which tells the picture size.
            int to_encoder[2];
            if (pipe2(to_encoder, O_CLOEXEC) != 0)
                fail(1, "pipe: %s", strerror(errno));
            std::vector<std::string> argv = {
                options.ffmpeg, "-hide_banner", "-nostdin",
                "-loglevel",    "error",        "-y",
                "-f",           "rawvideo",     "-pix_fmt",
                "rgb24",        "-video_size",  std::to_string(frame.width) + "x" + std::to_string(frame.height),
                "-framerate",   fps_text,       "-i",
                "pipe:0"};
            if (options.lossless)
                argv.insert(argv.end(), {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "rgb24"});
            else
                argv.insert(argv.end(),
                            {"-c:v", "libx264", "-crf", std::to_string(options.crf), "-pix_fmt", "yuv420p"});
            const std::string preset = !options.preset.empty() ? options.preset
                                       : options.lossless      ? "ultrafast"
                                                               : "superfast";
            argv.insert(argv.end(), {"-preset", preset, "-f", "mp4", video_path});
            run_ffmpeg(argv, ffmpeg_log, to_encoder[0], to_encoder[1]);
            close(to_encoder[0]);
            encoder = std::make_unique<EncoderFeed>(to_encoder[1], frames_queued);
        }
        if (!encoder->push(frame.rgb))
            encoder_stopped();
        ++received;
        progress.update(received);
    }
    if (encoder && !encoder->finish())
        encoder_stopped();
    close_pipes(ffmpeg_child);   // the end of the frames: the encoder finishes while the demo ends
    finish_demo(run, received, count);
    int status = 0;
    wait_for(ffmpeg_child, status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "ffmpeg failed to encode the video (%s); it said:\n%s", describe_status(status).c_str(),
             read_file(ffmpeg_log).c_str());

    // The soundtrack from the interval's start, cut to the video's length, then both into the MP4.
    const uint32_t rate = wav_rate(audio_path);
    const long long first_sample = from_ms * rate / 1000;
    const long long end_sample = first_sample + llround(count * static_cast<double>(rate) / options.fps);
    const std::string partial = options.output + ".partial";
    set_partial(partial);
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    run_ffmpeg({options.ffmpeg,
                "-hide_banner",
                "-nostdin",
                "-loglevel",
                "error",
                "-y",
                "-i",
                video_path,
                "-i",
                audio_path,
                "-map",
                "0:v",
                "-map",
                "1:a",
                "-c:v",
                "copy",
                "-af",
                "atrim=start_sample=" + std::to_string(first_sample) + ":end_sample=" + std::to_string(end_sample) +
                    ",asetpts=PTS-STARTPTS",
                "-c:a",
                "aac",
                "-b:a",
                "192k",
                "-movflags",
                "+faststart",
                "-f",
                "mp4",
                partial},
               ffmpeg_log, null_fd, -1);
    close(null_fd);
    wait_for(ffmpeg_child, status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "ffmpeg failed to add the soundtrack (%s); it said:\n%s", describe_status(status).c_str(),
             read_file(ffmpeg_log).c_str());
    if (interrupted())
        fail(130, "interrupted");
    if (rename(partial.c_str(), options.output.c_str()) != 0)
        fail(1, "cannot rename %s to %s: %s", partial.c_str(), options.output.c_str(), strerror(errno));
    set_partial("");
    struct stat info;
    stat(options.output.c_str(), &info);
    printf("video %s: %u frames at %g fps from %.3f s to %.3f s, %dx%d, %s, %.1f MB\n", options.output.c_str(), count,
           options.fps, static_cast<double>(from_ms) / 1000.0,
           static_cast<double>(from_ms + llround(count * step_ms)) / 1000.0, frame.width, frame.height,
           options.lossless ? "lossless" : ("crf " + std::to_string(options.crf)).c_str(),
           static_cast<double>(info.st_size) / 1e6);
}
