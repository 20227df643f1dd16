#!/usr/bin/env bash
# End to end: larkspool-save with every link selected on demo/meaning, whose
# pages hold addresses that mean something other than they read at first
# sight: bases (the start page's and a fetched page's), a srcset, named
# anchors, tags spread over lines or in capitals, look-alike attributes,
# link elements that are not style sheets, character references, a
# protocol-relative picture of another site, a picture in a comment. The
# server logs what it was asked for. The save fetches exactly what the pages
# show and link to (nothing the server does not have, nothing they only
# mention), stores it, and relinks every page to it, so that the copy
# browses offline. Every problem found is printed as a FAIL line.
#   save-meaning.sh SAVE_EXECUTABLE SERVER_EXECUTABLE SITE_FOLDER CHECK_COPY_EXECUTABLE
set -euo pipefail
save=$1 server_bin=$2 site=$(cd "$3" && pwd) check_copy=$4
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
cleanup() { [ -n "${KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
stop() { echo "FAIL: $*" >&2; exit 1; } # when nothing after it can be checked
source "$(dirname "$0")/copy-checks.sh"
source "$(dirname "$0")/demo-server.sh"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

# The fixture's pages name their files under /meaning/: serve a folder that
# holds only the fixture there.
mkdir "$work/root"
ln -s "$site" "$work/root/meaning"
requests="$work/requests.log"
LARKSPOOL_DEMO_REQUEST_LOG="$requests" start_demo_server "$work/root" ||
  stop "the fixture server did not start"
port=${url##*:}
port=${port%/}

code=0
timeout 180 "$save" "${url}meaning/index.html" --folder "$work" --subfolder copy --links all \
  --pictures --skip-after 10 >"$work/save.txt" 2>&1 || code=$?
[ "$code" -ne 124 ] || { cat "$work/save.txt" >&2; stop "the save did not end within 3 minutes"; }
copy="$work/copy"
[ -f "$copy/INDEX.HTML" ] || { cat "$work/save.txt" >&2; stop "the save (exit $code) stored no start page"; }
if [ "$code" -ne 0 ]; then
  fail "the save ended with exit $code, not 0"
  grep -i 'not fetched' "$work/save.txt" | sed 's/^/  /' >&2 || true
fi
# Every answer is in the log once the server is gone.
stop_demo_server

# What the server was asked for (by the browser for the start page, then by
# the save). Nothing it does not have: every file a page shows is there, so
# a 404 is an address read wrongly. The browser asks for /favicon.ico on its
# own.
while read -r status target; do
  [ "$target" != /favicon.ico ] || continue
  [ "$status" != 404 ] || fail "the save asked for $target, which the server does not have (404)"
  case "$target" in
    *'&amp;'* | *'&#'*) fail "the save asked for $target: a character reference was not decoded" ;;
  esac
done <"$requests"
# Nothing the pages only mention. These files are on the server, so asking
# for them is no 404: only the log shows it.
declare -A mention=(
  [canonical-only.html]='a rel=canonical link' [next-only.html]='a rel=next link'
  [prev-only.html]='an unquoted rel=prev link' [home-only.html]='an unquoted rel=home link'
  [feed.xml]='an alternate link to a feed' [lazy-only.png]='a data-src attribute'
  [x-only.html]='an xhref attribute' [commented-only.png]='a picture inside a comment'
)
for name in canonical-only.html next-only.html prev-only.html home-only.html feed.xml \
            lazy-only.png x-only.html commented-only.png; do
  if grep -qE "^[0-9]+ /meaning/$name([?#]|\$)" "$requests"; then
    fail "the save fetched $name, named only by ${mention[$name]}"
  fi
  stored=$(find "$copy" -maxdepth 1 -iname "*${name%.*}*" -printf '%f ')
  [ -z "$stored" ] || fail "the copy holds $stored(for $name)"
done
grep -qE '^200 /meaning/c\.gif\?v=2&p=1$' "$requests" ||
  fail "c.gif was not fetched with its query decoded (?v=2&p=1)"

# Stored, byte for byte: what the pages show, wherever the fixture holds it.
for f in base/home.png base/base.css pic.png figure.png nl.png tab.png upper.png real.png ws.css \
         style.css favicon.png c.gif d.gif pr.png assets/logo.png assets/site.css shown.png; do
  name=${f##*/}
  if [ ! -f "$copy/$name" ]; then
    fail "$name (/meaning/$f) was not saved"
  elif ! cmp -s "$copy/$name" "$site/$f"; then
    fail "$name holds something else than /meaning/$f"
  fi
done
for f in srcset.html anchor-name.html whitespace.html links.html refs.html protocol-relative.html \
         page.html comments.html target.html real-target.html; do
  [ -s "$copy/$f" ] || fail "the page $f was not saved"
done

# The copy's references are bare names of the folder: a base that points
# anywhere breaks every one of them.
for page in "$copy"/*.htm "$copy"/*.html "$copy/INDEX.HTML"; do
  [ -e "$page" ] || continue
  name=$(basename "$page")
  base=$(tr '\r\n\t' '   ' <"$page" |
    grep -oiE "<base[^>]*[[:space:]]href[[:space:]]*=[[:space:]]*(\"[^\"]+\"|'[^']+'|[^[:space:]>\"']+)" || true)
  [ -z "$base" ] || fail "$name still holds $base"
  # Every link of the fixture leads to a page that was saved.
  if grep -q 'not selected for download' "$page"; then
    fail "$name has links relinked as not saved: $(grep -o "window.location='[^']*'" "$page" | tr '\n' ' ')"
  fi
  # Only what the pages merely mention stays on the server.
  while IFS= read -r value; do
    [[ "$value" =~ ^(https?:)?//(127\.0\.0\.1|localhost):$port/ ]] || continue
    file=${value%%[?#]*}
    file=${file##*/}
    [ -n "${mention[$file]:-}" ] || fail "$name refers to the server for $value instead of the copy's file"
  done < <(reference_values "$page")
done
check_local_references "$copy"

# Opened from disk, every page shows its pictures and gets its style sheets.
if ! "$check_copy" --local-only "$copy" >"$work/check.txt" 2>&1; then
  fail "the copy does not display offline"
  grep -v ' passed, ' "$work/check.txt" | sed 's/^/  /' >&2 || true
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures problems; the save's summary:" >&2
  sed 's/^/  /' "$work/save.txt" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
