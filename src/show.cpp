// The show: everything its frames draw with, created once after the window, and its clock.
#include "show.h"

#include "drawables.h"
#include "programs.h"
#include "render.h"

void create_show()
{
    create_render_targets();
    build_programs();
    create_draw_list();
    disable_colour_clamping();
}
