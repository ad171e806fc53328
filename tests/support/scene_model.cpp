// An independent CPU model of the particle shaders, written from their formulas (see scene_model.h).
#include "scene_model.h"

#include <algorithm>
#include <cmath>

namespace model {

namespace {

// GLSL's sin and cos return floats; the model keeps the double result, the tests' tolerances cover the difference.
double sin_of(float x)
{
    return std::sin(static_cast<double>(x));
}

double cos_of(float x)
{
    return std::cos(static_cast<double>(x));
}

float fract(float v)
{
    return v - std::floor(v);
}

double smoothstep(double e0, double e1, double x)
{
    const double u = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return u * u * (3.0 - 2.0 * u);
}

Vec3 scaled_seed(double scale, const Vec3& seed)
{
    return Vec3{scale * (seed.x * 2.0 - 1.0), scale * (seed.y * 2.0 - 1.0), scale * (seed.z * 2.0 - 1.0)};
}

Vec3 ring_at(float p, float t)
{
    const double x = sin_of(p);
    const double z = cos_of(p);
    double y = 0.5 + bcos(0.1, 15.0f * t) * bcos(0.2, 10.0f * p) * 0.1;
    if (t > 9.2f)
        y += (bcos(0.2, 20.0f * p - 10.0f * t) + bcos(0.2, 12.0f * p + 30.0f * t)) * 0.3;
    if (t > 37.0f)
        y = 0.5 + (sin_of(3.0f * p + t) + sin_of(2.0f * p + 1.2f * t)) * 0.3;
    if (t > 95.0f)
        y += (bcos(0.2, 20.0f * p - 10.0f * t) + bcos(0.2, 12.0f * p + 30.0f * t)) * 0.3;
    return project(t, Vec3{x, y, z});
}

Vec3 helix_at(float p, float t, Vec3* colour)
{
    *colour = Vec3{0.3, 0.7, 0.3};
    float tt = t;
    if (t > 37.0f)
        tt = tt + (37.0f - t) * 0.9f;
    if (t > 95.0f) {
        tt = (96.0f - t) * -2.2f;
        *colour = rand3(fract(3.0f * t));
    }
    const Vec3 point{sin_of(10.0f * p), p + sin_of(10.0f * p + tt), cos_of(10.0f * p)};
    return project(tt, point);
}

Vec3 cloud_at(float t, const Vec3& seed, double* size)
{
    Vec3 point{0, 0, 0};
    if (t > 4.3f && t < 4.5f) {
        const float scale = 1.0f - std::fabs(t - 4.4f) * 10.0f;
        *size = 0.05;
        return scaled_seed(scale, seed);   // the flash is not projected
    }
    if (t > 9.0f && t < 36.0f) {
        float scale = 1.0f;
        if (t < 9.5f)
            scale = (t - 9.0f) * 2.0f;
        else if (t > 35.5f)
            scale = 1.0f - (t - 35.5f) * 2.0f;
        point = scaled_seed(scale * 0.2f, seed);
    } else if (t > 36.0f && t < 95.0f) {
        point = scaled_seed(0.2, seed);
        point.x = point.x * (sin_of(t) + 2.0);
        point.y = point.y + std::sin(point.x * 3.0 + t);
        return project(t, point);
    } else if (t > 95.0f) {
        point = scaled_seed(0.2, seed);
    }
    const double r = bcos(0.1, 15.0f * t);
    const float angle = static_cast<float>(r) + 5.0f * t;
    return project(angle, Vec3{point.x * 2.0 * r, point.y * 2.0 * r, point.z * 2.0 * r});
}

}   // namespace

double rand(float x, float y)
{
    const float d = x * 12.9898f + y * 78.233f;
    const float s = static_cast<float>(std::sin(static_cast<double>(d)));
    return fract(s * 43758.5453f);
}

Vec3 rand3(float x)
{
    return Vec3{rand(x, 0.0f), rand(0.0f, x), rand(x, x)};
}

double bcos(double s, float x)
{
    const double c = cos_of(x);
    return c / (s + std::fabs(c)) * (1.0 + s);
}

Vec3 project(double angle, const Vec3& p)
{
    const double c = std::cos(angle), s = std::sin(angle);
    const double turned_x = p.x * c + p.z * s;
    const double turned_z = p.z * c - p.x * s;
    const double qx = 1000.0 * turned_x, qy = -1600.0 * p.y, qz = 1000.0 * turned_z + 1000.0;
    const double r = std::sqrt(qx * qx + qy * qy + qz * qz + 1.0);   // w = 1 counts
    const double i = std::acos(qz / r) * 0.8;
    const double a = std::atan2(qx, qy);
    return Vec3{std::sin(a) * i, std::cos(a) * i, std::pow(r / 5000.0, 0.25)};
}

float parameter(int k)
{
    return static_cast<float>(k) / 1000.0f * pi2 * 2.0f - pi;
}

Particle ring(int k, float time)
{
    const float p = parameter(k);
    return Particle{ring_at(p, time), ring_at(p, time + sixtieth), Vec3{0.6, 0.0, 0.0}, 0.04};
}

Particle helix(int k, float time)
{
    const float p = parameter(k);
    Particle particle{};
    particle.pos1 = helix_at(p, time, &particle.color);
    particle.pos2 = helix_at(p, time + sixtieth, &particle.color);   // the second call decides the colour
    particle.size = 0.1;
    return particle;
}

Particle cloud(int k, float time, const Vec3* seed)
{
    const Vec3 own = rand3(parameter(k));
    const Vec3& s = seed ? *seed : own;
    Particle particle{};
    particle.size = 0.1;
    particle.pos1 = cloud_at(time, s, &particle.size);
    particle.pos2 = cloud_at(time + sixtieth, s, &particle.size);
    particle.color = s;
    return particle;
}

double title_offset(float t)
{
    const float tt = t - 0.0f;   // the title's window is 0
    double off = 1.0;
    if (tt > -0.5f && tt < 0.0f)
        off = 1.0 - smoothstep(-0.5, 0.0, tt);
    if (tt >= 0.0f && tt < 1.0f)
        off = 0.0;
    if (tt >= 1.0f && tt < 1.5f)
        off = -smoothstep(1.0, 1.5, tt);
    return off;
}

Particle title(const Vec3& base, float time)
{
    auto at = [&](float t) { return project(0.0, Vec3{base.x + title_offset(t) * 4.0, base.y, base.z}); };
    return Particle{at(time), at(time + sixtieth), Vec3{0, 0, 0}, 0.05};
}

double pixel_x(double image_x, int width)
{
    return (image_x + 1.0) * 0.5 * width;
}

double pixel_y(double image_y, int height)
{
    return (image_y + 1.0) * 0.5 * height;
}

}   // namespace model
