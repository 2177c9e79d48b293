# Checks for the cvcal scripts, sourced by them. They call `c` (defined by the script) and count
# into $checks and $failures.

expect_status() {
    local want=$1
    shift
    checks=$((checks + 1))
    local out
    out=$(c "$@" 2>&1)
    local got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL: cvcal $* exited $got, expected $want: $out"
        failures=$((failures + 1))
    fi
}

expect_output() {
    local pattern=$1
    shift
    checks=$((checks + 1))
    local out
    out=$(c "$@" 2>&1)
    if ! grep -q -- "$pattern" <<<"$out"; then
        echo "FAIL: cvcal $* did not print '$pattern': $out"
        failures=$((failures + 1))
    fi
}
