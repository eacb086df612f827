# Minimal Debian systems of a given release, for building and testing in a
# clean system of that release whatever the machine's own (sourced after
# setup.sh). A system is made once with mmdebstrap (--variant=minbase, from
# Debian's archive with its updates and security suites) and kept in the
# cache folder, so that the next use starts at once; work that must start
# clean copies it first.
#
#   make_system RELEASE FOLDER    a new minimal Debian RELEASE (12 or 13)
#   cached_system RELEASE         prints the folder of the cached one, made when absent
#   prepared_system RELEASE NAME PACKAGE...
#                                 prints the folder of a cached one with PACKAGEs installed
#   copy_system FROM TO           a copy to change, FROM left as it was
#   run_in_system FOLDER [--bind PATH]... -- COMMAND...
#
# Running in a system needs root (sudo for an ordinary user), as chroot does.

systems_cache=${XDG_CACHE_HOME:-$HOME/.cache}/lumaleveller

# Debian's code name of release $1 (12 or 13).
release_codename() {
  case $1 in
    12) echo bookworm ;;
    13) echo trixie ;;
    *) echo "unsupported Debian release: $1" >&2; return 1 ;;
  esac
}

# The machine's own Debian release: 12 or 13.
host_release() {
  (. /etc/os-release && echo "${VERSION_ID%%.*}")
}

# Makes a minimal Debian $1 in the new folder $2, with the packages $3...
# as well; the folder is left out when making it fails.
make_system() {
  local release=$1 folder=$2 codename mirror=http://deb.debian.org/debian
  shift 2
  codename=$(release_codename "$release")
  install_packages mmdebstrap
  local include=()
  (($# > 0)) && include=(--include="$(IFS=,; echo "$*")")
  echo "making a minimal Debian $release ($codename) in $folder"
  if ! as_root mmdebstrap --quiet --variant=minbase "${include[@]}" "$codename" "$folder" \
         "deb $mirror $codename main" "deb $mirror $codename-updates main" \
         "deb http://deb.debian.org/debian-security $codename-security main"; then
    as_root rm -rf "$folder"
    return 1
  fi
}

# Prints the folder of the cached minimal Debian $1, made first when it is
# absent. One process makes it at a time; a second waits for the first.
cached_system() {
  local release=$1 folder lock
  folder=$systems_cache/debian-$release
  mkdir -p "$systems_cache"
  exec {lock}>"$folder.lock"
  flock "$lock"
  [[ -d $folder ]] || make_system "$release" "$folder" >&2 || { exec {lock}>&-; return 1; }
  exec {lock}>&-
  echo "$folder"
}

# Prints the folder of the minimal Debian $1 with the packages $3...
# installed, kept in the cache as debian-$1-$2: made from a copy of the
# cached minimal system when absent, and made anew when the packages asked
# for are not those it was made with (listed in its
# /etc/lumaleveller-packages). What runs in it changes it: copy it to work
# in a clean one.
prepared_system() {
  local release=$1 name=$2 base folder lock wanted
  shift 2
  base=$(cached_system "$release") || return 1
  folder=$systems_cache/debian-$release-$name
  wanted=$(printf '%s\n' "$@" | sort -u)
  exec {lock}>"$folder.lock"
  flock "$lock"
  if [[ ! -d $folder || $(cat "$folder/etc/lumaleveller-packages" 2>/dev/null) != "$wanted" ]]; then
    echo "preparing $folder with: $*" >&2
    if ! { copy_system "$base" "$folder.new" &&
           run_in_system "$folder.new" -- sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
             apt-get install -y -qq "$@" >/dev/null && apt-get clean' install "$@" >&2 &&
           printf '%s\n' "$wanted" | as_root tee "$folder.new/etc/lumaleveller-packages" >/dev/null &&
           as_root rm -rf "$folder" && as_root mv "$folder.new" "$folder"; }; then
      as_root rm -rf "$folder.new"
      exec {lock}>&-
      return 1
    fi
  fi
  exec {lock}>&-
  echo "$folder"
}

# Copies the system $1 to the new folder $2, keeping owners, modes and
# links (sharing the disk blocks where the file system can).
copy_system() {
  as_root rm -rf "$2"
  as_root cp -a --reflink=auto "$1" "$2"
}

# Runs a command as root in the system FOLDER, with the machine's /proc,
# /sys and /dev, its name servers, and each PATH of the machine at the same
# path inside: in a mount namespace of its own, so that nothing stays
# mounted when the command ends, whatever way it ends. The system's folder
# is bound on itself, so that its / is a mount point, as tools that make
# or enter systems of their own in it (mmdebstrap, unshare) need. The command starts
# with a plain environment (CI and SOURCE_DATE_EPOCH passed on) in /.
run_in_system() {
  local system=$1 binds=()
  shift
  while [[ $1 == --bind ]]; do
    binds+=("$(realpath "$2")")
    shift 2
  done
  [[ $1 == -- ]] && shift
  as_root unshare --mount --propagation private --fork bash -c '
    set -e
    system=$1 count=$2
    shift 2
    mount --bind "$system" "$system"
    mount -t proc proc "$system/proc"
    mount -t sysfs sysfs "$system/sys"
    mount --rbind /dev "$system/dev"
    for ((i = 0; i < count; i++)); do
      mkdir -p "$system$1"
      mount --bind "$1" "$system$1"
      shift
    done
    cp -L /etc/resolv.conf "$system/etc/resolv.conf"
    cd "$system"
    exec chroot "$system" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      LANG=C.UTF-8 TERM=dumb ${CI:+CI=$CI} ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH} "$@"
  ' run_in_system "$system" "${#binds[@]}" "${binds[@]}" "$@"
}
