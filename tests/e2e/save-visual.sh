#!/usr/bin/env bash
# End to end: larkspool-save with every link of demo/docs, a manual built as
# documentation sites are (a sidebar frame filled by a script, imported
# style sheets whose pictures are named from their own folder, web fonts,
# CSS and inline-style backgrounds, srcset and <picture>, a video poster, an
# image button, a site icon, a frameset chapter), then each checked page of
# the copy opened from disk with the network cut off must look as the live
# page did (larkspool-visual-check: pixels within 0.1%, every kind of resource
# loaded as often from local files; nothing asked of the network). The
# start page, a chapter saved from a link and the frameset chapter are
# checked. First the check itself must tell a faithful copy of the fixture
# from damaged ones, so that its verdict on the save means something.
# The save's own check (--verify) must find nothing missing either.
# Every problem found is printed as a FAIL line.
#   save-visual.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER VISUAL_CHECK_EXECUTABLE \
#     [SCREENS_FOLDER]
# SCREENS_FOLDER, when given, receives the pictures of every failed check
# (live.png, offline.png, diff.png) under visual/.
set -euo pipefail
save=$1 server_bin=$2 site=$(cd "$3" && pwd) visual=$4 screens=${5:-}
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
cleanup() { [ -n "${KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
stop() { echo "FAIL: $*" >&2; exit 1; } # when nothing after it can be checked
source "$(dirname "$0")/demo-server.sh"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's
[ -z "$screens" ] || rm -rf "$screens/visual" # pictures of an earlier run

start_demo_server "$site" || stop "the fixture server did not start"

# The pages checked, as the site shows them.
pages=(index install reference)
for page in "${pages[@]}"; do
  "$visual" live "${url}$page.html" "$work/live/$page" >"$work/live-$page.txt" 2>&1 || {
    sed 's/^/  /' "$work/live-$page.txt" >&2
    stop "the live page $page.html could not be measured"
  }
  # The fixture loads everything it names: a failure here is the fixture's.
  if grep -q $'\tfailed\t' "$work/live/$page/live.txt"; then
    stop "the live page $page.html failed to load: $(grep $'\tfailed\t' "$work/live/$page/live.txt" | tr '\n\t' '  ')"
  fi
done

copy="$work/copy"
mkdir "$copy"
code=0
timeout 180 "$save" "${url}index.html" --folder "$copy" --no-subfolder --links all --pictures \
  --quiet --verify >"$work/save.txt" 2>&1 || code=$?
[ "$code" -ne 124 ] || { cat "$work/save.txt" >&2; stop "the save did not end within 3 minutes"; }
[ -f "$copy/INDEX.HTML" ] || { cat "$work/save.txt" >&2; stop "the save (exit $code) stored no start page"; }
[ "$code" -eq 0 ] || { cat "$work/save.txt" >&2; fail "the save ended with exit $code, not 0"; }
# The save's own offline check agrees: every saved page complete.
grep -Eq '^Checked offline: .*, 0 missing$' "$work/save.txt" ||
  { cat "$work/save.txt" >&2; fail "the save's own offline check found something missing"; }
# From here on nothing may come from the server.
stop_demo_server

# offline NAME PAGE FILE: the offline step for FILE against the live
# measurement of PAGE, in a folder of its own (NAME); 0 when it passes, 1
# when it fails (its report in $work/NAME.txt, its pictures kept in
# SCREENS_FOLDER); a check that cannot run stops the test.
offline() {
  local out="$work/offline/$1" status=0
  mkdir -p "$out"
  cp "$work/live/$2/live.png" "$work/live/$2/live.txt" "$out/"
  "$visual" offline "$3" "$out" >"$work/$1.txt" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    return 0
  elif [ "$status" -ne 1 ]; then
    sed 's/^/  /' "$work/$1.txt" >&2
    stop "larkspool-visual-check could not check $3 (exit $status)"
  fi
  if [ -n "$screens" ]; then
    mkdir -p "$screens/visual/$1"
    cp "$out"/*.png "$screens/visual/$1/"
  fi
  return 1
}

# The check itself. A faithful copy of the fixture passes; damaged copies
# fail, naming what they lack.
cp -r "$site" "$work/faithful"
offline faithful index "$work/faithful/index.html" || {
  sed 's/^/  /' "$work/faithful.txt" >&2
  stop "larkspool-visual-check finds fault with an exact copy of the fixture"
}
# expect_failure NAME WHAT PATTERN: the damaged copy $work/NAME must fail
# with PATTERN in a FAIL line.
expect_failure() {
  if offline "$1" index "$work/$1/index.html"; then
    fail "larkspool-visual-check passed a copy $2"
  elif ! grep -E '^(FAIL|  missing)' "$work/$1.txt" | grep -q -- "$3"; then
    fail "larkspool-visual-check did not name $3 in a copy $2:"
    sed 's/^/  /' "$work/$1.txt" >&2
  fi
}
cp -r "$site" "$work/no-font"
rm "$work/no-font/css/fonts/docs-code.ttf"
expect_failure no-font "without its code font" "docs-code.ttf"
cp -r "$site" "$work/no-picture"
rm "$work/no-picture/img/stripe.png"
expect_failure no-picture "without the footer's picture named in an imported sheet" "stripe.png"
grep -q 'looks different' "$work/no-picture.txt" ||
  fail "larkspool-visual-check saw no difference in a copy without the footer's picture"
# A sidebar saved as the browser held it, its list already filled, which
# its script then fills again: a small change, but one a reader sees.
cp -r "$site" "$work/filled-twice"
items='<li><a href="index.html">Welcome</a></li><li><a href="install.html">Installing</a></li>'
items+='<li><a href="usage.html">Everyday use</a></li><li><a href="reference.html">Reference</a></li>'
items+='<li><a href="faq.html">Questions</a></li>'
sed -i "s|<ul id=\"chapters\"></ul>|<ul id=\"chapters\">$items</ul>|" "$work/filled-twice/toc.html"
grep -q 'Questions' "$work/filled-twice/toc.html" || stop "the sidebar of the fixture changed: update this test"
expect_failure filled-twice "whose sidebar lists every chapter twice" "looks different"
cp -r "$site" "$work/online-frame"
sed -i "s|src=\"toc.html\"|src=\"${url}toc.html\"|" "$work/online-frame/index.html"
expect_failure online-frame "whose sidebar frame is on the server" "asked the network for Document ${url}toc.html"

# The save. Its chapters are found by the links of its start page: a
# link's local name is what the copy calls the page.
saved_page() { # saved_page LINK_TEXT: the local file the start page's link leads to
  tr '\n' ' ' <"$copy/INDEX.HTML" | grep -oE "<a [^>]*href=\"[^\"]*\"[^>]*>$1</a>" | head -1 |
    sed -E 's/.*href="([^"]*)".*/\1/'
}
check_saved() { # check_saved PAGE FILE WHAT
  if [ -z "$2" ] || [[ "$2" == *[/:]* ]] || [ ! -f "$copy/$2" ]; then
    fail "$3 ($1.html) is not a page of the copy: its link leads to '${2}'"
  elif ! offline "saved-$1" "$1" "$copy/$2"; then
    fail "$3 ($1.html, saved as $2) does not look or load offline as it did live:"
    grep -E '^(FAIL|  missing|pixels|resources)' "$work/saved-$1.txt" | sed 's/^FAIL: //; s/^/  /' >&2
  fi
}
check_saved index INDEX.HTML "the start page"
check_saved install "$(saved_page Installing)" "the chapter Installing"
check_saved reference "$(saved_page Reference)" "the frameset chapter Reference"

if [ "$failures" -ne 0 ]; then
  echo "$failures problems; the save's summary:" >&2
  sed 's/^/  /' "$work/save.txt" >&2
  [ -z "$screens" ] || echo "pictures of the failed checks: $screens/visual/" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
