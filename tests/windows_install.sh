# The Windows installer and the wait for a key on a console of the
# program's own, under Wine; sourced by windows_test.sh, whose prefix and
# helpers it uses. The installer is the .msi beside the zip; msi.sh makes
# the ones of a higher and a lower version from the zip's files. Needs what
# scripts/windows installs (wixl, msitools).

echo "== installer"
# A copy of the .msi in the scratch folder, which Wine's user can read
# wherever the build put it.
msi=$scratch/$(basename "$zip" .zip).msi msi_version=${zip##*/lumaLeveller-} msi_version=${msi_version%-win64.zip}
cp "${zip%.zip}.msi" "$msi" || exit 1
wxs=$tests/../dist/windows/lumaLeveller.wxs
readonly folder='C:\Program Files\lumaLeveller' classes='HKLM\Software\Classes'
readonly uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
installed=$scratch/home/prefix/drive_c/Program\ Files/lumaLeveller
snapshots=$scratch/snapshots
mkdir -p "$snapshots" && own "$snapshots"
opener=$scratch/windows_open.exe
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$opener" "$tests/windows_open.c" || exit 1

# The prefix's file tree, and its machine's and user's registry as text
# with the system PATH readable.
snapshot() { # name
    (cd "$scratch/home/prefix" && find drive_c | LC_ALL=C sort) >"$snapshots/$1.files"
    local root
    for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
        wine regedit /E "$(windows_path "$snapshots/$1-$root.reg")" "$root" || return 1
    done
    { iconv -f UTF-16 -t UTF-8 "$snapshots/$1"-HKEY_*.reg
      wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH; } |
        tr -d '\r' >"$snapshots/$1.reg"
}
# Each extension's default handler in a snapshot.
default_handlers() {
    awk '/^\[/ { key = $0 ~ /^\[HKEY_LOCAL_MACHINE\\Software\\Classes\\\.[^\\]*\]$/ ? $0 : "" }
         key != "" && /^@=/ { print key $0 }' "$snapshots/$1.reg"
}
# The version of each Add/Remove Programs entry named lumaLeveller.
entries() {
    wine reg query "$uninstall" /s | tr -d '\r' | awk '/^HKEY_/ { key = $0 }
        $1 == "DisplayName" && $3 == "lumaLeveller" { named[key] = 1 } $1 == "DisplayVersion" { version[key] = $3 }
        END { for (key in named) print version[key] }'
}
has() { wine reg query "$1" /s | grep -qF "$2"; }

# A fresh prefix has no handlers for images: defaults of some other program's.
for type in .jpg .png; do
    wine reg add "$classes\\$type" /ve /d "viewer$type" /f >/dev/null || exit 1
done
snapshot before || exit 1
wine msiexec /i "$(windows_path "$msi")" /qn
status=$?
check "msiexec /i $(basename "$msi") ($(stat -c %s "$msi") bytes): status $status, the zip's files in $folder" \
    diff -r "$unpacked" "$installed"
check "the uninstall entry with version $msi_version" equal "$(entries)" "$msi_version"
while IFS='|' read -r key text; do
    check "$key holds $text" has "$key" "$text"
done <<EOF
$classes\\Applications\\lumaLeveller.exe|"$folder\\lumaLeveller.exe" "%1"
$classes\\lumaLeveller.Image|"$folder\\lumaLeveller.exe" "%1"
$classes\\.jpg\\OpenWithProgids|lumaLeveller.Image
$classes\\.png\\OpenWithProgids|lumaLeveller.Image
HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumaLeveller.exe|$folder\\lumaLeveller.exe
EOF
snapshot installed || exit 1
check "no extension's default handler changed ($(default_handlers before | wc -l) of them)" \
    equal "$(default_handlers installed)" "$(default_handlers before)"

echo "== the wait on a console of the program's own"
# In a session of its own, begun with the display: once Wine has made a
# console without one, it makes the later ones of the session without one
# too, and with no input, which would end the wait at once. The server is
# ended and waited for, and a new one started with the display, before the
# runs without one below.
restart_wine_session() {
    wine_env /usr/lib/wine/wineserver64 -k
    wine_env /usr/lib/wine/wineserver64 -w &&
        wine_env /usr/lib/wine/wineserver64 -p
}
check "a new Wine session begun with the display" restart_wine_session
opened=$(wine "$opener" 2000 'Applications\lumaLeveller.exe' 'C:\missing.jpg' 'C:\' | tr -d '\r')
check "opened as Explorer does, a missing file: still waiting for a key after 2 s ($opened)" equal "$opened" running
mkdir -p "$scratch/run/cmd" && own "$scratch/run/cmd"
(cd "$scratch/run/cmd" && wine_env script -qec "timeout $run_seconds /usr/lib/wine/wine64 cmd /c lumaLeveller missing.jpg" \
    /dev/null) </dev/null >"$scratch/run/cmd.out" 2>&1
status=$?
check "in cmd: status 1 ($status) at once, the read error" \
    bash -c "[[ $status == $status_unreadable_input ]] && grep -qF '$read_error' '$scratch/run/cmd.out'"

echo "== installed runs"
# Without a display each run below ends with status 3 once the result is
# written: a console of the program's own then has no input, which ends its
# wait at once.
mkdir -p "$scratch/run/by-name" && own "$scratch/run/by-name"
(cd "$scratch/run/by-name" && DISPLAY= wine cmd /c lumaLeveller '..\..\inputs\page.jpg') >/dev/null 2>&1
status=$?
check "a new cmd runs lumaLeveller by its bare name: status 3 ($status), the result in its folder" \
    bash -c "[[ $status == $status_not_shown && -f '$scratch/run/by-name/$output_name' ]]"
dir="$scratch/photos/新 照片" photo="$scratch/photos/新 照片/页 一.jpg"
mkdir -p "$dir" && cp "$scratch/inputs/page.jpg" "$photo" && own "$scratch/photos"
opened=$(DISPLAY= wine "$opener" "$((run_seconds * 1000))" lumaLeveller.Image "$(windows_path "$photo")" \
    "$(windows_path "$dir")" | tr -d '\r')
opened_in_place() { [[ $opened == "status $status_not_shown" ]] && same_as_linux opened "$photo"; }
check "opened as Explorer does in '$dir': $opened, the Linux build's pixels in the photo's folder" opened_in_place

echo "== upgrade and uninstall"
IFS=. read -r major minor patch <<<"$msi_version"
higher=$major.$minor.$((patch + 1)) lower=0.0.1
for other in "$higher" "$lower"; do
    bash "$tests/../dist/windows/msi.sh" "$unpacked" "$other" "$scratch/$other.msi" || exit 1
done
wine msiexec /i "$(windows_path "$scratch/$higher.msi")" /qn
status=$?
check "$higher over $msi_version: status $status, one entry, $higher" equal "$(entries)" "$higher"
wine msiexec /i "$(windows_path "$scratch/$lower.msi")" /qn
status=$?
refused_keeping_higher() { [[ $status != 0 ]] && equal "$(entries)" "$higher"; }
check "$lower over $higher: refused (status $status), one entry, $higher" refused_keeping_higher
wine msiexec /x "$(windows_path "$scratch/$higher.msi")" /qn
status=$?
snapshot removed || exit 1
# What is ours: a name, a type's list of programs, the upgrade code (also
# as Windows Installer's keys spell it: its groups of digits reversed).
# Wine's msiexec leaves a ";" at the end of PATH where it removed the
# folder; Windows Installer's own keys and folder stay, empty.
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$wxs")
packed_code() {
    local hex=${1//-/} packed= i
    for i in 7 6 5 4 3 2 1 0 11 10 9 8 15 14 13 12; do packed+=${hex:i:1}; done
    for ((i = 16; i < 32; i += 2)); do packed+=${hex:i+1:1}${hex:i:1}; done
    echo "$packed"
}
ours() { grep -i -e lumaleveller -e OpenWithProgids -e "$upgrade_code" -e "$(packed_code "$upgrade_code")" "$@"; }
none_of_ours_left() {
    [[ -z $(comm -3 "$snapshots/before.files" "$snapshots/removed.files" | grep -v '/windows/Installer$') ]] &&
        diff <(ours "$snapshots/before.reg") <(ours "$snapshots/removed.reg")
}
check "msiexec /x: status $status, no file, folder, key or value of ours left ($(ours -c "$snapshots/installed.reg") lines installed)" \
    none_of_ours_left
