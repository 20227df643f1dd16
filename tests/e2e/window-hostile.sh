#!/usr/bin/env bash
# End to end, as a person would use the windows: under Xvfb, opens the link
# window on the hostile fixture with the whole page selected (every link
# checked), presses Alt+S and waits: the save ends by itself in bounded time
# (auto-skip on, as a user with a bad connection would set it), the message
# that lists what was not saved names the 404 answer, and the copy browses
# offline.
#   window-hostile.sh LARKSPOOL SERVER_EXECUTABLE SITE_FOLDER CHECK_COPY_EXECUTABLE SCREENS_FOLDER
set -euo pipefail
source "$(dirname "$0")/windows.sh"
app=$1 server_bin=$2 site=$3 check_copy=$4 screens=$5
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
xvfb="" program=""
cleanup() {
  for p in $program $xvfb; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ ! -s "$work/app.txt" ] || cat "$work/app.txt" >&2; exit 1; }
source "$(dirname "$0")/hostile.sh"
source "$(dirname "$0")/waiting.sh"
mkdir -p "$screens" "$work/out" "$work/downloads" "$work/config/larkspool"

start_xvfb
start_hostile_server

export XDG_CONFIG_HOME="$work/config" HOME="$work"
write_settings "$work/config/larkspool/registry.reg" <<EOF2
"DestinationFolder"="$work/out"
"CreateSubFolder"=dword:00000000
"ShowPictures"=dword:00000001
"AutoSkip"=dword:00000001
"SkipSec"=dword:00000005
EOF2

"$app" --debug-page "${url}index.html" --debug-select-all \
  --debug-home "http://127.0.0.1:1/" --debug-downloads "$work/downloads" >"$work/app.txt" 2>&1 &
program=$!

start=$(window "^Larkspool: Larkspool hostile fixture$" "$program") || fail "the link window did not open"
sleep 0.5
xdotool windowfocus --sync "$start"
import -window "$start" "$screens/hostile-1-links.png"
xdotool key alt+s

# The end: the message listing what was not saved, then the program ends.
message=""
for _ in $(seq 1800); do
  kill -0 "$program" 2>/dev/null || break
  message=$(xdotool search --onlyvisible --name '% Larkspool: ' 2>/dev/null | head -n 1 || true)
  [ -n "$message" ] && break
  sleep 0.1
done
[ -n "$message" ] || fail "no message listed what was not saved"
sleep 0.3
import -window "$message" "$screens/hostile-2-not-saved.png"
xdotool windowfocus --sync "$message"
xdotool key Return
wait_for_exit "$program" 30 || fail "the program did not end after the save"
code=0; wait "$program" || code=$?
program=""
[ "$code" -eq 0 ] || fail "the program ended with $code"
grep -q 'not fetched: HTTP 404' "$work/app.txt" || fail "the 404 answer was not reported"

check_hostile_copy "$work/out" "$work/app.txt" "$check_copy"
echo "1 passed, 0 failed"
