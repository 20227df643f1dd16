#!/usr/bin/env bash
# The whole save of save-vs-wget.sh over a line with a round trip time: the
# generated site (generate-site.sh, 200 pages) is served by the demo server
# behind latency-proxy, which delays each direction by half of RTT_MS, and
# larkspool-save and wget save it in turn, RUNS times each. Prints each run,
# the medians and the ratio of the medians. With RTT_MS 0 there is no proxy
# (plain loopback), and the download run and the browser part of
# larkspool-save's time are set against wget too. Saves go to tmpfs.
#   save-latency.sh BUILD_FOLDER [RTT_MS [RUNS]]   (defaults: 50 ms, 5 runs)
# PAGES in the environment changes the size of the site.
set -euo pipefail
build=$(cd "$1" && pwd)
rtt=${2:-50}
runs=${3:-5}
pages=${PAGES:-200}
work=$(mktemp -d /dev/shm/larkspool-latency-XXXXXX)
site="$work/site"
proxy=""
trap '[ -z "$proxy" ] || kill "$proxy" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM # so that the EXIT trap cleans up
server_bin="$build/demo/larkspool-demo-server"
source "$(dirname "$0")/../tests/e2e/demo-server.sh"
source "$(dirname "$0")/bench-lib.sh"

"$(dirname "$0")/generate-site.sh" "$site" "$pages"
start_demo_server "$site"
base=$url
if [ "$rtt" -gt 0 ]; then
  server_port=${url#http://127.0.0.1:}
  server_port=${server_port%/}
  "$build/bench/latency-proxy" 0 "$server_port" $((rtt / 2)) >"$work/proxy-port" &
  proxy=$!
  for _ in $(seq 50); do
    [ -s "$work/proxy-port" ] && break
    sleep 0.1
  done
  base="http://127.0.0.1:$(head -n 1 "$work/proxy-port")/"
fi

options=()
if "$build/src/larkspool-save" --help | grep -q -- '--connections'; then
  options=(--connections 6)
fi

export XDG_CONFIG_HOME="$work/config"
echo "site: $pages pages, $(du -sh "$site" | cut -f1); round trip ${rtt} ms; larkspool-save ${options[*]:-(default connections)}"
ours=() wgets=() browsers=() downloads=()
for run in $(seq "$runs"); do
  rm -rf "$work/ours" "$work/wget"
  read -r _ ours_s _ browser_s run_s _ < <(save_with_larkspool "$build" "${base}index.html" "$work/ours" "${options[@]}")
  read -r _ wget_s _ < <(save_with_wget "${base}index.html" "$work/wget")
  [ -n "${run_s:-}" ] && [ -n "${wget_s:-}" ] || exit 1
  ours+=("$ours_s") wgets+=("$wget_s") browsers+=("$browser_s") downloads+=("$run_s")
  echo "run $run: larkspool-save ${ours_s} s (browser ${browser_s} s, download run ${run_s} s, $(find "$work/ours" -type f | wc -l) files); wget ${wget_s} s ($(find "$work/wget" -type f | wc -l) files)"
done
ours_m=$(median "${ours[@]}")
wget_m=$(median "${wgets[@]}")
browser_m=$(median "${browsers[@]}")
run_m=$(median "${downloads[@]}")
echo "median: larkspool-save ${ours_m} s (browser ${browser_m} s, download run ${run_m} s); wget ${wget_m} s"
echo "whole larkspool-save / wget: $(ratio "$ours_m" "$wget_m")"
if [ "$rtt" -eq 0 ]; then
  echo "download run / wget: $(ratio "$run_m" "$wget_m"); browser part / wget: $(ratio "$browser_m" "$wget_m")"
fi
