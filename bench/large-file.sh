#!/usr/bin/env bash
# Large files: larkspool-save saving a page that links a 500 MB file, against
# curl -o fetching the same file, both into the same folder on disk (median
# of 3 wall times each), with larkspool-save's own peak memory; then one save
# of a page linking a 2 GB file, to see how a file beyond the size limit of
# the download run fares. The files are served from disk by python3's
# http.server, which streams them (the demo server would read each whole
# into memory). The files are sparse: reading them costs the server nothing.
#   large-file.sh BUILD_FOLDER [WORK_FOLDER_ON_DISK]   (default: under /tmp)
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${2:-/tmp}/larkspool-large-XXXXXX")
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM # so that the EXIT trap cleans up
source "$(dirname "$0")/bench-lib.sh"

site="$work/site"
mkdir -p "$site"
truncate -s 500M "$site/file500.bin"
truncate -s 2G "$site/file2g.bin"
for name in file500 file2g; do
  echo "<html><head><title>$name</title></head><body><p><a href=\"$name.bin\">$name</a></p></body></html>" >"$site/$name.html"
done

python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$site" >"$work/server.out" 2>&1 &
server=$!
port=""
for _ in $(seq 100); do
  port=$(grep -o 'port [0-9]*' "$work/server.out" | awk '{print $2}') || true
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the file server did not start" >&2; exit 1; }
base="http://127.0.0.1:$port/"

export XDG_CONFIG_HOME="$work/config"
# The link is a page to larkspool-save ("--links all"); what comes is a file.
save() { # PAGE FOLDER
  save_with_larkspool "$build" "$base$1" "$2" --skip-after 0 --file-time-limit 0
}
stored() { # FOLDER NAME: the size of the stored file, or "none"
  if [ -f "$1/$2" ]; then stat -c %s "$1/$2"; else echo none; fi
}

echo "500 MB file, saved into $work (on disk):"
ours=() runs=() owns=() curls=()
for run in 1 2 3; do
  rm -rf "$work/ours" "$work/curl"
  read -r _ ours_s _ _ run_s own_kb < <(save file500.html "$work/ours")
  [ -n "${own_kb:-}" ] || exit 1
  size=$(stored "$work/ours" file500.bin)
  mkdir -p "$work/curl"
  read -r _ curl_s curl_kb < <(measure curl "$work/curl" curl -sS --noproxy '*' -o "$work/curl/file500.bin" "${base}file500.bin")
  [ -n "${curl_s:-}" ] || exit 1
  ours+=("$ours_s") runs+=("$run_s") owns+=("$own_kb") curls+=("$curl_s")
  echo "run $run: larkspool-save ${ours_s} s (download run ${run_s} s), own peak ${own_kb} kB, stored ${size} bytes; curl ${curl_s} s, peak ${curl_kb} kB"
done
ours_m=$(median "${ours[@]}")
curl_m=$(median "${curls[@]}")
echo "median: larkspool-save ${ours_m} s (download run $(median "${runs[@]}") s), own peak $(median "${owns[@]}") kB; curl ${curl_m} s; larkspool-save / curl: $(ratio "$ours_m" "$curl_m")"
rm -rf "$work/ours" "$work/curl"
mkdir -p "$work/ours"

echo "2 GB file:"
# Beyond the download run's size limit the save ends with a problem and a
# non-zero status: that is the finding, not a failure of the script.
status=0
/usr/bin/time -f "%e %M" -o "$work/big.time" "$build/src/larkspool-save" "${base}file2g.html" \
  --folder "$work/ours" --no-subfolder --links all --pictures --quiet --skip-after 0 \
  --file-time-limit 0 >"$work/big.out" 2>"$work/big.err" || status=$?
read -r big_s _ < <(tail -n 1 "$work/big.time") # after "Command exited with ..."
read -r _ run_s own_kb < <(own_split "$work/big.out") || true
echo "larkspool-save ${big_s} s (download run ${run_s:-?} s), own peak ${own_kb:-?} kB, exit status ${status}, stored $(stored "$work/ours" file2g.bin) bytes"
grep -ih 'file2g\|larger\|not fetched' "$work/big.out" "$work/big.err" | head -n 5 || true
