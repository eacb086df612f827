#!/usr/bin/env bash
# Builds the Debian package with cpack into BUILD/package and checks it: the
# file list, the control fields, Debian's package checker lintian, the
# changelog, the desktop entry and the manual page, then unpacks it into a
# scratch root with dpkg -x (never into the machine's own /usr), checks the
# binary's hardening and runs that copy: the usage texts and status, and
# one small image of every type the desktop entry offers to open.
#
#   bash package_test.sh CPACK BUILD VERSION
set -u
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

if (($# != 3)); then
    echo "usage: bash $0 CPACK BUILD VERSION" >&2
    exit 2
fi
cpack=$1 build=$2 version=$3
readonly package_dir=$build/package
readonly deb=$package_dir/lumaleveller_${version}_$(dpkg --print-architecture).deb
readonly expected_files='./usr/bin/lumaLeveller
./usr/libexec/lumaleveller/open
./usr/share/applications/lumaleveller.desktop
./usr/share/doc/lumaleveller/changelog.gz
./usr/share/doc/lumaleveller/copyright
./usr/share/icons/hicolor/scalable/apps/lumaleveller.svg
./usr/share/man/man1/lumaLeveller.1.gz'
# The program's texts as bash assignments (the build's tests/texts.sh).
source "${LUMALEVELLER_TEXTS:?names the texts of the program as bash assignments (tests/CMakeLists.txt)}"
readonly usage_output="$banner"$'\n\n'"$usage"$'\n\n'

# An image file of each type the desktop entry may list: MIME type, file
# name extension, ImageMagick options. ImageMagick writes true-colour Sun
# rasters in a variant the library refuses; the classic palette one is read.
readonly samples='image/bmp bmp
image/jpeg jpg
image/png png
image/tiff tif
image/webp webp
image/jp2 jp2
image/x-jp2-codestream j2k
image/x-exr exr
image/x-portable-bitmap pbm
image/x-portable-graymap pgm
image/x-portable-pixmap ppm
image/x-portable-anymap pnm
image/x-sun-raster sun -type Palette'

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
manual_page=$root/usr/share/man/man1/lumaLeveller.1.gz

matches() { [[ $1 =~ $2 ]] || { echo "-- got: $1"; return 1; }; }

# Built under an ordinary user's usual umask (002), whoever runs the test,
# so that lintian sees the package's folder modes as such a user makes them.
build_package() {
    rm -rf "$package_dir"
    (umask 002 && timeout 120 "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$package_dir") >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log"; return 1; }
    equal "$(cd "$package_dir" && ls -- *.deb)" "${deb##*/}"
}

packaged_files() { dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort; }

field() { dpkg-deb -f "$deb" "$1"; }

desktop_key() { sed -n "s/^$1=//p" "$root/usr/share/applications/lumaleveller.desktop"; }

# The manual page, rendered on lines long enough to hold each text whole.
manual() { zcat "$manual_page" | groff -man -Tutf8 -rLL=300n 2>/dev/null | plain_text | col -bx; }

manual_renders_quietly() {
    local warnings
    warnings=$(zcat "$manual_page" | groff -man -ww -z 2>&1) && equal "$warnings" ""
}

# lintian with its pedantic and informational tags. Any error or warning
# fails, and so does a tag of any level from its hardening or manual page
# checks; the other tags that remain are listed.
lintian_accepts() {
    local out status failing
    out=$(timeout 120 lintian --info --display-info --pedantic --fail-on error,warning "$deb" 2>&1)
    status=$?
    failing=$(awk '/^[EWIPX]: / { tag = $0 } /^N: +Check: (binaries\/hardening|documentation\/manual)$/ { print tag }' \
        <<<"$out")
    if ((status != 0)) || [[ -n $failing ]]; then
        printf '%s\n-- status %d; failing: %s\n' "$out" "$status" "${failing:-(levels)}"
        return 1
    fi
    grep -E '^[EWIPX]: ' <<<"$out" | sed 's/^/-- lintian /'
    return 0
}

# The copyright file parses as machine-readable (DEP-5), which lintian
# checks only in source packages, and puts every file under Apache-2.0.
copyright_is_dep5_apache() {
    /usr/bin/python3 - "$root/usr/share/doc/lumaleveller/copyright" <<'EOF'
import sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as file:
    licences = {p.license.synopsis for p in Copyright(file, strict=True).all_files_paragraphs()}
sys.exit(licences != {"Apache-2.0"} and f"-- licences: {licences}")
EOF
}

# The latest entry of the packaged changelog is this version.
changelog_names_version() {
    equal "$(zcat "$root/usr/share/doc/lumaleveller/changelog.gz" | dpkg-parsechangelog -l - -S Version)" "$version"
}

# Every console text of the program, and every exit status, as texts.sh
# gives them, must be in the manual page.
manual_has_every_text_and_status() {
    local page text code missing=()
    page=$(manual) || return 1
    for text in "$usage" "$read_error" "$write_error" "$show_error" "$processing_error_prefix"; do
        [[ $page == *"$text"* ]] || missing+=("text '$text'")
    done
    for code in $exit_statuses; do
        grep -q "^ *$code  " <<<"$(sed -n '/^EXIT STATUS/,/^FILES/p' <<<"$page")" || missing+=("status $code")
    done
    (($(wc -w <<<"$exit_statuses") >= 6)) && equal "${missing[*]}" ""
}

icon_is_svg() { equal "$(identify -format '%m %wx%h' "$root/usr/share/icons/hicolor/scalable/apps/$(desktop_key Icon).svg")" "SVG 64x64"; }

usage_path() {
    local out status
    out=$(cd "$scratch" && env -u DISPLAY timeout -k 5 20 "$root/usr/bin/lumaLeveller" </dev/null; echo "status $?")
    equal "$out" "${usage_output}status $status_wrong_arguments"
}

# The type's sample, written by ImageMagick, is read by the unpacked
# program: without a display the run ends with status 3 after saving the
# result.
opens() { # MIME type
    local type=$1 line extension options status
    line=$(grep "^$type " <<<"$samples") || { echo "-- no sample for $type"; return 1; }
    read -r _ extension options <<<"$line"
    grep -q "^[0-9]*:$type:\*\.$extension$" /usr/share/mime/globs2 || { echo "-- *.$extension is not $type"; return 1; }
    rm -rf "$scratch/work" && mkdir "$scratch/work"
    # shellcheck disable=SC2086 # options are words
    convert -size 40x30 gradient:orange-navy $options "$extension:$scratch/sample.$extension" || return 1
    (cd "$scratch/work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        timeout -k 5 20 "$root/usr/bin/lumaLeveller" "$scratch/sample.$extension" </dev/null >/dev/null 2>&1)
    status=$?
    equal "status $status, $(ls -A "$scratch/work")" "status $status_not_shown, $output_name"
}

check "cpack builds ${deb##*/}" build_package
[[ -f $deb ]] || { echo "FAIL: no package to check"; exit 1; }
echo "-- $(stat -c %s "$deb") bytes"
check "the package holds exactly the installed files" equal "$(packaged_files)" "$expected_files"
check "package name, version and section" equal "$(field Package) $(field Version) $(field Section)" \
    "lumaleveller $version graphics"
check "the version names the Debian release it is built on" matches "$(field Version)" \
    "^[0-9.]+\\+deb$(. /etc/os-release && echo "$VERSION_ID")\$"
check "maintainer and description are given" matches "$(field Maintainer)|$(field Description)" '^.+ <.+@.+>\|.+'
check "Depends is worked out from the binary (OpenCV, Qt, C library)" matches "$(field Depends)" \
    'libc6 \(.*libopencv-highgui[0-9]+.*libopencv-imgcodecs[0-9]+.*libqt5widgets5'
check "the CJK font of the notice is recommended" equal "$(field Recommends)" fonts-wqy-zenhei
check "lintian accepts the package" lintian_accepts

dpkg -x "$deb" "$root"
check "the copyright file is DEP-5 with the Apache-2.0 licence" copyright_is_dep5_apache
check "the changelog's latest entry is version $version" changelog_names_version
check "hardening-check passes the program" hardening-check $(hardening_check_options) "$root/usr/bin/lumaLeveller"
check "the desktop entry is valid" desktop-file-validate "$root/usr/share/applications/lumaleveller.desktop"
check "the desktop entry opens one file with the launcher, in a terminal" \
    equal "$(desktop_key Exec) $(desktop_key Terminal)" "/usr/libexec/lumaleveller/open %f true"
check "the icon it names is an SVG in the package" icon_is_svg
check "the manual page renders without warnings" manual_renders_quietly
check "the manual page gives every text and exit status" manual_has_every_text_and_status
check "the unpacked program prints the usage texts and ends with status 8" usage_path

IFS=';' read -ra types <<<"$(desktop_key MimeType)"
check "the desktop entry lists image types" test "${#types[@]}" -gt 0
for type in "${types[@]}"; do
    check "the unpacked program opens $type" opens "$type"
done

finish_checks
