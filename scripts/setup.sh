# Shared set-up for scripts/run and scripts/test, sourced by both: installs
# the Debian packages that are missing and builds the project in Release.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"

# What building and running lumaLeveller needs (jemalloc is its memory
# allocator, ISA-L the deflate of its PNG writer, zlib the writer's
# checksums and its colour profile's deflate, the JPEG, PNG, TIFF and WebP
# libraries the reading of a photo's colour profile, dpkg-buildflags of
# dpkg-dev the release's hardening flags); a CJK font so the Chinese texts of
# the completion notice show as characters, not boxes. The same names on
# Debian 12 and 13.
runtime_packages=(cmake g++ make pkg-config dpkg-dev libopencv-dev qtbase5-dev libjemalloc-dev libisal-dev zlib1g-dev
  libjpeg-dev libpng-dev libtiff-dev libwebp-dev fonts-wqy-zenhei)

# Installs those of the given packages that are not installed yet, through
# sudo when not run as root. Quick when nothing is missing.
install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0

  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "installing ${missing[*]} needs root or sudo" >&2; return 1; }
    sudo=(sudo)
  fi
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  # Through env, since sudo clears the variables it is not told to keep.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Configures the build folder DIRECTORY (Release unless the arguments say
# otherwise) and builds TARGET there; extra arguments go to the configure
# step.
build_project() {
  local directory=$1 target=$2
  shift 2
  cmake -S "$root" -B "$directory" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$directory" --target "$target" -j "$(nproc)"
}

# Runs a command as root: directly, or through sudo when not root.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}
