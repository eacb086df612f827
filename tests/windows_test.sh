#!/usr/bin/env bash
# Tests the Windows zip: its contents, and its lumaLeveller.exe run under
# Wine (a prefix of the test's own, under a Chinese locale, so that the ANSI
# code page is GBK) on an X display: the usage texts' bytes, read errors, the
# result's pixels against the Linux build's on several kinds of image, the
# window and the notice, and a failed write. Wine runs as the unprivileged
# user nobody when the test runs as root, who could write anywhere.
# Needs wine64, xdotool, xauth, ImageMagick, iconv, unzip, the mingw-w64
# objdump and the zh_CN.UTF-8 locale; run it under xvfb-run:
#
#   xvfb-run -a -s "-screen 0 1280x1024x24" bash windows_test.sh ZIP LUMALEVELLER SAMPLE [SCREENSHOT]
#
# LUMALEVELLER is the Linux build, SAMPLE the bundled sample; a screenshot
# of the window and the notice is saved as SCREENSHOT when given.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/display_windows.sh"

readonly caption='LumaclearApp  By Lumaclear开发组'
readonly banner='LumaclearApp  By Lumaclear开发组    Lumaclear社区 https://lumaclear.example.org'
readonly usage='Usage: lumaLeveller  image'
readonly read_error='Error: Could not open or find the image.'
readonly write_error='Error: Could not write the result to lumaLeveller.png.'
readonly window_name='lumaLeveller.png'
readonly run_seconds=60 show_seconds=30 exit_seconds=20
# What a Windows program may import: Windows' own DLLs.
readonly system_dlls='advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 shell32 user32 ws2_32'

