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

# The Wine prefix and the runs of the program in it, shared by the parts.
source "$tests/windows_wine.sh"

unzip -q "$zip" -d "$scratch/zip" || exit 1
unpacked=$(echo "$scratch"/zip/*) exe=$(echo "$scratch"/zip/*/lumaLeveller.exe)

check "a Wine prefix with CJK font linking" prepare_wine
((failures == 0)) || finish_checks

mkdir "$scratch/inputs" && cp "$sample" "$scratch/inputs/page.jpg"

# The parts, each a concern of its own: the zip and the program file, the
# runs (texts, the window, results, failures, interruptions), awkward
# inputs, and the installer.
source "$tests/windows_zip.sh"
source "$tests/windows_runs.sh"
source "$tests/windows_inputs.sh"
source "$tests/windows_install.sh"
finish_checks
