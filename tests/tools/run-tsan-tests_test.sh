#!/usr/bin/env bash
# tools/run-tsan-tests over stand-in programs that pass, fail, and are stopped in the
# middle of a test: it ends with a summary naming each program and its failing tests, and
# fails; the stopped program's log still shows which test it was in.
# Usage: run-tsan-tests_test.sh source-dir
set -euo pipefail
src=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/tests"
program() {  # name exit-code output-lines...
  local name=$1 rc=$2
  shift 2
  { echo '#!/bin/sh'; printf "echo '%s'\n" "$@"; echo "exit $rc"; } >"$fake/tests/$name"
  chmod +x "$fake/tests/$name"
}
program quiet_test 0 '[==========] Running 1 test from 1 test suite.' '[----------] 1 test from Quiet' \
  '[ RUN      ] Quiet.One' '[       OK ] Quiet.One (1 ms)' '[----------] 1 test from Quiet (1 ms total)' '' \
  '[==========] 1 test from 1 test suite ran. (1 ms total)' '[  PASSED  ] 1 test.'
program failing_test 1 '[ RUN      ] Fail.One' 'failing_test.cpp:9: Failure' '[  FAILED  ] Fail.One (2 ms)' \
  '[ RUN      ] Cases/Fail.Two/3' '[  FAILED  ] Cases/Fail.Two/3, where GetParam() = 4 (0 ms)' \
  '[  FAILED  ] 2 tests, listed below:' '[  FAILED  ] Fail.One' '[  FAILED  ] Cases/Fail.Two/3, where GetParam() = 4'
program stopped_test 66 '[ RUN      ] Race.Before' '[       OK ] Race.Before (1 ms)' '[ RUN      ] Race.Inside' \
  'WARNING: ThreadSanitizer: data race (pid=1)'
program exits_test 66 '[  PASSED  ] 3 tests.' 'WARNING: ThreadSanitizer: data race (pid=2)'

rc=0
output=$(MORV_TSAN_IN_NETNS=1 MORV_TSAN_JOBS=2 "$src/tools/run-tsan-tests" "$fake" \
  quiet_test failing_test stopped_test exits_test 2>&1) || rc=$?
echo "$output"
[ "$rc" = 1 ] || { echo "exit $rc, not 1"; exit 1; }

expected='=== ThreadSanitizer summary: 4 programs, 1 passed, 3 failed
passed  quiet_test (N s)
FAILED  failing_test (exit 1, N s): Fail.One Cases/Fail.Two/3
FAILED  stopped_test (exit 66, a ThreadSanitizer report, N s): Race.Inside (stopped in it)
FAILED  exits_test (exit 66, a ThreadSanitizer report, N s): no test failed, see its output above'
summary=$(tail -n 5 <<<"$output" | sed -E 's/[0-9]+ s\)/N s)/; s/[0-9]+ s\):/N s):/')
[ "$summary" = "$expected" ] || { echo "summary differs:"; diff <(echo "$expected") <(echo "$summary"); exit 1; }

# A test that passed without a word leaves no line, nor do gtest's headings; the test a
# program was stopped in does.
quiet=$(sed -n '/^--- quiet_test under/,/^--- failing_test under/p' <<<"$output" | sed '1d;$d')
[ "$quiet" = $'[==========] 1 test from 1 test suite ran. (1 ms total)\n[  PASSED  ] 1 test.' ] ||
  { echo "a program whose tests passed without a word printed more than its result"; exit 1; }
! grep -q 'Race.Before' <<<"$output" || { echo "a silent passing test was printed"; exit 1; }
grep -q '^\[ RUN      \] Race.Inside$' <<<"$output" || { echo "the stopped test's start is missing"; exit 1; }
echo "summary as expected"
