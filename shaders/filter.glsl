// Fragment stage of the reduction passes: 4:1 along one axis with a 16-texel Gaussian-shaped kernel.
out vec4 color;

float gauss(float x)
{
    return pow(2.718281828, -x * x) / 7.3;
}

void main()
{
    vec2 coord = gl_FragCoord.st;

    // Only the sample buffer is this wide: reduce it along x, anything else along y.
    vec2 m = @FILTER_DIRECTION_TEST@ ? vec2(1.0, 0.0) : vec2(0.0, 1.0);
    coord = coord * (m * 3.0 + 1.0);

    // The taps lie at whole offsets 0, +-1, ... +-7 along m, each between two texels, with tap weights W(0) =
    // 2 gauss(1/8) (the centre is taken twice) and W(k) = gauss(1/8 + k/4). Each texel is read once instead,
    // unfiltered, with the mean of the two taps beside it: the texel at offset +-(k + 1/2) gets
    // (W(k) + W(k + 1)) / 2, W(8) = 0. Indices are clamped to the edge, as the texture clamps its taps.
    const ivec2 low = ivec2(0);
    ivec2 high = textureSize(tex) - 1;
    ivec2 centre = ivec2(coord);   // along m the first texel right of the centre, across m the texel itself
    ivec2 step = ivec2(m);

    color = vec4(0.0);
    float x = 1.0 / 8.0;
    float inner = 2.0 * gauss(x);
    for (int k = 0; k < 8; k++) {
        x += 0.25;
        float outer = k < 7 ? gauss(x) : 0.0;
        float w = 0.5 * (inner + outer);
        color += w * texelFetch(tex, clamp(centre + k * step, low, high));
        color += w * texelFetch(tex, clamp(centre - (k + 1) * step, low, high));
        inner = outer;
    }
}
