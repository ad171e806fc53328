// Stages as they were, kept to render reference frames for the tests: the reduction passes' fragment stage before
// it fetched texels itself (16 taps through the texture's linear filter, which averages the two texels at each tap;
// the direction test is the default configuration's), and the particles' geometry stage before it cut its quads
// down to the samples a disc can reach and made its values flat.
#pragma once

inline const char previous_filter_source[] =
    R"glsl(// Fragment stage of the reduction passes: 4:1 along one axis with a 16-texel Gaussian-shaped kernel.
out vec4 color;

float gauss(float x)
{
    return pow(2.718281828, -x * x) / 7.3;
}

void main()
{
    vec2 coord = gl_FragCoord.st;

    // Only the sample buffer is this wide: reduce it along x, anything else along y.
    vec2 m = textureSize(tex).x == 3840 ? vec2(1.0, 0.0) : vec2(0.0, 1.0);
    coord = coord * (m * 3.0 + 1.0);

    color = vec4(0.0);
    float x = 1.0 / 8.0;
    for (int k = 0; k < 8; k++) {
        // Every tap falls between two texels; the texture's linear filter averages them.
        float w = gauss(x);
        color += w * texture2DRect(tex, coord + float(k) * m);
        color += w * texture2DRect(tex, coord - float(k) * m);
        x += 0.25;
    }
}
)glsl";

inline const char previous_bound_source[] =
    R"glsl(// Geometry stage: widens a particle's path over one sixtieth of a second into a quad around its swept disc.
layout(points) in;
layout(triangle_strip,max_vertices=4) out;

in Vertex {
    vec3 pos1;
    vec3 pos2;
    vec3 color;
    float size;
} vertex[];

out Fragment {
    vec3 pos1;
    vec3 pos2;
    vec3 color;
    float size;
} frag;

void emit_corner(vec4 corner, vec4 p1, vec4 p2)
{
    // Outputs are undefined after each EmitVertex, so every corner sets them again.
    frag.pos1 = p1.xyz * vec3(1.6, 1.0, 1.0);
    frag.pos2 = p2.xyz * vec3(1.6, 1.0, 1.0);
    frag.color = vertex[0].color;
    frag.size = vertex[0].size;
    gl_Position = corner;
    EmitVertex();
}

void main()
{
    vec4 p1 = vec4(vertex[0].pos1, 1.0);
    vec4 p2 = vec4(vertex[0].pos2, 1.0);

    vec4 d = vec4(normalize(p2.xy - p1.xy), 0.0, 0.0);
    if (distance(p2.xy, p1.xy) < 0.0001)
        d = vec4(1.0, 0.0, 0.0, 0.0);
    vec4 n = vec4(-d.y, d.x, 0.0, 0.0);

    // Half-widths at both ends: lens blur plus the disc radius, which shrinks to 0 at depth value 1.
    float s = vertex[0].size;
    float z1 = abs(p1.z - focus.x) * focus.y + s * (1.0 - p1.z);
    float z2 = abs(p2.z - focus.x) * focus.y + s * (1.0 - p2.z);

    emit_corner(p1 - n * z1 - d * z1, p1, p2);
    emit_corner(p1 + n * z1 - d * z1, p1, p2);
    emit_corner(p2 - n * z2 + d * z2, p1, p2);
    emit_corner(p2 + n * z2 + d * z2, p1, p2);
    EndPrimitive();
}
)glsl";
