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

# expect_json STATUS PYTHON_EXPRESSION ARGS...: the exit status, and standard output parsed as
# JSON (bound to j) makes the expression true.
expect_json() {
    local want=$1 test=$2
    shift 2
    checks=$((checks + 1))
    local out got
    out=$(c --json "$@" 2>/dev/null)
    got=$?
    if [ "$got" != "$want" ] ||
        ! python3 -c "import json,sys; j=json.loads(sys.argv[1]); sys.exit(0 if ($test) else 1)" \
            "$out" 2>/dev/null; then
        echo "FAIL: cvcal --json $* exited $got (expected $want), '$test' not true of: $out"
        failures=$((failures + 1))
    fi
}
