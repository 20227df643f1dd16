#!/usr/bin/env bash
# End to end: a destination that cannot take the save (none given, empty, a
# file, not writable) is refused with exit 5 before any browser starts; and
# when the page itself cannot be stored, the summary does not send the user
# to it.
#   save-folders.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER
set -euo pipefail
save=$1 server_bin=$2 site=$3
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
chmod 755 "$work"
cleanup() {
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/demo-server.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

# The browser, with a note of every start.
cat >"$work/browser" <<SCRIPT
#!/bin/sh
echo started >>"$work/browser-started"
exec "${LARKSPOOL_CHROMIUM:-/usr/lib/chromium/chromium}" "\$@"
SCRIPT
chmod 755 "$work/browser"
export LARKSPOOL_CHROMIUM="$work/browser"

refused() { # EXPECTED_MESSAGE ARGUMENTS...
  local message=$1 code=0
  shift
  "$@" >"$work/out.txt" 2>&1 || code=$?
  [ "$code" -eq 5 ] || fail "$* gave exit $code, not 5: $(cat "$work/out.txt")"
  grep -q "$message" "$work/out.txt" || fail "$*: no \"$message\": $(cat "$work/out.txt")"
  [ ! -e "$work/browser-started" ] || fail "$*: a browser was started"
}

url=http://127.0.0.1:9/page.html # never reached: the folder is refused first
mkdir "$work/cwd"
cd "$work/cwd"
refused 'no destination folder' "$save" "$url" -o ""
refused 'no destination folder' "$save" "$url"
[ -z "$(ls -A "$work/cwd")" ] || fail "something was saved into the current folder"
echo text >"$work/file"
refused 'is not a folder' "$save" "$url" -o "$work/file"
refused 'does not exist' "$save" "$url" -o "$work/missing"
mkdir -m 555 "$work/read-only"
if [ "$(id -u)" -eq 0 ]; then
  # root may write anywhere: an ordinary user tries.
  refused 'cannot be written into' setpriv --reuid=65534 --regid=65534 --clear-groups \
    env XDG_CONFIG_HOME=/nonexistent "$save" "$url" -o "$work/read-only"
else
  refused 'cannot be written into' "$save" "$url" -o "$work/read-only"
fi

# The page itself cannot be stored (its name is taken by a folder): the save
# reports it, and the summary neither counts it nor offers it to open.
start_demo_server "$site"
mkdir -p "$work/copy/INDEX.HTML"
code=0
"$save" "${url}menu.html" -o "$work" --subfolder copy --links none \
  --no-pictures >"$work/summary.txt" 2>&1 || code=$?
[ "$code" -eq 4 ] || fail "a page that could not be stored gave exit $code: $(cat "$work/summary.txt")"
grep -q 'INDEX.HTML' "$work/summary.txt" || fail "the failure was not reported"
grep -q 'not stored 1,' "$work/summary.txt" ||
  fail "the summary does not count the page as not stored: $(cat "$work/summary.txt")"
grep -q 'open .*INDEX.HTML' "$work/summary.txt" &&
  fail "the summary offers a page that was not stored: $(cat "$work/summary.txt")"
echo "1 passed, 0 failed"
