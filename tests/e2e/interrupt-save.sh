#!/usr/bin/env bash
# End to end: Ctrl-C during a save (a second Ctrl-C, Abort, is covered by
# the download run's own tests: the stop ends too fast to catch here). The demo server leaves plants.html (or
# the start page) unanswered, and the test interrupts larkspool-save there:
#  - once in the download run: the save stops, writes its log, relinks the
#    pages (the unfetched page gets the script) and ends with exit 4;
#  - while the browser is still loading the page: the browser is shut down
#    and its temporary folders removed, exit 3.
#   interrupt-save.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER
set -euo pipefail
save=$1 server_bin=$2 site=$3
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
server="" saver=""
cleanup() {
  for p in $server $saver; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config"

start_server() { # STALLED_PATH
  : >"$work/address"
  "$server_bin" "$site" 0 "$1" >"$work/address" &
  server=$!
  for _ in $(seq 100); do [ -s "$work/address" ] && break; sleep 0.1; done
  url=$(head -n 1 "$work/address")
}
stop_server() { kill "$server"; wait "$server" 2>/dev/null || true; server=""; }

# Starts a save of menu.html into $work/NAME in the background; output in
# $work/NAME.txt, its process in $saver.
start_save() { # NAME
  mkdir -p "$work/tmp-$1"
  TMPDIR="$work/tmp-$1" "$save" "${url}menu.html" --folder "$work" --subfolder "$1" \
    --links matching --match 'birds|plants' --pictures >"$work/$1.txt" 2>&1 &
  saver=$!
}
wait_for_line() { # PATTERN FILE
  for _ in $(seq 300); do grep -q "$1" "$2" && return 0; sleep 0.1; done
  fail "\"$1\" never appeared in $(basename "$2"): $(cat "$2")"
}
# Waits at most 15 s for the save to end; its exit code in $code.
wait_save() {
  for _ in $(seq 150); do kill -0 "$saver" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$saver" 2>/dev/null && { kill -9 "$saver"; fail "the save did not end after Ctrl-C"; }
  code=0; wait "$saver" || code=$?
}

start_server /plants.html

# Stop: one Ctrl-C while plants.html hangs.
start_save stopped
wait_for_line 'Plants by the water' "$work/stopped.txt"
sleep 0.5
kill -INT "$saver"
wait_save
[ "$code" -eq 4 ] || fail "a stopped save gave exit $code: $(cat "$work/stopped.txt")"
copy="$work/stopped"
[ -s "$copy/lkspl.log" ] || fail "the stopped save wrote no log"
[ -s "$copy/birds.html" ] || fail "the page before the stall was not kept"
[ ! -e "$copy/plants.html" ] || fail "the unfinished page was left in the folder"
grep -q '<a href="birds.html"' "$copy/INDEX.HTML" || fail "the saved page is not linked"
grep -q 'href="plants.html"' "$copy/INDEX.HTML" && fail "the unfetched page keeps its link"
grep -q 'javascript:' "$copy/INDEX.HTML" || fail "the unfetched page has no script"

# Ctrl-C while the browser waits for the start page: it is shut down.
stop_server
start_server /menu.html
start_save loading
sleep 2
kill -0 "$saver" 2>/dev/null || fail "the save ended before the page loaded: $(cat "$work/loading.txt")"
kill -INT "$saver"
wait_save
[ "$code" -eq 3 ] || fail "a save interrupted in the browser gave exit $code"
grep -q 'interrupted' "$work/loading.txt" || fail "no word of the interruption: $(cat "$work/loading.txt")"
[ -z "$(ls -A "$work/tmp-loading")" ] || fail "the browser's temporary folders remain"
for p in /proc/[0-9]*; do
  if tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -q "$work/tmp-loading"; then
    fail "a browser process is still running: ${p#/proc/}"
  fi
done
echo "1 passed, 0 failed"
