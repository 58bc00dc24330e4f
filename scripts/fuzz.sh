#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time;
# exits non-zero on any crash, leak, time-out or sanitizer report.
#   scripts/fuzz.sh [SECONDS]   run every target SECONDS long (default 60)
# Each target starts from a copy of its seed corpus (tests/fuzz/corpus/<target>),
# so the checked-in corpus never grows; findings are kept under
# <build dir>/artifacts/<target>/ with each target's log.
# Environment: ZOLVO_FUZZ_BUILD_DIR (default build-fuzz/), ZOLVO_FUZZ_PARALLEL
# (targets run at once, default 4), ZOLVO_JOBS (build jobs, default 4),
# ZOLVO_WERROR (ON: compiler warnings are errors; scripts/test.sh sets it).
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=deps.sh
. "$ZOLVO_ROOT/scripts/deps.sh"

usage() {
  sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

seconds=60
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  '') ;;
  *[!0-9]*) echo "not a number of seconds: $1" >&2; usage >&2; exit 2 ;;
  *) seconds=$1 ;;
esac
[ $# -le 1 ] || { usage >&2; exit 2; }

build_dir=${ZOLVO_FUZZ_BUILD_DIR:-$ZOLVO_ROOT/build-fuzz}
parallel=${ZOLVO_FUZZ_PARALLEL:-4}
fuzz_src=$ZOLVO_ROOT/tests/fuzz
targets=(command_payload_fuzz init_reply_fuzz text_fuzz requests_fuzz)

zolvo_ensure_packages || exit 1
zolvo_no_proxy

echo "== fuzz: building the targets with clang in $build_dir"
mkdir -p "$build_dir" || exit 1
work_log=$build_dir/configure.log
if ! CC=clang CXX=clang++ cmake -S "$ZOLVO_ROOT" -B "$build_dir" \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZOLVO_FUZZ=ON -DZOLVO_BUILD_DEMO=OFF -DZOLVO_BUILD_TESTS=OFF -DZOLVO_BUILD_BENCH=OFF \
      -DZOLVO_WERROR="${ZOLVO_WERROR:-OFF}" \
      >"$work_log" 2>&1; then
  cat "$work_log" >&2
  echo "== fuzz: configure FAILED" >&2
  exit 1
fi
if ! cmake --build "$build_dir" --target zolvo_fuzz_targets -j "${ZOLVO_JOBS:-4}"; then
  echo "== fuzz: build FAILED" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zolvo-fuzz.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# run_target <name>: one bounded run; the fuzzer's exit status goes to $work/<name>.rc.
run_target() {
  local name=$1 exe=$build_dir/tests/fuzz/$1 artifacts=$build_dir/artifacts/$1
  local extra=(-max_len=4096)
  case "$name" in
    command_payload_fuzz|init_reply_fuzz) extra+=(-dict="$fuzz_src/json.dict") ;;
  esac
  mkdir -p "$work/$name" "$artifacts"
  cp "$fuzz_src/corpus/$name/"* "$work/$name/"
  "$exe" "$work/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" \
    >"$artifacts/fuzz.log" 2>&1
  echo $? >"$work/$name.rc"
}

for name in "${targets[@]}"; do
  # At most $parallel targets at once.
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do sleep 1; done
  echo "== fuzz: $name for ${seconds}s"
  run_target "$name" &
done
wait

status=0
for name in "${targets[@]}"; do
  log=$build_dir/artifacts/$name/fuzz.log
  rc=$(cat "$work/$name.rc" 2>/dev/null || echo missing)
  if [ "$rc" = 0 ]; then
    echo "== fuzz: $name passed:" \
      "$(awk '/^stat::number_of_executed_units/ {print $2}' "$log") executions," \
      "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)"
  else
    status=1
    echo "== fuzz: $name FAILED (exit status $rc; log: $log)" >&2
    grep -E 'ERROR|invariant|SUMMARY|Test unit written' "$log" >&2
    tail -n 40 "$log" >&2
  fi
done
exit $status
