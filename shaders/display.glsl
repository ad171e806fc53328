// Fragment stage of the display pass: copies the filtered image to the window, 1:1 or doubled.
out vec4 color;

void main()
{
    color = texture2DRect(tex, gl_FragCoord.st * @DISPLAY_SCALE@);
}
