// Vertex stage of the ring: 500 dark red particles on a circle of radius 1, its height shaped by waves.
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

vec3 animate(float p, float t)
{
    float x = sin(p);
    float z = cos(p);

    // Ten ripples along the ring whose sign follows the beat.
    float y = 0.5 + bcos(0.1, 15.0 * t) * bcos(0.2, 10.0 * p) * 0.1;
    if (t > 9.2)
        y += (bcos(0.2, 20.0 * p - 10.0 * t) + bcos(0.2, 12.0 * p + 30.0 * t)) * 0.3;
    if (t > 37.0)
        y = 0.5 + (sin(3.0 * p + t) + sin(2.0 * p + 1.2 * t)) * 0.3;
    if (t > 95.0)
        y += (bcos(0.2, 20.0 * p - 10.0 * t) + bcos(0.2, 12.0 * p + 30.0 * t)) * 0.3;

    return project(turntable(t), vec3(x, y, z));
}

void main()
{
    float p = float(gl_VertexID) / 1000.0 * pi2 * 2.0 - pi;
    vertex.pos1 = animate(p, time);
    vertex.pos2 = animate(p, time + 1.0 / 60.0);
    vertex.color = vec3(0.6, 0.0, 0.0);
    vertex.size = 0.04;
}
