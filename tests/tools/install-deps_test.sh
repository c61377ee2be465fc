#!/usr/bin/env bash
# tools/install-deps checks what is installed before it asks for root: a user without sudo
# whose packages are all in place gets exit 0 and no apt; what is missing is named, and
# installed as root or through sudo; a failed install is never success.
# dpkg-query, apt-get, sudo and id are fakes; PATH holds nothing else, so no real sudo or
# apt-get on this machine can be reached.
# Usage: install-deps_test.sh source-dir
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/sudo"
for tool in bash env; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
done

# id -u: FAKE_UID.
cat >"$work/bin/id" <<'EOF'
#!/bin/bash
[ "$1" = -u ] || { echo "fake id: only -u" >&2; exit 2; }
echo "$FAKE_UID"
EOF
# Status of each package: the line "name abbreviation" in FAKE_STATES ("-" for a package
# dpkg does not know); a package not listed is installed ("ii ").
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/bash
format='${Package}\t${Status}\n'
packages=()
while [ $# -gt 0 ]; do
  case $1 in
    -W | --show) ;;
    -f) format=$2; shift ;;
    --showformat=*) format=${1#--showformat=} ;;
    -f*) format=${1#-f}; format=${format#=} ;;  # as dpkg-query: -fFORMAT and -f=FORMAT
    -*) echo "fake dpkg-query: unknown option $1" >&2; exit 2 ;;
    *) packages+=("$1") ;;
  esac
  shift
done
rc=0
for p in "${packages[@]}"; do
  abbrev="ii "
  while IFS=' ' read -r name state; do
    [ "$name" = "$p" ] && abbrev="$state "
  done <"$FAKE_STATES"
  if [ "$abbrev" = "- " ]; then
    echo "dpkg-query: no packages found matching $p" >&2
    rc=1
    continue
  fi
  line=${format//'${Package}'/$p}
  line=${line//'${db:Status-Abbrev}'/$abbrev}
  printf '%b' "$line"
done
exit $rc
EOF
# Records each call in FAKE_CALLS, with "sudo " in front under the fake sudo; fails with
# FAKE_APT_FAIL=1.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/bash
echo "${FAKE_VIA_SUDO:+sudo }apt-get $*" >>"$FAKE_CALLS"
[ "${FAKE_APT_FAIL:-0}" != 1 ]
EOF
cat >"$work/sudo/sudo" <<'EOF'
#!/bin/bash
FAKE_VIA_SUDO=1 exec "$@"
EOF
chmod +x "$work/bin/id" "$work/bin/dpkg-query" "$work/bin/apt-get" "$work/sudo/sudo"

failures=0
fail() { echo "FAIL $name: $*"; failures=$((failures + 1)); }

# One run: name, uid, sudo (yes/no), package states ("name abbreviation;..."), apt fails
# (0/1), expected exit (0 or "nonzero").
# Afterwards $calls holds the apt calls, $err the standard error.
run() {
  name=$1
  local uid=$2 sudo=$3 states=$4 apt_fail=$5 expect=$6
  local path=$work/bin
  [ "$sudo" = no ] || path=$work/sudo:$path
  tr ';' '\n' <<<"$states" >"$work/states"
  : >"$work/calls"
  local rc=0
  timeout 60 env -i PATH="$path" FAKE_UID="$uid" FAKE_STATES="$work/states" FAKE_CALLS="$work/calls" \
    FAKE_APT_FAIL="$apt_fail" "$src/tools/install-deps" >"$work/out" 2>"$work/err" || rc=$?
  calls=$(<"$work/calls")
  err=$(<"$work/err")
  if [ "$expect" = nonzero ]; then
    [ "$rc" != 0 ] || fail "exit 0, expected a failure"
  else
    [ "$rc" = "$expect" ] || fail "exit $rc, expected $expect; stderr: $err"
  fi
}
no_apt() { [ -z "$calls" ] || fail "apt was called: $calls"; }
# The update and then an install naming the package, each with the prefix ("" or "sudo ").
installs() {  # prefix package
  local first second
  first=$(sed -n 1p <<<"$calls")
  second=$(sed -n 2p <<<"$calls")
  [ "$first" = "${1}apt-get update" ] || fail "first call '$first', expected '${1}apt-get update'"
  [[ $second == "${1}apt-get install "* ]] || fail "second call '$second', expected '${1}apt-get install ...'"
  grep -qw -- "$2" <<<"$second" || fail "install does not name $2: $second"
}
names() {  # package: standard error names it, no installed one, and how to get root
  grep -qw -- "$1" <<<"$err" || fail "stderr does not name $1: $err"
  ! grep -qw python3 <<<"$err" || fail "stderr names the installed python3: $err"
  grep -q 'su -c' <<<"$err" || fail "stderr does not say to run it as root with su -c: $err"
}

run "all installed, no sudo" 1000 no "" 0 0
no_apt
run "all installed (one held), no sudo" 1000 no "cmake hi" 0 0
no_apt
run "all installed, sudo there" 1000 yes "" 0 0
no_apt
run "all installed, root" 0 no "" 0 0
no_apt

run "one unknown to dpkg, no sudo" 1000 no "libhidapi-dev -" 0 nonzero
no_apt
names libhidapi-dev
run "one known but not installed, no sudo" 1000 no "umockdev un" 0 nonzero
no_apt
names umockdev
run "one removed with its configuration left, no sudo" 1000 no "ninja-build rc" 0 nonzero
no_apt
names ninja-build
run "one half-configured, no sudo" 1000 no "libczmq-dev iF" 0 nonzero
names libczmq-dev

run "one missing, sudo there" 1000 yes "libhidapi-dev -" 0 0
installs "sudo " libhidapi-dev
run "one missing, root" 0 no "libhidapi-dev -" 0 0
installs "" libhidapi-dev
run "one missing, root, sudo there too" 0 yes "umockdev un" 0 0
installs "" umockdev
run "one missing, root, apt fails" 0 no "libhidapi-dev -" 1 nonzero

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "install-deps: checks first, needs root only to install what is missing"
