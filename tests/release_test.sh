#!/usr/bin/env bash
# The Windows build gives the same bytes from two folders: copies the
# checkout SOURCE into two scratch folders (one with a space in its name),
# runs scripts/windows in each, one after the other, against the warm library
# cache, and compares their zips and installers byte for byte (diffoscope
# shows the differences when installed). Neither the program in the zip nor
# the Linux program LINUX_PROGRAM holds a path of the build machine: the
# checkout, the scratch folders, the library cache. The zip's bill of
# materials is SPDX 2.3 JSON naming every library, and the installer
# installs it.
#
#   release_test.sh SOURCE LINUX_PROGRAM
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
source=$(realpath "$1") linux_program=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cache=${XDG_CACHE_HOME:-$HOME/.cache}/lumaleveller
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(date +%s)}

# Copies the checkout without its build folders and builds there.
build_copy() {
  mkdir -p "$1"
  tar -C "$source" --exclude='./build*' --exclude=./release --exclude=./.git -cf - . | tar -C "$1" -xf - &&
    bash "$1/scripts/windows" >"$1.log" 2>&1 || { tail -n 30 "$1.log"; return 1; }
}

# Compares the files $1 of both builds.
same_bytes() {
  local one=("$scratch"/one/build-windows/package/$1) two=("$scratch"/two\ c/build-windows/package/$1)
  cmp "${one[0]}" "${two[0]}" && return 0
  command -v diffoscope >/dev/null && diffoscope "${one[0]}" "${two[0]}" | head -n 60
  return 1
}

# Fails on, and prints, the build machine's paths in the strings of the
# file $1: those above, and any library cache's folders by their names.
no_build_path() {
  ! strings -a "$1" | grep -F -e "$source" -e "$scratch" -e "$cache" -e "$(dirname "$linux_program")" \
      -e lumaleveller/win64- -e lumaleveller/build-win64-
}

check "the Windows build in one folder" build_copy "$scratch/one"
check "the Windows build in another folder" build_copy "$scratch/two c"
check "the zips are the same bytes" same_bytes 'lumaLeveller-*-win64.zip'
check "the installers are the same bytes" same_bytes 'lumaLeveller-*-win64.msi'

unpacked=$scratch/unpacked
unzip -q "$scratch"/one/build-windows/package/lumaLeveller-*-win64.zip -d "$unpacked"
check "no build path in lumaLeveller.exe" no_build_path "$unpacked"/*/lumaLeveller.exe
check "no build path in the Linux program" no_build_path "$linux_program"
check "the bill of materials names the program and every library, with versions and licences" \
  python3 - "$unpacked"/*/lumaLeveller.spdx.json <<'EOF'
import json, sys
document = json.load(open(sys.argv[1]))
names = {p["name"]: p for p in document["packages"]}
expected = {"lumaLeveller", "libpng1.6", "libjpeg-turbo", "libwebp", "tiff", "openjpeg2", "imath", "openexr",
            "libisal", "opencv", "libz-mingw-w64", "mingw-w64", "gcc-mingw-w64"}
assert document["spdxVersion"] == "SPDX-2.3" and document["documentNamespace"], "document fields"
assert set(names) == expected, sorted(set(names) ^ expected)
unnamed = [n for n, p in names.items() if not p["versionInfo"] or p["licenseDeclared"] in ("", "NOASSERTION")]
assert not unnamed, f"no version or licence: {unnamed}"
links = {r["relatedSpdxElement"] for r in document["relationships"] if r["relationshipType"] == "STATIC_LINK"}
assert links == {p["SPDXID"] for p in names.values() if p["name"] != "lumaLeveller"}, "linked libraries"
EOF
check "a licence text with a clause more than the one it matches is not named" \
  python3 -B - "$source/dist/windows" "$unpacked"/*/licenses/libwebp/COPYING <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import sbom
text = open(sys.argv[2]).read()
assert sbom.recognised_licence([text]) == "BSD-3-Clause"
assert sbom.recognised_licence([text + "\n4. All advertising materials must display this notice.\n"]) is None
EOF
check "every pinned Windows source is listed, and one not served stops the build naming it" \
  env XDG_CACHE_HOME="$scratch/cache" bash -c '
    source "$0/scripts/windows" && update_source_lists && cd "$1"
    for pin in "${pinned_sources[@]}"; do
      [[ $(apt-get "${apt_options[@]}" source --only-source --print-uris -qq "$pin") == *.dsc* ]] ||
        { echo "not listed: $pin"; exit 1; }
    done
    ! fetch_source libpng1.6=0.0-0 2>fetch.err && grep -q "libpng1.6 0.0-0 is not served" fetch.err' \
    "$source" "$scratch"
check "the installer installs the bill of materials" \
  bash -c "msiinfo export \"\$0\" File | grep -q 'lumaLeveller.spdx.json'" "$scratch"/one/build-windows/package/*.msi
finish_checks
