#!/usr/bin/env bash
# A whole save against wget on the same generated local site, in one run:
# a start page linking 200 pages, each with 10 pictures and one or two style
# sheets, with the fonts, pictures, scripts and frames those need (see
# generate-site.sh), served on 127.0.0.1. Both save into a folder on tmpfs (the disk's
# timings drift from run to run). Prints wall time and peak memory of both,
# larkspool-save's own split (browser part, download run) and the ratios.
#   save-vs-wget.sh BUILD_FOLDER [PAGES]
set -euo pipefail
build=$(cd "$1" && pwd)
pages=${2:-200}
work=$(mktemp -d /dev/shm/larkspool-bench-XXXXXX)
site="$work/site"
trap 'rm -rf "$work"' EXIT
server_bin="$build/demo/larkspool-demo-server"
source "$(dirname "$0")/../tests/e2e/demo-server.sh"

"$(dirname "$0")/generate-site.sh" "$site" "$pages"

start_demo_server "$site"

source "$(dirname "$0")/bench-lib.sh"

export XDG_CONFIG_HOME="$work/config"
read -r _ ours_s ours_kb browser_s run_s own_kb < <(save_with_larkspool "$build" "${url}index.html" "$work/ours")
read -r _ wget_s wget_kb < <(save_with_wget "${url}index.html" "$work/wget")
[ -n "${run_s:-}" ] && [ -n "${wget_s:-}" ] || exit 1

files_ours=$(find "$work/ours" -type f | wc -l)
files_wget=$(find "$work/wget" -type f | wc -l)
echo "site: $pages pages, $((pages * 10)) pictures, $(du -sh "$site" | cut -f1)"
echo "larkspool-save: ${ours_s} s wall (browser ${browser_s} s, download run ${run_s} s), peak ${own_kb} kB of its own (${ours_kb} kB with the browser's largest process), ${files_ours} files"
echo "wget -r -l 1 -p -k: ${wget_s} s wall, peak ${wget_kb} kB, ${files_wget} files"
awk -v r="$run_s" -v w="$wget_s" -v o="$ours_s" \
  'BEGIN { printf "download run / wget: %.2f; whole larkspool-save / wget: %.2f\n", r / w, o / w }'
