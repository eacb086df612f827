# The zip's contents and the program file's imports and resources;
# sourced by windows_test.sh, which unpacked the zip.

echo "== zip"
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: \(.*\)\.dll$/\1/ip' | tr A-Z a-z | xargs)
only_system_dlls() { local dll; for dll in $dlls; do [[ $system_dlls == *" $dll "* ]] || return 1; done; }
check "one folder named after the zip" equal "${unpacked##*/}" "$(basename "$zip" .zip)"
check "a stripped x86-64 console program" equal "$(pe_headers "$exe")" "PE32+ x86-64 console, 0 symbols, 0 debug sections"
check "imports Windows' own DLLs only: $dlls" only_system_dlls
check "README.txt with CR LF line ends" bash -c "! grep -q \$'[^\\r]\$' '$unpacked/README.txt'"
check "licence texts of the program and every library" bash -c "cd '$unpacked/licenses' && ls ../LICENSE.txt \
    ../NOTICE.txt opencv libpng1.6 libjpeg-turbo libwebp tiff openjpeg2 imath openexr libisal libz-mingw-w64-dev mingw-w64-x86-64-dev gcc-mingw-w64-base >/dev/null"

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
