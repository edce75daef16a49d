#!/usr/bin/env bash
# Start-up of the real binary: first start writes the built-in configuration and
# prints where it listens; a second instance is refused while the lock is held.
set -euo pipefail

binary="${LUMBRA_BINARY:?LUMBRA_BINARY must name build/lumbra}"
source_dir="${LUMBRA_SOURCE_DIR:?LUMBRA_SOURCE_DIR must name the source folder}"

work="$(mktemp -d)"
holder=""
cleanup() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; wait "$holder" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the proxy until it has said where it listens, then ends it with SIGTERM;
# sets $status. The default port may be taken by another program on this
# machine: then the start fails with the busy-port message, which also counts.
run_briefly() {
  local out="$1" err="$2" pid
  "$binary" <&- >"$out" 2>"$err" &
  pid=$!
  for _ in $(seq 1 100); do
    grep -q "listens on port" "$out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -TERM "$pid" 2>/dev/null || true
  status=0; wait "$pid" || status=$?
  if [ "$status" -eq 1 ] && grep -q "Could not start proxy server. Socket port busy." "$err"; then
    status=0; busy=1
  else
    busy=0
  fi
}

export XDG_CONFIG_HOME="$work/config"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR"
config="$XDG_CONFIG_HOME/Lumbra_Corvane/lumbra.xml"

# --help and --version answer without touching the configuration.
"$binary" --version | grep -q '^Lumbra [0-9]' || fail "--version"
"$binary" --help | grep -q -- '--version' || fail "--help"
[ ! -e "$XDG_CONFIG_HOME" ] || fail "--help/--version created the configuration"
status=0; "$binary" --no-such-option >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "unknown option exit status $status"

# First start, with standard input closed: the default file appears byte for byte.
run_briefly "$work/out" "$work/err"
[ "$status" -eq 0 ] || fail "first start exit status $status: $(cat "$work/err")"
cmp -s "$config" "$source_dir/resources/default-config.xml" || fail "written file differs"
if [ "$busy" -eq 0 ]; then
  line="Lumbra [0-9.]* listens on port 8010 of every IPv4 interface, for this machine only"
  grep -qx "$line; configuration: $config" "$work/out" || fail "no listening line in: $(cat "$work/out")"
  [ "$(wc -l <"$work/out")" -eq 1 ] || fail "more than one line printed"
fi
[ "$(ls -A "$(dirname "$config")")" = "lumbra.xml" ] || fail "stray files beside the configuration"

# A second start reads the same file and leaves it alone.
run_briefly "$work/out2" "$work/err2"
[ "$status" -eq 0 ] || fail "second start exit status $status: $(cat "$work/err2")"
cmp -s "$config" "$source_dir/resources/default-config.xml" || fail "file changed on second start"

# While another process holds the lock, a second instance is refused.
# The holder is one process (exec), so killing it drops the lock.
bash -c 'exec 9>"$1"; flock 9; exec sleep 60' holder "$XDG_RUNTIME_DIR/LumbraMutex" &
holder=$!
for _ in $(seq 1 100); do
  flock -n "$XDG_RUNTIME_DIR/LumbraMutex" true || break
  sleep 0.05
done
! flock -n "$XDG_RUNTIME_DIR/LumbraMutex" true || fail "lock holder did not start"
status=0; "$binary" >"$work/out3" 2>"$work/err3" || status=$?
[ "$status" -eq 1 ] || fail "second instance exit status $status"
grep -q "Only one running Lumbra instance is allowed" "$work/err3" || fail "no one-instance message"
[ ! -s "$work/out3" ] || fail "second instance printed a line"
kill "$holder"; wait "$holder" 2>/dev/null || true; holder=""

# Once the holder is gone the program starts again.
run_briefly "$work/out5" "$work/err5"
[ "$status" -eq 0 ] || fail "start after the lock was released: $(cat "$work/err5")"

# A runtime folder that does not exist is reported, not ignored.
status=0
XDG_RUNTIME_DIR="$work/missing" "$binary" >/dev/null 2>"$work/err4" || status=$?
[ "$status" -eq 1 ] || fail "missing runtime folder exit status $status"
grep -q "Wrong file path. ($work/missing/LumbraMutex)" "$work/err4" || fail "missing runtime message"

echo "startup_test: ok"
