#!/usr/bin/env bash
# End to end: serves the demo site on 127.0.0.1, saves it with larkspool-save
# through headless Chromium, stops the server, and checks the copy: every
# page, picture and style sheet is there, every local link names a saved
# file, the page not chosen carries the script, and saving again with
# --reuse fetches no page and changes no page, and files left to the browser
# are downloaded by it.
#   save-demo.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER CHECK_COPY_EXECUTABLE
set -euo pipefail
save=$1 server_bin=$2 site=$3 check_copy=$4
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/copy-checks.sh"
source "$(dirname "$0")/demo-server.sh"
start_demo_server "$site"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

# The site password from the environment, as the help advises, not from the
# command line where every user of the machine could read it.
run_save() {
  LARKSPOOL_PASSWORD=demo "$save" "${url}index.html" --folder "$work" \
    --subfolder "${subfolder:-copy}" --frame 0 --quiet \
    --links matching --match 'birds|plants|old-notes|diary|checklist' \
    --pictures --user demo "$@" </dev/null
}
fail() { echo "FAIL: $*" >&2; exit 1; }

run_save >"$work/first.txt" || fail "first save: exit $?"
copy="$work/copy"
for f in INDEX.HTML menu.html welcome.html birds.html plants.html notes.html diary.html \
         site.css print.css logo.svg marsh.svg heron.svg reed.svg checklist.zip lkspl.log; do
  [ -s "$copy/$f" ] || fail "$f was not saved"
done
grep -q 'Only for those who know the password' "$copy/diary.html" || fail "the password page holds the refusal"
grep -q '<a href="notes.html"' "$copy/menu.html" || fail "the moved page is not linked to its new name"
grep -q "not selected for download" "$copy/menu.html" || fail "the page not chosen has no script"

# Every value in every saved page: a script, or a saved file (fragment aside).
for page in "$copy"/*.html "$copy/INDEX.HTML"; do
  while IFS= read -r value; do
    case "$value" in
      javascript:* | http://* | https://*) continue ;; # a script, or the server
    esac
    file=${value%%#*}
    [ -f "$copy/$file" ] || fail "$(basename "$page") links to $value, which is not saved"
  done < <(grep -oE '(href|src)="[^"]*"' "$page" | sed -E 's/^[a-z]+="//; s/"$//')
done

# A frameset whose second frame comes from another site (localhost against
# 127.0.0.1, so another origin in another browser process): both frames are
# stored, the copy's frameset points at them, and their pictures and style
# sheets are fetched from their own sites.
"$save" "${url}frames/index.html" --folder "$work" --subfolder frames --quiet --links none \
  --pictures >"$work/frames.txt" 2>&1 || { cat "$work/frames.txt"; fail "frames save: exit $?"; }
check_demo_frames "$work/frames"
# Started inside the other site's frame, its own links are listed.
"$save" "${url}frames/index.html" --frame 1 --list-links >"$work/frame-links.txt" ||
  fail "listing the other site's frame: exit $?"
grep -q 'birds.html Birds of the marsh' "$work/frame-links.txt" || fail "the other site's frame's links"
# A start page the server answers with an error is not saved.
code=0; "$save" "${url}no-such-page.html" --folder "$work" --subfolder missing-page \
  >"$work/missing.txt" 2>&1 || code=$?
[ "$code" -eq 3 ] || fail "a start page answered 404 gave exit $code"
grep -q 'answered HTTP 404 Not Found' "$work/missing.txt" || fail "the 404 was not reported"
[ ! -e "$work/missing-page" ] || fail "something was saved of the 404 page"

# Save again into the same folder, from the same address, with --reuse: the
# downloaded pages are taken over, neither fetched nor rewritten (same inode),
# and every page reads exactly as before.
port=${url#http://127.0.0.1:}
port=${port%/}
inodes() { for f in birds.html plants.html notes.html diary.html; do stat -c %i "$copy/$f"; done; }
before=$(inodes)
# Exit codes: bad arguments, a destination that does not exist, a page that
# cannot be loaded.
code=0; "$save" --no-such-option >/dev/null 2>&1 || code=$?
[ "$code" -eq 2 ] || fail "bad arguments gave exit $code"
code=0; "$save" "${url}index.html" --folder "$work/missing" >/dev/null 2>&1 || code=$?
[ "$code" -eq 5 ] || fail "a missing folder gave exit $code"
cp -r "$copy" "$work/before"
stop_demo_server
# With the server gone, every saved page opened from disk in the browser
# shows all its pictures and style sheets.
XDG_CONFIG_HOME="$work/config" "$check_copy" "$copy" >"$work/check.txt" ||
  { cat "$work/check.txt"; fail "the copy does not display offline"; }
# The check itself sees a missing style sheet and a missing picture.
cp -r "$copy" "$work/broken"
rm "$work/broken/site.css" "$work/broken/logo.svg"
XDG_CONFIG_HOME="$work/config" "$check_copy" "$work/broken" >"$work/broken.txt" &&
  fail "the check passed a copy without site.css and logo.svg"
grep -q 'style sheet site.css' "$work/broken.txt" || fail "the check missed site.css"
grep -q 'picture logo.svg' "$work/broken.txt" || fail "the check missed logo.svg"
code=0; "$save" "${url}index.html" --folder "$work" >/dev/null 2>&1 || code=$?
[ "$code" -eq 3 ] || fail "a page that does not load gave exit $code"
start_demo_server "$site" "$port"
run_save --reuse >"$work/second.txt" || fail "second save: exit $?"
[ "$(inodes)" = "$before" ] || fail "the second save fetched or rewrote a page it should take over"
for f in "$work/before"/*.html "$work/before/INDEX.HTML"; do
  cmp -s "$f" "$copy/$(basename "$f")" || fail "$(basename "$f") changed on the second save"
done

# A third save, into a fresh subfolder, leaving .zip files to the browser: the
# headless browser downloads checklist.zip there, the summary names it, and
# the menu's link to it carries the script.
subfolder=handed run_save --extensions zip --extension-handling browser >"$work/third.txt" ||
  fail "third save: exit $?"
handed="$work/handed"
[ -s "$handed/checklist.zip" ] || fail "the browser did not download checklist.zip"
cmp -s "$handed/checklist.zip" "$site/files/checklist.zip" || fail "the browser's checklist.zip differs"
grep -q '^Left to the browser: .*checklist\.zip (downloaded)' "$work/third.txt" ||
  fail "the summary does not report checklist.zip as downloaded"
grep -q 'default download manager' "$handed/menu.html" ||
  fail "the link to the file left to the browser has no script"
echo "1 passed, 0 failed"
