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

# The user's settings (read by the program Firefox starts): this folder
# with a subfolder, pictures, the site's password, .zip files left to the
# browser.
write_settings "$XDG_CONFIG_HOME/larkspool/registry.reg" <<EOF
"DestinationFolder"="$work/out"
"CreateSubFolder"=dword:00000001
"ShowPictures"=dword:00000001
"Extensions"="zip"
"DoWithExtensions"=dword:00000001
"UserS"="demo"
"PassS"="demo"
EOF

# save_through_extension PAGE TITLE DOWNLOADS [DOWNLOADS_WANTED]: the
# extension's button on PAGE in a fresh Firefox, Alt+S in the link window
# (a screenshot of it lands in the screens folder), and a wait for the save
# into "$work/out/TITLE".
save_through_extension() {
  rm -f "$work/done"
  python3 "$session" "$firefox" "$xpi" "${url}$1" "$work/$3" "$work/done" ${4+"$4"} \
    >"$work/driver.txt" 2>&1 &
  driver=$!
  until grep -q "^save started" "$work/driver.txt"; do
    kill -0 "$driver" 2>/dev/null || fail "$2: the extension did not start the save"
    sleep 0.1
  done
  start=$(window "^Larkspool: $2$" "$driver") || fail "$2: the program's window did not open"
  sleep 0.5
  import -window "$start" "$screens/firefox-$2.png"
  xdotool windowfocus --sync "$start"
  xdotool key alt+s
  for _ in $(seq 600); do
    [ -s "$work/out/$2/lkspl.log" ] && ! xdotool search --onlyvisible --name "^$2$" >/dev/null 2>&1 && break
    sleep 0.1
  done
  [ -s "$work/out/$2/lkspl.log" ] || fail "$2: the save did not finish"
  touch "$work/done"
  code=0; wait "$driver" || code=$?
  driver=""
  [ "$code" -eq 0 ] || fail "$2: the browser's side reported a problem"
}

save_through_extension menu.html Menu downloads
copy="$work/out/Menu"
grep -q "^selected: Birds of the marsh" "$work/driver.txt" || fail "the selection was not made"

for f in INDEX.HTML birds.html plants.html notes.html diary.html site.css logo.svg heron.svg \
         Menu.URL; do
  [ -s "$copy/$f" ] || fail "$f was not saved"
done
[ ! -e "$copy/archive.html" ] || fail "the link outside the selection was saved"
grep -q "not selected for download" "$copy/INDEX.HTML" || fail "the unselected link has no script"
grep -q 'default download manager' "$copy/INDEX.HTML" || fail "the zip link has no script"
grep -q 'Only for those who know the password' "$copy/diary.html" || fail "the password page"
grep -q "URL=${url}menu.html" "$copy/Menu.URL" || fail "the shortcut names another page"
compgen -G "$copy/*DO NOT OPEN*" >/dev/null && fail "the warning file was left behind"
[ -s "$work/downloads/checklist.zip" ] || fail "the browser's download is missing"
check_local_references "$copy"

# A frameset whose second frame comes from another site (localhost against
# 127.0.0.1): the extension answers in that frame too, both frames are
# stored and the copy's frameset points at them.
save_through_extension frames/index.html "Marsh frames" downloads2 0
check_demo_frames "$work/out/Marsh frames"

# An inline frame of another site in an ordinary page: stored like any frame.
save_through_extension frames/inline.html "Marsh map inline" downloads3 0
inline="$work/out/Marsh map inline"
for f in INDEX.HTML other.html print.css heron.svg; do
  [ -s "$inline/$f" ] || fail "inline frame: $f was not saved"
done
grep -q 'Served from another site' "$inline/other.html" || fail "inline frame: other.html holds something else"
# A site the user is logged in to: Firefox signs in first, and the
# program's own requests for the linked pages carry the browser's session
# cookie (HttpOnly), handed over from Firefox's cookie store.
LARKSPOOL_LOGIN_URL="${url}members/login" \
  save_through_extension members/index.html "Members area" downloads5 0
grep -q '^logged in' "$work/driver.txt" || fail "members: the browser did not log in"
members="$work/out/Members area"
for f in INDEX.HTML minutes.html roster.html notices.html calendar.html gallery.html badge.svg \
         members.css; do
  [ -s "$members/$f" ] || fail "members: $f was not saved"
  ! grep -q 'Members: sign in' "$members/$f" || fail "members: $f holds the login form"
done
grep -q 'count the herons at dawn' "$members/minutes.html" || fail "members: minutes.html"

# The page rules through Firefox's side of the bridge: the probe, put in the
# program's place in the host manifest, answers as the program would and
# writes what it found; the browser's side then ends cleanly.
sed "s|\"path\": *\"[^\"]*\"|\"path\": \"$probe\"|" "$hosts/larkspool.lsapp.json" >"$work/probe.json"
mv "$work/probe.json" "$hosts/larkspool.lsapp.json"
grep -q "\"$probe\"" "$hosts/larkspool.lsapp.json" || fail "probe: the host manifest was not changed"
rm -f "$work/done" "$work/probe.txt"
LARKSPOOL_PROBE_OUT="$work/probe.txt" python3 "$session" "$firefox" "$xpi" "${url}menu.html" \
  "$work/downloads4" "$work/done" 0 >"$work/driver.txt" 2>&1 &
driver=$!
for _ in $(seq 600); do
  grep -q "^end:" "$work/probe.txt" 2>/dev/null && break
  kill -0 "$driver" 2>/dev/null || break
  sleep 0.1
done
touch "$work/done"
code=0; wait "$driver" || code=$?
driver=""
[ -s "$work/probe.txt" ] || fail "probe: the extension never started it"
cat "$work/probe.txt"
grep -q "^selection: Birds of the marsh" "$work/probe.txt" || fail "probe: the selection shim"
grep -q "^end: 0 broken$" "$work/probe.txt" || fail "probe: the extension's bridge broke page rules"
[ "$code" -eq 0 ] || fail "probe: the browser's side reported a problem"
echo "1 passed, 0 failed"
