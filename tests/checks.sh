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
