#!/usr/bin/env bash
# Builds the benchmarks in Release mode, starts a loopback platform and a
# mosquitto broker, runs every benchmark against its baseline, stops what it
# started (by PID) and prints one table: figure, library, baseline, ratio,
# target, met?
#
#   bash bench/run.sh            (ZOLVO_BENCH_BUILD=<dir> to build elsewhere)
#
# Figures are ratios measured on the same machine in the same run: the machine
# may be shared and noisy, so every comparison interleaves library and baseline.
set -eu -o pipefail

ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ZOLVO_BENCH_BUILD:-$ZOLVO_ROOT/build-bench}
JOBS=${ZOLVO_JOBS:-4}
COMMANDS=${ZOLVO_BENCH_COMMANDS:-20000}
PAIRS=${ZOLVO_BENCH_PAIRS:-2000}
ROUNDS=${ZOLVO_BENCH_ROUNDS:-3}

# shellcheck source=../scripts/deps.sh
source "$ZOLVO_ROOT/scripts/deps.sh"
# What the benchmarks and the loopback platform need (not the demo's or the
# sanitizers' packages).
ZOLVO_PACKAGES=(
  cmake g++ make pkg-config
  libcurl4-openssl-dev libjsoncpp-dev libpaho-mqtt-dev qtbase5-dev
  libcpp-httplib-dev libssl-dev openssl mosquitto
  libgtest-dev libgmock-dev libbenchmark-dev
)
zolvo_ensure_packages
zolvo_no_proxy

echo "== building (Release) in $BUILD"
mkdir -p "$BUILD"
cmake -S "$ZOLVO_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZOLVO_BUILD_DEMO=OFF \
  -DZOLVO_BUILD_TESTS=ON -DZOLVO_BUILD_BENCH=ON >"$BUILD/bench-configure.log" 2>&1 ||
  { cat "$BUILD/bench-configure.log"; exit 1; }
cmake --build "$BUILD" -j "$JOBS" --target bench_sign bench_requests bench_memory \
  bench_dispatch bench_publisher zolvo_platform >"$BUILD/bench-build.log" 2>&1 ||
  { tail -50 "$BUILD/bench-build.log"; exit 1; }
BIN=$BUILD/bench

WORK=$(mktemp -d /tmp/zolvo-bench.XXXXXX)
RESULTS=$WORK/results.txt
: >"$RESULTS"
BROKER_PID=""
PLATFORM_PID=""

