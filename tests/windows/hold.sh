# Sourced by the Wine tests after run and fail are defined: hold SECONDS has
# the hold_mutex program ($holder) hold Global\Tessary that long, in the
# background, and returns once it holds it.
hold() {
  rm -f held.txt
  run "$holder" 'Global\Tessary' "$@" >held.txt 2>&1 &
  for _ in $(seq 100); do grep -q held held.txt 2>/dev/null && return 0; sleep 0.1; done
  fail "hold_mutex did not take Global\\Tessary: $(cat held.txt)"
}
