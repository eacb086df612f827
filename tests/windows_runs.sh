# lumaLeveller.exe run under Wine: its texts, the window and the notice,
# its results against the Linux build's, a failed write, a result file
# held by another program, and interruptions; sourced by windows_test.sh.

echo "== usage"
mkfifo "$scratch/key"
stdin=$scratch/key start_exe usage
exec 3>"$scratch/key"
wait_until grep -q image "$dir.out"
check "usage: banner and usage line in GBK on a pipe" output_is "$dir" "$banner" "$usage"
check "usage: waits for a key" running
echo >&3 && exec 3>&-
wait_for_exit
check "usage: status 8 after the key ($status)" equal "$status" "$status_wrong_arguments"
# A console in code page 437, which lacks the Chinese characters, still
# shows them: the texts reach it as UTF-16, and Wine shows it in UTF-8 on
# script's terminal. Input from NUL ends the wait for a key.
mkdir -p "$scratch/run/console"
(cd "$scratch/run/console" && wine_env script -qec "timeout $run_seconds /usr/lib/wine/wine64 cmd /c chcp 437 \
    '&' '..\\..\\zip\\${unpacked##*/}\\lumaLeveller.exe' '<nul'" /dev/null) </dev/null >"$scratch/console.out" 2>&1
status=$?
# shellcheck disable=SC2086 # each word of the banner
console_shows_texts() { [[ $status == $status_wrong_arguments ]] && contains_all "$scratch/console.out" $banner "$usage"; }
check "console in code page 437: status 8 ($status), banner in Chinese and usage line" console_shows_texts

echo "== read errors"
: >"$scratch/inputs/empty.png"
printf '\xff\xd8\xff\xe0 not a JPEG' >"$scratch/inputs/broken.jpg"
for name in missing.jpg broken.jpg empty.png; do
    run_exe "read-$name" "../../inputs/$name"
    check "$name: status 1 ($status), the read error, nothing written" bash -c "[[ $status == $status_unreadable_input && -z \$(ls -A '$dir') ]]"
    check "$name: the read error" output_is "$dir" "$read_error"
done

echo "== the window and the notice"
# Presses OK: with no window manager, a key reaches the notice only after a click into it.
dismiss_notice() {
    local notice
    notice=$(wait_for_window "$caption") &&
        timeout 10 xdotool mousemove --window "$notice" 30 30 click 1 sleep 0.3 key Return
    wait_for_exit
}
start_exe window ../../inputs/page.jpg
check "notice '$caption' shown" shown "$caption"
check "window '$window_name' shown with it" shown "$window_name"
sleep 2
check "waits for OK" running
[[ -n $screenshot ]] && timeout 20 import -window root "$screenshot" && echo "screenshot: $screenshot"
dismiss_notice
check "status 0 after OK ($status)" equal "$status" "$status_success"

echo "== the window's size"
# Without a window manager, Wine's X window is the image area alone, placed
# where it would be inside a Windows frame of this Wine's metrics.
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$scratch/windows_frame.exe" "$tests/windows_frame.c" || exit 1
read -r border title_bar < <(wine "$scratch/windows_frame.exe" 2>/dev/null | tr -d '\r')
[[ $border =~ ^[0-9]+$ && $title_bar =~ ^[0-9]+$ ]] || { echo "FAIL: no window frame from Wine"; exit 1; }
echo "-- Wine's window frame: $border-pixel borders, a $title_bar-pixel title bar"
for size in 400x300 3000x2000 800x2400; do
    photo_like "${size%x*}" "${size#*x}" "$scratch/inputs/$size.png" || exit 1
    start_exe "$size" "../../inputs/$size.png"
    check "$size: notice shown" shown "$caption"
    check "$size: the window takes the image's size, or fits the screen" window_fits "${size%x*}" "${size#*x}" \
        $((2 * border)) $((title_bar + 2 * border)) "$border" $((title_bar + border))
    [[ -n $fitted_screenshot && $size == 3000x2000 ]] && timeout 20 import -window root "$fitted_screenshot" &&
        echo "screenshot: $fitted_screenshot"
    dismiss_notice
    check "$size: status 0 ($status)" equal "$status" "$status_success"
    check "$size: $output_name has the full-size result, the Linux build's pixels" same_as_linux "$size.png"
