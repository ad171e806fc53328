// Shared support for the GL tests: one SDL window per test binary, readback, probes and transform feedback.
#include "gl_harness.h"

#include <SDL/SDL.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "drawables.h"
#include "shaders.h"
#include "show.h"
#include "window.h"

namespace {

std::string build_log;

// The demo's start-up up to its music: window, render targets, programs, the show's draw list, colour clamping off.
class GlEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(open_window()) << "the line above says why (is DISPLAY set?)";
        build_log = capture_stdout(create_show);
    }
    void TearDown() override { SDL_Quit(); }
};

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new GlEnvironment);

std::string shader_log(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, length, nullptr, &log[0]);
    return log;
}

GLuint compile_stage(GLuint program, GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    const char* sources[] = {common_source, source};
    glShaderSource(shader, 2, sources, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    EXPECT_EQ(compiled, GL_TRUE) << "test stage should compile:\n" << shader_log(shader);
    glAttachShader(program, shader);
    return shader;
}

}   // namespace

const std::string& program_build_log()
{
    return build_log;
}

std::string capture_stdout(const std::function<void()>& f)
{
    fflush(stdout);
    FILE* sink = tmpfile();
    const int saved = dup(1);
    dup2(fileno(sink), 1);
    f();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);

    std::string text;
    rewind(sink);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, sink)) > 0)
        text.append(chunk, n);
    fclose(sink);
    return text;
}

Rgb FloatRegion::at(int x, int y) const
{
    if (x < x0 || y < y0 || x >= x0 + width || y >= y0 + height) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is outside the image read back";
        return Rgb{NAN, NAN, NAN};
    }
    const size_t i = 3 * (static_cast<size_t>(y - y0) * static_cast<size_t>(width) + static_cast<size_t>(x - x0));
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
}

static void bind_for_reading(GLuint framebuffer)
{
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadBuffer(framebuffer == 0 ? GL_BACK : GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
}

FloatRegion read_rgb(GLuint framebuffer, int x, int y, int width, int height)
{
    FloatRegion image;
    image.x0 = x;
    image.y0 = y;
    image.width = width;
    image.height = height;
    image.rgb.resize(3 * static_cast<size_t>(width) * static_cast<size_t>(height));
    bind_for_reading(framebuffer);
    glReadPixels(x, y, width, height, GL_RGB, GL_FLOAT, image.rgb.data());
    return image;
}

std::vector<unsigned char> read_rgb8(GLuint framebuffer, int x, int y, int width, int height)
{
    std::vector<unsigned char> pixels(3 * static_cast<size_t>(width) * static_cast<size_t>(height));
    bind_for_reading(framebuffer);
    glReadPixels(x, y, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

std::vector<float> read_depth(GLuint framebuffer, int x, int y, int width, int height)
{
    std::vector<float> depth(static_cast<size_t>(width) * static_cast<size_t>(height));
    bind_for_reading(framebuffer);
    glReadPixels(x, y, width, height, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    return depth;
}

::testing::AssertionResult probe_near(const std::string& where, const Rgb& got, const Rgb& expected, double tol)
{
    const bool ok = std::abs(got.r - expected.r) <= tol && std::abs(got.g - expected.g) <= tol &&
                    std::abs(got.b - expected.b) <= tol;
    if (ok)
        return ::testing::AssertionSuccess();
    std::ostringstream text;
    text.precision(4);
    text << std::fixed << "probe " << where << ": expected ~(" << expected.r << ", " << expected.g << ", " << expected.b
         << ") +- " << tol << ", got (" << got.r << ", " << got.g << ", " << got.b << ")";
    return ::testing::AssertionFailure() << text.str();
}

GLuint link_test_program(const char* vertex, const char* geometry, const char* fragment,
                         const std::vector<const char*>& feedback)
{
    const GLuint program = glCreateProgram();
    compile_stage(program, GL_VERTEX_SHADER, vertex);
    if (geometry)
        compile_stage(program, GL_GEOMETRY_SHADER, geometry);
    if (fragment)
        compile_stage(program, GL_FRAGMENT_SHADER, fragment);
    if (!feedback.empty())
        glTransformFeedbackVaryings(program, static_cast<GLsizei>(feedback.size()), feedback.data(),
                                    GL_INTERLEAVED_ATTRIBS);
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(program, length, nullptr, &log[0]);
        ADD_FAILURE() << "test program should link:\n" << log;
    }
    return program;
}

std::vector<float> capture_points(GLuint program, GLuint vertex_array, int count, float time, int floats_per_vertex)
{
    std::vector<float> captured(static_cast<size_t>(count) * static_cast<size_t>(floats_per_vertex), -999.0f);
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, buffer);
    glBufferData(GL_TRANSFORM_FEEDBACK_BUFFER, static_cast<GLsizeiptr>(captured.size() * sizeof(float)),
                 captured.data(), GL_STATIC_READ);
    glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, buffer);

    glUseProgram(program);
    glUniform1f(glGetUniformLocation(program, "time"), time);
    glBindVertexArray(vertex_array);
    glEnable(GL_RASTERIZER_DISCARD);
    glBeginTransformFeedback(GL_POINTS);
    glDrawArrays(GL_POINTS, 0, count);
    glEndTransformFeedback();
    glDisable(GL_RASTERIZER_DISCARD);
    glBindVertexArray(0);
    glUseProgram(0);

    glGetBufferSubData(GL_TRANSFORM_FEEDBACK_BUFFER, 0, static_cast<GLsizeiptr>(captured.size() * sizeof(float)),
                       captured.data());
    glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, 0);
    glDeleteBuffers(1, &buffer);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "capture at time " << time;
    return captured;
}

