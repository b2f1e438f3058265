# Sourced by the Wine tests after run and fail are defined: hold SECONDS has
# the hold_mutex program ($holder) hold Global\Tessary that long, in the
# background, and returns once it holds it; hold_file PATH SECONDS holds the
# file of that Windows path open with no sharing instead. The holder runs
# through $hold_with, run unless the test says otherwise.
hold() { hold_object 'Global\Tessary' "$@"; }
hold_file() { hold_object "$1" "$2" file; }
hold_object() {
  rm -f held.txt
  "${hold_with:-run}" "$holder" "$@" >held.txt 2>&1 &
  for _ in $(seq 100); do grep -q held held.txt 2>/dev/null && return 0; sleep 0.1; done
  fail "hold_mutex did not take $1: $(cat held.txt)"
}
