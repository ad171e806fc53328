// Building the GL programs from the embedded stage sources, and printing compiler and linker logs.
#include "programs.h"

#include <cstdio>
#include <vector>

#include "shaders.h"

GLuint filter_prog;
GLuint display_prog;
GLuint sample_prog;
GLuint effect1;
GLuint effect2;
GLuint effect3;
GLuint g1;

void printLog(GLuint object)
{
    const bool is_shader = glIsShader(object);
    GLint length = 0;
    if (is_shader)
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);

    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1);
    GLsizei written = 0;
    if (is_shader)
        glGetShaderInfoLog(object, length, &written, log.data());
    else
        glGetProgramInfoLog(object, length, &written, log.data());

    if (written > 0) {
        fwrite(log.data(), 1, static_cast<size_t>(written), stdout);
        fputc('\n', stdout);
    }
}

static void add_stage(GLuint program, GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    const char* sources[] = {common_source, source};
    glShaderSource(shader, 2, sources, nullptr);
    glCompileShader(shader);
    glAttachShader(program, shader);
    printLog(shader);
}

void init_shader(const char* vertex, const char* geometry, const char* fragment, GLuint* program)
{
    *program = glCreateProgram();
    add_stage(*program, GL_VERTEX_SHADER, vertex);
    add_stage(*program, GL_FRAGMENT_SHADER, fragment);
    if (geometry)
        add_stage(*program, GL_GEOMETRY_SHADER, geometry);
    glLinkProgram(*program);
    printLog(*program);
}

void build_programs()
{
    init_shader(vertex_source, nullptr, filter_source, &filter_prog);
    init_shader(vertex_source, nullptr, display_source, &display_prog);
    init_shader(transform_source, bound_source, sample_source, &sample_prog);
    init_shader(effect1_source, bound_source, sample_source, &effect1);
    init_shader(effect2_source, bound_source, sample_source, &effect2);
    init_shader(effect3_source, bound_source, sample_source, &effect3);
    init_shader(greet_source, bound_source, sample_source, &g1);
}
