// Vertex stage of the full-screen passes: the rectangle's corners are already clip coordinates.
in vec4 vertex;

void main()
{
    gl_Position = vertex;
}
