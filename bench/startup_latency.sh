#!/usr/bin/env bash
# Time from starting the updater to its window being shown, median of N runs.
#
#   bench/startup_latency.sh PATH/TO/updater [--runs N] -- UPDATER_ARGS...
#
# Needs a display (xvfb-run on a headless machine) and xdotool. Each run starts
# the binary with UPDATER_ARGS, polls every 5 ms for a visible window of that
# process, records the elapsed time and ends the process.
set -euo pipefail

binary=${1:?usage: $0 PATH/TO/updater [--runs N] -- ARGS...}
shift
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

times=()
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  "$binary" "$@" > /dev/null 2>&1 &
  pid=$!
  shown=""
  for _ in $(seq 2000); do # 10 s bound
    if xdotool search --onlyvisible --pid "$pid" > /dev/null 2>&1; then
      shown=$(date +%s%N)
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.005
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -z "$shown" ]; then
    echo "no window within 10 s (or the process ended)" >&2
    exit 1
  fi
  times+=($(( (shown - start) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END {
  m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "start-up to visible window: median %d ms over %d runs (min %d, max %d)\n", m, NR, v[1], v[NR] }'
