// Vertex stage of the helix: 500 particles on ten turns with a wave running along them; slow from 37 s, flickering from 95 s.
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

// Writes the colour too, so the second call (one sixtieth of a second later) decides it.
vec3 animate(float p, float t)
{
    vertex.color = vec3(0.3, 0.7, 0.3);
    float tt = t;
    if (t > 37.0)
        tt = tt + (37.0 - t) * 0.9;
    if (t > 95.0) {
        tt = (96.0 - t) * -2.2;
        vertex.color = rand3(fract(3.0 * t));
    }

    vec3 point = vec3(sin(10.0 * p), p + sin(10.0 * p + tt), cos(10.0 * p));
    return project(turntable(tt), point);
}

void main()
{
    float p = float(gl_VertexID) / 1000.0 * pi2 * 2.0 - pi;
    vertex.pos1 = animate(p, time);
    vertex.pos2 = animate(p, time + 1.0 / 60.0);
    vertex.size = 0.1;
}
