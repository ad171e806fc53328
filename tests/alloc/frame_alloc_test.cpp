// The frame loop's host work allocates nothing: every C++ heap allocation is counted while frames render.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "display_config.h"
#include "drawables.h"
#include "gl.h"
#include "programs.h"
#include "render.h"

static std::atomic<long> allocations{0};

void* operator new(std::size_t size)
{
    allocations++;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    allocations++;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

TEST(FrameLoop, RendersFramesWithoutHeapAllocations)
{
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    ASSERT_NE(SDL_SetVideoMode(window_width, window_height, 24, SDL_OPENGL), nullptr) << SDL_GetError();
    create_render_targets();
    build_programs();
    const Drawable ring = dummy_vbo(500, effect1);
    const Drawable cloud = dummy_vbo(200, effect3);
    const Drawable title = generate_greet("velquorin", g1);
    draw_ops.push_back([&ring](float t) { draw_batch(ring, t); });
    draw_ops.push_back([&cloud](float t) { draw_batch(cloud, t); });
    draw_ops.push_back([&title](float t) { draw_batch(title, t); });
    disable_colour_clamping();

    const long before_start_up = allocations.load();
    render_frame(0.0f);   // the driver may set things up on the first draw
    SDL_GL_SwapBuffers();
    ASSERT_GT(before_start_up, 0) << "the counter must see the start-up's own allocations";

    const long before = allocations.load();
    for (float t : {0.5f, 4.4f, 60.0f}) {
        render_frame(t);
        SDL_GL_SwapBuffers();
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
    }
    EXPECT_EQ(allocations.load() - before, 0) << "frames at 0.5, 4.4 and 60 s should allocate nothing on the C++ heap";
    SDL_Quit();
}

}  // namespace
