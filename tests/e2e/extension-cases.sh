# shellcheck shell=bash
# The cases the end-to-end tests of the add-on run in every browser
# (sourced, not run): the menu page with five links selected, a frameset and
# an inline frame of another site, a site the browser is logged in to, and
# the bridge probe. The caller sets $work, $screens, $url and $browser_name,
# has sourced windows.sh, copy-checks.sh and demo-server.sh, defines fail,
# and defines its browser's driver:
#   start_driver PAGE DOWNLOADS [DOWNLOADS_WANTED]: starts it in the
#     background on PAGE (its process id in $driver, its output in
#     $work/driver.txt); with LARKSPOOL_LOGIN_URL set, it signs in there first;
#   start_probe: the same on the menu page, with the bridge probe in the
#     program's place writing what it found to $LARKSPOOL_PROBE_OUT.
# shellcheck disable=SC2154 # the variables above are the caller's

# write_extension_settings FILE: the user's settings the program reads:
# this folder with a subfolder, pictures, the site's password, and .zip
# files left to the browser.
write_extension_settings() {
  write_settings "$1" <<SETTINGS
"DestinationFolder"="$work/out"
"CreateSubFolder"=dword:00000001
"ShowPictures"=dword:00000001
"Extensions"="zip"
"DoWithExtensions"=dword:00000001
"UserS"="demo"
"PassS"="demo"
SETTINGS
}

# save_through_extension PAGE TITLE DOWNLOADS [DOWNLOADS_WANTED]: the
# extension's button on PAGE, Alt+S in the link window (a screenshot of it
# lands in the screens folder), and a wait for the save into
# "$work/out/TITLE". The window is looked for once the extension has taken
# the button press.
save_through_extension() {
  rm -f "$work/done"
  start_driver "${url}$1" "$work/$3" ${4+"$4"}
  until grep -q "^save started" "$work/driver.txt"; do
    kill -0 "$driver" 2>/dev/null || fail "$2: the extension did not start the save"
    sleep 0.1
  done
  start=$(window "^Larkspool: $2$" "$driver") || fail "$2: the program's window did not open"
  sleep 0.5
  import -window "$start" "$screens/$browser_name-$2.png"
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

extension_cases() {
  save_through_extension menu.html Menu downloads
  local copy="$work/out/Menu"
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
  # 127.0.0.1: another process of the browser): the extension answers in that
  # frame too, both frames are stored and the copy's frameset points at them.
  save_through_extension frames/index.html "Marsh frames" downloads2 0
  check_demo_frames "$work/out/Marsh frames"

  # An inline frame of another site in an ordinary page: stored like any frame.
  save_through_extension frames/inline.html "Marsh map inline" downloads3 0
  local inline="$work/out/Marsh map inline"
  for f in INDEX.HTML other.html print.css heron.svg; do
    [ -s "$inline/$f" ] || fail "inline frame: $f was not saved"
  done
  grep -q 'Served from another site' "$inline/other.html" ||
    fail "inline frame: other.html holds something else"

  # A site the user is logged in to: the browser signs in first, and the
  # program's own requests for the linked pages carry the browser's session
  # cookie (HttpOnly), handed over from its cookie store, so the copy holds
  # the members' pages, not the login form.
  LARKSPOOL_LOGIN_URL="${url}members/login" \
    save_through_extension members/index.html "Members area" downloads5 0
  grep -q '^logged in' "$work/driver.txt" || fail "members: the browser did not log in"
  local members="$work/out/Members area"
  for f in INDEX.HTML minutes.html roster.html notices.html calendar.html gallery.html \
           badge.svg members.css; do
    [ -s "$members/$f" ] || fail "members: $f was not saved"
    ! grep -q 'Members: sign in' "$members/$f" || fail "members: $f holds the login form"
  done
  grep -q 'count the herons at dawn' "$members/minutes.html" || fail "members: minutes.html"
}

# The page rules through the extension's bridge: the probe answers as the
# program would and writes what it found; the browser's side then ends
# cleanly.
probe_case() {
  rm -f "$work/done" "$work/probe.txt"
  LARKSPOOL_PROBE_OUT="$work/probe.txt" start_probe
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
}
