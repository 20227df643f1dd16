#!/usr/bin/env bash
# End to end: Ctrl-C, SIGTERM and SIGHUP during a save (which of two at once
# aborts is for tests/cli: the stop ends too fast to tell here). The demo server leaves plants.html (or the start page)
# unanswered, and the test interrupts larkspool-save there:
#  - once in the download run: the save stops, writes its log, relinks the
#    pages (the unfetched page gets the script) and ends with exit 4; twice,
#    it ends all the same;
#  - while the browser is still loading the page: the browser is shut down
#    and its temporary folders removed, exit 3;
#  - while it reads a previous-downloads log that never ends (a FIFO): it
#    ends at once all the same.
# Then what a killed save leaves (its browser's profile, a half-written
# page) is removed by the next save, and nothing of a running one.
#   interrupt-save.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER
set -euo pipefail
save=$1 server_bin=$2 site=$3
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
saver=""
cleanup() {
  [ -z "$saver" ] || kill "$saver" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/demo-server.sh"
source "$(dirname "$0")/waiting.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config"

# Starts a save of menu.html into $work/NAME in the background; output in
# $work/NAME.txt, its process in $saver. TMPDIR is $work/tmp-NAME.
start_save() { # NAME [MATCH]
  mkdir -p "$work/tmp-$1"
  TMPDIR="$work/tmp-$1" "$save" "${url}menu.html" --folder "$work" --subfolder "$1" \
    --links matching --match "${2:-birds|plants}" --pictures >"$work/$1.txt" 2>&1 &
  saver=$!
}
# Fails when a process of the browser started with TMPDIR=$work/tmp-NAME runs.
no_browser_left() { # NAME
  for p in /proc/[0-9]*; do
    if tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -q "$work/tmp-$1/"; then
      fail "a browser process is still running: ${p#/proc/}"
    fi
  done
}
wait_for_line() { # PATTERN FILE
  for _ in $(seq 300); do grep -q "$1" "$2" && return 0; sleep 0.1; done
  fail "\"$1\" never appeared in $(basename "$2"): $(cat "$2")"
}
# Waits at most 15 s for the save to end; its exit code in $code.
wait_save() {
  wait_for_exit "$saver" 15 || { kill -9 "$saver"; fail "the save did not end after Ctrl-C"; }
  code=0; wait "$saver" || code=$?
}

start_demo_server "$site" 0 /plants.html

# Stop: one Ctrl-C (or SIGTERM, or SIGHUP) while plants.html hangs.
for signal in INT TERM HUP; do
  start_save "stopped-$signal"
  wait_for_line 'Plants by the water' "$work/stopped-$signal.txt"
  sleep 0.5
  kill -"$signal" "$saver"
  wait_save
  out=$(cat "$work/stopped-$signal.txt")
  [ "$code" -eq 4 ] || fail "a save stopped by SIG$signal gave exit $code: $out"
  copy="$work/stopped-$signal"
  [ -s "$copy/lkspl.log" ] || fail "the save stopped by SIG$signal wrote no log"
  [ -s "$copy/birds.html" ] || fail "the page before the stall was not kept"
  [ ! -e "$copy/plants.html" ] || fail "the unfinished page was left in the folder"
  grep -q '<a href="birds.html"' "$copy/INDEX.HTML" || fail "the saved page is not linked"
  grep -q 'href="plants.html"' "$copy/INDEX.HTML" && fail "the unfetched page keeps its link"
  grep -q 'javascript:' "$copy/INDEX.HTML" || fail "the unfetched page has no script"
  [ -z "$(ls -A "$work/tmp-stopped-$signal")" ] ||
    fail "the browser's temporary folders remain: $(ls -A "$work/tmp-stopped-$signal")"
  no_browser_left "stopped-$signal"
done

# Two at once: stopped or aborted, the save ends with exit 4 and leaves no
# browser behind.
start_save twice
wait_for_line 'Plants by the water' "$work/twice.txt"
sleep 0.5
kill -INT "$saver"
kill -TERM "$saver"
wait_save
[ "$code" -eq 4 ] || fail "two interrupts gave exit $code: $(cat "$work/twice.txt")"
grep -Eq 'stopping|aborted' "$work/twice.txt" || fail "no word of the stop: $(cat "$work/twice.txt")"
[ -z "$(ls -A "$work/tmp-twice")" ] || fail "the browser's temporary folders remain"
no_browser_left twice

# While it reads a log that never ends, one SIGTERM ends the save (exit 3:
# the browser part; 4 if the log is refused and the run is stopped instead).
mkdir -p "$work/fifo"
mkfifo "$work/fifo/lkspl.log"
start_save fifo
for _ in $(seq 300); do
  [ "$(cat "/proc/$saver/wchan" 2>/dev/null)" = wait_for_partner ] && break
  grep -q 'Plants by the water' "$work/fifo.txt" && break
  kill -0 "$saver" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$saver"
wait_save
[ "$code" -eq 3 ] || [ "$code" -eq 4 ] || fail "SIGTERM while reading the log gave exit $code"
[ -z "$(ls -A "$work/tmp-fifo")" ] || fail "the browser's temporary folders remain"
no_browser_left fifo
rm -f "$work/fifo/lkspl.log"

# Ctrl-C or SIGHUP while the browser waits for the start page (SIGTERM in
# the browser part is the log case above): it is shut down.
stop_demo_server
start_demo_server "$site" 0 /menu.html
for signal in INT HUP; do
  start_save "loading-$signal"
  sleep 2
  kill -0 "$saver" 2>/dev/null ||
    fail "the save ended before the page loaded: $(cat "$work/loading-$signal.txt")"
  kill -"$signal" "$saver"
  wait_save
  [ "$code" -eq 3 ] || fail "a save interrupted by SIG$signal in the browser gave exit $code"
  grep -q 'interrupted' "$work/loading-$signal.txt" ||
    fail "no word of the interruption: $(cat "$work/loading-$signal.txt")"
  [ -z "$(ls -A "$work/tmp-loading-$signal")" ] || fail "the browser's temporary folders remain"
  no_browser_left "loading-$signal"
done

# kill -9 leaves the browser's profile; the next save removes it, and a
# half-written page of a dead save, and keeps those of a running one.
start_save killed
sleep 2
kill -0 "$saver" 2>/dev/null || fail "the save ended before the page loaded"
kill -9 "$saver"
wait "$saver" 2>/dev/null || true
# The browser it left, ended by its process id (the test started it).
for p in /proc/[0-9]*; do
  if tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -q "$work/tmp-killed/"; then
    kill -9 "${p#/proc/}" 2>/dev/null || true
  fi
done
leftover=$(ls "$work/tmp-killed")
case "$leftover" in
  larkspool-chromium-*) ;;
  *) fail "the killed save left no profile to clean: $leftover" ;;
esac
stop_demo_server
start_demo_server "$site" 0 /none
sleep 0.1 & dead=$!
wait "$dead"
mkdir -p "$work/killed"
echo half >"$work/killed/.larkspool-$dead-Ab12Cd"
echo busy >"$work/killed/.larkspool-$$-Ab12Cd"
mkdir "$work/tmp-killed/larkspool-chromium-$$-Ab12Cd" # a running save's
start_save killed birds
wait_save
[ "$code" -eq 0 ] || fail "the save after the killed one gave exit $code: $(cat "$work/killed.txt")"
[ ! -e "$work/tmp-killed/$leftover" ] || fail "the killed save's profile was not removed"
[ -d "$work/tmp-killed/larkspool-chromium-$$-Ab12Cd" ] || fail "a running save's profile was removed"
[ ! -e "$work/killed/.larkspool-$dead-Ab12Cd" ] || fail "the dead save's temporary page remains"
[ -e "$work/killed/.larkspool-$$-Ab12Cd" ] || fail "a running save's temporary page was removed"
echo "4 passed, 0 failed"
