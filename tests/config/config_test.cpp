// Each display configuration: its shader literals, its programs, and an empty frame on its own window.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "display_config.h"
#include "drawables.h"
#include "gl.h"
#include "program_run.h"
#include "programs.h"
#include "render.h"
#include "shaders.h"
#include "show.h"
#include "window.h"

namespace {

std::string sample_size_literal()
{
    return "vec2(" + std::to_string(sample_width) + "," + std::to_string(sample_height) + ")";
}

TEST(DisplayConfiguration, SizesKeepTheirRatios)
{
    EXPECT_EQ(sample_width, 4 * filtered_width) << "the sample buffer is four filtered pixels wide per pixel";
    EXPECT_EQ(sample_height, 4 * filtered_height);
    EXPECT_NE(sample_width, filtered_width) << "the filter tells its axis by the width of its source";
    EXPECT_TRUE(window_width == filtered_width || window_width == 2 * filtered_width);
    EXPECT_EQ(full_screen, window_width != filtered_width) << "only the doubled configurations take the screen";
}

TEST(DisplayConfiguration, ShaderLiteralsMatchTheBuffers)
{
    EXPECT_NE(std::strstr(sample_source, sample_size_literal().c_str()), nullptr)
        << "sample stage should map pixels with " << sample_size_literal();
    const std::string direction = "textureSize(tex).x == " + std::to_string(sample_width);
    EXPECT_NE(std::strstr(filter_source, direction.c_str()), nullptr) << "filter should test " << direction;
    const char* scale = window_width == filtered_width ? "vec2(1.000000,1.000000)" : "vec2(0.500000,0.500000)";
    EXPECT_NE(std::strstr(display_source, scale), nullptr) << "display should scale by " << scale;
    EXPECT_EQ(std::strncmp(common_source, "#version 150\n\n#extension GL_ARB_texture_rectangle : enable\n\n", 60), 0)
        << "every stage must begin with the version line, then the extension line";
}

class ConfigurationWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(open_window()) << "the line above says why";
        create_show();
    }
    static void TearDownTestSuite() { SDL_Quit(); }
};

TEST_F(ConfigurationWindow, EveryProgramLinks)
{
    const GLuint programs[] = {filter_prog, display_prog, sample_prog, effect1, effect2, effect3, g1};
    for (GLuint program : programs) {
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE) << "program " << program << " should link";
    }
}

// The reference compiler's verdict on each program exactly as the GL received it: every stage's text (the common
// prefix and the stage, as read back from the GL) compiled and the program's stages linked together.
TEST_F(ConfigurationWindow, ReferenceCompilerAcceptsEveryProgram)
{
    ASSERT_STRNE(GLSLANG_VALIDATOR, "") << "glslangValidator is needed (Debian package glslang-tools)";
    const struct {
        const char* name;
        GLuint program;
    } programs[] = {{"filter_prog", filter_prog},
                    {"display_prog", display_prog},
                    {"sample_prog", sample_prog},
                    {"effect1", effect1},
                    {"effect2", effect2},
                    {"effect3", effect3},
                    {"g1", g1}};
    TempDir dir;
    for (const auto& entry : programs) {
        const std::string name = entry.name;
        const GLuint program = entry.program;
        GLuint shaders[3] = {};
        GLsizei attached = 0;
        glGetAttachedShaders(program, 3, &attached, shaders);
        std::vector<std::string> command = {GLSLANG_VALIDATOR, "-l"};
        for (GLsizei i = 0; i < attached; i++) {
            GLint kind = 0, length = 0;
            glGetShaderiv(shaders[i], GL_SHADER_TYPE, &kind);
            glGetShaderiv(shaders[i], GL_SHADER_SOURCE_LENGTH, &length);
            std::string text(static_cast<size_t>(length), '\0');
            glGetShaderSource(shaders[i], length, nullptr, text.data());
            text.resize(std::strlen(text.c_str()));
            const char* suffix = kind == GL_VERTEX_SHADER ? ".vert" : kind == GL_GEOMETRY_SHADER ? ".geom" : ".frag";
            command.push_back(dir / (name + suffix));
            std::ofstream(command.back()) << text;
        }
        EXPECT_GE(attached, 2) << name << " should have its vertex and fragment stages attached";
        const RunResult result = run_program(command, {}, dir.path, 60);
        EXPECT_TRUE(result.exited && result.status == 0)
            << name << ": glslangValidator should accept every stage and link them, got " << describe(result) << ":\n"
            << result.output;
    }
}

TEST_F(ConfigurationWindow, EmptyFrameIsUniformGreyOverTheWholeWindow)
{
    std::vector<std::function<void(float)>> show;
    show.swap(draw_ops);
    render_frame(0.0f);
    show.swap(draw_ops);
    std::vector<unsigned char> pixels(static_cast<size_t>(window_width) * window_height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, window_width, window_height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());

    // White through two filter passes: 0.96687 squared = 0.93484, 238 of 255.
    size_t off = 0;
    for (size_t i = 0; i < pixels.size(); i++)
        if (pixels[i] < 237 || pixels[i] > 239)
            off++;
    const size_t first = 0;
    EXPECT_EQ(off, 0u) << "every channel of every pixel should be 238 +- 1; e.g. pixel (0, 0) is " << int(pixels[first])
                       << "," << int(pixels[first + 1]) << "," << int(pixels[first + 2]);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}   // namespace