stop_started() {
  local pid
  for pid in $PLATFORM_PID $BROKER_PID; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$WORK"
}
trap stop_started EXIT
trap 'exit 130' INT TERM

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 12000))  # below the ephemeral port range
    if port_free "$p"; then echo "$p"; return 0; fi
  done
  echo "no free loopback port" >&2
  return 1
}
# Waits until the server of that PID listens on that port (false when it ended).
wait_listening() {  # port pid
  for _ in $(seq 100); do
    if ! port_free "$1"; then sleep 0.05; kill -0 "$2" 2>/dev/null; return; fi
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
stop_pid() {
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# ---------------------------------------------------------------- servers
# A port found free may be taken before the server binds it: a few tries each.
start_broker() {
  BROKER_PORT=$(free_port)
  {
    echo "listener $BROKER_PORT 127.0.0.1"
    echo "allow_anonymous true"
    echo "persistence false"
    echo "# 20,000 QoS 1 commands may wait for a slow receiver: none may be dropped."
    echo "max_queued_messages 0"
    echo "log_dest stderr"
    echo "log_type error"
    echo "log_type warning"
  } >"$WORK/mosquitto.conf"
  chmod 755 "$WORK"
  chmod 644 "$WORK/mosquitto.conf"
  mosquitto -c "$WORK/mosquitto.conf" >"$WORK/mosquitto.log" 2>&1 &
  BROKER_PID=$!
  wait_listening "$BROKER_PORT" "$BROKER_PID" && return 0
  stop_pid "$BROKER_PID"
  BROKER_PID=""
  return 1
}
for _ in 1 2 3 4 5; do start_broker && break; done
[ -n "$BROKER_PID" ] || { echo "mosquitto did not start"; cat "$WORK/mosquitto.log"; exit 1; }
BROKER=tcp://127.0.0.1:$BROKER_PORT
TOPIC=zolvo/bench/commands

start_platform() {
  PLATFORM_PORT=$(free_port)
  "$BUILD/tests/rig/zolvo_platform" --port "$PLATFORM_PORT" --broker "$BROKER" --topic "$TOPIC" \
    >/dev/null 2>"$WORK/platform.err" &
  PLATFORM_PID=$!
  wait_listening "$PLATFORM_PORT" "$PLATFORM_PID" && return 0
  stop_pid "$PLATFORM_PID"
  PLATFORM_PID=""
  return 1
}
for _ in 1 2 3 4 5; do start_platform && break; done
[ -n "$PLATFORM_PID" ] || { echo "platform did not start"; cat "$WORK/platform.err"; exit 1; }
URL=http://127.0.0.1:$PLATFORM_PORT
echo "== broker $BROKER (pid $BROKER_PID), platform $URL (pid $PLATFORM_PID)"

# ---------------------------------------------------------------- 1. signing
echo "== signing: Md5 and signRequest against OpenSSL (interleaved repetitions)"
"$BIN/bench_sign" --benchmark_repetitions=12 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$WORK/sign.csv" 2>"$WORK/sign.err" ||
  { cat "$WORK/sign.err"; exit 1; }
# name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
awk -F, '/_median"/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); gsub(/\//, "_", $1);
  if ($6 != "") print $1 "_mbps", $6 / 1e6; else print $1 "_ns", $3 }' \
  "$WORK/sign.csv" >>"$RESULTS"

# ---------------------------------------------------------------- 2. requests
echo "== request overhead: $PAIRS interleaved A/B pairs of queryOrder and entry"
"$BIN/bench_requests" --url "$URL" --pairs "$PAIRS" --out "$RESULTS" \
  >"$WORK/requests.out" 2>"$WORK/requests.err" || { cat "$WORK/requests.err"; exit 1; }

# ---------------------------------------------------------------- 3. dispatch
echo "== command dispatch: $ROUNDS rounds of $COMMANDS commands each, library and raw Paho alternating"
dispatch() {  # mode label count pace
  "$BIN/bench_dispatch" --mode "$1" --label "$2" --uri "$BROKER" --topic "$TOPIC" --url "$URL" \
    --count "$3" --pace-us "$4" --out "$WORK/dispatch.txt" \
    >>"$WORK/dispatch.out" 2>>"$WORK/dispatch.err" || { cat "$WORK/dispatch.err"; exit 1; }
}
: >"$WORK/dispatch.txt"
for r in $(seq "$ROUNDS"); do
  if [ $((r % 2)) -eq 1 ]; then order="lib raw"; else order="raw lib"; fi
  for m in $order; do dispatch "$m" "flood_$m" "$COMMANDS" 0; done
done
echo "== command latency: 2,000 commands paced at one per 500 us, three rounds per receiver"
for order in "lib raw" "raw lib" "lib raw"; do
  for m in $order; do dispatch "$m" "paced_$m" 2000 500; done
done
# Median over the rounds of each figure.
awk '{ v[$1] = v[$1] " " $2 } END { for (k in v) { n = split(v[k], a, " ");
  for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
  m = (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2; print k, m, n } }' \
  "$WORK/dispatch.txt" >>"$RESULTS"
cp "$WORK/dispatch.txt" "$WORK/dispatch.rounds"

# ---------------------------------------------------------------- 4. memory
echo "== memory: resident set after 100 and after 10,000 requests"
"$BIN/bench_memory" --url "$URL" --requests 10000 --out "$RESULTS" \
  >"$WORK/memory.out" 2>"$WORK/memory.err" || { cat "$WORK/memory.err"; exit 1; }

# ---------------------------------------------------------------- table
echo
echo "Rounds of the dispatch figures (commands/s, latency in us):"
grep -E '_per_second|_latency_median_us' "$WORK/dispatch.rounds" | sort -s -k1,1 |
  awk '{ printf "  %-30s %10.0f\n", $1, $2 }'
