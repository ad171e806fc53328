// Particle batches: their vertex layout, buffers and attribute bindings, and the list of per-frame draw operations.
#include "drawables.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "letters.h"
#include "programs.h"

std::vector<std::function<void(float)>> draw_ops;

const char title_text[] = "velquorin";

// The show's batches, kept for the whole run: the draw operations refer to them.
static Drawable ring, helix, cloud, title;

// Points one attribute at its place in the records of the bound buffer; attributes the program does not read are
// skipped.
static bool bind_attribute(GLuint program, const char* name, GLint components, size_t offset)
{
    const GLint location = glGetAttribLocation(program, name);
    if (location < 0)
        return false;
    glVertexAttribPointer(static_cast<GLuint>(location), components, GL_FLOAT, GL_FALSE, sizeof(ParticleVertex),
                          reinterpret_cast<const void*>(offset));
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    return location == 0;
}

// Creates the batch's vertex array and buffer of count records and records its bindings in the vertex array.
static Drawable create_batch(uint64_t count, GLuint program)
{
    Drawable batch{};
    batch.count = count;
    batch.program = program;

    glGenVertexArrays(1, &batch.vertex_array);
    glBindVertexArray(batch.vertex_array);
    glGenBuffers(1, &batch.buffer);
    glBindBuffer(GL_ARRAY_BUFFER, batch.buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count * sizeof(ParticleVertex)), nullptr, GL_DYNAMIC_DRAW);

    bool array_at_zero = false;
    array_at_zero |= bind_attribute(program, "pos1", 3, offsetof(ParticleVertex, pos1));
    array_at_zero |= bind_attribute(program, "pos2", 3, offsetof(ParticleVertex, pos2));
    array_at_zero |= bind_attribute(program, "color", 3, offsetof(ParticleVertex, color));
    array_at_zero |= bind_attribute(program, "size", 1, offsetof(ParticleVertex, size));
    // A compatibility context draws nothing without an array at location 0; the batch's own buffer
    // (count records, so every index is in range) serves there when the program reads no attribute from it.
    if (!array_at_zero) {
        glVertexAttribPointer(0, 1, GL_FLOAT, GL_FALSE, sizeof(ParticleVertex), nullptr);
        glEnableVertexAttribArray(0);
    }
    batch.time_uniform = glGetUniformLocation(program, "time");
    batch.window_uniform = glGetUniformLocation(program, "window");

    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return batch;
}

// Maps the batch's buffer for writing its records; prints the failure and returns null when mapping fails.
static ParticleVertex* map_records(const Drawable& batch)
{
    glBindBuffer(GL_ARRAY_BUFFER, batch.buffer);
    auto* records = static_cast<ParticleVertex*>(glMapBuffer(GL_ARRAY_BUFFER, GL_READ_WRITE));
    if (!records)
        printf("Error: glMapBuffer() failed\n");
    return records;
}

static void unmap_records()
{
    glUnmapBuffer(GL_ARRAY_BUFFER);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

static void set_particle(ParticleVertex* record, float x, float y, float z)
{
    *record = ParticleVertex{{x, y, z}, {x, y, z}, {0.0f, 0.0f, 0.0f}, 0.05f};
}

Drawable dummy_vbo(uint64_t count, GLuint program)
{
    return create_batch(count, program);
}

Drawable generate_sphere(GLuint program)
{
    const Drawable batch = create_batch(1000, program);
    if (ParticleVertex* records = map_records(batch)) {
        // s is accumulated in float, as the spiral was always drawn, not computed as i / 1000.
        float s = 0.0f;
        for (uint64_t i = 0; i < batch.count; i++) {
            const float rho = std::sin(6.2831855f * s);
            const float theta = 6.2831855f * std::fmod(6.0f * s, 1.0f);
            set_particle(&records[i], std::sin(theta) * rho, std::cos(theta) * rho, s);
            s += 1.0f / 1000.0f;
        }
        unmap_records();
    }
    return batch;
}

Drawable generate_greet(const char* text, GLuint program)
{
    const auto points = numerify(std::string(text));
    const Drawable batch = create_batch(points.size(), program);
    if (ParticleVertex* records = map_records(batch)) {
        for (size_t i = 0; i < points.size(); i++)   // glyph cells are 0.03 scene units apart
            set_particle(&records[i], 0.03f * points[i](0, 0), 0.03f * points[i](1, 0), 0.03f * points[i](2, 0));
        unmap_records();
    }
    return batch;
}

void draw_batch(const Drawable& batch, float t)
{
    glUseProgram(batch.program);
    glBindVertexArray(batch.vertex_array);
    glBindBuffer(GL_ARRAY_BUFFER, batch.buffer);
    glUniform1f(batch.time_uniform, t);
    glUniform1f(batch.window_uniform, 0.0f);
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(batch.count));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
    glUseProgram(0);
}

// A batch made again (programs rebuilt while the program runs) replaces its predecessor, whose buffer and
// bindings are deleted; the first time there is none.
static void replace_batch(Drawable* batch, const Drawable& fresh)
{
    if (batch->vertex_array) {
        glDeleteVertexArrays(1, &batch->vertex_array);
        glDeleteBuffers(1, &batch->buffer);
    }
    *batch = fresh;
}

void create_draw_list()
{
    draw_ops.clear();
    replace_batch(&ring, dummy_vbo(500, effect1));
    draw_ops.push_back([](float t) { draw_batch(ring, t); });
    replace_batch(&helix, dummy_vbo(500, effect2));
    draw_ops.push_back([](float t) { draw_batch(helix, t); });
    replace_batch(&cloud, dummy_vbo(200, effect3));
    draw_ops.push_back([](float t) { draw_batch(cloud, t); });
    replace_batch(&title, generate_greet(title_text, g1));
    draw_ops.push_back([](float t) { draw_batch(title, t); });
}

float frand()
{
    return static_cast<float>(rand()) * (1.0f / 2147483648.0f);
}

float hrand()
{
    return static_cast<float>(rand()) * (1.0f / 1073741824.0f) - 1.0f;
}
