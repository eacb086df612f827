# The Wine prefix of windows_test.sh and the runs of lumaLeveller.exe in it,
# with the comparisons against the Linux build; sourced by windows_test.sh
# for its parts. A run's folder is in `dir`, its process in `pid`, and
# wait_for_exit (display_windows.sh) leaves its exit status in `status`.

own() { ((${#as_nobody[@]} == 0)) || chown -R nobody:nogroup "$@"; }
# The texts as written to a file or a pipe: GBK, each with an empty line, CR LF.
gbk_texts() { printf '%s\r\n\r\n' "$@" | iconv -f UTF-8 -t GBK | od -An -tx1; }
output_is() { equal "$(od -An -tx1 "$1.out")" "$(gbk_texts "${@:2}")"; }

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

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
