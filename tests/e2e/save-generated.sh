#!/usr/bin/env bash
# End to end: a generated site (bench/generate-site.sh: frameset pages,
# srcset, pictures and a font named in imported style sheets, inline-style
# backgrounds, scripts) saved with every link by larkspool-save --verify:
# every saved page must be complete offline, which the save's own check
# reports per page and in its last line; and the frames of the linked
# framesets are saved and relinked.
#   save-generated.sh SAVE_EXECUTABLE SERVER_EXECUTABLE GENERATOR [PAGES]
set -euo pipefail
save=$1 server_bin=$2 generate=$3 pages=${4:-30}
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/demo-server.sh"
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

"$generate" "$work/site" "$pages"
start_demo_server "$work/site"
mkdir "$work/copy"
code=0
timeout 300 "$save" "${url}index.html" --folder "$work/copy" --no-subfolder --links all \
  --pictures --quiet --verify >"$work/save.txt" 2>&1 || code=$?
cat "$work/save.txt"
[ "$code" -eq 0 ] || fail "the save ended with exit $code"
last=$(tail -n 1 "$work/save.txt")
[[ "$last" =~ ^Checked\ offline:\ ([0-9,]+)\ of\ ([0-9,]+)\ pictures,\ ([0-9,]+)\ of\ ([0-9,]+)\ style\ sheets.*,\ 0\ missing$ ]] ||
  fail "the offline check's line: $last"
[ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] || fail "pictures: $last"
# Every page shows the pictures its tags and style sheets name: at least
# the ten of each page and the two style pictures, for every page.
pictures=${BASH_REMATCH[1]//,/}
[ "$pictures" -ge $((pages * 10)) ] || fail "only $pictures pictures were checked: $last"

copy="$work/copy"
for f in site.css headings.css site.ttf paper.png rule.png band.png nav.js menu10.html body10.html; do
  [ -s "$copy/$f" ] || fail "$f was not saved"
done
grep -q 'src="menu10.html"' "$copy/page10.html" || fail "the linked frameset's frame is not relinked"
grep -q 'url("rule.png")' "$copy/headings.css" || fail "the imported sheet names its picture locally"
grep -q 'srcset="p1_1.png 1x, p1_1_2x.png 2x"' "$copy/page1.html" || fail "srcset is not relinked"
echo "PASS: $pages generated pages complete offline"
