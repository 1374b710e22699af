#!/usr/bin/env bash
# CPU used by a running updater window while it has nothing to do.
#
#   bench/idle_cpu.sh PATH/TO/updater [--warmup S] [--window S] -- UPDATER_ARGS...
#
# Starts the binary with UPDATER_ARGS (a display is needed: run under xvfb-run
# on a headless machine), waits --warmup seconds (default 5) for it to settle,
# then reads its user+system CPU ticks over --window seconds (default 10) and
# prints the CPU share and the peak RSS. The process is ended at the end.
set -euo pipefail

binary=${1:?usage: $0 PATH/TO/updater [--warmup S] [--window S] -- ARGS...}
shift
warmup=5
window=10
while [ $# -gt 0 ]; do
  case "$1" in
    --warmup) warmup=$2; shift 2 ;;
    --window) window=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

"$binary" "$@" > /dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

sleep "$warmup"
kill -0 "$pid" 2>/dev/null || { echo "updater ended during the warm-up" >&2; exit 1; }
before=$(ticks)
sleep "$window"
after=$(ticks)
hz=$(getconf CLK_TCK)
peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
awk -v t=$((after - before)) -v hz="$hz" -v w="$window" -v peak="$peak" 'BEGIN {
  printf "idle CPU: %.3f s over %d s = %.2f %% of one core; peak RSS %.1f MiB\n",
         t / hz, w, 100 * t / hz / w, peak / 1024 }'
