// Fragment stage: one random instant and lens point per sample; writes the particle where its disc covers the sample.
in Fragment {
    flat vec3 pos1;
    flat vec3 pos2;
    flat vec3 color;
    flat float size;
} frag;

out vec4 color;

void main()
{
    // The sample's centre in screen units (x stretched by 1.6).
    vec2 xy = (gl_FragCoord.xy / @SAMPLE_SIZE@ * 2.0 - 1.0) * vec2(1.6, 1.0);

    float t = rand(xy + time);
    float a = 6.3 * rand(xy * 1.1 + time);
    float r = sqrt(rand(xy * 1.2 + time));
    vec2 lens = vec2(sin(a) * r, cos(a) * r);

    vec3 pos = mix(frag.pos1, frag.pos2, t);
    vec2 m = pos.xy - xy + lens * abs(pos.z - focus.x) * focus.y;

    if (length(m) < frag.size * (1.0 - pos.z)) {
        color = vec4(frag.color, 1.0);
        gl_FragDepth = clamp(pos.z, 0.0, 0.99);
    } else {
        // Deeper than anything the buffer holds: the depth test rejects it.
        gl_FragDepth = 1.95;
        color = vec4(0.05, 0.05, 0.05, 0.05);
    }
}
