# Awkward inputs under Wine, without a display, against the Linux build's:
# JPEGs cut short, a long path, a JPEG with a colour profile, JPEG 2000 and
# OpenEXR; sourced by windows_test.sh after windows_runs.sh, which made
# inputs/base.png.

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
for input in "$scratch"/inputs/cut-*.jpg "$scratch/$long/page.jpg"; do
    name=${input##*/inputs/} name=${name:0:40} name=${name//\//}
    DISPLAY= run_exe "$name" "$(windows_path "$input")"
    check "$name: the same pixels as the Linux build's, or no result from either" same_as_linux "$name" "$input"
    check "$name: status $status, as the Linux build's" equal "$status" "$linux_status"
done
check "a path of $(windows_path "$scratch/$long/page.jpg" | wc -c) characters: read (status $status)" equal "$status" "$status_not_shown"

echo "== a JPEG with a colour profile: the Linux build's file, byte for byte"
(cd "$scratch/inputs" && convert base.png -profile /usr/share/color/icc/colord/AdobeRGB1998.icc profile.jpg) || exit 1
DISPLAY= run_exe profile.jpg ../../inputs/profile.jpg
check "profile.jpg: status 3 ($status)" equal "$status" "$status_not_shown"
check "profile.jpg: the Linux build's pixels" same_as_linux profile.jpg
check "profile.jpg: the Linux build's result keeps the profile" \
    bash -c "pngcheck -v '$scratch/linux-profile.jpg/$output_name' | grep -q iCCP"
check "profile.jpg: the same bytes as the Linux build's" cmp "$dir/$output_name" "$scratch/linux-profile.jpg/$output_name"

if [[ -n ${FORMAT_SAMPLES:-} ]]; then
    echo "== JPEG 2000 and OpenEXR against the Linux build's"
    # Without a display the run ends with status 3 once the result is written.
    # The OpenEXR reader takes file names as UTF-8, the others as ANSI: a
    # name in code page 936 too.
    "$FORMAT_SAMPLES" "$scratch/inputs" && cp "$scratch/inputs/half.exr" "$scratch/inputs/照片.exr"
    for name in colour8.jp2 grey8.jp2 colour16.jp2 grey16.jp2 half.exr float.exr grey-half.exr 照片.exr; do
        DISPLAY= run_exe "$name" "../../inputs/$name"
        check "$name: status 3 ($status), $output_name alone" \
            bash -c "[[ $status == $status_not_shown && \$(ls -A '$dir') == $output_name ]]"
        check "$name: same pixels as the Linux build's" same_as_linux "$name"
    done
fi
