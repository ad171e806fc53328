# Sourced: start_xvfb starts a private Xvfb on a free display, waits until it answers and exports DISPLAY.
# The server is stopped when the calling shell exits. Scripts that need clean-up of their own at exit add it with
# at_exit instead of setting the EXIT trap, which would drop the server's.

at_exit_commands=()
run_at_exit() {
    local command
    for command in "${at_exit_commands[@]}"; do
        eval "$command" || true
    done
}
# at_exit COMMAND: runs COMMAND (a shell string) when the script exits, after those added before it.
at_exit() {
    at_exit_commands+=("$1")
    trap run_at_exit EXIT
}

start_xvfb() {
    # The server picks a free display itself and writes its number to a pipe once it accepts clients;
    # a client started before that can make the next SDL_Init fail.
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1920x1200x24 -noreset -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    at_exit 'kill $XVFB_PID 2>/dev/null; wait $XVFB_PID 2>/dev/null'
    local display=""
    read -r -t 20 display <"$fifo" || true
    rm -f "$fifo"
    if [ -n "$display" ] && DISPLAY=":$display" xdpyinfo >/dev/null 2>&1; then
        export DISPLAY=":$display"
        return 0
    fi
    kill $XVFB_PID 2>/dev/null
    echo "could not start Xvfb"
    return 1
}