done

echo "== results against the Linux build's"
# An EXIF orientation of 6 (a quarter turn right), set in after a JPEG's first marker.
readonly exif='\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'
(cd "$scratch/inputs" && convert -size 160x120 gradient:'#e8dcc0-#584838' -fill '#203050' \
    -draw 'rectangle 30,40 50,100' -fill '#a03020' -draw 'circle 110,60 120,75' base.png &&
    convert base.png -colorspace Gray -define png:color-type=0 grey.png && convert base.png PNG48:deep.png &&
    convert base.png -alpha set -channel A -evaluate set 60% PNG32:alpha.png && convert base.png page.tif &&
    convert base.png -quality 90 page.webp && convert base.png plain.jpg &&
    { head -c 2 plain.jpg && printf "$exif" && tail -c +3 plain.jpg; } >rotated.jpg &&
    cp base.png 'ภาพถ่าย.png') || exit 1  # a name outside code page 936
for name in page.jpg grey.png deep.png alpha.png rotated.jpg page.tif page.webp ภาพถ่าย.png; do
    start_exe "$name" "../../inputs/$name"
    dismiss_notice
    check "$name: status 0 ($status), $output_name alone, an ordinary file" \
        bash -c "[[ $status == $status_success && \$(ls -A '$dir') == $output_name && -f '$dir/$output_name' ]]"
    check "$name: same pixels as the Linux build's" same_as_linux "$name"
done
check "rotated.jpg: turned by its EXIF orientation" equal "$(identify -format %wx%h "$scratch/run/rotated.jpg/$output_name")" 120x160

echo "== write failure"
mkdir -p "$scratch/run/unwritable" && printf 'earlier' >"$scratch/run/unwritable/$output_name"
chmod a-w "$scratch/run/unwritable"
run_exe unwritable ../../inputs/base.png
check "read-only folder: status 2 ($status), the earlier file kept alone" \
    bash -c "[[ $status == $status_not_written && \$(ls -A '$dir') == $output_name && \$(cat '$dir/$output_name') == earlier ]]"
check "read-only folder: the write error" output_is "$dir" "$write_error"
chmod u+w "$dir"

# The earlier result of the runs below: not the new result, so that a
# replacement shows.
earlier_in() { mkdir -p "$scratch/run/$1" && cp "$scratch/inputs/base.png" "$scratch/run/$1/$output_name" && own "$scratch/run/$1"; }
only_file_is() { [[ $(ls -A "$dir") == $output_name ]] && cmp -s "$dir/$output_name" "$1"; }
kept_earlier() { [[ $status == $status_not_written ]] && only_file_is "$scratch/inputs/base.png"; }

echo "== a result file held by another program"
holder=$scratch/windows_holder.exe
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$holder" "$tests/windows_holder.c" || exit 1
start_holder() { # name millis: holds run/name/$output_name
    (cd "$scratch/run/$1" && wine "$holder" $output_name "$2" >"$scratch/run/$1.holder" 2>/dev/null) &
    holder_pid=$!
    local end=$((SECONDS + show_seconds))
    until grep -q held "$scratch/run/$1.holder" 2>/dev/null; do ((SECONDS < end)) || return 1; sleep 0.1; done
}
for hold in 1000 10000; do
    earlier_in "held-$hold" && start_holder "held-$hold" "$hold" || exit 1
    DISPLAY= run_exe "held-$hold" ../../inputs/grey.png
    wait "$holder_pid"
    if ((hold == 1000)); then
        check "held 1 s: the run waits, status 3 ($status), the new result alone" \
            bash -c "[[ $status == $status_not_shown && \$(ls -A '$dir') == $output_name ]]"
        check "held 1 s: the new result's pixels" same_pixels "$dir/$output_name" "$scratch/linux-grey.png/$output_name"
    else
        check "held 10 s: status 2 ($status) after the bounded wait, the earlier file alone and whole" kept_earlier
        check "held 10 s: the write error" output_is "$dir" "$write_error"
    fi
