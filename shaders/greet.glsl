// Vertex stage of the title: the text faces the viewer, stands in place, then slides out to the left.
in vec3 pos1;
in vec3 pos2;
in vec3 color;
in float size;

out Vertex {
    vec3 pos1;
    vec3 pos2;
    vec3 color;
    float size;
} vertex;

// The moment of the run (seconds) at which the title's stay in the centre begins.
const float window = 0.0;

vec3 animate(vec3 pos, float t)
{
    float off = 1.0;   // 1: parked at the right, 0: in place, -1: gone to the left
    float tt = t - window;
    if (tt > -0.5 && tt < 0.0)
        off = 1.0 - smoothstep(-0.5, 0.0, tt);
    if (tt >= 0.0 && tt < 1.0)
        off = 0.0;
    if (tt >= 1.0 && tt < 1.5)
        off = -smoothstep(1.0, 1.5, tt);
    return project(turntable(0.0), pos + vec3(off * 4.0, 0.0, 0.0));
}

void main()
{
    vertex.pos1 = animate(pos1, time);
    vertex.pos2 = animate(pos1, time + 1.0 / 60.0);
    vertex.color = color;
    vertex.size = size;
}
