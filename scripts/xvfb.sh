# Sourced: start_xvfb starts a private Xvfb on a free display, waits until it answers and exports DISPLAY.
# The server is stopped when the calling shell exits.

start_xvfb() {
    local display
    for display in $(seq 90 130); do
        [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ] && continue
        Xvfb ":$display" -screen 0 1920x1200x24 -noreset -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        trap 'kill $XVFB_PID 2>/dev/null' EXIT
        # A client started before the server answers can make the next SDL_Init fail.
        for _ in $(seq 100); do
            if DISPLAY=":$display" xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=":$display"
                return 0
            fi
            kill -0 $XVFB_PID 2>/dev/null || break
            sleep 0.1
        done
        kill $XVFB_PID 2>/dev/null
    done
    echo "could not start Xvfb" >&2
    return 1
}
