#!/usr/bin/env bash
# Drives lumaLeveller on an X display: the result window and the completion
# notice must both be up while the program waits, with the result already
# saved, and dismissing the notice by OK (Return) or by Escape must end the
# run with status 0. An X server that goes away while the notice is up (one
# of the test's own, which it stops) must end the run with status 3 and its
# text. The window takes the image's size, or a size that fits the screen
# (see fit cases). Needs xdotool, Xvfb and ImageMagick; run it under
# xvfb-run, which gives it a display of its own of 1280x1024 pixels:
#
#   LUMALEVELLER_TEXTS=TEXTS xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash presentation_test.sh LUMALEVELLER IMAGE [SCREENSHOT]
#
# TEXTS is the program's texts as bash assignments (the build's
# tests/texts.sh). SCREENSHOT, if given, is where the screen is saved while
# the window shows an image scaled down to fit.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/display_windows.sh"

source "${LUMALEVELLER_TEXTS:?names the texts of the program as bash assignments (tests/CMakeLists.txt)}"
readonly caption=$notice_caption
readonly show_seconds=20 exit_seconds=10 run_seconds=60
readonly screen_width=1280 screen_height=1024

if (($# < 2 || $# > 3)) || [[ -z ${DISPLAY:-} ]]; then
    echo "usage: xvfb-run -a bash $0 LUMALEVELLER IMAGE [SCREENSHOT] (needs an X display)" >&2
    exit 2
fi
binary=$(realpath "$1")
image=$(realpath "$2")
fitted_screenshot=${3:-}
scratch=$(mktemp -d)
workdir=$scratch/work
log=$scratch/output.txt
pid=
own_server=

cleanup() {
    stop_program
    [[ -n $own_server ]] && kill "$own_server" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start_program() { # [image]
    rm -rf "$workdir" && mkdir "$workdir"
    (cd "$workdir" && exec timeout -k 5 "$run_seconds" "$binary" "${1:-$image}") </dev/null >"$log" 2>&1 &
    pid=$!
}

stop_program() {
    if running; then
        kill "$pid" 2>/dev/null
    fi
    [[ -n $pid ]] && wait "$pid" 2>/dev/null
    pid=
}

result_is_png_of_input_size() {
    local expected
    expected="PNG $(identify -format '%wx%h' "${image}[0]")"
    [[ $(cd "$workdir" && ls -A) == "$window_name" ]] &&
        [[ $(identify -format '%m %wx%h' "$workdir/$window_name" 2>/dev/null) == "$expected" ]]
}

is_zero() { [[ $1 == "$status_success" ]]; }

run_case() { # name key
    local name=$1 key=$2 notice status failed_before=$failures
    echo "== $name"
    start_program
    notice=$(wait_for_window "$caption")
    check "$name: notice titled '$caption' is shown" test -n "$notice"
    check "$name: window '$window_name' is shown with it" shown "$window_name"
    check "$name: program waits for the user" running
    check "$name: '$window_name' is saved as a PNG of the input's size, alone" result_is_png_of_input_size
    if [[ -n ${SCREENSHOT:-} && -n $notice ]]; then
        timeout 10 import -window root "$SCREENSHOT"
    fi
    if [[ -n $notice ]]; then
        timeout 5 xdotool windowfocus --sync "$notice" key "$key"
    fi
    wait_for_exit
    check "$name: program ends with status 0 (got: $status)" is_zero "$status"
    show_failures "$failed_before"
    stop_program
}

show_failures() { # failures before the case
    if ((failures > $1)); then
        echo "-- program output:"
        cat "$log"
        echo "-- working directory:"
        ls -A "$workdir"
    fi
}

# The X server goes away while the notice is up (a dropped remote session):
# the result is saved, so the run ends as without a display. The server does
# not reset when the test's own look-ups leave it, which would refuse the
# program if it connected just then.
run_lost_display_case() {
    local name="X server gone" notice status failed_before=$failures deadline=$((SECONDS + show_seconds))
    echo "== $name"
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 3>"$scratch/display" 2>/dev/null &
    own_server=$!
    until [[ -s $scratch/display ]] || ((SECONDS >= deadline)); do
        sleep 0.1
    done
    local -x DISPLAY=":$(<"$scratch/display")"
    start_program
    notice=$(wait_for_window "$caption")
    check "$name: notice is shown on the test's own X server" test -n "$notice"
    kill "$own_server" && wait "$own_server" 2>/dev/null
    own_server=
    wait_for_exit
    check "$name: program ends with status $status_not_shown (got: $status)" test "$status" = "$status_not_shown"
    check "$name: program prints that no window could be shown" grep -qxF "$show_error" "$log"
    check "$name: '$window_name' is saved as a PNG of the input's size, alone" result_is_png_of_input_size
    show_failures "$failed_before"
    stop_program
}

# The result file has the pixels that a run without a display (status 3) writes.
same_as_without_display() { # image
    rm -rf "$scratch/plain" && mkdir "$scratch/plain" &&
        (cd "$scratch/plain" && env -u DISPLAY timeout -k 5 "$run_seconds" "$binary" "$1") >/dev/null 2>&1
    (($? == status_not_shown)) && same_pixels "$workdir/$window_name" "$scratch/plain/$window_name"
}

run_fit_case() { # width height
    local name="fit $1x$2" input=$scratch/$1x$2.png notice status failed_before=$failures
    echo "== $name"
    photo_like "$1" "$2" "$input" && start_program "$input"
    notice=$(wait_for_window "$caption")
    # With no window manager the window has no frame.
    check "$name: the window takes the image's size, or fits the screen" window_fits "$1" "$2" 0 0 0 0
    [[ -n $fitted_screenshot && $1 -gt $screen_width ]] && timeout 10 import -window root "$fitted_screenshot"
    [[ -n $notice ]] && timeout 5 xdotool windowfocus --sync "$notice" key Return
    wait_for_exit
    check "$name: program ends with status 0 (got: $status)" is_zero "$status"
    check "$name: '$window_name' holds the full-size result" same_as_without_display "$input"
    show_failures "$failed_before"
    stop_program
}

run_case "OK pressed" Return
run_case "notice closed by Escape" Escape
run_lost_display_case
run_fit_case 400 300
run_fit_case 3000 2000
run_fit_case 800 2400

finish_checks
