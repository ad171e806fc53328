# shellcheck shell=bash
# Sourced: start_xvfb starts a private Xvfb on a free display, waits until it answers and exports DISPLAY.
# Each server is stopped when the calling shell exits; a script may start several (start_xvfb SCREEN, e.g.
# 1920x1080x24, for another screen size) and switch between them through DISPLAY. Scripts that need clean-up of
# their own at exit add it with at_exit instead of setting the EXIT trap, which would drop the servers'.

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

# stop_xvfb PID: stops the server PID: SIGTERM, then SIGKILL where it has not
# gone within 5 s, so that exit never waits on it for longer.
stop_xvfb() {
    local pid=$1
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# start_xvfb [SCREEN]: a server with a screen of SCREEN, WIDTHxHEIGHTxDEPTH (default 1920x1200x24); its process
# id is left in XVFB_PID.
start_xvfb() {
    # The server picks a free display itself and writes its number to a pipe once it accepts clients;
    # a client started before that can make the next SDL_Init fail. The pipe is made in a folder of our own,
    # so that nobody else can have put something under its name first.
    local folder display="" screen=${1:-1920x1200x24}
    folder=$(mktemp -d) || return 1
    if ! mkfifo "$folder/display"; then
        rm -rf "$folder"
        return 1
    fi
    Xvfb -displayfd 3 -screen 0 "$screen" -noreset -nolisten tcp 3>"$folder/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    at_exit "stop_xvfb $XVFB_PID"
    read -r -t 20 display <"$folder/display" || true
    rm -rf "$folder"
    if [ -n "$display" ] && DISPLAY=":$display" xdpyinfo >/dev/null 2>&1; then
        export DISPLAY=":$display"
        return 0
    fi
    stop_xvfb "$XVFB_PID"
    echo "could not start Xvfb with a screen of $screen"
    return 1
}
