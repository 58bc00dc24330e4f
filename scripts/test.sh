#!/usr/bin/env bash
# Builds the project and runs the whole test suite; exits non-zero on any failure.
#   scripts/test.sh              shellcheck and clang-format checks (lint), the fuzz
#                                targets for a bounded time (scripts/fuzz.sh),
#                                then three builds, each running every test: plain
#                                (build/), AddressSanitizer + UndefinedBehaviorSanitizer
#                                (build-asan/) and ThreadSanitizer (build-tsan/);
#                                last the Windows suite (win32: scripts/windows.sh, then
#                                the host programs under wine, build-win32/), skipped
#                                with one line when ZOLVO_WIN32_SOURCES is unset or
#                                lacks the tarballs
#   scripts/test.sh --quick      the plain build only
#   scripts/test.sh --only NAME  one of them: lint, fuzz, default, asan, tsan or win32
#   scripts/test.sh -R PATTERN   run only the tests matching PATTERN (in each build; no
#                                lint, no fuzzing; with --only or --quick, in that build)
#   Contradicting options (--quick with --only, -R with --only lint|fuzz) are refused.
# Environment: ZOLVO_BUILD_DIR (default build/; the sanitizer builds go beside it
# as <dir>-asan and <dir>-tsan), ZOLVO_JOBS (build jobs and tests run at once,
# default nproc), ZOLVO_FUZZ_SECONDS (time per fuzz target, default 60), ZOLVO_WIN32_SOURCES
# (the folder of the Windows dependency tarballs), ZOLVO_WIN32_BUILD_DIR
# (default build-win32/), ZOLVO_WERROR (default ON: every build treats compiler
# warnings as errors; OFF to let them pass).
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=deps.sh
. "$ZOLVO_ROOT/scripts/deps.sh"

usage() {
  sed -n '2,/^set /{/^#/p}' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

ctest_args=()
only=''
quick=0
pattern=''
while [ $# -gt 0 ]; do
  case "$1" in
    -R)
      if [ $# -lt 2 ] || [ -n "$pattern" ]; then usage >&2; exit 2; fi
      pattern=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --only)
      if [ $# -lt 2 ] || [ -n "$only" ]; then usage >&2; exit 2; fi
      case "$2" in lint|fuzz|default|asan|tsan|win32) only=$2 ;; *) usage >&2; exit 2 ;; esac
      shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
done
# Options that contradict each other are refused rather than run as nothing.
refuse() {
  echo "contradicting options: $1" >&2
  usage >&2
  exit 2
}
[ $quick -eq 1 ] && [ -n "$only" ] && refuse "--quick and --only"
case $only in lint|fuzz) [ -n "$pattern" ] && refuse "--only $only runs no ctest: -R has nothing to select" ;; esac
if [ -n "$only" ]; then
  suites=("$only")
elif [ $quick -eq 1 ]; then
  suites=(default)
elif [ -n "$pattern" ]; then
  suites=(default asan tsan win32)
else
  suites=(lint fuzz default asan tsan win32)
fi
[ -n "$pattern" ] && ctest_args+=(-R "$pattern")
# ctest runs as many tests at once as the builds have jobs.
jobs=${ZOLVO_JOBS:-$(nproc)}

# run_suite <name> <build dir> [cmake options…]: one configuration of the suite.
# Extra ctest arguments may be given in the array suite_ctest_args.
run_suite() {
  local name=$1 dir=$2
  shift 2
  echo "== $name: building in $dir"
  if ! zolvo_build "$dir" -DZOLVO_WERROR="$ZOLVO_WERROR" "$@"; then
    echo "== $name: build FAILED" >&2
    return 1
  fi
  echo "== $name: running the tests"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure "${ctest_args[@]}" "${suite_ctest_args[@]}"
}

# Sanitizer reports end the process that made them, so a report fails its test.
# The options must be set while building too: test discovery runs the programs.
sanitizer_environment() {
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0
  export LSAN_OPTIONS=suppressions=$ZOLVO_ROOT/tests/reliability/sanitizers/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
}