done
# Wine replaces a read-only file; the program checks the attribute, as
# Windows would refuse it.
earlier_in readonly && (cd "$scratch/run/readonly" && wine attrib +r $output_name) >/dev/null 2>&1
DISPLAY= run_exe readonly ../../inputs/grey.png
check "read-only $output_name: status 2 ($status), kept alone and whole" kept_earlier

echo "== interruptions"
# Wine 8 does not deliver GenerateConsoleCtrlEvent's CTRL_BREAK_EVENT to
# another process group (the call fails with ERROR_INVALID_HANDLE), but it
# turns SIGINT into CTRL_C_EVENT, run through the program's console control
# handlers on a thread of their own as Windows runs them; the handlers take
# every event alike. A run so ended has STATUS_CONTROL_C_EXIT, 58 in its
# low byte.
(cd "$scratch/inputs" && convert -size 1200x800 xc: +noise Random -resize 6000x4000! -quality 95 big.jpg &&
    convert big.jpg -resize 50% big.hdr) || exit 1
# The Linux process of the running lumaLeveller.exe, among those of $1.
exe_process() {
    local child
    for child in $(pgrep -P "$1"); do
        [[ $(cat "/proc/$child/comm" 2>/dev/null) == lumaLeveller* ]] && echo "$child" && return 0
        exe_process "$child" && return 0
    done
    return 1
}
interrupt_after() { # glob seconds: Ctrl+C that long after a file matching glob appears
    local end=$((SECONDS + run_seconds)) process
    until compgen -G "$1" >/dev/null; do running && ((SECONDS < end)) || return 1; sleep 0.02; done
    sleep "$2"
    process=$(exe_process "$pid") && kill -INT "$process"
}
DISPLAY= start_exe big ../../inputs/big.jpg
wait_long
new_result=$dir/$output_name
check "big.jpg: status 3 ($status) uninterrupted" equal "$status" "$status_not_shown"
interrupted=0
# A Ctrl+C that comes once the result is in place and the program's handler
# gone meets Wine's own, which ends the run with status 0 (Windows' with
# STATUS_CONTROL_C_EXIT): the new file is then whole.
earlier_or_new() {
    { [[ $status == 58 ]] && only_file_is "$scratch/inputs/base.png"; } ||
        { [[ $status == 58 || $status == $status_not_shown || $status == $status_success ]] && only_file_is "$new_result"; }
}
for delay in 0 0.1 0.2 0.4 0.8; do
    earlier_in "interrupted-$delay"
    DISPLAY= start_exe "interrupted-$delay" ../../inputs/big.jpg
    interrupt_after "$dir/.$output_name.*.tmp" "$delay"
    wait_long
    [[ $status == 58 ]] && interrupted=$((interrupted + 1))
    check "Ctrl+C ${delay} s into the write: status 58, 3 or 0 ($status), no temporary file, the earlier or the new file whole" \
        earlier_or_new
done
check "some runs ended by Ctrl+C while writing ($interrupted of 5)" test "$interrupted" -gt 0
# Radiance HDR read into memory is decoded from the library's copy, which
# goes to a folder of the run's own in the user's temporary folder. A file
# is read into memory when even its short name is MAX_PATH characters or
# longer. It has a quarter of big.jpg's pixels, so that its decoding ends
# within the 3 s that a Ctrl+C waits for it even on a busy machine.
temporary_folder=$(find "$scratch/home/prefix/drive_c/users" -maxdepth 4 -type d -name Temp | head -n 1)
deep=$scratch/inputs$(printf '/directory%02d' {1..30})
mkdir -p "$deep" && cp "$scratch/inputs/big.hdr" "$deep/" || exit 1
DISPLAY= start_exe decoding "$(windows_path "$deep/big.hdr")"
interrupt_after "$temporary_folder/lumaLeveller.*/ocv*" 0
wait_long
check "Ctrl+C while decoding from the copy in the run's own folder: status 58 ($status), nothing written" \
    bash -c "[[ $status == 58 && -z \$(ls -A '$dir') ]]"
check "no folder and no copy left in the temporary folder" \
    bash -c "! compgen -G '$temporary_folder/lumaLeveller.*' && ! compgen -G '$temporary_folder/ocv*'"
