# Shared by the end-to-end scripts that drive windows (sourced, not run):
# a private X server, finding its windows, and the program's settings.

# Starts Xvfb on a free display; sets DISPLAY, QT_QPA_PLATFORM and xvfb (its
# process id). $work must be set.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
}

# window NAME PID: waits (up to 30 s, while process PID lives) for a visible
# window whose name matches NAME; prints its id.
window() {
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# write_settings FILE: the program's settings file (a .reg file, its folders
# made), with the values ("Name"=value lines) read from standard input.
write_settings() {
  mkdir -p "$(dirname "$1")"
  {
    printf 'Windows Registry Editor Version 5.00\n\n'
    printf '[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n'
    cat
  } >"$1"
}
