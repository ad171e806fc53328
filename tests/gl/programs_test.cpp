// Program building on llvmpipe: every program of the demo links, and a broken stage is reported but still stored.
#include <string>

#include "gl_harness.h"
#include "programs.h"
#include "shaders.h"

namespace {

struct NamedProgram {
    const char* name;
    const GLuint* program;
};

const NamedProgram demo_programs[] = {
    {"filter_prog", &filter_prog},
    {"display_prog", &display_prog},
    {"sample_prog", &sample_prog},
    {"effect1", &effect1},
    {"effect2", &effect2},
    {"effect3", &effect3},
    {"g1", &g1},
};

TEST(Programs, EveryProgramLinks)
{
    for (const NamedProgram& p : demo_programs) {
        EXPECT_NE(*p.program, 0u) << p.name << " should have a name";
        EXPECT_TRUE(glIsProgram(*p.program)) << p.name;
        GLint linked = GL_FALSE;
        glGetProgramiv(*p.program, GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE) << p.name << " should link; build log:\n" << program_build_log();
    }
    // Seven programs, no two alike.
    for (size_t a = 0; a < 7; a++)
        for (size_t b = a + 1; b < 7; b++)
            EXPECT_NE(*demo_programs[a].program, *demo_programs[b].program)
                << demo_programs[a].name << " and " << demo_programs[b].name;
    EXPECT_EQ(program_build_log().find("error"), std::string::npos)
        << "llvmpipe should report no error while building:\n"
        << program_build_log();
}

TEST(Programs, ParticleProgramsHaveTheirInterface)
{
    // What the draw operations look up: "time" in every particle program, "window" in none.
    for (const NamedProgram& p : demo_programs) {
        if (*p.program == filter_prog || *p.program == display_prog)
            continue;
        EXPECT_GE(glGetUniformLocation(*p.program, "time"), 0) << p.name << " reads time";
        EXPECT_EQ(glGetUniformLocation(*p.program, "window"), -1) << p.name << " has no uniform window";
    }
    EXPECT_GE(glGetAttribLocation(g1, "pos1"), 0) << "the title reads its buffer positions";
    EXPECT_EQ(glGetAttribLocation(effect1, "pos1"), -1) << "the ring computes everything from the vertex index";
    EXPECT_EQ(glGetAttribLocation(filter_prog, "vertex"), 0) << "the rectangle's corners arrive at location 0";
}

TEST(Programs, BrokenStagesArePrintedInStageOrderAndTheNameIsStillStored)
{
    // Each stage breaks on an identifier of its own, so the printed logs show which stage came when.
    const char* vertex = "void main() { gl_Position = vec4(undeclared_in_vertex); }\n";
    const char* fragment = "out vec4 color;\nvoid main() { color = vec4(undeclared_in_fragment); }\n";
    const char* geometry = "layout(points) in;\nlayout(points, max_vertices=1) out;\n"
                           "void main() { gl_Position = vec4(undeclared_in_geometry); EmitVertex(); }\n";
    GLuint program = 0;
    const std::string printed = capture_stdout([&] { init_shader(vertex, geometry, fragment, &program); });

    EXPECT_NE(program, 0u) << "the program's name is stored even though nothing compiled";
    EXPECT_TRUE(glIsProgram(program));
    GLint linked = GL_TRUE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_FALSE) << "a program of broken stages cannot link";

    const size_t v = printed.find("undeclared_in_vertex");
    const size_t f = printed.find("undeclared_in_fragment");
    const size_t g = printed.find("undeclared_in_geometry");
    ASSERT_NE(v, std::string::npos) << "vertex log should be printed; stdout was:\n" << printed;
    ASSERT_NE(f, std::string::npos) << "fragment log should be printed; stdout was:\n" << printed;
    ASSERT_NE(g, std::string::npos) << "geometry log should be printed; stdout was:\n" << printed;
    EXPECT_LT(v, f) << "vertex before fragment:\n" << printed;
    EXPECT_LT(f, g) << "fragment before geometry:\n" << printed;
    EXPECT_GT(printed.rfind('\n'), g) << "the logs end with a line break";
    while (glGetError() != GL_NO_ERROR) { }
}

TEST(Programs, CleanStagesPrintNothing)
{
    // llvmpipe returns empty logs for a successful compile and link, and printLog prints nothing for them.
    GLuint program = 0;
    const std::string printed = capture_stdout([&] { init_shader(vertex_source, nullptr, filter_source, &program); });
    EXPECT_EQ(printed, "") << "no log lines for a clean program";
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

}   // namespace
