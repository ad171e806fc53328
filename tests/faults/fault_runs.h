// Shared by the fault tests: running the demo (or a variant of it) under vclock in a temporary folder, and
// reading what it printed and played.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"

// One line of output, exactly.
inline bool has_line(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

// How many times text occurs in output.
inline size_t occurrences(const std::string& output, const std::string& text)
{
    size_t count = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
        ++count;
    return count;
}

// Signed 16-bit samples of a WAV file that vclock wrote (44-byte header, then PCM).
inline std::vector<int> wav_samples(const std::string& path)
{
    const std::string bytes = read_text(path);
    std::vector<int> samples;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]), high = static_cast<unsigned char>(bytes[i + 1]);
        samples.push_back(static_cast<int16_t>(low | high << 8));
    }
    return samples;
}

// Largest magnitude among samples [from, to).
inline int peak(const std::vector<int>& samples, size_t from, size_t to)
{
    int largest = 0;
    for (size_t i = from; i < to && i < samples.size(); ++i)
        largest = std::max(largest, std::abs(samples[i]));
    return largest;
}

class FaultRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = getenv("DISPLAY");
        ASSERT_TRUE(display && *display) << "expected DISPLAY to name an X server (scripts/test.sh starts Xvfb)";
        ASSERT_FALSE(dir.path.empty()) << "expected a temporary folder";
    }

    // binary in the temporary folder under vclock, with its log in clock.log.
    RunResult run(const std::vector<std::string>& settings, const std::vector<std::string>& more = {},
                  const std::string& binary = DEMO_BINARY, double limit_seconds = 60)
    {
        std::vector<std::string> environment = vclock_environment(settings);
        environment.push_back("VCLOCK_LOG=" + dir / "clock.log");
        environment.insert(environment.end(), more.begin(), more.end());
        return run_program({binary}, environment, dir.path, limit_seconds);
    }

    ClockLog log() const { return read_clock_log(dir / "clock.log"); }

    TempDir dir;
};
