#!/usr/bin/env bash
# CI=true makes warnings errors in a build folder configured earlier without them, and
# a later plain configure goes back to what the folder's cache holds.
# Usage: ci-werror_test.sh source-dir
set -euo pipefail
src=$1
build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
configure() {  # CI value ('' for unset), cmake arguments...
  local ci=$1
  shift
  if [ -n "$ci" ]; then
    env CI="$ci" cmake -S "$src" -B "$build" "$@" >/dev/null
  else
    env -u CI cmake -S "$src" -B "$build" "$@" >/dev/null
  fi
}
werror() { grep -q -- ' -Werror\b' "$build/build.ninja"; }

configure '' -G Ninja -DMORV_WERROR=OFF -DMORV_TESTS=OFF -DMORV_BENCH=OFF
! werror || { echo "-Werror without CI=true and with MORV_WERROR=OFF"; exit 1; }
configure true
werror || { echo "CI=true left warnings as warnings: MORV_WERROR=OFF was cached"; exit 1; }
configure ''
! werror || { echo "-Werror stayed after CI=true was gone"; exit 1; }
echo "CI=true turns warnings into errors"
