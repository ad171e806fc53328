// Geometry stage: widens a particle's path over one sixtieth of a second into a quad around its swept disc, cut
// down to the samples the disc can reach.
layout(points) in;
layout(triangle_strip,max_vertices=8) out;

in Vertex {
    vec3 pos1;
    vec3 pos2;
    vec3 color;
    float size;
} vertex[];

// Every corner carries the same values, so they are flat: the rasteriser sets up no interpolation for them.
out Fragment {
    flat vec3 pos1;
    flat vec3 pos2;
    flat vec3 color;
    flat float size;
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

// The screen's stretch: screen units are image units with x times 1.6.
const vec2 aspect = vec2(1.6, 1.0);

// Clips the convex polygon v (count corners, in screen units) to the half-plane dot(x, axis) <= limit. A convex
// polygon gains at most one corner a cut, so the quad stays within 8 corners after four cuts.
void clip(inout vec2 v[8], inout int count, vec2 axis, float limit)
{
    vec2 kept[8];
    int k = 0;
    for (int i = 0; i < count; i++) {
        vec2 a = v[i];
        vec2 b = v[(i + 1) % count];
        float da = dot(a, axis) - limit;
        float db = dot(b, axis) - limit;
        if (da <= 0.0 && k < 8)
            kept[k++] = a;
        if ((da <= 0.0) != (db <= 0.0) && k < 8)
            kept[k++] = mix(a, b, da / (da - db));
    }
    v = kept;
    count = k;
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

    // The quad around the path, laid out in image units; along x it is 1.6 times wider than the discs it holds.
    vec4 quad[4] = vec4[4](p1 - n * z1 - d * z1, p1 + n * z1 - d * z1, p2 + n * z2 + d * z2, p2 - n * z2 + d * z2);

    // Every sample the particle covers lies within the larger half-width of its path in screen units: the quad is
    // cut down to that box, so that the fragments it leaves out are ones that would miss. What it draws is what
    // the whole quad draws.
    // (Half a sample more, so that rounding never cuts one that the particle covers.)
    vec2 s1 = p1.xy * aspect;
    vec2 s2 = p2.xy * aspect;
    vec2 along = distance(s2, s1) < 0.0001 ? vec2(1.0, 0.0) : normalize(s2 - s1);
    vec2 across = vec2(-along.y, along.x);
    float reach = max(z1, z2) + 0.0005;
    vec2 v[8];
    int count = 4;
    for (int i = 0; i < 4; i++)
        v[i] = quad[i].xy * aspect;
    clip(v, count, -along, reach - min(dot(s1, along), dot(s2, along)));
    clip(v, count, along, max(dot(s1, along), dot(s2, along)) + reach);
    clip(v, count, -across, reach - min(dot(s1, across), dot(s2, across)));
    clip(v, count, across, max(dot(s1, across), dot(s2, across)) + reach);

    // The depth of the quad's corners, which the GL clips against: z1 across the back edge, z2 across the front,
    // in between as the quad's two triangles interpolate it.
    float back = dot(quad[0].xy, d.xy);
    float length_along = dot(quad[2].xy, d.xy) - back;
    float depth_step = length_along == 0.0 ? 0.0 : (p2.z - p1.z) / length_along;
    // Corners in strip order: 0, 1, count-1, 2, count-2, ...
    for (int i = 0; i < count; i++) {
        int corner = (i % 2 == 1) ? (i + 1) / 2 : (count - i / 2) % count;
        vec2 xy = v[corner] / aspect;
        float z = p1.z + (dot(xy, d.xy) - back) * depth_step;
        emit_corner(vec4(xy, z, 1.0), p1, p2);
    }
    EndPrimitive();
}
