// Vertex stage of the cloud: 200 coloured particles that sit on one spot, flash, grow into a pulsing cube and bend into a ribbon.
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
    vertex.color = rand3(p);
    vec3 point = vec3(0.0);
    float scale = 0.0;

    // The flash bursts over the image itself: its point is returned unprojected.
    if (t > 4.3 && t < 4.5) {
        scale = 1.0 - distance(t, 4.4) * 10.0;
        point = scale * (rand3(p) * 2.0 - 1.0);
        vertex.size = @CLOUD_FLASH_SIZE@;
        return point;
    }

    if (t > 9.0 && t < 36.0) {
        scale = 1.0;
        if (t < 9.5)
            scale = (t - 9.0) * 2.0;
        else if (t > 35.5)
            scale = 1.0 - (t - 35.5) * 2.0;
        scale = scale * 0.2;
        point = scale * (rand3(p) * 2.0 - 1.0);
    } else if (t > 36.0 && t < 95.0) {
        // The ribbon: stretched along x, bent along y, turning slowly and not pulsing.
        point = 0.2 * (rand3(p) * 2.0 - 1.0);
        point.x = point.x * (sin(t) + 2.0);
        point.y = point.y + sin(point.x * 3.0 + t);
        return project(turntable(t), point);
    } else if (t > 95.0) {
        point = 0.2 * (rand3(p) * 2.0 - 1.0);
    }

    // Pulse on the beat (a negative factor mirrors the cube) and spin at five radians per second, swinging on the
    // beat too. Pulse and swing are the version's literals: the gentle one pulses and swings less.
    float r = bcos(0.1, 15.0 * t);
    return project(turntable(@CUBE_SWING@ + 5.0 * t), point * @CUBE_PULSE@);
}

void main()
{
    float p = float(gl_VertexID) / 1000.0 * pi2 * 2.0 - pi;
    vertex.size = 0.1;
    vertex.pos1 = animate(p, time);
    vertex.pos2 = animate(p, time + 1.0 / 60.0);
}