# The Windows suite: the package and the host programs (scripts/windows.sh),
# the Linux driver from the plain build, then the driver's tests through the
# Windows build's ctest, each running a host program under wine against the
# rig's servers. Skipped, and passing, without the dependency tarballs.
run_win32_suite() {
  local reason started win_dir=${ZOLVO_WIN32_BUILD_DIR:-$ZOLVO_ROOT/build-win32} rc=0
  if ! reason=$(bash "$ZOLVO_ROOT/scripts/windows.sh" --check-sources); then
    echo "== win32: skipped: $reason"
    return 0
  fi
  started=$(date +%s)
  echo "== win32: building the package in $win_dir"
  ZOLVO_WIN32_BUILD_DIR=$win_dir bash "$ZOLVO_ROOT/scripts/windows.sh" || return 1
  echo "== win32: building the Linux driver in $base_dir"
  { cmake -S "$ZOLVO_ROOT" -B "$base_dir" -DZOLVO_SANITIZE= -DZOLVO_WERROR="$ZOLVO_WERROR" >/dev/null &&
    cmake --build "$base_dir" -j "${ZOLVO_JOBS:-$(nproc)}" --target win32_driver win32_demo_driver >/dev/null; } || {
    echo "== win32: building the driver FAILED" >&2
    return 1
  }
  cmake -S "$ZOLVO_ROOT" -B "$win_dir/sdk" -DZOLVO_WIN32_DRIVER="$base_dir/tests/win32/win32_driver" \
    -DZOLVO_WIN32_DIST="$win_dir/dist" >/dev/null || return 1
  echo "== win32: running the tests under wine ($(wine --version))"
  ctest --test-dir "$win_dir/sdk" -j "$jobs" --output-on-failure "${ctest_args[@]}" || rc=1
  # Whatever a failed or filtered run left: no wine process outlives the suite.
  bash "$ZOLVO_ROOT/tests/win32/wine_prefix.sh" stop "$win_dir/sdk/wineprefix" >/dev/null
  echo "== win32: $(($(date +%s) - started)) s"
  return $rc
}

# Lint: shellcheck over every shell script of the project, following what they source.
run_lint() {
  local files=() sources=()
  mapfile -t files < <(cd "$ZOLVO_ROOT" && find scripts bench tests -name '*.sh' -type f | sort)
  files+=(.ci/run)
  (cd "$ZOLVO_ROOT" && shellcheck -x "${files[@]}") && echo "== lint: ${#files[@]} scripts clean" ||
    return 1
  # The C++ sources keep the layout of .clang-format (demo/ has its own, which
  # tests/demo/ links to).
  mapfile -t sources < <(cd "$ZOLVO_ROOT" &&
    find zolvo_sdk demo tests bench -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) | sort)
  (cd "$ZOLVO_ROOT" && clang-format --dry-run --Werror "${sources[@]}") &&
    echo "== lint: ${#sources[@]} C++ sources formatted"
}

zolvo_ensure_packages || exit 1
zolvo_no_proxy
# The Windows suite's tests run scripts from other folders: the tarballs'
# folder is named by its absolute path.
if [ -n "${ZOLVO_WIN32_SOURCES:-}" ] && [ -d "$ZOLVO_WIN32_SOURCES" ]; then
  ZOLVO_WIN32_SOURCES=$(cd "$ZOLVO_WIN32_SOURCES" && pwd)
  export ZOLVO_WIN32_SOURCES
fi
sanitizer_environment
# The builds of the suites, fuzz.sh's and windows.sh's too, treat warnings as errors.
export ZOLVO_WERROR=${ZOLVO_WERROR:-ON}

base_dir=${ZOLVO_BUILD_DIR:-$ZOLVO_ROOT/build}
status=0
for suite in "${suites[@]}"; do
  suite_ctest_args=()
  case $suite in
    lint)
      run_lint || status=1 ;;
    fuzz)
      echo "== fuzz: every target ${ZOLVO_FUZZ_SECONDS:-60} s"
      # The fuzzers keep their own sanitizer options (fast unwinding, no abort).
      env -u ASAN_OPTIONS -u LSAN_OPTIONS -u UBSAN_OPTIONS -u TSAN_OPTIONS \
        bash "$ZOLVO_ROOT/scripts/fuzz.sh" "${ZOLVO_FUZZ_SECONDS:-60}" || status=1 ;;
    default)
      run_suite default "$base_dir" -DZOLVO_SANITIZE= || status=1 ;;
    asan)
      run_suite asan+ubsan "$base_dir-asan" -DZOLVO_SANITIZE=address,undefined \
        -DZOLVO_BUILD_BENCH=OFF || status=1 ;;
    tsan)
      # Qt is not built for ThreadSanitizer, which cannot see the locking inside
      # it: the demo window's tests (Qt's file-dialog threads) only give false
      # reports there. Their library calls run under ThreadSanitizer through the
      # demo's other tests and the rest of the suite.
      suite_ctest_args=(-E '^DemoWindow\.')
      run_suite tsan "$base_dir-tsan" -DZOLVO_SANITIZE=thread -DZOLVO_BUILD_BENCH=OFF \
        || status=1 ;;
    win32)
      run_win32_suite || status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "== all suites passed: ${suites[*]}" || echo "== FAILED" >&2
exit $status
