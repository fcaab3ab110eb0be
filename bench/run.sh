#!/usr/bin/env bash
# Times the native tool under load: for each configuration, starts the load
# generator, then measures the whole-process wall time with hyperfine and the
# peak memory with /usr/bin/time. Prints one Markdown table.
#
#   bash bench/run.sh            the standard configurations
#   bash bench/run.sh 50:20      PROCESSES:SOCKETS pairs of your own
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi
make -s native >/dev/null

tool=./build/lystrel
load=./build/bench/lystrel_load
# PROCESSES:SOCKETS, where each process holds SOCKETS TCP listeners and SOCKETS
# UDP sockets: 2,000 sockets over 50 processes, 10,000 over 200, and the growth
# at 1k, 5k and 20k.
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(50:20 200:25 50:10 100:25 200:50)

printf '| sockets | processes | endpoints listed | median wall ms | min ms | max ms | peak RSS KiB |\n'
printf '|---:|---:|---:|---:|---:|---:|---:|\n'
for config in "${configs[@]}"; do
  processes=${config%%:*}
  sockets=${config##*:}
  total=$((processes * sockets * 2))
  # The load generator holds its sockets until its standard input closes.
  coproc LOAD { "$load" "$processes" "$sockets" 300; }
  loadpid=$LOAD_PID
  read -r ready <&"${LOAD[0]}" || true
  [ "${ready:-}" = ready ] || { echo "load generator failed for $config" >&2; exit 1; }
  listed=$("$tool" | grep -c -E '^[0-9]+ (TCP|UDP)$' || true)
  json=$(mktemp)
  hyperfine -N --warmup 3 --runs 30 --export-json "$json" "$tool" >/dev/null 2>&1
  read -r median min max < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print("%.2f %.2f %.2f" % (r["median"]*1e3, r["min"]*1e3, r["max"]*1e3))' "$json")
  rss=$(/usr/bin/time -v "$tool" 2>&1 >/dev/null | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}')
  printf '| %d | %d | %d | %s | %s | %s | %s |\n' "$total" "$processes" "$listed" "$median" "$min" "$max" "$rss"
  rm -f "$json"
  eval "exec ${LOAD[1]}>&-"
  wait "$loadpid" 2>/dev/null || true
done
