# Checks for the cvcal scripts, sourced by them. They call `c` (defined by the script) and count
# into $checks and $failures.

# check STATUS MESSAGE: one check, failed (MESSAGE printed) when STATUS is not 0.
check() {
    checks=$((checks + 1))
    [ "$1" = 0 ] || { echo "FAIL: $2"; failures=$((failures + 1)); }
}

expect_status() {
    local want=$1 out got
    shift
    out=$(c "$@" 2>&1)
    got=$?
    [ "$got" = "$want" ]
    check $? "cvcal $* exited $got, expected $want: $out"
}

expect_output() {
    local pattern=$1 out
    shift
    out=$(c "$@" 2>&1)
    grep -q -- "$pattern" <<<"$out"
    check $? "cvcal $* did not print '$pattern': $out"
}

# expect_json STATUS PYTHON_EXPRESSION ARGS...: the exit status, and standard output parsed as
# JSON (bound to j) makes the expression true.
expect_json() {
    local want=$1 test=$2 out got
    shift 2
    out=$(c --json "$@" 2>/dev/null)
    got=$?
    [ "$got" = "$want" ] &&
        python3 -c "import json,sys; j=json.loads(sys.argv[1]); sys.exit(0 if ($test) else 1)" \
            "$out" 2>/dev/null
    check $? "cvcal --json $* exited $got (expected $want), '$test' not true of: $out"
}
