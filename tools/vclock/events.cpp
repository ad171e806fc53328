// vclock's injected events: scripted key presses and window closes, handed to the program after chosen swaps.
//
// Setting (optional)
//   VCLOCK_EVENTS       comma-separated SWAP:EVENT items; each EVENT is handed to the program by the
//                       first SDL_PollEvent calls after swap number SWAP, ahead of real events.
//                       EVENT is "escape" (Escape key down), "quit" (SDL_QUIT, a window close) or
//                       "key:SYM" (key down then key up; SYM a decimal SDLKey or one character)
#include <SDL/SDL.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

struct Injected {
    unsigned after_swap;
    SDL_Event event;
};

std::vector<Injected> injected;   // in the order they are handed out
size_t next_injected = 0;

SDL_Event key_event(Uint8 type, SDLKey sym)
{
    SDL_Event event;
    memset(&event, 0, sizeof event);
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    return event;
}

// What a failure names: "VCLOCK_EVENTS item" and so on.
std::string about(const char* part)
{
    return std::string(events_variable) + " " + part;
}

void parse_events(const char* text)
{
    for (const std::string& item : split(text, ',')) {
        const size_t colon = item.find(':');
        if (colon == std::string::npos)
            fail(about("item").c_str(), item.c_str());
        const unsigned after =
            static_cast<unsigned>(parse_integer(item.substr(0, colon), about("swap number").c_str(), 0, UINT32_MAX));
        const std::string name = item.substr(colon + 1);
        if (name == "escape") {
            injected.push_back({after, key_event(SDL_KEYDOWN, SDLK_ESCAPE)});
        } else if (name == "quit") {
            SDL_Event event;
            memset(&event, 0, sizeof event);
            event.type = SDL_QUIT;
            injected.push_back({after, event});
        } else if (name.compare(0, 4, "key:") == 0 && name.size() > 4) {
            const std::string sym_text = name.substr(4);
            const SDLKey sym =
                sym_text.size() == 1 && !isdigit(static_cast<unsigned char>(sym_text[0]))
                    ? static_cast<SDLKey>(static_cast<unsigned char>(sym_text[0]))
                    : static_cast<SDLKey>(parse_integer(sym_text, about("key").c_str(), 1, SDLK_LAST - 1));
            injected.push_back({after, key_event(SDL_KEYDOWN, sym)});
            injected.push_back({after, key_event(SDL_KEYUP, sym)});
        } else {
            fail(about("event (escape, quit or key:SYM)").c_str(), name.c_str());
        }
    }
    // Delivered in order of their swap number; items with the same number keep their listed order.
    for (size_t i = 1; i < injected.size(); ++i)
        for (size_t j = i; j > 0 && injected[j - 1].after_swap > injected[j].after_swap; --j)
            std::swap(injected[j - 1], injected[j]);
}

}   // namespace

void read_event_settings()
{
    if (const char* text = getenv(events_variable))
        parse_events(text);
}

}   // namespace vclock

VCLOCK_EXPORT int SDL_PollEvent(SDL_Event* event)
{
    using namespace vclock;
    configure();
    static const auto real_poll = next_symbol<int (*)(SDL_Event*)>("SDL_PollEvent");
    if (next_injected < injected.size() && injected[next_injected].after_swap <= swaps_done()) {
        if (event)
            *event = injected[next_injected++].event;
        return 1;
    }
    return real_poll(event);
}