GLuint vertex_block_program(const char* stage)
{
    return link_test_program(stage, nullptr, nullptr, {"Vertex.pos1", "Vertex.pos2", "Vertex.color", "Vertex.size"});
}

std::vector<model::Particle> capture_vertex_block(GLuint program, GLuint vertex_array, int count, float time)
{
    const std::vector<float> f = capture_points(program, vertex_array, count, time, 10);
    std::vector<model::Particle> particles;
    for (size_t k = 0; k < static_cast<size_t>(count); k++) {
        const float* v = &f[10 * k];
        particles.push_back(model::Particle{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, {v[6], v[7], v[8]}, v[9]});
    }
    return particles;
}

std::vector<model::Particle> capture_scene(const char* stage, int count, float time)
{
    struct Capture {
        const char* stage;
        int count;
        GLuint program, vertex_array;
    };
    static std::vector<Capture> made;
    for (const Capture& c : made)
        if (c.stage == stage && c.count == count)
            return capture_vertex_block(c.program, c.vertex_array, count, time);
    const GLuint program = vertex_block_program(stage);
    made.push_back(Capture{stage, count, program, dummy_vbo(static_cast<uint64_t>(count), program).vertex_array});
    return capture_vertex_block(program, made.back().vertex_array, count, time);
}

bool position_matches(const model::Vec3& gpu, const model::Vec3& cpu, bool unprojected)
{
    if (unprojected)
        return std::abs(gpu.x - cpu.x) <= 1e-6 && std::abs(gpu.y - cpu.y) <= 1e-6 && std::abs(gpu.z - cpu.z) <= 1e-6;
    const double image_tol = 2e-4, depth_tol = 2e-6, scene_eps = 1e-4, spot_radius = 0.001;
    const double distance = 5 * std::pow(cpu.z, 4);   // from the viewer
    const double image = image_tol + 0.8 * scene_eps / distance;
    const double depth = depth_tol + 0.25 * cpu.z * scene_eps / distance;
    const bool on_axis = std::hypot(cpu.x, cpu.y) < spot_radius;
    const bool image_ok = on_axis ? std::hypot(gpu.x, gpu.y) <= spot_radius
                                  : std::abs(gpu.x - cpu.x) <= image && std::abs(gpu.y - cpu.y) <= image;
    return image_ok && std::abs(gpu.z - cpu.z) <= depth;
}

GLuint count_primitives(const std::function<void()>& draw)
{
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    draw();
    glEndQuery(GL_PRIMITIVES_GENERATED);
    GLuint primitives = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &primitives);
    glDeleteQueries(1, &query);
    return primitives;
}

void with_draw_list(std::vector<std::function<void(float)>> list, const std::function<void()>& f)
{
    list.swap(draw_ops);
    f();
    list.swap(draw_ops);
}

void with_empty_draw_list(const std::function<void()>& f)
{
    with_draw_list({}, f);
}
