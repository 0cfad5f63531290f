# Shared by the orvane-check scenario tests: checks that count, a scratch folder, and
# helper processes that are stopped by pid whatever happens.
# Usage: source lib.sh PATH-TO-orvane-check
set -uo pipefail
BIN=$(realpath "$1")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d)
PIDS=()
PASSED=0
FAILED=0

# Whether process $1 still runs (a zombie, ended but not yet waited for, does not).
running() {
  local state
  state=$(sed -E 's/.*\) (.).*/\1/' "/proc/$1/stat" 2>/dev/null) && [[ $state != Z ]]
}
# Newest first, so that clients end before the servers they use (the X server last), each
# given 5 s to end and then killed: a run whose checks are all done must not hang in its
# clean-up (it once did, for ten minutes, with every check passed).
cleanup() {
  local i p n
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
    p=${PIDS[i]}
    kill "$p" 2>/dev/null
    for ((n = 0; n < 50; n++)); do
      running "$p" || break
      sleep 0.1
    done
    if running "$p"; then
      echo "clean-up: $(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)(pid $p) ignored the end request: killed" >&2
      kill -KILL "$p" 2>/dev/null
    fi
    wait "$p" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

ok() { PASSED=$((PASSED + 1)); }
bad() { FAILED=$((FAILED + 1)); echo "FAIL: $*" >&2; }
# expect DESCRIPTION COMMAND...: the command must succeed.
expect() {
  local what=$1
  shift
  if "$@"; then ok; else bad "$what"; fi
}
# contains DESCRIPTION FILE TEXT: the file holds the text (fixed string).
contains() {
  if grep -qF -- "$3" "$2"; then ok; else bad "$1: \"$3\" not in $2"; cat "$2" >&2; fi
}
finish() {
  echo "$PASSED passed, $FAILED failed"
  ((FAILED == 0))
}

# Runs a background helper and remembers its pid for the clean-up.
spawn() {
  "$@" &
  PIDS+=($!)
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# wait_for SECONDS COMMAND...: polls the command every 0.1 s, at most that long.
wait_for() {
  local tries=$(($1 * 10))
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Starts `orvane-check --serve-demo ARGS` and sets DEMO_URL (the page), DEMO_BASE and
# DEMO_KEY (the public key the page is signed with).
start_demo() {
  local log="$WORK/demo-$RANDOM.log"
  spawn "$BIN" --serve-demo "$@" >"$log" 2>&1
  DEMO_PID=${PIDS[-1]}
  wait_for 10 grep -q '^Demo server: ' "$log" || { bad "demo server did not start"; cat "$log" >&2; return 1; }
  DEMO_URL=$(sed -n 's/^Demo server: \(http[^ ]*\).*/\1/p' "$log")
  DEMO_BASE=${DEMO_URL%/*}
  DEMO_KEY=$(sed -n 's/^Public key: \([^ ]*\).*/\1/p' "$log")
}
