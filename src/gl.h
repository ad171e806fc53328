// OpenGL with the prototypes of every core entry point the demo calls (libGL exports them directly).
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
