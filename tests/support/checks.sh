# Sourced by the shell tests: fail records a failed check and goes on, so
# that one run reports every check that failed; the test then ends with
# [ "$failures" -eq 0 ] || exit 1.
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
