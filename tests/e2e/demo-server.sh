# shellcheck shell=bash
# Starting and stopping the demo server, shared by the end-to-end scripts and
# scripts/demo (sourced, not run). $server_bin (the server program) and $work
# (a folder of the caller's) must be set.

# start_demo_server SITE_FOLDER [PORT [STALLED_PATH]]: starts the server in
# the background and waits (at most 10 s) for the address it prints; sets
# url, tls_url (its https address, when LARKSPOOL_DEMO_CERT and
# LARKSPOOL_DEMO_KEY give it a certificate; else empty) and server (its
# process id). Variables put before the call reach the server's environment.
# Fails, and returns non-zero, when no address comes. The server is stopped
# by its process id when the script exits: set your own EXIT trap before the
# first call, it is kept.
# shellcheck disable=SC2034,SC2154 # url and tls_url are for the caller, $work is its
start_demo_server() {
  local address="$work/demo-server-address" lines=1
  [ -z "${LARKSPOOL_DEMO_CERT:-}" ] || lines=2
  _demo_server_stop_on_exit
  : >"$address" # not what an earlier server wrote
  "$server_bin" "$@" >"$address" &
  server=$!
  for _ in $(seq 100); do
    [ "$(wc -l <"$address")" -ge "$lines" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  url=$(sed -n 1p "$address")
  tls_url=$(sed -n 2p "$address")
  if [ "$(wc -l <"$address")" -lt "$lines" ]; then
    echo "FAIL: the demo server for $1 gave no address" >&2
    return 1
  fi
}

# Stops the server started last, by its process id, and waits for it.
stop_demo_server() {
  [ -n "${server:-}" ] || return 0
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=""
}

# Puts stop_demo_server before whatever the EXIT trap already does (once).
_demo_server_stop_on_exit() {
  [ -z "${_demo_server_trapped:-}" ] || return 0
  _demo_server_trapped=1
  local previous
  previous=$(trap -p EXIT) # trap -- 'COMMANDS' EXIT, a ' in them written '\''
  previous=${previous#"trap -- '"}
  previous=${previous%"' EXIT"}
  previous=${previous//"'\\''"/"'"}
  # shellcheck disable=SC2064 # the earlier commands are meant to be fixed now
  trap "stop_demo_server; $previous" EXIT
}
