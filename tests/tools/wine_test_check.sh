#!/usr/bin/env bash
# Checks tools/wine-test against a stand-in for tools/wine-run that behaves as a GoogleTest
# executable of four tests, Case.A to Case.D, and ends its process in the test named by DIE_IN.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
# The processes the stand-in left behind are ended by their ids, then the folder goes.
export LEFT=$work/left
: >"$LEFT"
end_left_behind() {
  local pid
  while read -r pid; do kill "$pid" 2>/dev/null; done <"$LEFT"
  rm -rf "$work"
}
trap end_left_behind EXIT

cat >"$work/runner" <<'FAKE'
#!/usr/bin/env bash
# [--instead-of-32] EXE [--gtest_filter=POSITIVE[-NEGATIVE]]
[ "$1" = --instead-of-32 ] && shift
[ "${SKIP:-0}" = 1 ] && exit 77
filter=*
for a in "$@"; do case $a in --gtest_filter=*) filter=${a#--gtest_filter=} ;; esac; done
positive=${filter%%-*}
negative=
case $filter in *-*) negative=${filter#*-} ;; esac
echo "run" >>"$LOG"
[ -n "${LANES_LOG:-}" ] && echo "$QUARN_LANE" >>"$LANES_LOG"
# A runner that leaves a process behind (as Wine leaves its server and services, and Xvfb its
# display, for the next run) must not leave the lane held with it.
# Its id goes to LEFT, so that the check ends that process and no other.
[ "${LEAVE_BEHIND:-0}" = 1 ] && { sleep 30 </dev/null >/dev/null 2>&1 & echo $! >>"$LEFT"; }
ran=0
for t in Case.A Case.B Case.C Case.D; do
  [ "$positive" = "*" ] || [[ ":$positive:" == *":$t:"* ]] || continue
  [[ ":$negative:" == *":$t:"* ]] && continue
  echo "[ RUN      ] $t"
  echo "$t" >>"$LOG"
  [ "$t" = "${DIE_IN:-}" ] && exit 134
  if [ "$t" = "${FAIL_IN:-}" ]; then echo "[  FAILED  ] $t (1 ms)"; failed=1; else echo "[       OK ] $t (1 ms)"; fi
  ran=$((ran + 1))
done
echo "[==========] $ran tests from 1 test suite ran. (1 ms total)"
exit ${failed:-${EXIT_AFTER:-0}}
FAKE
chmod +x "$work/runner"

# A copy of the runner in a tree of its own: its lanes' locks are not those real tests hold.
mkdir -p "$work/tree/tools"
cp "$root/tools/wine-test" "$work/tree/tools/"
wine_test=$work/tree/tools/wine-test
failures=0
check() { # NAME EXPECTED-STATUS EXPECTED-RUNS [wine-test args...] (environment set by the caller)
  local name=$1 want_status=$2 want_runs=$3 status runs
  shift 3
  : >"$work/log"
  LOG=$work/log QUARN_WINE_RUN=$work/runner "$wine_test" "$@" >"$work/out" 2>&1
  status=$?
  runs=$(paste -sd' ' "$work/log")
  if [ "$status" != "$want_status" ] || [ "$runs" != "$want_runs" ]; then
    echo "FAIL $name: status $status (want $want_status), runs '$runs' (want '$want_runs')"
    sed 's/^/  | /' "$work/out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check "all pass" 0 "run Case.A Case.B Case.C Case.D" test.exe
FAIL_IN=Case.C check "a failure is reported" 1 "run Case.A Case.B Case.C Case.D" test.exe
DIE_IN=Case.B check "a death costs one test" 1 "run Case.A Case.B run Case.C Case.D" test.exe
DIE_IN=Case.D check "a death in the last test" 1 "run Case.A Case.B Case.C Case.D run" test.exe
DIE_IN=Case.C check "the given filter is kept" 1 "run Case.A Case.C run Case.D" test.exe \
  --gtest_filter=Case.A:Case.C:Case.D
DIE_IN=Case.B check "a given negative filter is kept" 1 "run Case.A Case.B run Case.D" \
  --instead-of-32 test.exe --gtest_filter=*-Case.C
SKIP=1 check "skipped where it cannot run" 77 "" test.exe
EXIT_AFTER=3 check "a bad status after passing tests fails" 1 "run Case.A Case.B Case.C Case.D" test.exe
DIE_IN=Case.B LOG=$work/log QUARN_WINE_RUN=$work/runner "$wine_test" test.exe 2>&1 |
  grep -q 'the process died in 1 test(s): Case.B' || { echo "FAIL the dying test is not named"; failures=$((failures + 1)); }
# Two tests in one lane, one after the other: the first leaves a process behind.
LEAVE_BEHIND=1 check "a process left behind keeps no lane" 0 "run Case.A Case.B Case.C Case.D" test.exe
if ! LOG=$work/log QUARN_WINE_RUN=$work/runner timeout 10 "$wine_test" test.exe >/dev/null 2>&1; then
  echo "FAIL the next test in the lane waited for a process the one before left behind"
  failures=$((failures + 1))
fi
# Lanes. hold LANE: keeps a lane's lock as a run in it would, until release LANE.
holders=()
hold() {
  mkdir -p "$work/tree/.run"
  (exec 9>"$work/tree/.run/lane$1.lock" && flock 9 && exec sleep 60) &
  holders[$1]=$!
  while flock -n "$work/tree/.run/lane$1.lock" true; do sleep 0.1; done
}
release() { kill "${holders[$1]}" 2>/dev/null; wait "${holders[$1]}" 2>/dev/null; }
lanes_check() { # NAME EXPECTED-LANE (environment set by the caller)
  : >"$work/lanes"
  LANES_LOG=$work/lanes LOG=$work/log QUARN_WINE_RUN=$work/runner timeout 20 "$wine_test" test.exe >/dev/null 2>&1
  if [ "$(paste -sd' ' "$work/lanes")" = "$2" ]; then echo "ok   $1"; else
    echo "FAIL $1: ran in lane '$(paste -sd' ' "$work/lanes")' (want $2)"
    failures=$((failures + 1))
  fi
}
lanes_check "without lanes, lane 0" 0
QUARN_LANES=3 lanes_check "the first lane when all are free" 0
hold 0
QUARN_LANES=3 lanes_check "the first free lane" 1
QUARN_LANES=3 QUARN_LANE=2 lanes_check "a given lane" 2
# Every lane held: the run waits, and takes the first lane that comes free.
hold 1
: >"$work/lanes"
LANES_LOG=$work/lanes LOG=$work/log QUARN_WINE_RUN=$work/runner QUARN_LANES=2 \
  timeout 20 "$wine_test" test.exe >/dev/null 2>&1 &
waiter=$!
sleep 2
if [ -s "$work/lanes" ]; then
  echo "FAIL a run started in a lane another run held"
  failures=$((failures + 1))
fi
release 1
wait $waiter
if [ "$(cat "$work/lanes")" = 1 ]; then echo "ok   every lane held: waits for one"; else
  echo "FAIL every lane held: ran in lane '$(cat "$work/lanes")' (want 1, once freed)"
  failures=$((failures + 1))
fi
release 0
QUARN_LANE=x LOG=$work/log QUARN_WINE_RUN=$work/runner "$wine_test" test.exe >/dev/null 2>&1
[ $? = 1 ] && echo "ok   a bad lane is refused" || { echo "FAIL a bad lane is not refused"; failures=$((failures + 1)); }
[ "$failures" = 0 ]
