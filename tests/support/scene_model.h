// An independent CPU model of the particle shaders, written from their formulas: hash, boxy wave, camera and the
// four scenes.
#pragma once

// Thresholds, the time of the second end and every argument of sin/cos are formed in single precision as the GPU
// forms them; the functions of those arguments are then evaluated in double precision.
namespace model {

struct Vec3 {
    double x, y, z;
};

// One particle as the vertex stages hand it on: positions at time and time + 1/60 (image x, image y, depth value).
struct Particle {
    Vec3 pos1, pos2, color;
    double size;
};

constexpr float pi = 3.14159265358979f;   // acos(-1.0) in single precision
constexpr float pi2 = pi * 2.0f;
constexpr float sixtieth = 1.0f / 60.0f;   // seconds between the two ends of a streak

// fract(sin(dot(co, (12.9898, 78.233))) * 43758.5453), with the dot product and the final product in float.
double rand(float x, float y);
Vec3 rand3(float x);
// cos(x) / (s + |cos x|) * (1 + s)
double bcos(double s, float x);

// The point turned by angle radians about the y axis, placed one unit ahead, stretched, and fisheye-projected.
Vec3 project(double angle, const Vec3& p);

// The particle parameter of vertex k: k / 1000 * 2pi * 2 - pi, in float, left to right.
float parameter(int k);

Particle ring(int k, float time);
Particle helix(int k, float time);
// seed: the triple rand3(p) that places and colours the particle (the model's own rand3 when null).
Particle cloud(int k, float time, const Vec3* seed = nullptr);
// base: the buffer position pos1 (0.03 x glyph-cell point).
Particle title(const Vec3& base, float time);

// The title's horizontal displacement factor at time t: 1 parked right, 0 in place, towards -1 leaving left.
double title_offset(float t);

// Window pixel (GL, bottom-up, possibly fractional) of an image position, for a window of width x height.
double pixel_x(double image_x, int width);
double pixel_y(double image_y, int height);

}   // namespace model
