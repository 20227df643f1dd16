#!/usr/bin/env bash
# Installing into a fresh prefix puts the programs, the extension and the
# desktop entry in place, registers the host with the three browsers and
# creates the settings; uninstalling leaves only the settings. Also: the
# registration switches on their own, and a registration failure is reported
# with -regserver only.
#   install.sh SOURCE_FOLDER BUILD_FOLDER
set -euo pipefail
source=$1 build=$2
work=$(mktemp -d /tmp/larkspool-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
prefix="$work/prefix"

LARKSPOOL_BUILD="$build" LARKSPOOL_NO_BUILD=1 "$source/scripts/install" "$prefix" >"$work/install.txt" ||
  fail "install: $(cat "$work/install.txt")"
for f in bin/larkspool bin/larkspool-save share/larkspool/extension/manifest.json \
         share/larkspool/extension/background.js share/applications/larkspool.desktop; do
  [ -e "$prefix/$f" ] || fail "$f was not installed"
done
manifests=("$XDG_CONFIG_HOME/chromium/NativeMessagingHosts/larkspool.lsapp.json"
           "$XDG_CONFIG_HOME/google-chrome/NativeMessagingHosts/larkspool.lsapp.json"
           "$HOME/.mozilla/native-messaging-hosts/larkspool.lsapp.json")
for m in "${manifests[@]}"; do
  grep -q "\"path\": \"$prefix/bin/larkspool\"" "$m" || fail "$m does not name the installed program"
done
id=$(cat "$source/extension/extension-id.txt")
grep -q "chrome-extension://$id/" "${manifests[0]}" || fail "the manifest does not allow the extension"
[ -f "$XDG_CONFIG_HOME/larkspool/registry.reg" ] || fail "no settings were created"
"$prefix/bin/larkspool" --version | grep -q '^Larkspool 3.6$' || fail "--version"

"$source/scripts/uninstall" "$prefix" >/dev/null
for m in "${manifests[@]}"; do [ ! -e "$m" ] || fail "$m stayed"; done
left=$(find "$prefix" -type f | wc -l)
[ "$left" -eq 0 ] || fail "uninstalling left $(find "$prefix" -type f)"
[ -f "$XDG_CONFIG_HOME/larkspool/registry.reg" ] || fail "the settings were removed"

# The switches themselves, any case, "-" or "/".
"$build/src/larkspool" /REGSERVER || fail "/REGSERVER failed"
[ -e "${manifests[1]}" ] || fail "/REGSERVER wrote no manifest"
"$build/src/larkspool" -UnRegServer || fail "-UnRegServer failed"
[ ! -e "${manifests[1]}" ] || fail "-UnRegServer left the manifest"
# A folder that cannot be made: reported, with a non-zero exit.
rm -rf "$XDG_CONFIG_HOME/chromium"
echo "in the way" >"$XDG_CONFIG_HOME/chromium"
code=0; "$build/src/larkspool" -regserver 2>"$work/err.txt" || code=$?
[ "$code" -ne 0 ] || fail "a failed registration exited with 0"
grep -q "registering failed" "$work/err.txt" || fail "the failure was not reported"
echo "1 passed, 0 failed"
