#!/usr/bin/env bash
# End to end: a site that keeps its login in a session cookie. Without the
# cookie every members' page answers the login form; logged in with curl
# (whose cookie jar is a Netscape cookies.txt file), larkspool-save --cookies
# saves the members' pages themselves, with their pictures and style sheet,
# and no cookie value reaches its output. A damaged cookies file is refused
# before the browser starts, naming the line.
#   save-login.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER
set -euo pipefail
save=$1 server_bin=$2 site=$3
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/demo-server.sh"
start_demo_server "$site"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's
fail() { echo "FAIL: $*" >&2; exit 1; }
members="minutes.html roster.html notices.html calendar.html gallery.html"

run_save() {
  "$save" "${url}members/index.html" --folder "$work" --subfolder "$1" --quiet --links all \
    --pictures "${@:2}"
}

# Logged out: the site answers the login form (which links nowhere).
run_save out >"$work/out.txt" 2>&1 || { code=$?; cat "$work/out.txt"; fail "logged-out save: exit $code"; }
grep -q 'Members: sign in' "$work/out/INDEX.HTML" || fail "the logged-out start page is not the login form"
[ ! -e "$work/out/minutes.html" ] || fail "a members' page was saved while logged out"

# Logged in.
curl -sS -o /dev/null -c "$work/cookies.txt" -d user=member -d password=larkspool \
  "${url}members/login" || fail "logging in with curl"
grep -q $'\tlarkspool_member\t' "$work/cookies.txt" || fail "curl kept no session cookie"
token=$(awk -F '\t' '$6 == "larkspool_member" { print $7 }' "$work/cookies.txt")
run_save in --cookies "$work/cookies.txt" >"$work/in.txt" 2>&1 ||
  { code=$?; cat "$work/in.txt"; fail "logged-in save: exit $code"; }
copy="$work/in"
grep -q 'Members area' "$copy/INDEX.HTML" || fail "the start page is not the members' page"
for f in $members badge.svg members.css; do
  [ -s "$copy/$f" ] || fail "$f was not saved"
  ! grep -q 'Members: sign in' "$copy/$f" || fail "$f holds the login form"
done
grep -q 'count the herons at dawn' "$copy/minutes.html" || fail "minutes.html holds something else"
grep -q 'reed-bed log' "$copy/roster.html" || fail "roster.html holds something else"
! grep -rqF "$token" "$work/in.txt" "$copy" || fail "the session cookie's value was written out"

# A cookies file that is not one: refused, naming the line; no browser.
printf '# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tonly-six-fields\n' \
  >"$work/bad-cookies.txt"
code=0; run_save bad --cookies "$work/bad-cookies.txt" >"$work/bad.txt" 2>&1 || code=$?
[ "$code" -eq 2 ] || { cat "$work/bad.txt"; fail "a damaged cookies file gave exit $code"; }
grep -q 'line 2' "$work/bad.txt" || { cat "$work/bad.txt"; fail "the message does not name the line"; }
[ ! -e "$work/bad" ] || fail "a folder was made for a refused save"
echo "1 passed, 0 failed"
