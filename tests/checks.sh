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

# Standard input with the typographic variants that one groff or another
# gives plain characters their plain form: hyphens and minus signs as "-",
# no-break spaces as spaces, curly quotes as straight ones. Runs of spaces
# stay, since they set out the manual page's columns.
plain_text() {
    sed 's/[‐‑−–]/-/g; s/ / /g; s/[‘’]/'"'"'/g; s/[“”]/"/g'
}

# The options that hardening-check needs to require what this release's
# dpkg-buildflags gives with hardening=+all, and nothing more: control-flow
# protection only where it is given (Debian 13, not 12, whose C start-up
# files carry no CET marking, so that no program linked with them has it).
hardening_check_options() {
    DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --query-features hardening |
        awk '/^Feature: branch$/ { getline; enabled = $2 == "yes" } END { exit !enabled }' || echo --nocfprotection
}
