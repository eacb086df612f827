#!/usr/bin/env bash
# Checks the Windows zip and runs its lumaLeveller.exe under Wine, in a
# prefix of the test's own with a Chinese locale (code page 936), as user
# nobody when run as root (who could write anywhere). Run it under xvfb-run:
#
#   xvfb-run -a bash windows_test.sh ZIP LUMALEVELLER SAMPLE [SCREENSHOT]
#
# LUMALEVELLER is the Linux build, whose results the pixels are compared to.
# With FORMAT_SAMPLES naming the format_samples program, JPEG 2000 and
# OpenEXR files are read too.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/display_windows.sh"

readonly caption='LumaclearApp  By Lumaclear开发组' window_name='lumaLeveller.png'
readonly banner='LumaclearApp  By Lumaclear开发组    Lumaclear社区 https://lumaclear.example.org'
readonly usage='Usage: lumaLeveller  image'
readonly run_seconds=60 show_seconds=30 exit_seconds=20
readonly system_dlls=' advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 setupapi shell32 user32 ws2_32 '

(($# >= 3)) && [[ -n ${DISPLAY:-} ]] || { echo "usage: xvfb-run -a bash $0 ZIP LUMALEVELLER SAMPLE [SCREENSHOT]" >&2; exit 2; }
zip=$(realpath "$1") linux_binary=$(realpath "$2") sample=$(realpath "$3") screenshot=${4:-}
scratch=$(mktemp -d) pid=
chmod 755 "$scratch"
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
check "a stripped x86-64 console program" bash -c "file -b '$exe' | grep -q '^PE32+ executable (console) x86-64' &&
    ! x86_64-w64-mingw32-objdump -h '$exe' | grep -q debug_"
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
run_exe() { start_exe "$@"; wait_for_exit; }
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
console_shows_texts() { [[ $status == 8 ]] && contains_all "$scratch/console.out" 'Lumaclear开发组' 'Lumaclear社区' "$usage"; }
check "console in code page 437: status 8 ($status), banner in Chinese and usage line" console_shows_texts

echo "== read errors"
: >"$scratch/inputs/empty.png"
printf '\xff\xd8\xff\xe0 not a JPEG' >"$scratch/inputs/broken.jpg"
for name in missing.jpg broken.jpg empty.png; do
    run_exe "read-$name" "../../inputs/$name"
    check "$name: status 1 ($status), the read error, nothing written" bash -c "[[ $status == 1 && -z \$(ls -A '$dir') ]]"
    check "$name: the read error" output_is "$dir" 'Error: Could not open or find the image.'
done

echo "== the window and the notice"
# Presses OK: with no window manager, a key reaches the notice only after a click into it.
dismiss_notice() {
    local notice
    notice=$(wait_for_window "$caption") &&
        timeout 10 xdotool mousemove --window "$notice" 30 30 click 1 sleep 0.3 key Return
    wait_for_exit
}
shown() { wait_for_window "$1" >/dev/null; }
start_exe window ../../inputs/page.jpg
check "notice '$caption' shown" shown "$caption"
check "window '$window_name' shown with it" shown "$window_name"
sleep 2
check "waits for OK" running
[[ -n $screenshot ]] && timeout 20 import -window root "$screenshot" && echo "screenshot: $screenshot"
dismiss_notice
check "status 0 after OK ($status)" equal "$status" 0

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
same_as_linux() { # name
    mkdir "$scratch/linux-$1" && (cd "$scratch/linux-$1" && env -u DISPLAY timeout -k 5 "$run_seconds" "$linux_binary" "../inputs/$1") >/dev/null 2>&1
    local differing
    differing=$(compare -metric AE "$dir/lumaLeveller.png" "$scratch/linux-$1/lumaLeveller.png" null: 2>&1) &&
        equal "$differing" 0
}
for name in page.jpg grey.png deep.png alpha.png rotated.jpg page.tif page.webp ภาพถ่าย.png; do
    start_exe "$name" "../../inputs/$name"
    dismiss_notice
    check "$name: status 0 ($status), lumaLeveller.png alone, an ordinary file" \
        bash -c "[[ $status == 0 && \$(ls -A '$dir') == lumaLeveller.png && -f '$dir/lumaLeveller.png' ]]"
    check "$name: same pixels as the Linux build's" same_as_linux "$name"
done
check "rotated.jpg: turned by its EXIF orientation" equal "$(identify -format %wx%h "$scratch/run/rotated.jpg/lumaLeveller.png")" 120x160

if [[ -n ${FORMAT_SAMPLES:-} ]]; then
    echo "== JPEG 2000 and OpenEXR against the Linux build's"
    # Without a display the run ends with status 3 once the result is written.
    "$FORMAT_SAMPLES" "$scratch/inputs"
    for name in colour8.jp2 grey8.jp2 colour16.jp2 grey16.jp2 half.exr float.exr grey-half.exr; do
        DISPLAY= run_exe "$name" "../../inputs/$name"
        check "$name: status 3 ($status), lumaLeveller.png alone" \
            bash -c "[[ $status == 3 && \$(ls -A '$dir') == lumaLeveller.png ]]"
        check "$name: same pixels as the Linux build's" same_as_linux "$name"
    done
fi

echo "== write failure"
mkdir -p "$scratch/run/unwritable" && printf 'earlier' >"$scratch/run/unwritable/lumaLeveller.png"
chmod a-w "$scratch/run/unwritable"
run_exe unwritable ../../inputs/base.png
check "read-only folder: status 2 ($status), the earlier file kept alone" \
    bash -c "[[ $status == 2 && \$(ls -A '$dir') == lumaLeveller.png && \$(cat '$dir/lumaLeveller.png') == earlier ]]"
check "read-only folder: the write error" output_is "$dir" 'Error: Could not write the result to lumaLeveller.png.'
chmod u+w "$dir"

finish_checks
