# shellcheck shell=bash
# Bounded waits shared by the end-to-end scripts (sourced, not run).

# wait_for_exit PID SECONDS: waits until the process has ended, at most
# SECONDS; returns non-zero when it is still running then.
wait_for_exit() {
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$1" 2>/dev/null
}
