// The GLSL stages, embedded at build time from shaders/*.glsl with the display configuration's literals.
#pragma once

extern const char common_source[];
extern const char transform_source[];
extern const char bound_source[];
extern const char sample_source[];
extern const char effect1_source[];
extern const char effect2_source[];
extern const char effect3_source[];
extern const char greet_source[];
extern const char vertex_source[];
extern const char filter_source[];
extern const char display_source[];
