# Shared by the end-to-end saves of the hostile fixture (sourced, not run):
# its server, over http and https, and the checks of a copy of it. $work,
# $server_bin and $site must be set; fail() must be defined.
source "$(dirname "${BASH_SOURCE[0]}")/copy-checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/demo-server.sh"

# Starts the demo server on the fixture with a certificate of its own for
# 127.0.0.1; sets url, tls_url and server, and points our HTTP layer at the
# certificate.
start_hostile_server() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1" -keyout "$work/key.pem" -out "$work/cert.pem" \
    >/dev/null 2>&1 || fail "no test certificate"
  LARKSPOOL_DEMO_CERT="$work/cert.pem" LARKSPOOL_DEMO_KEY="$work/key.pem" \
    start_demo_server "$site" || fail "the fixture server did not start"
  export LARKSPOOL_CA_FILE="$work/cert.pem"
}

# check_hostile_copy COPY_FOLDER SUMMARY_FILE CHECK_COPY_EXECUTABLE
check_hostile_copy() {
  local copy=$1 summary=$2 check_copy=$3
  for f in INDEX.HTML page.html secure.html style.css pic.svg medium-headers.svg big-headers.svg \
           headers.html lkspl.log; do
    [ -s "$copy/$f" ] || fail "$f was not saved"
  done
  grep -q 'This page came over https' "$copy/secure.html" || fail "the https page is not stored"
  grep -lq 'Framed from another site' "$copy"/*.htm* || fail "the frame of another site is not stored"
  # The page and picture with 300-byte names are stored under shorter names.
  [ "$(ls "$copy" | grep -ic '^[0-9]*llll.*\.html$')" -ge 2 ] || fail "the long-named pages were lost"
  ls "$copy" | grep -iq '^llll.*\.svg$' || fail "the long-named picture was lost"
  # Error answers are not stored, and what was not fetched says why.
  for f in missing.svg missing.css missing.html broken.html loop.html silent.html; do
    [ ! -e "$copy/$f" ] || fail "the error answer $f was stored"
  done
  grep -q 'not fetched: HTTP 404' "$summary" || fail "a 404 answer was not reported"
  # A megabyte of headers is more than the HTTP library (or a browser) takes:
  # not stored, and reported with its reason.
  [ ! -e "$copy/huge-headers.svg" ] || fail "the answer with a megabyte of headers was stored"
  grep -qE 'huge-headers.svg: not fetched: [A-Za-z]' "$summary" ||
    fail "the answer with a megabyte of headers was not reported with a reason"
  # The log is ours: whole records, not the file the server named lkspl.log.
  [ $(($(stat -c %s "$copy/lkspl.log") % 152)) -eq 0 ] || fail "lkspl.log is not a log"
  grep -q 'not a log of ours' "$copy/lkspl.log" && fail "the server's lkspl.log replaced the log"
  check_local_references "$copy"
  # Opened from disk with the server gone, every page shows what it stored.
  stop_demo_server
  "$check_copy" --local-only "$copy" >"$work/check.txt" 2>&1 ||
    { cat "$work/check.txt" >&2; fail "the copy does not display offline"; }
}
