// The frame loop's host work allocates nothing: every C++ heap allocation is counted while frames render.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "drawables.h"
#include "render.h"
#include "show.h"
#include "window.h"

static std::atomic<long> allocations{0};

void* operator new(std::size_t size)
{
    allocations++;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    allocations++;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

namespace {

TEST(FrameLoop, RendersFramesWithoutHeapAllocations)
{
    ASSERT_TRUE(open_window()) << "the line above says why";
    create_show();
    ASSERT_EQ(draw_ops.size(), 4u) << "the whole show: ring, helix, cloud and title";

    const long before_start_up = allocations.load();
    render_frame(0.0f);   // the driver may set things up on the first draw
    SDL_GL_SwapBuffers();
    ASSERT_GT(before_start_up, 0) << "the counter must see the start-up's own allocations";

    const long before = allocations.load();
    for (float t : {0.5f, 4.4f, 60.0f}) {
        render_frame(t);
        SDL_GL_SwapBuffers();
        SDL_Event event;
        while (SDL_PollEvent(&event)) { }
    }
    EXPECT_EQ(allocations.load() - before, 0) << "frames at 0.5, 4.4 and 60 s should allocate nothing on the C++ heap";
    SDL_Quit();
}

}   // namespace
