#!/usr/bin/env bash
# Checks tools/bench-check against a stand-in for tools/wine-run: the programs run at once (each
# stand-in waits until all have started, so one run after another would not get past the
# first), each once at the shortest time with its output in its log, and one that fails is
# named and fails the whole while the others still run.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/runner" <<'FAKE'
#!/usr/bin/env bash
# PROGRAM [ARGS]: starts, waits (up to 20 s) for every program of the run to have started.
name=$(basename "$1" .exe)
shift
touch "$STARTED/$name"
for _ in $(seq 200); do
  [ "$(ls "$STARTED" | wc -l)" -ge "$EXPECT" ] && break
  sleep 0.1
done
[ "$(ls "$STARTED" | wc -l)" -ge "$EXPECT" ] || { echo "$name ran alone"; exit 3; }
echo "$name ran with: $*"
[ "$name" = "${FAIL:-}" ] && exit 7
exit 0
FAKE
chmod +x "$work/runner"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run_check() { # FAIL-NAME -> prints the status; output in $work/out
  rm -rf "$work/started" "$work/bench"
  mkdir -p "$work/started" "$work/bench"
  for p in one two three; do : >"$work/bench/$p.exe"; done
  STARTED=$work/started EXPECT=3 FAIL=$1 QUARN_WINE_RUN=$work/runner \
    timeout 60 "$root/tools/bench-check" "$work/bench/one.exe" "$work/bench/two.exe" "$work/bench/three.exe" \
    >"$work/out" 2>&1
  echo $?
}

# All pass: each ran beside the others, once, at the shortest time, into its own log.
status=$(run_check "")
[ "$status" = 0 ] || fail "all passing: status $status, want 0: $(cat "$work/out")"
for p in one two three; do
  grep -qx "$p ran with: --benchmark_min_time=0" "$work/bench/$p.emulated.log" 2>/dev/null ||
    fail "all passing: $p's log: $(cat "$work/bench/$p.emulated.log" 2>/dev/null)"
  grep -q "== $work/bench/$p.exe ran under emulation" "$work/out" || fail "all passing: $p not reported"
done

# One fails: the status says so, that program is named, and the others still ran and passed.
status=$(run_check two)
[ "$status" = 1 ] || fail "one failing: status $status, want 1"
grep -q "== $work/bench/two.exe FAILED under emulation (exit status 7)" "$work/out" ||
  fail "one failing: the failing program is not named: $(cat "$work/out")"
for p in one three; do
  grep -q "== $work/bench/$p.exe ran under emulation" "$work/out" || fail "one failing: $p not reported as passing"
done

# No program at all is a mistake, not a pass.
"$root/tools/bench-check" >/dev/null 2>&1 && fail "no programs: status 0"

if [ "$failures" = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
