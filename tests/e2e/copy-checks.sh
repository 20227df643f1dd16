# shellcheck shell=bash
# Checks of a saved copy shared by the end-to-end saves (sourced, not run).
# fail() must be defined.

# The href and src values of the tags of an HTML file, one a line, quotes
# removed. Comments are left out, as the browser ignores them, and so are
# look-alikes such as data-src or xhref: only those attributes lead anywhere.
# So are <link>s other than style sheets and icons (a canonical address, the
# next page, a feed), which the browser does not load and a copy leaves as
# the page wrote them.
reference_values() {
  perl -0777 -ne '
    s/<!--.*?-->//gs;
    while (/<[A-Za-z][^>]*>/g) {
      my $tag = $&;
      next if $tag =~ /^<link\b/i && $tag !~ /\brel\s*=\s*["\x27]?[^>]*\b(?:stylesheet|icon)\b/i;
      while ($tag =~ /[\s"\x27](?:href|src)\s*=\s*(?:"([^"]*)"|\x27([^\x27]*)\x27|([^\s>"\x27]+))/gi) {
        print((defined $1 ? $1 : defined $2 ? $2 : $3), "\n");
      }
    }' "$1"
}

# check_local_references COPY_FOLDER
# Every reference of a saved page to a file of the folder (no scheme, no
# "//host", not only a fragment) names a saved file: the copy is flat, so
# anything else shows nothing offline.
check_local_references() {
  local copy=$1 page value file
  for page in "$copy"/*.htm "$copy"/*.html "$copy/INDEX.HTML"; do
    [ -e "$page" ] || continue
    while IFS= read -r value; do
      case "$value" in
        "" | \#* | //*) continue ;;
      esac
      [[ "$value" =~ ^[A-Za-z][A-Za-z0-9+.-]*: ]] && continue # a script or the server
      file=${value%%#*}
      [ -f "$copy/$file" ] || fail "$(basename "$page") refers to $value, which is not saved"
    done < <(reference_values "$page")
  done
}

# check_demo_frames COPY_FOLDER [WHAT]: a copy of the demo site's frameset
# (frames/index.html), whose second frame comes from another site: both
# frames are stored with their pictures and style sheets, and the copy's
# frameset points at them. WHAT starts the failure messages.
check_demo_frames() {
  local frames=$1 what=${2:-frames} f
  for f in INDEX.HTML local.html other.html site.css print.css reed.svg heron.svg; do
    [ -s "$frames/$f" ] || fail "$what: $f was not saved"
  done
  grep -q 'Served from another site' "$frames/other.html" ||
    fail "$what: the other site's frame holds something else"
  grep -q '<frame src="other.html">' "$frames/INDEX.HTML" ||
    fail "$what: the frameset does not point at the other site's frame"
  grep -q '<frame src="local.html">' "$frames/INDEX.HTML" ||
    fail "$what: the frameset does not point at its own frame"
}
