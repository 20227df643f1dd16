#!/usr/bin/env bash
# End to end: larkspool-save and what the output folder holds.
#  - While another save holds the folder, a save into it is refused at once
#    with exit 5 and a message naming the folder, and writes nothing there;
#    once the folder is free, the same save succeeds.
#  - A previous-downloads log that is a link to /dev/zero, or a FIFO, is
#    left aside with a message; the save goes on and ends normally.
#   folder-lock.sh SAVE_EXECUTABLE
set -euo pipefail
save=$1
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config" # no stored settings of the user's

cat >"$work/page.html" <<'HTML'
<html><head><title>Lock</title></head><body><p>A page with nothing to fetch.</p></body></html>
HTML
out="$work/out"
mkdir -p "$out/copy"
run_save() { # the lock descriptor 9 of this script is not handed on
  "$save" "file://$work/page.html" --folder "$out" --subfolder copy --quiet 9>&-
}

# This script holds the folder, as another save would.
exec 9>"$out/copy/.larkspool.lock"
flock -n 9 || fail "the test could not take the lock itself"
code=0; run_save >"$work/locked.txt" 2>&1 || code=$?
[ "$code" -eq 5 ] || { cat "$work/locked.txt"; fail "a save into a locked folder gave exit $code"; }
grep -qF "Another save into the folder \"$out/copy\" is running" "$work/locked.txt" ||
  { cat "$work/locked.txt"; fail "the refusal does not name the folder"; }
[ ! -e "$out/copy/INDEX.HTML" ] || fail "the refused save wrote into the folder"
exec 9>&-

code=0; run_save >"$work/free.txt" 2>&1 || code=$?
[ "$code" -eq 0 ] || { cat "$work/free.txt"; fail "a save into the free folder gave exit $code"; }
[ -s "$out/copy/INDEX.HTML" ] || fail "the save into the free folder stored no page"

# A hostile log is refused at once; the save goes on without it.
rm "$out/copy/lkspl.log"
ln -s /dev/zero "$out/copy/lkspl.log"
code=0; run_save >"$work/zero.txt" 2>&1 || code=$?
[ "$code" -eq 0 ] || { cat "$work/zero.txt"; fail "a log linked to /dev/zero gave exit $code"; }
grep -qF "lkspl.log\" was not read: it is a symbolic link" "$work/zero.txt" ||
  { cat "$work/zero.txt"; fail "the linked log was not reported"; }
[ -f "$out/copy/lkspl.log" ] && [ ! -L "$out/copy/lkspl.log" ] ||
  fail "the link was not replaced by a new log"

rm "$out/copy/lkspl.log"
mkfifo "$out/copy/lkspl.log"
code=0; run_save >"$work/fifo.txt" 2>&1 || code=$?
[ "$code" -eq 0 ] || { cat "$work/fifo.txt"; fail "a FIFO as the log gave exit $code"; }
grep -qF "lkspl.log\" was not read: it is not a regular file" "$work/fifo.txt" ||
  { cat "$work/fifo.txt"; fail "the FIFO was not reported"; }
echo "folder lock and hostile logs: ok"
