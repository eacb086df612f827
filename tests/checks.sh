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
