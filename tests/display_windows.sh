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

# Prints the id of the visible window titled $1 once it shows, waiting up to
# `show_seconds` while the program runs; fails when it does not show.
wait_for_window() { # title
    local deadline=$((SECONDS + show_seconds))
    while running && ((SECONDS < deadline)); do
        find_window "$1" && return 0
        sleep 0.2
    done
    return 1
}

shown() { wait_for_window "$1" >/dev/null; }

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

# A photograph-like image of $1 x $2 pixels in the file $3: a gradient with
# a dark box and a red disc.
photo_like() { # width height file
    convert -size "$1x$2" gradient:'#e8dcc0-#584838' \
        -fill '#203050' -draw "rectangle $(($1 / 10)),$(($2 / 5)) $(($1 / 2)),$(($2 / 2))" \
        -fill '#a03020' -draw "circle $(($1 * 3 / 4)),$(($2 / 2)) $(($1 * 7 / 8)),$(($2 / 2))" "$3"
}

# Whether an image of $1 x $2 pixels is shown right on a screen of
# `screen_width` x `screen_height`, all work area, as $3 x $4 in a window
# whose frame adds $5 x $6 and has its corner at $7,$8: at its own size when
# it fits the screen less the frame; else inside the screen, filling the
# room's width or height, with the image's aspect within a pixel.
shown_fitted() { # image-width image-height width height frame-width frame-height x y
    local room_width=$((screen_width - $5)) room_height=$((screen_height - $6))
    echo "-- $1x$2 shown at $3x$4, the window's corner at $7,$8"
    if (($1 <= room_width && $2 <= room_height)); then
        (($3 == $1 && $4 == $2))
    else
        (($7 >= 0 && $8 >= 0 && $7 + $5 + $3 <= screen_width && $8 + $6 + $4 <= screen_height)) &&
            (($3 == room_width || $4 == room_height)) &&
            ((($3 * $2 - $4 * $1) ** 2 <= ($1 > $2 ? $1 : $2) ** 2))
    fi
}

# Whether the window titled `window_name` shows an image of $1 x $2 pixels
# as shown_fitted wants, its frame adding $3 x $4 pixels with the image's
# corner $5,$6 inside it. The window may show after the notice, so it is
# waited for; one that does not show, or whose geometry cannot be read,
# fails the check.
window_fits() { # image-width image-height frame-width frame-height left top
    local id geometry
    id=$(wait_for_window "$window_name") || { echo "-- no window '$window_name' within $show_seconds s"; return 1; }
    geometry=$(timeout 5 xdotool getwindowgeometry --shell "$id" 2>/dev/null) &&
        [[ $geometry =~ X=(-?[0-9]+).Y=(-?[0-9]+).WIDTH=([0-9]+).HEIGHT=([0-9]+) ]] ||
        { echo "-- no geometry for window $id: $geometry"; return 1; }
    shown_fitted "$1" "$2" "${BASH_REMATCH[3]}" "${BASH_REMATCH[4]}" "$3" "$4" \
        $((BASH_REMATCH[1] - $5)) $((BASH_REMATCH[2] - $6))
}
