#!/usr/bin/env bash
# Checks the Windows zip and runs its lumaLeveller.exe under Wine, in a
# prefix of the test's own with a Chinese locale (code page 936), as user
# nobody when run as root (who could write anywhere). Run it under xvfb-run:
#
#   xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash windows_test.sh ZIP LUMALEVELLER SAMPLE [SCREENSHOT [FITTED]]
#
# LUMALEVELLER is the Linux build, whose results the pixels are compared to.
# SCREENSHOT and FITTED, if given, are where the screen is saved while the
# window shows the sample, and an image scaled down to fit the screen.
# With FORMAT_SAMPLES naming the format_samples program, JPEG 2000 and
# OpenEXR files are read too. It needs what scripts/windows installs:
# icoutils (wrestool, icotool) and mingw-w64's C compiler for its holder
# program.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/display_windows.sh"

# The program's texts as bash assignments (the build's tests/texts.sh).
source "${LUMALEVELLER_TEXTS:?names the texts of the program as bash assignments (tests/CMakeLists.txt)}"
readonly caption=$notice_caption
readonly run_seconds=60 show_seconds=30 exit_seconds=20
readonly screen_width=1280 screen_height=1024
readonly system_dlls=' advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 setupapi shell32 user32 ws2_32 '

(($# >= 3)) && [[ -n ${DISPLAY:-} ]] || { echo "usage: xvfb-run -a bash $0 ZIP LUMALEVELLER SAMPLE [SCREENSHOT [FITTED]]" >&2; exit 2; }
zip=$(realpath "$1") linux_binary=$(realpath "$2") sample=$(realpath "$3") screenshot=${4:+$(realpath -m "$4")} fitted_screenshot=${5:+$(realpath -m "$5")}
# Wine runs as nobody when run as root: everything it reads is in the
# scratch folder, readable by all, which is also where Wine starts.
umask 022
scratch=$(mktemp -d) pid=
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
chmod 755 "$scratch" && cd "$scratch" || exit 1
as_nobody=()
[[ $(id -u) -eq 0 ]] && as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
trap 'wine_env /usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM
trap '' PIPE

equal() { [[ $1 == "$2" ]] || { printf -- '-- got:\n%s\n-- expected:\n%s\n' "$1" "$2"; return 1; }; }
contains_all() { local text; for text in "${@:2}"; do grep -qF "$text" "$1" || return 1; done; }
own() { ((${#as_nobody[@]} == 0)) || chown -R nobody:nogroup "$@"; }
# The texts as written to a file or a pipe: GBK, each with an empty line, CR LF.
gbk_texts() { printf '%s\r\n\r\n' "$@" | iconv -f UTF-8 -t GBK | od -An -tx1; }
output_is() { equal "$(od -An -tx1 "$1.out")" "$(gbk_texts "${@:2}")"; }

echo "== zip"
unzip -q "$zip" -d "$scratch/zip" || exit 1
unpacked=$(echo "$scratch"/zip/*) exe=$(echo "$scratch"/zip/*/lumaLeveller.exe)
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: \(.*\)\.dll$/\1/ip' | tr A-Z a-z | xargs)
only_system_dlls() { local dll; for dll in $dlls; do [[ $system_dlls == *" $dll "* ]] || return 1; done; }
check "one folder named after the zip" equal "${unpacked##*/}" "$(basename "$zip" .zip)"
check "a stripped x86-64 console program" equal "$(pe_headers "$exe")" "PE32+ x86-64 console, 0 symbols, 0 debug sections"
check "imports Windows' own DLLs only: $dlls" only_system_dlls
check "README.txt with CR LF line ends" bash -c "! grep -q \$'[^\\r]\$' '$unpacked/README.txt'"
check "licence texts of the program and every library" bash -c "cd '$unpacked/licenses' && ls ../LICENSE.txt \
    ../NOTICE.txt opencv libpng1.6 libjpeg-turbo libwebp tiff openjpeg2 imath openexr libisal libz-mingw-w64-dev mingw-w64-x86-64-dev gcc-mingw-w64-base >/dev/null"

# Runs a command as Wine's user in the test's prefix, with a Chinese locale.
wine_env() {
    "${as_nobody[@]}" env -i PATH=/usr/bin:/bin HOME="$scratch/home" LC_ALL=zh_CN.UTF-8 TERM=xterm DISPLAY="$DISPLAY" \
        XAUTHORITY="$scratch/home/Xauthority" WINEPREFIX="$scratch/home/prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES='mscoree,mshtml=' "$@"
}
wine() { wine_env timeout -k 5 "$run_seconds" /usr/lib/wine/wine64 "$@"; }

# The prefix, its server kept running, and a CJK font linked to the dialog fonts.
prepare_wine() {
    mkdir -p "$scratch/home/prefix" && xauth extract - "$DISPLAY" | xauth -q -f "$scratch/home/Xauthority" merge -
    own "$scratch/home"
    wine_env /usr/lib/wine/wineserver64 -p && wine wineboot --init >"$scratch/wineboot.log" 2>&1 ||
        { cat "$scratch/wineboot.log"; return 1; }
    local face
    for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2'; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
            /t REG_MULTI_SZ /d 'wqy-zenhei.ttc,WenQuanYi Zen Hei' /f >/dev/null || return 1
    done
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'WenQuanYi Zen Hei' /f >/dev/null
}
check "a Wine prefix with CJK font linking" prepare_wine
((failures == 0)) || finish_checks

# Starts the program in a new folder run/$1 (in `dir`) with the arguments
# that follow, its output through a pipe to $dir.out.
start_exe() { # name arguments...
    dir=$scratch/run/$1
    mkdir -p "$dir" && own "$dir"
    (set -o pipefail; cd "$dir" && wine "$exe" "${@:2}" <"${stdin:-/dev/null}" 2>/dev/null | cat >"$dir.out") &
    pid=$!
}
# A whole run takes longer than exit_seconds on a busy machine: Wine's start
# alone can take that long.
wait_long() { local end=$((SECONDS + run_seconds)); while running && ((SECONDS < end)); do sleep 0.1; done; wait_for_exit; }
run_exe() { start_exe "$@"; wait_long; }
wait_until() { local end=$((SECONDS + show_seconds)); until "$@"; do running && ((SECONDS < end)) || return 1; sleep 0.3; done; }

mkdir "$scratch/inputs" && cp "$sample" "$scratch/inputs/page.jpg"

echo "== usage"
mkfifo "$scratch/key"
stdin=$scratch/key start_exe usage
exec 3>"$scratch/key"
wait_until grep -q image "$dir.out"
check "usage: banner and usage line in GBK on a pipe" output_is "$dir" "$banner" "$usage"
check "usage: waits for a key" running
echo >&3 && exec 3>&-
wait_for_exit
check "usage: status 8 after the key ($status)" equal "$status" 8
# A console in code page 437, which lacks the Chinese characters, still
# shows them: the texts reach it as UTF-16, and Wine shows it in UTF-8 on
# script's terminal. Input from NUL ends the wait for a key.
mkdir -p "$scratch/run/console"
(cd "$scratch/run/console" && wine_env script -qec "timeout $run_seconds /usr/lib/wine/wine64 cmd /c chcp 437 \
    '&' '..\\..\\zip\\${unpacked##*/}\\lumaLeveller.exe' '<nul'" /dev/null) </dev/null >"$scratch/console.out" 2>&1
status=$?
# shellcheck disable=SC2086 # each word of the banner
console_shows_texts() { [[ $status == 8 ]] && contains_all "$scratch/console.out" $banner "$usage"; }
check "console in code page 437: status 8 ($status), banner in Chinese and usage line" console_shows_texts

echo "== read errors"
: >"$scratch/inputs/empty.png"
printf '\xff\xd8\xff\xe0 not a JPEG' >"$scratch/inputs/broken.jpg"
for name in missing.jpg broken.jpg empty.png; do
    run_exe "read-$name" "../../inputs/$name"
    check "$name: status 1 ($status), the read error, nothing written" bash -c "[[ $status == 1 && -z \$(ls -A '$dir') ]]"
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
check "status 0 after OK ($status)" equal "$status" 0

echo "== the window's size"
# Without a window manager, Wine's X window is the image area alone, placed
# where it would be inside a Windows frame of this Wine's metrics.
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$scratch/windows_frame.exe" "$tests/windows_frame.c" || exit 1
read -r border title_bar < <(wine "$scratch/windows_frame.exe" 2>/dev/null | tr -d '\r')
[[ $border =~ ^[0-9]+$ && $title_bar =~ ^[0-9]+$ ]] || { echo "FAIL: no window frame from Wine"; exit 1; }
echo "-- Wine's window frame: $border-pixel borders, a $title_bar-pixel title bar"
# Whether the run in `dir` wrote the pixels that the Linux build, run
# without a display, writes for inputs/$1 (or the input $2), or neither
# wrote any; the Linux build's status in linux_status.
same_as_linux() { # name [input]
    mkdir "$scratch/linux-$1" && (cd "$scratch/linux-$1" && env -u DISPLAY timeout -k 5 "$run_seconds" "$linux_binary" "${2:-../inputs/$1}") >/dev/null 2>&1
    linux_status=$?
    [[ -e $dir/$output_name || -e $scratch/linux-$1/$output_name ]] || return 0
    local differing
    differing=$(compare -metric AE "$dir/$output_name" "$scratch/linux-$1/$output_name" null: 2>&1) &&
        equal "$differing" 0
}
for size in 400x300 3000x2000 800x2400; do
    photo_like "${size%x*}" "${size#*x}" "$scratch/inputs/$size.png" || exit 1
    start_exe "$size" "../../inputs/$size.png"
    check "$size: notice shown" shown "$caption"
    check "$size: the window takes the image's size, or fits the screen" window_fits "${size%x*}" "${size#*x}" \
        $((2 * border)) $((title_bar + 2 * border)) "$border" $((title_bar + border))
    [[ -n $fitted_screenshot && $size == 3000x2000 ]] && timeout 20 import -window root "$fitted_screenshot" &&
        echo "screenshot: $fitted_screenshot"
    dismiss_notice
    check "$size: status 0 ($status)" equal "$status" 0
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
        bash -c "[[ $status == 0 && \$(ls -A '$dir') == $output_name && -f '$dir/$output_name' ]]"
    check "$name: same pixels as the Linux build's" same_as_linux "$name"
done
check "rotated.jpg: turned by its EXIF orientation" equal "$(identify -format %wx%h "$scratch/run/rotated.jpg/$output_name")" 120x160

echo "== cut-short JPEGs and a long path, without a display, against the Linux build's"
# A photograph-like JPEG, baseline and progressive, cut inside its header and
# through its scan data: the file reader gives what arrived. Halves of them
# behind a name outside code page 936 and an absolute path of over 300
# characters, which the file reader takes by their short names. Without a
# display the run ends with status 3 once the result is written.
long=inputs/$(printf 'd%.0s' {1..140})/$(printf 'e%.0s' {1..140})
(cd "$scratch/inputs" && convert base.png -resize 320x240 -attenuate 0.5 +noise Gaussian -blur 0x1 photo.png &&
    convert photo.png baseline.jpg && convert photo.png -interlace JPEG progressive.jpg &&
    for kind in baseline progressive; do
        size=$(stat -c %s $kind.jpg)
        for cut in 200 $((size / 4)) $((size / 2)) $((size * 9 / 10)); do
            head -c $cut $kind.jpg >cut-$kind-$cut.jpg
        done
    done && head -c $((size / 2)) progressive.jpg >'cut-ภาพถ่าย.jpg' &&
    mkdir -p "$scratch/$long" && head -c $(($(stat -c %s baseline.jpg) / 2)) baseline.jpg >"$scratch/$long/page.jpg") || exit 1
windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
for input in "$scratch"/inputs/cut-*.jpg "$scratch/$long/page.jpg"; do
    name=${input##*/inputs/} name=${name:0:40} name=${name//\//}
    DISPLAY= run_exe "$name" "$(windows_path "$input")"
    check "$name: the same pixels as the Linux build's, or no result from either" same_as_linux "$name" "$input"
    check "$name: status $status, as the Linux build's" equal "$status" "$linux_status"
done
check "a path of $(windows_path "$scratch/$long/page.jpg" | wc -c) characters: read (status $status)" equal "$status" 3

if [[ -n ${FORMAT_SAMPLES:-} ]]; then
    echo "== JPEG 2000 and OpenEXR against the Linux build's"
    # Without a display the run ends with status 3 once the result is written.
    # The OpenEXR reader takes file names as UTF-8, the others as ANSI: a
    # name in code page 936 too.
    "$FORMAT_SAMPLES" "$scratch/inputs" && cp "$scratch/inputs/half.exr" "$scratch/inputs/照片.exr"
    for name in colour8.jp2 grey8.jp2 colour16.jp2 grey16.jp2 half.exr float.exr grey-half.exr 照片.exr; do
        DISPLAY= run_exe "$name" "../../inputs/$name"
        check "$name: status 3 ($status), $output_name alone" \
            bash -c "[[ $status == 3 && \$(ls -A '$dir') == $output_name ]]"
        check "$name: same pixels as the Linux build's" same_as_linux "$name"
    done
fi

echo "== write failure"
mkdir -p "$scratch/run/unwritable" && printf 'earlier' >"$scratch/run/unwritable/$output_name"
chmod a-w "$scratch/run/unwritable"
run_exe unwritable ../../inputs/base.png
check "read-only folder: status 2 ($status), the earlier file kept alone" \
    bash -c "[[ $status == 2 && \$(ls -A '$dir') == $output_name && \$(cat '$dir/$output_name') == earlier ]]"
check "read-only folder: the write error" output_is "$dir" "$write_error"
chmod u+w "$dir"


echo "== resources"
hex() { od -An -tx1 | tr -d ' \n'; }
le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }
wrestool -x --raw --type=24 "$exe" >"$scratch/manifest.xml"
manifest_as_wanted() {
    contains_all "$scratch/manifest.xml" '>PerMonitorV2, PerMonitor</dpiAwareness>' '>true/pm</dpiAware>' \
        'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' '>true</longPathAware>' 'level="asInvoker"' &&
        ! grep -q activeCodePage "$scratch/manifest.xml"
}
check "one manifest" equal "$(wrestool -l --type=24 "$exe" | wc -l)" 1
check "manifest: per-monitor DPI aware v2 and pm, Common Controls 6, long paths, asInvoker" manifest_as_wanted
# The fixed version (Explorer's file version) after its signature and
# structure version, as file and product version; the strings; the
# copyright line of NOTICE, in UTF-16.
version=$(basename "$zip" -win64.zip) && version=${version#lumaLeveller-}
IFS=. read -r major minor patch <<<"$version"
fixed=$(le16 "$minor")$(le16 "$major")$(le16 0)$(le16 "$patch")
copyright=$(grep -m1 '^Copyright' "$unpacked/NOTICE.txt" | tr -d '\r')
version_info=$(wrestool -x --raw --type=16 "$exe" | hex)
check "version resource: $version as file and product version" \
    bash -c "[[ '$version_info' == *bd04effe00000100$fixed$fixed* ]] && wrestool -x --raw --type=16 '$exe' |
        strings -el | grep -A1 -x -e FileVersion -e ProductVersion | grep -c -x '$version' | grep -qx 2"
check "version resource: '$copyright'" bash -c "[[ '$version_info' == *$(printf '%s\0' "$copyright" | iconv -f UTF-8 -t UTF-16LE | hex)* ]]"
wrestool -x --type=14 "$exe" >"$scratch/icon.ico"
check "icon of 16, 24, 32, 48, 64 and 256 px" \
    equal "$(icotool -l "$scratch/icon.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | xargs)" '16 24 32 48 64 256'

# The earlier result of the runs below: not the new result, so that a
# replacement shows.
earlier_in() { mkdir -p "$scratch/run/$1" && cp "$scratch/inputs/base.png" "$scratch/run/$1/$output_name" && own "$scratch/run/$1"; }
only_file_is() { [[ $(ls -A "$dir") == $output_name ]] && cmp -s "$dir/$output_name" "$1"; }
kept_earlier() { [[ $status == 2 ]] && only_file_is "$scratch/inputs/base.png"; }
same_pixels() { equal "$(compare -metric AE "$1" "$2" null: 2>&1)" 0; }

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
            bash -c "[[ $status == 3 && \$(ls -A '$dir') == $output_name ]]"
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
check "big.jpg: status 3 ($status) uninterrupted" equal "$status" 3
interrupted=0
# A Ctrl+C that comes once the result is in place and the program's handler
# gone meets Wine's own, which ends the run with status 0 (Windows' with
# STATUS_CONTROL_C_EXIT): the new file is then whole.
earlier_or_new() {
    { [[ $status == 58 ]] && only_file_is "$scratch/inputs/base.png"; } ||
        { [[ $status == 58 || $status == 3 || $status == 0 ]] && only_file_is "$new_result"; }
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

source "$tests/windows_install.sh"
finish_checks
