// Building the GL programs from the embedded stage sources, rebuilding them from new stage texts, and printing
// compiler and linker logs.
#include "programs.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "drawables.h"
#include "shaders.h"

GLuint filter_prog;
GLuint display_prog;
GLuint sample_prog;
GLuint effect1;
GLuint effect2;
GLuint effect3;
GLuint g1;

const ProgramRecipe program_recipes[program_count] = {
    {&filter_prog, "vertex", nullptr, "filter"},
    {&display_prog, "vertex", nullptr, "display"},
    {&sample_prog, "transform", "bound", "sample"},
    {&effect1, "effect1", "bound", "sample"},
    {&effect2, "effect2", "bound", "sample"},
    {&effect3, "effect3", "bound", "sample"},
    {&g1, "greet", "bound", "sample"},
};

// The embedded stages, in the order of stage_names.
static const char* const embedded_stages[] = {common_source,  transform_source, bound_source,   sample_source,
                                              effect1_source, effect2_source,   effect3_source, greet_source,
                                              vertex_source,  filter_source,    display_source};
static_assert(sizeof embedded_stages / sizeof embedded_stages[0] == stage_count, "one embedded text per stage");

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

static void add_stage(GLuint program, GLenum kind, const char* common, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    const char* sources[] = {common, source};
    glShaderSource(shader, 2, sources, nullptr);
    glCompileShader(shader);
    glAttachShader(program, shader);
    printLog(shader);
}

// init_shader with the shared prefix given.
static void build_program(const char* common, const char* vertex, const char* geometry, const char* fragment,
                          GLuint* program)
{
    *program = glCreateProgram();
    add_stage(*program, GL_VERTEX_SHADER, common, vertex);
    add_stage(*program, GL_FRAGMENT_SHADER, common, fragment);
    if (geometry)
        add_stage(*program, GL_GEOMETRY_SHADER, common, geometry);
    glLinkProgram(*program);
    printLog(*program);
}

void init_shader(const char* vertex, const char* geometry, const char* fragment, GLuint* program)
{
    build_program(common_source, vertex, geometry, fragment, program);
}

// The text of a stage by name from a list in the order of stage_names; null for no stage.
static const char* stage_in(const std::vector<const char*>& texts, const char* name)
{
    return name ? texts[stage_index(name)] : nullptr;
}

static void build_from(const std::vector<const char*>& texts, const ProgramRecipe& recipe, GLuint* program)
{
    build_program(stage_in(texts, "common"), stage_in(texts, recipe.vertex), stage_in(texts, recipe.geometry),
                  stage_in(texts, recipe.fragment), program);
}

void build_programs()
{
    const std::vector<const char*> texts(std::begin(embedded_stages), std::end(embedded_stages));
    for (const ProgramRecipe& recipe : program_recipes)
        build_from(texts, recipe, recipe.program);
}

const char* embedded_stage(size_t index)
{
    return embedded_stages[index];
}

// Deletes a program with the stages attached to it.
static void delete_program(GLuint program)
{
    GLuint shaders[3];
    GLsizei attached = 0;
    glGetAttachedShaders(program, 3, &attached, shaders);
    for (GLsizei i = 0; i < attached; ++i)
        glDeleteShader(shaders[i]);
    glDeleteProgram(program);
}

bool rebuild_programs(const std::vector<std::string>& stage_texts)
{
    if (stage_texts.size() != stage_count)
        return false;
    std::vector<const char*> texts(stage_count);
    std::transform(stage_texts.begin(), stage_texts.end(), texts.begin(),
                   [](const std::string& text) { return text.c_str(); });

    GLuint fresh[program_count] = {};
    bool all_linked = true;
    for (size_t i = 0; i < program_count; ++i) {
        build_from(texts, program_recipes[i], &fresh[i]);
        GLint linked = GL_FALSE;
        glGetProgramiv(fresh[i], GL_LINK_STATUS, &linked);
        all_linked = all_linked && linked == GL_TRUE;
    }
    for (size_t i = 0; i < program_count; ++i) {
        GLuint* kept = program_recipes[i].program;
        delete_program(all_linked ? *kept : fresh[i]);
        if (all_linked)
            *kept = fresh[i];
    }
    if (all_linked)
        create_draw_list();
    return all_linked;
}
