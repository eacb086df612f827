# Helpers for the shell tests that drive the program's windows on an X
# display of the test's own, sourced by them. The caller starts the program
# in the background with its process id in `pid` and sets `show_seconds`
# and `exit_seconds`, how long a window may take to show and the program to
# end.

running() { [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; }

# Prints the id of a visible window titled exactly $1. The display is the
# test's own, so the only titled windows on it are the program's. xdotool
# matches names as case-blind patterns, so the title is compared here.
find_window() {
    local id
    for id in $(timeout 5 xdotool search --onlyvisible --name . 2>/dev/null); do
        if [[ $(timeout 5 xdotool getwindowname "$id" 2>/dev/null) == "$1" ]]; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

wait_for_window() { # title
    local deadline=$((SECONDS + show_seconds))
    while running && ((SECONDS < deadline)); do
        find_window "$1" && return 0
        sleep 0.2
    done
    return 1
}

# Sets `status` to the program's exit status, or to "still running".
wait_for_exit() {
    local deadline=$((SECONDS + exit_seconds))
    while running && ((SECONDS < deadline)); do
        sleep 0.1
    done
    if running; then
        status="still running"
    else
        wait "$pid"
        status=$?
        pid=
    fi
}
