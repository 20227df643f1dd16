#!/usr/bin/env bash
# End to end, the whole path as a user takes it: headless Chromium with the
# extension loaded and the program registered as its host; on the demo
# site's menu page, the first five links are selected and the extension's
# button is pressed; the program starts (its windows under Xvfb), Start fills
# the link window with the selected rows checked; Alt+S saves through the
# progress window; then the saved folder, the browser's download of the file
# left to it, and the end of the extension's session are checked. The frameset
# and the inline frame of another site follow, then a site the browser is
# logged in to (extension-cases.sh). Last, a
# probe in the program's place runs the page rules the DevTools tests run
# (tests/support/BridgeChecks.h) through the extension's bridge.
#   extension-save.sh SESSION_EXECUTABLE LARKSPOOL SERVER_EXECUTABLE SITE_FOLDER EXTENSION_DIR SCREENS
#       PROBE
set -euo pipefail
source "$(dirname "$0")/windows.sh"
session_bin=$1 app=$2 server_bin=$3 site=$4 extension=$5 screens=$6 probe=$7
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
xvfb="" driver=""
cleanup() {
  for p in $driver $xvfb; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/copy-checks.sh"
source "$(dirname "$0")/demo-server.sh"
source "$(dirname "$0")/extension-cases.sh"
fail() {
  echo "FAIL: $*" >&2
  import -window root "$screens/extension-failure.png" 2>/dev/null || true
  [ ! -s "$work/driver.txt" ] || cat "$work/driver.txt" >&2
  exit 1
}
mkdir -p "$screens" "$work/out" "$work/home"

start_xvfb
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/home/.config"

start_demo_server "$site"

write_extension_settings "$work/registry.reg"

browser_name=extension
start_driver() { # PAGE DOWNLOADS [DOWNLOADS_WANTED]
  "$session_bin" "$extension" "$app" "$1" "$work/registry.reg" "$2" "$work/done" "${@:3}" \
    >"$work/driver.txt" 2>&1 &
  driver=$!
}
# The probe in the program's place.
start_probe() {
  "$session_bin" "$extension" "$probe" "${url}menu.html" "$work/registry.reg" "$work/downloads4" \
    "$work/done" 0 >"$work/driver.txt" 2>&1 &
  driver=$!
}

extension_cases
probe_case
echo "1 passed, 0 failed"
