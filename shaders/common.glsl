// Common prefix compiled in front of every stage: version, uniforms, hash, boxy waves and the fisheye camera.
#version 150

#extension GL_ARB_texture_rectangle : enable

uniform sampler2DRect tex;   // source image of a post-processing pass; left at texture unit 0
uniform float time;          // seconds since the start of the run

// x: depth value in focus; y: blur radius (screen units) per unit of depth away from it. 0 turns depth of field off.
const vec2 focus = vec2(0.7, 0.0);

// Stateless hash in [0, 1).
float rand(vec2 co)
{
    return fract(sin(dot(co, vec2(12.9898, 78.233))) * 43758.5453);
}

vec3 rand3(float x)
{
    return vec3(rand(vec2(x, 0.0)), rand(vec2(0.0, x)), rand(vec2(x, x)));
}

// Squared-off waves: s > 0 sets how square they are (small s: nearly the sign of the wave).
float bcos(float s, float x)
{
    return cos(x) / (s + abs(cos(x))) * (1.0 + s);
}

float bsin(float s, float x)
{
    return sin(x) / (s + abs(sin(x))) * (1.0 + s);
}

const float pi = acos(-1.0);
const float pi2 = pi * 2.0;

// Equidistant fisheye: image position 0.8 per radian off the +z axis, depth value (distance / 5000)^0.25.
vec3 fisheye(vec4 p)
{
    float r = length(p);
    float i = acos(p.z / r) * 0.8;
    float a = atan(p.x, p.y);
    return vec3(sin(a) * i, cos(a) * i, pow(r / 5000.0, 0.25));
}

// Turn about the y axis, then stretch y by -1.6, push the scene one unit ahead and scale everything by 1000.
mat4 turntable_odd(float t1, float t2, float t3, float t4)
{
    return mat4(cos(t1), 0.0, sin(t2), 0.0,
                0.0, 1.0, 0.0, 0.0,
                -sin(t3), 0.0, cos(t4), 0.0,
                0.0, 0.0, 0.0, 1.0)
         * mat4(1000.0, 0.0, 0.0, 0.0,
                0.0, -1000.0 * 1.6, 0.0, 0.0,
                0.0, 0.0, 1000.0, 1000.0,
                0.0, 0.0, 0.0, 1.0);
}

mat4 turntable(float t)
{
    return turntable_odd(t, t, t, t);
}

// The point is the row vector on the left of the camera matrix.
vec3 project(mat4 m, vec3 p)
{
    return fisheye(vec4(p, 1.0) * m);
}

