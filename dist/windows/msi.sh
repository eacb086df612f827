#!/usr/bin/env bash
# Builds the Windows installer from the files of the Windows zip with
# msitools (wixl, wixl-heat, msibuild), icoutils (wrestool), faketime and
# python3:
#
#   msi.sh FOLDER VERSION MSI
#
# FOLDER holds what the zip holds (lumaLeveller.exe, README.txt,
# LICENSE.txt, NOTICE.txt, licenses/); VERSION is the project's, three
# numbers; MSI is the file to write. lumaLeveller.wxs says what it
# installs. scripts/windows runs it beside cpack; the Wine test runs it for
# other versions, to install over the built one.
#
# The same files and version make the same bytes: the product code and the
# package code are UUIDs derived from the version and the files' contents,
# and every time in the file (summary information, the cabinet's file
# times) is SOURCE_DATE_EPOCH (now when unset): the tools run under
# faketime, on copies of the files that carry that time.
set -euo pipefail

folder=$(realpath "$1") version=$2 msi=$(realpath "$3")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every image type the Windows build reads (README.txt lists them):
# "Open with" offers the program for them.
extensions=(.jpg .jpeg .jpe .png .bmp .dib .tif .tiff .webp .jp2 .exr .pbm .pgm .ppm .pnm .pam .pfm .sr .ras
            .hdr .pic)

# The types as registry values of one component: the application's
# SupportedTypes and each type's OpenWithProgids, which lists the program
# beside the type's default without changing it.
extension_fragment() {
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment><DirectoryRef Id="INSTALLDIR">'
  echo '<Component Id="Extensions" Guid="60944CA4-94B0-4CD3-A85A-B864371D0009" Win64="yes">'
  local extension
  for extension in "${extensions[@]}"; do
    echo "<RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\Applications\\lumaLeveller.exe\\SupportedTypes\"
            Name=\"$extension\" Type=\"string\" Value=\"\"/>"
    echo "<RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\$extension\\OpenWithProgids\"
            Name=\"lumaLeveller.Image\" Type=\"string\" Value=\"\"/>"
  done
  echo '</Component></DirectoryRef>'
  echo '<ComponentGroup Id="Extensions"><ComponentRef Id="Extensions"/></ComponentGroup></Fragment></Wix>'
}

# The system PATH, which wixl 0.101 cannot write: an Environment table row
# that appends the folder at install (=), removes it at uninstall (-), in
# the system's environment (*), with the actions that apply it.
add_path_entry() {
  printf '%s\r\n' $'Environment\tName\tValue\tComponent_' $'s72\tl255\tL255\ts72' $'Environment\tEnvironment' \
    $'PATH\t=-*PATH\t[~];[INSTALLDIR]\tProgram' >"$work/Environment.idt"
  (cd "$work" && "${timed[@]}" msibuild "$msi" -i Environment.idt \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)")
}

# A UUID derived from the installer's UpgradeCode and the text $1.
derived_uuid() {
  python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    B32DE645-28B4-4B1B-AF4E-A865E49D3F51 "$1"
}

# wixl takes sources by relative paths only: it runs in the work folder,
# where files/ is a copy of the zip's folder.
epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
cp -r "$folder" "$work/files"
find "$work/files" -exec touch -h -d "@$epoch" {} +
contents=$(cd "$work/files" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -c1-64)
product_code=$(derived_uuid "product $version $contents")
package_code=$(derived_uuid "package $version $contents")
timed=(env TZ=UTC NO_FAKE_STAT=1 faketime "@$epoch")
wrestool -x --type=14 -o "$work/lumaLeveller.ico" "$folder/lumaLeveller.exe"
(cd "$folder" && find licenses -type f | LC_ALL=C sort) |
  wixl-heat --directory-ref LicensesFolder --component-group Licenses --var var.Licenses -p licenses/ --win64 |
  # wixl-heat names the directories at random: numbered in order instead.
  perl -pe 's/Directory Id="dir[0-9A-F]+"/sprintf(q{Directory Id="LicensesFolder%d"}, ++$n)/ge' >"$work/Licenses.wxs"
extension_fragment >"$work/Extensions.wxs"
(cd "$work" && "${timed[@]}" wixl -a x64 -D ProductCode="$product_code" -D Version="$version" -D Folder=files -D Icon=lumaLeveller.ico -D Licenses=files/licenses \
  -D Win64=yes -o "$msi" "$here/lumaLeveller.wxs" Extensions.wxs Licenses.wxs)
add_path_entry
# The package code (the summary's revision number), with the summary
# fields that wixl wrote.
"${timed[@]}" msibuild "$msi" -s "lumaLeveller $version" Lumaclear "x64;1033" "{$package_code}"
