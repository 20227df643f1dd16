#!/usr/bin/env bash
# End to end: a start page behind HTTP Basic authentication (the demo site's
# private/ folder, user "demo", password "demo"). With the right password
# larkspool-save opens it in headless Chromium and the copy holds the page;
# with a wrong one the save fails at once saying the server refused them;
# with none it says how to give them. A password never shows in the output.
#   save-auth.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER
set -euo pipefail
save=$1 server_bin=$2 site=$3
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/demo-server.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's
unset LARKSPOOL_PASSWORD                # nor a password of the caller's
start_demo_server "$site"
page="${url}private/diary.html"

# save_as PASSWORD ARGUMENTS...: larkspool-save as user demo with PASSWORD
# from the environment, never on a command line; a save that hangs is
# stopped (exit 124).
save_as() {
  local password=$1
  shift
  LARKSPOOL_PASSWORD=$password timeout 120 "$save" "$page" --folder "$work" --links none \
    --pictures --user demo "$@"
}

code=0
save_as demo --subfolder copy >"$work/right.txt" 2>&1 || code=$?
[ "$code" -eq 0 ] || fail "the right password gave exit $code: $(cat "$work/right.txt")"
grep -q 'Only for those who know the password' "$work/copy/INDEX.HTML" ||
  fail "the copy does not hold the private page: $(head -c 300 "$work/copy/INDEX.HTML")"
grep -q 'A password is needed' "$work/copy/INDEX.HTML" && fail "the copy holds the refusal"
[ -s "$work/copy/heron.svg" ] || fail "the private page's picture was not saved"

# A wrong password: refused, reported, nothing saved, and the password itself
# appears nowhere in what the program wrote.
wrong=not-the-password-4711
code=0
save_as "$wrong" --subfolder refused >"$work/wrong.txt" 2>&1 || code=$?
[ "$code" -ne 124 ] || fail "a refused password hung the save"
[ "$code" -eq 3 ] || fail "a refused password gave exit $code: $(cat "$work/wrong.txt")"
grep -q "Cannot open ${page}: the server refused the user name and password" "$work/wrong.txt" ||
  fail "the refusal was not reported: $(cat "$work/wrong.txt")"
[ ! -e "$work/refused/INDEX.HTML" ] || fail "the refused page was saved"
grep -rq -- "$wrong" "$work/wrong.txt" "$work/copy" "$work/config" 2>/dev/null &&
  fail "the password shows in the output or the saved files"

# No password at all: the message says how to give one.
code=0
"$save" "$page" --folder "$work" --subfolder none --links none >"$work/none.txt" 2>&1 || code=$?
[ "$code" -eq 3 ] || fail "no password gave exit $code: $(cat "$work/none.txt")"
grep -q 'asks for a user name and password.*--user' "$work/none.txt" ||
  fail "the message does not say how to give the password: $(cat "$work/none.txt")"
echo "1 passed, 0 failed"
