#!/usr/bin/env bash
# "Open With" as a file manager does it: the build installed into a scratch
# prefix whose name needs quoting in the desktop entry, and the entry
# launched with gio on a file in a folder of awkward name, from a working
# directory elsewhere. gio starts it in xterm, the only terminal on the PATH
# it is given, through a wrapper that logs the terminal's text. A photo's
# result lands beside it with the pixels of the program's own run, and the
# terminal closes with the notice; a file that is not an image keeps the
# terminal open on the read error until Enter. The program run from a shell
# on that file ends at once with status 1. Needs gio, xterm, xdotool and
# ImageMagick; run it under xvfb-run:
#
#   xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash open_with_test.sh CMAKE BUILD IMAGE
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/display_windows.sh"
# The program's texts as bash assignments (the build's tests/texts.sh).
source "${LUMALEVELLER_TEXTS:?names the texts of the program as bash assignments (tests/CMakeLists.txt)}"
readonly wait_line='Press Enter to close this window.'
readonly show_seconds=60 exit_seconds=20

if (($# != 3)) || [[ -z ${DISPLAY:-} ]] || ! gio=$(command -v gio) || [[ ! -x /usr/bin/xterm ]]; then
    echo "usage: xvfb-run -a bash $0 CMAKE BUILD IMAGE (needs an X display, gio and xterm)" >&2
    exit 2
fi
cmake=$1 build=$2 image=$3
scratch=$(mktemp -d)
prefix="$scratch/pre fix \$HOME \"q\""
folder="$scratch/ph o'tos \$HOME \"2026\" é"
photo="$folder/-page ü.jpg"
not_photo="$folder/-not a photo \$x.jpg"
log=$scratch/terminal.log
pid=
trap '! running || kill "$pid"; rm -rf "$scratch"' EXIT

# The terminal's process has not ended. gio does not wait for it, so it may
# linger as a zombie of whichever process adopts it.
running() { [[ -n $pid && $(ps -o stat= -p "$pid" 2>/dev/null) == [^Z]* ]]; }

# Waits up to $1 seconds for the command to succeed.
within() { # seconds command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# Launches the entry on a file as a file manager would, and sets `pid` to
# the terminal's once it has started.
launch() { # file
    rm -f "$scratch/terminal.pid" "$log"
    (cd "$scratch/elsewhere" &&
        timeout 20 env PATH="$scratch/bin" "$gio" launch "$prefix/share/applications/lumaleveller.desktop" "$1")
    within "$show_seconds" test -s "$scratch/terminal.pid"
    pid=$(cat "$scratch/terminal.pid" 2>/dev/null)
}

closed() { ! running; }

# What the terminal has shown, its line ends as plain line feeds.
terminal_text() { tr -d '\r' 2>/dev/null <"$log"; }

shows() { [[ $(terminal_text) == *"$1"* ]]; }



timeout 60 "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; echo "FAIL: no scratch install"; exit 1; }
mkdir "$scratch/bin" "$scratch/elsewhere" "$scratch/direct" "$folder"
# A desktop session's own folder for the programs it runs, as Qt expects.
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR=$scratch/runtime
cat >"$scratch/bin/xterm" <<EOF
#!/bin/sh
echo \$\$ >"$scratch/terminal.pid"
exec /usr/bin/xterm -l -lf "$log" "\$@"
EOF
chmod +x "$scratch/bin/xterm"
cp "$image" "$photo"
echo 'not an image' >"$not_photo"
(cd "$scratch/direct" && env -u DISPLAY timeout 60 "$prefix/bin/lumaLeveller" "$photo" >/dev/null 2>&1)
check "the program run directly on the photo saves its result (status 3 without a display)" test $? = "$status_not_shown"

echo "== a photo"
launch "$photo"
check "gio starts the entry in the terminal" running
notice=$(wait_for_window "$notice_caption")
check "the notice shows" test -n "$notice"
[[ -n $notice ]] && timeout 5 xdotool windowfocus --sync "$notice" key Return
check "the terminal closes with the notice" within "$exit_seconds" closed
check "the terminal showed no text" equal "$(terminal_text)" ""
check "$output_name lands beside the photo with the program's own pixels" \
    same_pixels "$folder/$output_name" "$scratch/direct/$output_name"
check "nothing lands in gio's working directory" equal "$(ls -A "$scratch/elsewhere")" ""

echo "== a file that is not an image"
launch "$not_photo"
check "the terminal shows the line about Enter" within "$show_seconds" shows "$wait_line"
sleep 2
check "2 s later the terminal is still open" running
check "it shows the read error, then that line" equal "$(terminal_text)" "$read_error"$'\n\n'"$wait_line"
window=$(timeout 5 xdotool search --pid "$pid" 2>/dev/null | head -n 1)
[[ -n $window ]] && timeout 5 xdotool windowfocus --sync "$window" key Return
check "Enter closes it" within "$exit_seconds" closed

# The program itself does not wait: its standard input, a pipe kept open
# without data, would hold it until the time-out.
mkfifo "$scratch/no-key"
output=$(timeout 10 "$prefix/bin/lumaLeveller" "$not_photo" <>"$scratch/no-key"; echo "status $?")
check "from a shell, the program on that file ends at once with the read error and status 1" \
    equal "$output" "$read_error"$'\n\n'"status $status_unreadable_input"

finish_checks
