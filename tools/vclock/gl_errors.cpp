// vclock's GL error log: what start-up left pending, the codes after every swap and the context's debug messages.
//
// Setting (optional)
//   VCLOCK_GL_ERRORS    path of a text file of GL errors. At the first swap, before it is forwarded, every
//                       pending glGetError code is written as "start glGetError 0xCODE" (errors of start-up
//                       and frame 0). Then, where the context has OpenGL 4.3 or GL_KHR_debug, GL_DEBUG_OUTPUT
//                       is switched on (synchronous, every message enabled) with a callback that writes each
//                       message as "debug frame J TYPE SEVERITY id N: TEXT" (J = the frame being drawn; TYPE
//                       is error, undefined, deprecated, portability, performance, marker, push, pop or
//                       other), and the line "armed debug_output D" follows (D = 1 with debug output, 0 with
//                       glGetError alone; codes raised by switching it on are "arm glGetError 0xCODE").
//                       After every forwarded swap, pending codes are written as "swap K glGetError 0xCODE".
//                       The file ends with "end swaps N" when the program exits normally.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

FILE* gl_errors_file = nullptr;
bool gl_debug_output = false;

void write_pending_gl_errors(const char* when)
{
    for (int i = 0; i < 32; ++i) {   // a lost context can report an error forever
        const GLenum error = glGetError();
        if (error == GL_NO_ERROR)
            return;
        write_line(gl_errors_file, gl_errors_code_format, when, error);
    }
}

const char* debug_type_name(GLenum type)
{
    switch (type) {
    case GL_DEBUG_TYPE_ERROR:
        return "error";
    case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR:
        return "undefined";
    case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR:
        return "deprecated";
    case GL_DEBUG_TYPE_PORTABILITY:
        return "portability";
    case GL_DEBUG_TYPE_PERFORMANCE:
        return "performance";
    case GL_DEBUG_TYPE_MARKER:
        return "marker";
    case GL_DEBUG_TYPE_PUSH_GROUP:
        return "push";
    case GL_DEBUG_TYPE_POP_GROUP:
        return "pop";
    default:
        return "other";
    }
}

const char* debug_severity_name(GLenum severity)
{
    switch (severity) {
    case GL_DEBUG_SEVERITY_HIGH:
        return "high";
    case GL_DEBUG_SEVERITY_MEDIUM:
        return "medium";
    case GL_DEBUG_SEVERITY_LOW:
        return "low";
    default:
        return "notification";
    }
}

void GLAPIENTRY on_debug_message(GLenum, GLenum type, GLuint id, GLenum severity, GLsizei length, const GLchar* message,
                                 const void*)
{
    std::string text = length >= 0 ? std::string(message, static_cast<size_t>(length)) : std::string(message);
    std::replace(text.begin(), text.end(), '\n', ' ');
    write_line(gl_errors_file, gl_errors_debug_format, swaps_done(), debug_type_name(type),
               debug_severity_name(severity), id, text.c_str());
}

bool context_has_debug_output()
{
    int major = 0, minor = 0;
    if (const GLubyte* version = glGetString(GL_VERSION))
        sscanf(reinterpret_cast<const char*>(version), "%d.%d", &major, &minor);
    if (major * 100 + minor >= 403)
        return true;
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (name && strcmp(reinterpret_cast<const char*>(name), "GL_KHR_debug") == 0)
            return true;
    }
    return false;
}

// At the first swap: what start-up left pending, then debug output for the rest of the run.
void arm_gl_error_checks()
{
    write_pending_gl_errors(gl_errors_start);
    gl_debug_output = context_has_debug_output();
    if (gl_debug_output) {
        glEnable(GL_DEBUG_OUTPUT);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
        glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        glDebugMessageCallback(on_debug_message, nullptr);
    }
    write_pending_gl_errors(gl_errors_arm);
    write_line(gl_errors_file, gl_errors_armed_format, gl_debug_output ? 1 : 0);
}

}   // namespace

void read_gl_error_settings()
{
    gl_errors_file = open_text_file(gl_errors_variable);
}

void check_gl_errors_before_swap(unsigned frame)
{
    if (gl_errors_file && frame == 0)
        arm_gl_error_checks();
}

void check_gl_errors_after_swap(unsigned swaps)
{
    if (!gl_errors_file)
        return;
    char when[32];
    snprintf(when, sizeof when, gl_errors_swap_format, swaps);
    write_pending_gl_errors(when);
}

void end_gl_errors(unsigned swaps)
{
    if (!gl_errors_file)
        return;
    write_line(gl_errors_file, gl_errors_end_format, swaps);
}

}   // namespace vclock
