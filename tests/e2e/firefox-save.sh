#!/usr/bin/env bash
# End to end in Firefox ESR, the whole path as a user takes it: the program
# registers itself with "larkspool -regserver" (its host manifest in the
# test's ~/.mozilla), headless Firefox with a fresh profile installs the
# Firefox build of the extension from its .xpi, and on the demo site's menu
# page the first five links are selected and the extension's button is
# pressed (firefox-session.py); the program starts (its windows under Xvfb),
# Alt+S saves through the progress window; then the saved folder, the
# browser's download of the file left to it, and the absence of a failure
# told by the extension are checked. The frameset and the inline frame of
# another site follow, then a site Firefox is logged in to, and last a probe in the program's place runs the page
# rules the DevTools tests run through Firefox's side of the bridge.
#   firefox-save.sh LARKSPOOL SERVER_EXECUTABLE SITE_FOLDER XPI SCREENS PROBE [FIREFOX]
set -euo pipefail
source "$(dirname "$0")/windows.sh"
app=$1 server_bin=$2 site=$3 xpi=$4 screens=$5 probe=$6 firefox=${7:-firefox-esr}
session="$(dirname "$0")/firefox-session.py"
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
xvfb="" driver=""
cleanup() {
  for p in $driver $xvfb; do kill "$p" 2>/dev/null || true; done
  [ -z "$driver" ] || wait "$driver" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/copy-checks.sh"
source "$(dirname "$0")/demo-server.sh"
source "$(dirname "$0")/extension-cases.sh"
fail() {
  echo "FAIL: $*" >&2
  # The program's windows; the driver photographs the page itself.
  import -window root "$screens/firefox-failure.png" 2>/dev/null || true
  [ ! -s "$work/driver.txt" ] || cat "$work/driver.txt" >&2
  exit 1
}
command -v "$firefox" >/dev/null || fail "$firefox is not installed (scripts/install-deps)"
[ -s "$xpi" ] || fail "$xpi is missing: build the extension-firefox target"
mkdir -p "$screens" "$work/out" "$work/home"

start_xvfb
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/home/.config"
export LARKSPOOL_FIREFOX_SCREENSHOT="$screens/firefox-page-failure.png"

start_demo_server "$site"

# Registered as a user does it; Firefox finds the host manifest in ~/.mozilla,
# and it must allow the id the Firefox build carries.
"$app" -regserver || fail "larkspool -regserver failed"
hosts="$HOME/.mozilla/native-messaging-hosts"
[ -s "$hosts/larkspool.lsapp.json" ] || fail "-regserver wrote no host manifest for Firefox"
id=$(unzip -p "$xpi" manifest.json | sed -n 's/^ *"id" *: *"\([^"]*\)".*/\1/p')
grep -q "\"$id\"" "$hosts/larkspool.lsapp.json" || fail "the host manifest does not allow $id"

write_extension_settings "$XDG_CONFIG_HOME/larkspool/registry.reg"

browser_name=firefox
start_driver() { # PAGE DOWNLOADS [DOWNLOADS_WANTED]
  python3 "$session" "$firefox" "$xpi" "$1" "$2" "$work/done" "${@:3}" >"$work/driver.txt" 2>&1 &
  driver=$!
}
# The probe in the program's place in the host manifest.
start_probe() {
  sed "s|\"path\": *\"[^\"]*\"|\"path\": \"$probe\"|" "$hosts/larkspool.lsapp.json" >"$work/probe.json"
  mv "$work/probe.json" "$hosts/larkspool.lsapp.json"
  grep -q "\"$probe\"" "$hosts/larkspool.lsapp.json" || fail "probe: the host manifest was not changed"
  python3 "$session" "$firefox" "$xpi" "${url}menu.html" "$work/downloads4" "$work/done" 0 \
    >"$work/driver.txt" 2>&1 &
  driver=$!
}

extension_cases
probe_case
echo "1 passed, 0 failed"
