#!/usr/bin/env bash
# Builds the project and runs the whole test suite; exits non-zero on any failure.
#   scripts/test.sh              build in build/ and run every test
#   scripts/test.sh -R PATTERN   run only the tests matching PATTERN
# Environment: ZOLVO_BUILD_DIR (default build/), ZOLVO_JOBS (build jobs, default nproc).
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=deps.sh
. "$ZOLVO_ROOT/scripts/deps.sh"

usage() {
  sed -n '2,6p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -R) [ $# -ge 2 ] || { usage >&2; exit 2; }; ctest_args+=(-R "$2"); shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
done

# run_suite <name> <build dir> [cmake options…]: one configuration of the suite.
# (Further configurations, such as sanitizer builds, are further calls.)
run_suite() {
  local name=$1 dir=$2
  shift 2
  echo "== $name: building in $dir"
  if ! zolvo_build "$dir" "$@"; then
    echo "== $name: build FAILED" >&2
    return 1
  fi
  echo "== $name: running the tests"
  ctest --test-dir "$dir" -j8 --output-on-failure "${ctest_args[@]}"
}

zolvo_ensure_packages || exit 1
zolvo_no_proxy

status=0
run_suite default "${ZOLVO_BUILD_DIR:-$ZOLVO_ROOT/build}" || status=1
exit $status
