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

# A lane of its own, so that the check never waits for the lanes real tests hold.
export CTEST_RESOURCE_GROUP_0_LANES=id:99,slots:1
failures=0
check() { # NAME EXPECTED-STATUS EXPECTED-RUNS [wine-test args...] (environment set by the caller)
  local name=$1 want_status=$2 want_runs=$3 status runs
  shift 3
  : >"$work/log"
  LOG=$work/log QUARN_WINE_RUN=$work/runner "$root/tools/wine-test" "$@" >"$work/out" 2>&1
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
DIE_IN=Case.B LOG=$work/log QUARN_WINE_RUN=$work/runner "$root/tools/wine-test" test.exe 2>&1 |
  grep -q 'the process died in 1 test(s): Case.B' || { echo "FAIL the dying test is not named"; failures=$((failures + 1)); }
# Two tests in one lane, one after the other: the first leaves a process behind.
LEAVE_BEHIND=1 check "a process left behind keeps no lane" 0 "run Case.A Case.B Case.C Case.D" test.exe
if ! LOG=$work/log QUARN_WINE_RUN=$work/runner timeout 10 "$root/tools/wine-test" test.exe >/dev/null 2>&1; then
  echo "FAIL the next test in the lane waited for a process the one before left behind"
  failures=$((failures + 1))
fi
[ "$failures" = 0 ]
