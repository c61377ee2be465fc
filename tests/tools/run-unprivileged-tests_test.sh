#!/usr/bin/env bash
# tools/run-unprivileged-tests from a checkout below a directory the unprivileged user may
# not enter: each program still starts in a fresh working directory of its own that the
# user may enter and write, and can come back to it by its absolute path.
# Usage: run-unprivileged-tests_test.sh source-dir
set -euo pipefail
src=$1
skip=77
[ "$(id -u)" = 0 ] || { echo "needs root: only root switches to user nobody"; exit $skip; }
# Mapped root in a user namespace cannot become nobody.
setpriv --reuid=nobody "--regid=$(id -g nobody)" --clear-groups true 2>/dev/null ||
  { echo "cannot switch to user nobody here"; exit $skip; }

private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
chmod 700 "$private"
mkdir -p "$private/build/tests"
probe() {  # name
  cat >"$private/build/tests/$1" <<'PROBE'
#!/bin/sh
set -e
here=$(pwd)
entries=$(ls -A)
[ -z "$entries" ] || { echo "working directory not fresh: $entries"; exit 1; }
echo x >left-behind
cd / && cd "$here" && [ -f left-behind ]
echo "[  PASSED  ] 1 test."
PROBE
  chmod +x "$private/build/tests/$1"
}
probe first_test
probe second_test

rc=0
(cd "$private" && "$src/tools/run-unprivileged-tests" build first_test second_test) || rc=$?
[ "$rc" = 0 ] || { echo "exit $rc from a checkout below a private directory"; exit 1; }
echo "both programs ran in a directory of their own"
