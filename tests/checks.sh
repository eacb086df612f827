# Named checks for the shell tests, sourced by them: each check prints PASS
# or FAIL with its description, and finish_checks ends the test with status
# 1 when any failed.

failures=0

check() { # description command...
    local what=$1
    shift
    if "$@"; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}

finish_checks() {
    if ((failures > 0)); then
        echo "FAIL: $failures check(s) failed"
        exit 1
    fi
    echo "PASS: all checks"
    exit 0
}

# The comparisons the checks share; each says what differed when it fails.
equal() { # actual expected
    [[ $1 == "$2" ]] && return 0
    printf -- '-- got:\n%s\n-- expected:\n%s\n' "$1" "$2"
    return 1
}

contains_all() { # file text...
    local text
    for text in "${@:2}"; do grep -qF "$text" "$1" || return 1; done
}

same_pixels() { # image image: ImageMagick finds no pixel that differs
    equal "$(compare -metric AE "$1" "$2" null: 2>&1)" 0
}

# What the headers of the Windows program $1 say, read from the file
# itself rather than from a tool's description of it, which changes from
# one release to the next: its format (PE32 or PE32+), machine, subsystem,
# and how many COFF symbols and debug sections (.debug*, their long names
# resolved through the string table) it holds, e.g.
# "PE32+ x86-64 console, 0 symbols, 0 debug sections".
pe_headers() {
    python3 - "$1" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
    sys.exit("not a PE file")
machine, sections, _, symtab, symbols, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
optional = pe + 24
magic, subsystem = struct.unpack_from("<H", data, optional)[0], struct.unpack_from("<H", data, optional + 68)[0]
def name(raw):
    raw = raw.rstrip(b"\0")
    if raw.startswith(b"/"):  # a long name: an offset into the string table
        start = symtab + symbols * 18 + int(raw[1:])
        raw = data[start:data.index(b"\0", start)]
    return raw.decode("latin-1")
names = [name(data[offset:offset + 8]) for offset in range(optional + optional_size, optional + optional_size + 40 * sections, 40)]
print({0x10B: "PE32", 0x20B: "PE32+"}.get(magic, hex(magic)), {0x8664: "x86-64", 0x14C: "i386"}.get(machine, hex(machine)),
      {2: "gui", 3: "console"}.get(subsystem, str(subsystem)) + ",", symbols, "symbols,",
      sum(n.startswith(".debug") for n in names), "debug sections")
PYTHON
}

# Standard input, a page that one groff or another rendered, as plain
# text: no terminal escapes for bold and underline (groff 1.23 writes
# them where 1.22 overstrikes; Debian 13's col -b leaves part of each
# escape, so this comes before col), hyphens and minus signs as "-",
# no-break spaces as spaces, curly quotes as straight ones. Runs of spaces
# stay, since they set out the manual page's columns.
plain_text() {
    sed 's/\x1b\[[0-9;]*m//g; s/[‐‑−–]/-/g; s/ / /g; s/[‘’]/'"'"'/g; s/[“”]/"/g'
}

# The options that hardening-check needs to require what a program built
# on this machine can have, and nothing more. Control-flow protection (x86's
# CET marking) only where dpkg-buildflags gives it with hardening=+all and
# the C library's start-up file carries the marking: the linker marks a
# program only when every object in it is marked, and Debian 12's and 13's
# start-up files are not. Branch protection is AArch64's, which Debian 13's
# hardening-check asks of programs of every machine.
hardening_check_options() {
    local startup
    startup=$(g++ -print-file-name=Scrt1.o)
    DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --query-features hardening |
        awk '/^Feature: branch$/ { getline; enabled = $2 == "yes" } END { exit !enabled }' &&
        readelf -n "$startup" | grep -q 'x86 feature: IBT, SHSTK' || echo --nocfprotection
    [[ $(dpkg --print-architecture) != arm64 ]] && hardening-check --help 2>&1 | grep -q -- --nobranchprotection &&
        echo --nobranchprotection
}
