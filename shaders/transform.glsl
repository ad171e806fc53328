// Vertex stage for buffer particles: each stored position turns on the turntable at one radian per second.
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

vec3 animate(vec3 p, float t)
{
    return project(turntable(t), p);
}

void main()
{
    vertex.pos1 = animate(pos1, time);
    vertex.pos2 = animate(pos2, time + 1.0 / 60.0);
    vertex.color = color;
    vertex.size = size;
}
