// The reduction passes' fragment stage as it was before it fetched texels itself: 16 taps through the texture's
// linear filter, which averages the two texels at each tap. The direction test is the default configuration's.
// Kept to render reference frames for the tests.
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