echo
awk '
  { r[$1] = $2 }
  function row(figure, lib, base, ratio, target, met) {
    printf "| %-44s | %12s | %12s | %6s | %-8s | %-4s |\n", figure, lib, base, ratio, target, met
  }
  function num(x, d) { return sprintf("%." d "f", x) }
  # kind: "min" (ratio must be at least t), "max" (at most t), "" (no target)
  function compare(figure, lib, base, d, kind, t,   ratio, met) {
    ratio = (base > 0) ? lib / base : 0
    met = "-"
    if (kind == "min") met = (ratio >= t) ? "yes" : "NO"
    if (kind == "max") met = (ratio <= t) ? "yes" : "NO"
    row(figure, num(lib, d), num(base, d), num(ratio, 3),
        kind == "" ? "-" : (kind == "min" ? ">= " : "<= ") t, met)
  }
  END {
    row("figure", "library", "baseline", "ratio", "target", "met?")
    print "|----------------------------------------------|--------------|--------------|--------|----------|------|"
    compare("MD5 64 B, MB/s (vs OpenSSL EVP)", r["BM_LibraryMd5_64_mbps"], r["BM_OpenSslMd5_64_mbps"], 1, "", 0)
    compare("MD5 1 KiB, MB/s (vs OpenSSL EVP)", r["BM_LibraryMd5_1024_mbps"], r["BM_OpenSslMd5_1024_mbps"], 1, "min", 0.9)
    compare("MD5 64 KiB, MB/s (vs OpenSSL EVP)", r["BM_LibraryMd5_65536_mbps"], r["BM_OpenSslMd5_65536_mbps"], 1, "min", 0.9)
    compare("signRequest pushOrder example, ns/call", r["BM_LibrarySignPushOrder_ns"], r["BM_OpenSslSignPushOrder_ns"], 0, "", 0)
    compare("queryOrder form post, median us", r["query_lib_us"], r["query_raw_us"], 1, "max", 1.05)
    compare("entry multipart, median us (raw: form API)", r["entry_lib_us"], r["entry_form_us"], 1, "max", 1.05)
    compare("entry multipart, median us (raw: mime API)", r["entry_lib_us"], r["entry_raw_us"], 1, "max", 1.05)
    compare("dispatch " '"$COMMANDS"' " commands, commands/s", r["flood_lib_per_second"], r["flood_raw_per_second"], 0, "min", 0.95)
    compare("publish-to-callback, paced, median us", r["paced_lib_latency_median_us"], r["paced_raw_latency_median_us"], 0, "", 0)
    compare("publish-to-callback, flood, median us", r["flood_lib_latency_median_us"], r["flood_raw_latency_median_us"], 0, "", 0)
    growth = r["rss_growth_kib"]
    row("RSS growth, 100 -> 10,000 requests, KiB", num(growth, 0), "-", "-", "< 1024", growth < 1024 ? "yes" : "NO")
    printf "\nRSS after 100 requests %.0f KiB, after 10,000 %.0f KiB; request pairs %d (failures %d); commands received lib %d / raw %d of '"$COMMANDS"'.\n",
      r["rss_after_100_kib"], r["rss_after_10000_kib"], r["request_pairs"], r["request_failures"],
      r["flood_lib_received"], r["flood_raw_received"]
  }' "$RESULTS"
cat <<'EOF_NOTES'

Baselines: MD5 = OpenSSL EVP MD5 with one reused context (medians of 12 randomly
interleaved repetitions); signRequest = the same signed text built with OpenSSL.
Requests = raw libcurl with a fresh easy handle per request, the same headers, the
same bytes (form body / multipart fields, pre-signed), same loopback platform,
the multipart post once with libcurl's form interface (curl_formadd, which the
library uses) and once with its mime interface (whose parts are ready before the
transfer starts, while the form interface builds them once the connection stands),
A/B interleaved with alternating order; figure = median latency. Dispatch = a raw
Paho MQTTClient_receive loop with the library's client settings (MQTT 3.1.1/3.1
auto, clean session, keep-alive 20 s, QoS 1, 200 ms receive time-out) that copies
the payload, parses it with jsoncpp and calls the same override; the library's
own log line goes to /dev/null. Commands come from bench_publisher (another
process) as fast as QoS 1 allows; throughput = commands / (first publish to last
callback), median of the rounds. Memory = one host process, mixed requests.
EOF_NOTES
