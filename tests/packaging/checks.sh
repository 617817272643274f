# Shared by the package rounds: named checks, each failure shown with its output.
checks_passed=0
checks_failed=0

# check NAME COMMAND...: runs the command quietly; a failure prints its output.
check() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    checks_passed=$((checks_passed + 1))
    echo "ok: $name"
  else
    checks_failed=$((checks_failed + 1))
    echo "FAILED: $name"
    [ -z "$out" ] || sed 's/^/    /' <<<"$out" | head -20
  fi
}

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

checks_end() {
  echo "$checks_passed passed, $checks_failed failed"
  [ "$checks_failed" -eq 0 ]
}
