#!/usr/bin/env bash
# End to end: larkspool-save with every link selected on a fixture site that
# holds every trap a save must survive (a frame of another site, a page that
# never answers, addresses our HTTP layer refuses, error answers, huge
# headers, a redirect loop, redirects to https and to another site, 300-byte
# names, a file named like the log, a 2,100-byte address). The save ends in bounded time with exit 4
# (items not saved), and the copy browses offline. A second save into the
# same folder, with a log that points at a symbolic link to a file outside,
# and a third, with the log a symbolic link to /dev/zero, end as well and
# read nothing outside the folder.
#   save-hostile.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER CHECK_COPY_EXECUTABLE
set -euo pipefail
save=$1 server_bin=$2 site=$3 check_copy=$4
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
cleanup() { [ -n "${KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ ! -s "$work/first.txt" ] || cat "$work/first.txt" >&2; exit 1; }
source "$(dirname "$0")/hostile.sh"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

start_hostile_server
run_save() { # SUMMARY_FILE [options]
  local out=$1 code=0
  shift
  timeout 180 "$save" "${url}index.html" --folder "$work" --subfolder copy --links all \
    --pictures --skip-after 5 "$@" >"$out" 2>&1 || code=$?
  [ "$code" -ne 124 ] || fail "the save did not end within 3 minutes"
  return "$code"
}

code=0; run_save "$work/first.txt" || code=$?
[ "$code" -eq 4 ] || fail "the save ended with exit $code, not 4"
copy="$work/copy"

# A record of the log (152 bytes): RECORD URL FILE_NAME
record() {
  printf "\\x$(printf %02x ${#1})%s" "$1"; head -c $((100 - ${#1})) /dev/zero
  printf "\\x$(printf %02x ${#2})%s" "$2"; head -c $((50 - ${#2})) /dev/zero
}
# The second save: the log says the ordinary page was stored as a symbolic
# link that leads out of the folder, and names the log itself.
echo "a file outside the folder" >"$work/secret.html"
ln -s ../secret.html "$copy/sym.html"
cp "$copy/lkspl.log" "$work/first.log"
{ record "${url}page.html" sym.html; record "${url}style.css" lkspl.log; } >"$copy/lkspl.log"
code=0; run_save "$work/second.txt" --reuse || code=$?
[ "$code" -eq 4 ] || { cat "$work/second.txt" >&2; fail "the second save ended with exit $code"; }
grep -rq 'a file outside the folder' "$copy" --exclude=sym.html &&
  fail "the second save took over a file from outside the folder"
[ -L "$copy/sym.html" ] || fail "the planted link was replaced"
grep -q 'An ordinary page' "$copy/page.html" || fail "the ordinary page was not fetched again"

# The third: a log that never ends.
rm "$copy/lkspl.log"
ln -s /dev/zero "$copy/lkspl.log"
code=0; run_save "$work/third.txt" --reuse || code=$?
[ "$code" -eq 4 ] || { cat "$work/third.txt" >&2; fail "the third save ended with exit $code"; }
grep -q 'lkspl.log' "$work/third.txt" || fail "the refused log was not reported"
rm "$copy/sym.html"

check_hostile_copy "$copy" "$work/first.txt" "$check_copy"
echo "1 passed, 0 failed"