if (($# < 3)) || [[ -z ${DISPLAY:-} ]]; then
    echo "usage: xvfb-run -a bash $0 ZIP LUMALEVELLER SAMPLE [SCREENSHOT] (needs an X display)" >&2
    exit 2
fi
zip=$(realpath "$1") linux_binary=$(realpath "$2") sample=$(realpath "$3") screenshot=${4:-}
scratch=$(mktemp -d)
chmod 755 "$scratch"
pid=

cleanup() {
    [[ -n $pid ]] && kill "$pid" 2>/dev/null
    wine_user /usr/lib/wine/wineserver64 -k 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# A key written to a program that has ended is a failed check, not the end.
trap '' PIPE

# Texts as the program prints them to a file or a pipe here: in GBK, each
# followed by an empty line, with Windows line ends.
windows_texts() { printf '%s\r\n\r\n' "$@" | iconv -f UTF-8 -t GBK; }

equal() { # actual expected
    [[ $1 == "$2" ]] && return 0
    printf -- '-- got:\n%s\n-- expected:\n%s\n' "$1" "$2"
    return 1
}

# --- The zip ---

unzip -q "$zip" -d "$scratch/zip" || { echo "FAIL: cannot unpack $zip"; exit 1; }
unpacked=$(find "$scratch/zip" -mindepth 1 -maxdepth 1)
exe=$unpacked/lumaLeveller.exe

imported_dlls() { x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'; }

only_system_dlls() {
    local dll found=0
    for dll in $(imported_dlls); do
        found=1
        [[ " $system_dlls " == *" ${dll%.dll} "* ]] || { echo "-- imports $dll"; return 1; }
    done
    ((found))
}

is_stripped() { ! x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug_'; }

has_crlf_lines_only() { [[ -s $1 ]] && ! grep -q $'[^\r]$' "$1" && ! grep -q $'^$' "$1"; }

licences_of_every_library() {
    local name
    for name in opencv libpng1.6 libjpeg-turbo libwebp tiff libz-mingw-w64-dev mingw-w64-x86-64-dev gcc-mingw-w64-base; do
        [[ -n $(ls -A "$unpacked/licenses/$name" 2>/dev/null) ]] || { echo "-- no licence texts of $name"; return 1; }
    done
}

echo "== zip"
check "zip holds one folder named after it" equal "${unpacked##*/}" "$(basename "$zip" .zip)"
check "lumaLeveller.exe is a Windows x86-64 program" \
    bash -c "file -b '$exe' | grep -q '^PE32+ executable (console) x86-64'"
check "lumaLeveller.exe imports Windows' own DLLs only: $(imported_dlls | xargs)" only_system_dlls
check "lumaLeveller.exe is stripped" is_stripped
check "README.txt has Windows line ends" has_crlf_lines_only "$unpacked/README.txt"
check "licence texts of every library linked in" licences_of_every_library

# --- Wine ---

# Runs a command as the user who runs Wine, in the test's own prefix with a
# Chinese locale (ANSI and console code page 936).
wine_user() {
    local as=()
    [[ $(id -u) -eq 0 ]] && as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    "${as[@]}" env -i PATH=/usr/bin:/bin HOME="$scratch/home" LC_ALL=zh_CN.UTF-8 TERM=xterm DISPLAY="$DISPLAY" \
        XAUTHORITY="$scratch/Xauthority" WINEPREFIX="$scratch/home/prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES='mscoree,mshtml=' "$@"
}

wine() { wine_user timeout -k 5 "$run_seconds" /usr/lib/wine/wine64 "$@"; }

# A CJK font for the notice's text: Wine's dialog fonts fall back to it.
readonly font_link='wqy-zenhei.ttc,WenQuanYi Zen Hei'
prepare_wine() {
    mkdir -p "$scratch/home"
    touch "$scratch/Xauthority"
    xauth extract - "$DISPLAY" 2>/dev/null | xauth -f "$scratch/Xauthority" merge - 2>/dev/null
    [[ $(id -u) -eq 0 ]] && chown -R nobody:nogroup "$scratch/home" "$scratch/Xauthority"
    wine wineboot --init >"$scratch/wineboot.log" 2>&1 || { cat "$scratch/wineboot.log"; return 1; }
    wine_user /usr/lib/wine/wineserver64 -p
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' face
    for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2'; do
        wine reg add "$key" /v "$face" /t REG_MULTI_SZ /d "$font_link" /f >/dev/null || return 1
    done
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'WenQuanYi Zen Hei' /f >/dev/null
}

# A folder the program runs in, writable by the user who runs Wine.
new_workdir() { # name
    local dir=$scratch/run/$1
    mkdir -p "$dir"
    [[ $(id -u) -eq 0 ]] && chown nobody:nogroup "$dir"
    echo "$dir"
}

# Runs the program in folder $1 with the remaining arguments, its output to
# $1.out through a pipe, and sets `status`; for runs that end by themselves.
run_exe() { # workdir arguments...
    local dir=$1
    shift
    (set -o pipefail; cd "$dir" && wine "$exe" "$@" </dev/null 2>/dev/null | cat >"$dir.out")
    status=$?
}

check "Wine prefix of the test's own, with CJK font linking" prepare_wine
((failures == 0)) || finish_checks

# --- Usage: texts in GBK on a pipe, then a wait for a key ---

usage_case() {
    local dir expected
    dir=$(new_workdir usage)
    expected=$(windows_texts "$banner" "$usage" | od -An -tx1)
    mkfifo "$scratch/key"
    (set -o pipefail; cd "$dir" && wine "$exe" <"$scratch/key" 2>/dev/null | cat >"$dir.out") &
    pid=$!
    exec 3>"$scratch/key"
    local deadline=$((SECONDS + show_seconds))
    while [[ $(od -An -tx1 "$dir.out" 2>/dev/null) != "$expected" ]] && running && ((SECONDS < deadline)); do
        sleep 0.2
    done
    check "usage: banner and usage line in GBK with CR LF, each with an empty line" \
        equal "$(od -An -tx1 "$dir.out")" "$expected"
    sleep 1
    check "usage: the program waits for a key" running
    echo >&3
    exec 3>&-
    wait_for_exit
    check "usage: status 8 after the key (got: $status)" equal "$status" 8
}
# On a console whose code page (437) lacks the banner's Chinese characters
# the texts still read right, since they reach the console as UTF-16: Wine
# shows its console on a terminal (here `script`'s) in UTF-8. Standard
# input is NUL, so the wait for a key ends at once.
console_case() {
    local dir exe_path
    dir=$(new_workdir console)
    exe_path="..\\..\\zip\\${unpacked##*/}\\lumaLeveller.exe"
    (cd "$dir" && wine_user script -qec \
        "timeout -k 5 $run_seconds /usr/lib/wine/wine64 cmd /c chcp 437 '&' '$exe_path' '<nul'" /dev/null) \
        </dev/null >"$dir.out" 2>&1
    status=$?
    check "console in code page 437: banner in Chinese" \
        bash -c "grep -qF 'Lumaclear开发组' '$dir.out' && grep -qF 'Lumaclear社区' '$dir.out'"
    check "console in code page 437: usage line" grep -qF "$usage" "$dir.out"
    check "console: status 8 (got: $status)" equal "$status" 8
}

echo "== usage"
usage_case
console_case

# --- Inputs: the sample and generated images of several kinds ---

mkdir "$scratch/inputs"
# An EXIF block whose orientation (6) turns the image a quarter to the
# right, set in after a JPEG's first marker.
readonly exif='\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'
make_inputs() (
    cd "$scratch/inputs" || exit 1
    cp "$sample" page.jpg
    convert -size 160x120 gradient:'#e8dcc0-#584838' -fill '#203050' -draw 'rectangle 30,40 50,100' \
        -fill '#a03020' -draw 'circle 110,60 120,75' base.png || exit 1
    convert base.png -colorspace Gray -define png:color-type=0 grey.png &&
        convert base.png -depth 16 PNG48:deep.png &&
        convert base.png -alpha set -channel A -evaluate set 60% +channel PNG32:alpha.png &&
        convert base.png -compress LZW page.tif &&
        convert base.png -quality 90 page.webp &&
        convert base.png -quality 92 plain.jpg || exit 1
    { head -c 2 plain.jpg && printf "$exif" && tail -c +3 plain.jpg; } >rotated.jpg
    # A name outside the ANSI code page (936): a narrow argument cannot carry it.
    cp base.png 'ภาพถ่าย.png'
)
make_inputs || { echo "FAIL: cannot make the inputs"; exit 1; }

# --- Read errors ---

echo "== read errors"
: >"$scratch/inputs/empty.png"
printf '\xff\xd8\xff\xe0 not a JPEG at all' >"$scratch/inputs/broken.jpg"
for name in missing.jpg broken.jpg empty.png; do
    dir=$(new_workdir "read-$name")
    run_exe "$dir" "../../inputs/$name"
    check "$name: status 1 (got: $status)" equal "$status" 1
    check "$name: the read error in GBK" equal "$(od -An -tx1 "$dir.out")" "$(windows_texts "$read_error" | od -An -tx1)"
    check "$name: nothing written" equal "$(ls -A "$dir")" ""
done

# --- Results, the window and the notice ---

# Presses OK on the notice: with no window manager, a key reaches it only
# after a click into it.
press_ok() { # notice
    timeout 5 xdotool mousemove --window "$1" 30 30 click 1 && sleep 0.3 && timeout 5 xdotool key Return
}

# Starts the program in folder $1 on the input $2 and sets `notice` to its
# notice's window once shown (empty when it is not).
start_exe() { # workdir input
    (set -o pipefail; cd "$1" && wine "$exe" "$2" </dev/null 2>/dev/null | cat >"$1.out") &
    pid=$!
    notice=$(wait_for_window "$caption")
}

# Presses OK on `notice` and sets `status` as the run ends.
dismiss_notice() {
    [[ -n $notice ]] && press_ok "$notice"
    wait_for_exit
}

# The Linux build's result for the input $1, in folder $2: it runs with no
# display, so it writes the result and ends with status 3.
linux_result() { # input folder
    mkdir -p "$2" && (cd "$2" && env -u DISPLAY timeout -k 5 "$run_seconds" "$linux_binary" "$1" >/dev/null 2>&1)
    [[ $? == 3 && -f $2/lumaLeveller.png ]]
}

same_pixels() { # png png
    local differing
    differing=$(compare -metric AE "$1" "$2" null: 2>&1) && [[ $differing == 0 ]] ||
        { echo "-- pixels differing: $differing"; return 1; }
}

size_of() { identify -format '%wx%h' "$1" 2>/dev/null; }

window_shown() { find_window "$window_name" >/dev/null; }

echo "== window and notice (sample)"
dir=$(new_workdir window)
start_exe "$dir" ../../inputs/page.jpg
check "notice titled '$caption' is shown" test -n "$notice"
check "window '$window_name' is shown with it" window_shown
sleep 2
check "the program waits for OK" running
if [[ -n $screenshot && -n $notice ]]; then
    timeout 20 import -window root "$screenshot" && echo "screenshot: $screenshot"
fi
dismiss_notice
check "status 0 after OK (got: $status)" equal "$status" 0
check "no text printed" equal "$(cat "$dir.out")" ""

# Input, the size its result must have (a quarter turn for the EXIF case).
readonly results="page.jpg 1024x768
grey.png 160x120
deep.png 160x120
alpha.png 160x120
rotated.jpg 120x160
page.tif 160x120
page.webp 160x120
ภาพถ่าย.png 160x120"

echo "== results against the Linux build's"
while read -r name size; do
    [[ $name == page.jpg ]] && size=$(size_of "$scratch/inputs/page.jpg")
    dir=$(new_workdir "result-$name")
    start_exe "$dir" "../../inputs/$name"
    dismiss_notice
    check "$name: status 0 after OK (got: $status)" equal "$status" 0
    check "$name: lumaLeveller.png alone, an ordinary file" \
        bash -c "[[ \$(ls -A '$dir') == lumaLeveller.png && -f '$dir/lumaLeveller.png' && ! -L '$dir/lumaLeveller.png' ]]"
    check "$name: result of size $size" equal "$(size_of "$dir/lumaLeveller.png")" "$size"
    linux_result "../../inputs/$name" "$scratch/linux/$name" || echo "-- the Linux build made no result"
    check "$name: same pixels as the Linux build's" same_pixels "$dir/lumaLeveller.png" "$scratch/linux/$name/lumaLeveller.png"
done <<<"$results"

# --- A failed write ---

echo "== write failure"
dir=$(new_workdir unwritable)
printf 'earlier result' >"$dir/lumaLeveller.png"
chmod a-w "$dir"
run_exe "$dir" ../../inputs/base.png
check "unwritable folder: status 2 (got: $status)" equal "$status" 2
check "unwritable folder: the write error" equal "$(od -An -tx1 "$dir.out")" "$(windows_texts "$write_error" | od -An -tx1)"
check "unwritable folder: the earlier result kept, nothing else left" \
    equal "$(ls -A "$dir"):$(cat "$dir/lumaLeveller.png")" "lumaLeveller.png:earlier result"
chmod u+w "$dir"

finish_checks
