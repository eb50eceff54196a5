# Shared by the packaging checks: a failure names what was expected.
failures=0
check() {
    # check DESCRIPTION COMMAND...: counts a failure when COMMAND fails
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}
finish() {
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
}
set_up() {
    # set_up COMMAND...: a fixture that did not come about ends the test
    "$@" || { echo "FAILED: set-up: $*" >&2; exit 1; }
}
