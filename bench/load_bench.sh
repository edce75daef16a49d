#!/usr/bin/env bash
# Load benchmark: an nginx origin on loopback measured directly, through tinyproxy and through
# Lumbra with its built-in rules, all in one run; prints every figure with its ratio to direct
# access and to tinyproxy, and whether Lumbra meets its target. With LUMBRA_BASELINE=path, that
# second Lumbra binary is measured in the same rounds as a baseline: each figure then also shows
# the baseline's value and Lumbra's ratio to it, and a last line lists the figures where Lumbra
# is more than 10% worse than the baseline. A third Lumbra, with a generated list of 200,000
# domains enabled, is measured on the 1 KiB page against the one without. A fourth, with HTTPS
# filtering switched on for 127.0.0.1, opens up HTTPS to the origin's TLS port, measured against
# direct TLS and tinyproxy's plain tunnels.
#
# Needs build/lumbra (build it first: scripts/build.sh; another binary with LUMBRA_BINARY=path)
# and nginx, tinyproxy, wrk, curl, python3, openssl and gzip (scripts/setup-bench.sh installs
# them). Installs
# and builds nothing itself. Takes about three minutes; BENCH_DURATION (seconds, default 10) sets
# the length of each wrk run. With BENCH_PROFILE=folder, each of Lumbra's measurements is
# recorded machine-wide with perf into folder/<measurement>.perf.data (read it with
# perf report -i FILE --sort comm,dso,sym); the inspected HTTPS runs record the inspecting
# Lumbra alone, with call graphs. Everything listens on 127.0.0.1 at free ports, in a
# temporary folder that is removed at the end together with every process the script started.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
helpers="$root/bench/load"
lumbra_binary=${LUMBRA_BINARY:-$root/build/lumbra}
tunnel_load=$root/build/bench/lumbra_tunnel_load
baseline_binary=${LUMBRA_BASELINE:-}
duration=${BENCH_DURATION:-10}
profile_dir=${BENCH_PROFILE:-}
profiler=""
held_connections=500
many_connections=1000

fail() {
  echo "load_bench: $*" >&2
  exit 1
}

tools=(nginx tinyproxy wrk curl python3 openssl gzip)
[ -z "$profile_dir" ] || tools+=(perf)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin:/sbin" command -v "$tool" >/dev/null ||
    fail "$tool is missing (scripts/setup-bench.sh installs it)"
done
export PATH="$PATH:/usr/sbin:/sbin"
[ -x "$lumbra_binary" ] || fail "$lumbra_binary is missing (build it first: scripts/build.sh)"
[ -x "$tunnel_load" ] || fail "$tunnel_load is missing (build it first: scripts/build.sh)"
[ -z "$baseline_binary" ] || [ -x "$baseline_binary" ] ||
  fail "LUMBRA_BASELINE: $baseline_binary is not an executable file"

# wrk, the proxies and the connection holder need two descriptors and more per connection.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
[ "$(ulimit -n)" = unlimited ] || [ "$(ulimit -n)" -ge 4096 ] ||
  fail "the descriptor limit ($(ulimit -n)) is too low for $many_connections connections"

work=$(mktemp -d /tmp/lumbra-load.XXXXXX)
chmod 755 "$work"
started=()

stop_process() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

cleanup() {
  local pid
  for pid in "${started[@]}"; do stop_process "$pid"; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

read -r origin_port tinyproxy_port lumbra_port baseline_port lists_port tls_port inspecting_port \
  < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(7)]
for s in sockets: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))')
origin="127.0.0.1:$origin_port"

wait_for_port() {
  local port=$1 pid=$2 name=$3 log=$4
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; fail "$name ended at start"; }
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$log" >&2
  fail "$name does not listen on 127.0.0.1:$port"
}

# The origin's certificate for its TLS port: self-signed, for the address 127.0.0.1.
origin_certificate="$work/tls/origin.pem"
make_origin_certificate() {
  mkdir -p "$work/tls"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/tls/origin.key" -out "$origin_certificate" >/dev/null 2>&1 ||
    fail "openssl cannot make the origin's certificate"
  chmod a+r "$work/tls/origin.key"
}

start_origin() {
  echo "Writing the origin's files (1 KiB page, 200 KiB page and its gzipped copy, 100 MiB file)..."
  python3 "$helpers/make_site.py" "$work/site"
  gzip -9 -c "$work/site/page.html" >"$work/site/page.html.gz"
  chmod -R a+rX "$work/site"
  make_origin_certificate
  mkdir -p "$work/nginx/logs" "$work/nginx/temp"
  # multi_accept: one worker otherwise takes one new connection per turn of its event
  # loop, and the last of 1,000 connections opened at once waits seconds to be taken
  # (wrk counts that as a time-out, directly and through any proxy alike).
  cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 8192; multi_accept on; }
http {
  access_log off;
  client_body_temp_path $work/nginx/temp/body;
  proxy_temp_path $work/nginx/temp/proxy;
  fastcgi_temp_path $work/nginx/temp/fastcgi;
  uwsgi_temp_path $work/nginx/temp/uwsgi;
  scgi_temp_path $work/nginx/temp/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 120s;
  keepalive_requests 1000000;
  # page.html.gz to clients that take gzip, through proxies too; nothing else has a .gz copy.
  gzip_static on;
  gzip_proxied any;
  types { text/html html; application/octet-stream bin; }
  default_type application/octet-stream;
  server {
    listen $origin backlog=4096;
    root $work/site;
  }
  server {
    listen 127.0.0.1:$tls_port ssl backlog=4096;
    ssl_certificate $origin_certificate;
    ssl_certificate_key $work/tls/origin.key;
    root $work/site;
  }
}
EOF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" \
    >"$work/nginx/logs/output.log" 2>&1 &
  started+=($!)
  wait_for_port "$origin_port" $! nginx "$work/nginx/logs/error.log"
}

start_tinyproxy() {
  mkdir -p "$work/tinyproxy"
  cat >"$work/tinyproxy/tinyproxy.conf" <<EOF
Port $tinyproxy_port
Listen 127.0.0.1
Timeout 60
MaxClients 4096
LogFile "$work/tinyproxy/tinyproxy.log"
LogLevel Critical
PidFile "$work/tinyproxy/tinyproxy.pid"
EOF
  tinyproxy -d -c "$work/tinyproxy/tinyproxy.conf" >"$work/tinyproxy/output.log" 2>&1 &
  pids[tinyproxy]=$!
  started+=("${pids[tinyproxy]}")
  wait_for_port "$tinyproxy_port" "${pids[tinyproxy]}" tinyproxy "$work/tinyproxy/output.log"
}

# start_lumbra TARGET [SETTINGS]: Lumbra (or the baseline) runs with the built-in configuration,
# its port changed and SETTINGS (elements of <lumbra>) added, in configuration and runtime
# folders of its own, so that the instances share neither settings nor the single-instance lock.
start_lumbra() {
  local target=$1 settings=${2:-} port folder="$work/$1/config/Lumbra_Corvane"
  port=$(target_port "$target")
  mkdir -p "$folder" "$work/$target/runtime"
  chmod 700 "$work/$target/runtime"
  sed -e "s|<proxyport>8010</proxyport>|<proxyport>$port</proxyport>|" \
    -e "s|</lumbra>|$settings</lumbra>|" "$root/resources/default-config.xml" >"$folder/lumbra.xml"
  grep -q "<proxyport>$port</proxyport>" "$folder/lumbra.xml" ||
    fail "the built-in configuration has no proxyport 8010 to replace"
  XDG_CONFIG_HOME="$work/$target/config" XDG_RUNTIME_DIR="$work/$target/runtime" \
    "${binaries[$target]}" >"$work/$target/output.log" 2>&1 &
  pids[$target]=$!
  started+=("${pids[$target]}")
  wait_for_port "$port" "${pids[$target]}" "$target" "$work/$target/output.log"
}

# Lumbra once more, with a generated list of 200,000 domains enabled, for the cost of looking up
# every request's host in it; it returns once the list is loaded.
list_domains=200000
start_lumbra_with_list() {
  local folder="$work/lists/config/Lumbra_Corvane" loaded=""
  python3 -c 'import sys
with open(sys.argv[1], "w") as f:
    for i in range(int(sys.argv[2])):
        f.write(f"0.0.0.0 host{i}.ads{i % 97}.example\n")' "$work/domains.txt" "$list_domains"
  start_lumbra lists
  sed -i "s|</lumbra>|<blocklists><list name=\"bench\" url=\"file://$work/domains.txt\" enabled=\"yes\"/></blocklists></lumbra>|" \
    "$folder/lumbra.xml"
  kill -HUP "${pids[lists]}"
  for _ in $(seq 1 120); do
    loaded=$(curl -s --max-time 5 "http://127.0.0.1:$lists_port/api/state" |
      python3 -c 'import json, sys; print(sum(l["domains"] for l in json.load(sys.stdin)["blockLists"]))' 2>/dev/null || true)
    [ "$loaded" = "$list_domains" ] && return 0
    sleep 0.5
  done
  fail "the list of $list_domains domains was not loaded (state says ${loaded:-nothing})"
}

# Lumbra with HTTPS filtering for 127.0.0.1, trusting the origin's certificate; it returns once
# its authority, made at start, is there for the client to trust.
inspecting_authority="$work/inspecting/config/Lumbra_Corvane/ca/lumbra-ca.pem"
start_inspecting_lumbra() {
  SSL_CERT_FILE="$origin_certificate" start_lumbra inspecting \
    '<httpsfiltering enabled="yes"><site>127.0.0.1</site></httpsfiltering>'
  for _ in $(seq 50); do
    [ -s "$inspecting_authority" ] && return 0
    sleep 0.1
  done
  fail "the inspecting Lumbra made no authority ($inspecting_authority)"
}

# curl arguments that send a request to the origin directly or through a proxy port.
proxy_arguments() {
  [ -n "$1" ] && echo "-x http://127.0.0.1:$1"
  true
}

check_route() {
  local name=$1 port=$2 answer
  # shellcheck disable=SC2046
  answer=$(curl -s -o /dev/null -w '%{http_code} %{size_download}' --max-time 10 \
    $(proxy_arguments "$port") "http://$origin/small.html") || true
  [ "$answer" = "200 1024" ] || fail "$name does not pass the 1 KiB page (got: $answer)"
}

count_matches() {
  grep -o -i -E "$1" "$2" | wc -l
}

# The 200 KiB page is asked for with a query naming a search site, so that the built-in
# rules' response-side element removals apply to it as well as the window.open comments.
page_target="/page.html?q=www.google.com"

show_filtering() {
  local original="$work/site/page.html" filtered="$work/page-through-lumbra.html"
  curl -s --max-time 10 -x "http://127.0.0.1:$lumbra_port" -o "$filtered" \
    "http://$origin$page_target" || fail "lumbra does not pass the 200 KiB page"
  local pattern_ads='id="(tads|bottomads|pa)[0-9]' pattern_open='window\.open'
  echo "Built-in rules on the 200 KiB page: $(stat -c %s "$original") -> $(stat -c %s "$filtered") bytes," \
    "advert elements $(count_matches "$pattern_ads" "$original") -> $(count_matches "$pattern_ads" "$filtered")," \
    "window.open calls $(count_matches "$pattern_open" "$original") -> $(count_matches "$pattern_open" "$filtered")"
}

# The gzipped page reaches Lumbra compressed and leaves it decoded, filtered and chunked.
gzip_header="Accept-Encoding: gzip"
show_decoding() {
  local head="$work/gzip-head.txt" size
  size=$(curl -s --max-time 10 -x "http://127.0.0.1:$lumbra_port" -H "$gzip_header" -D "$head" \
    -o /dev/null -w '%{size_download}' "http://$origin$page_target") ||
    fail "lumbra does not pass the gzipped 200 KiB page"
  if grep -qi '^content-encoding:' "$head" || ! grep -qi '^transfer-encoding: *chunked' "$head"; then
    fail "lumbra does not decode the gzipped 200 KiB page: $(tr -d '\r' <"$head" | tr '\n' ' ')"
  fi
  echo "Gzipped 200 KiB page: $(stat -c %s "$work/site/page.html.gz") bytes from the origin," \
    "$size bytes decoded and filtered from Lumbra (chunked)"
}

# The inspecting Lumbra answers HTTPS to the origin with a certificate of its own authority.
check_inspection() {
  curl -s -o /dev/null --max-time 10 -x "http://127.0.0.1:$inspecting_port" \
    --cacert "$inspecting_authority" "https://127.0.0.1:$tls_port/small.html" ||
    fail "the inspecting Lumbra does not open up HTTPS to 127.0.0.1:$tls_port"
}

declare -A result pids binaries=([lumbra]="$lumbra_binary" [baseline]="$baseline_binary"
  [lists]="$lumbra_binary" [inspecting]="$lumbra_binary")

# start_profile TARGET KEY / stop_profile: a machine-wide perf record around one of Lumbra's
# measurements, when BENCH_PROFILE names a folder; the inspecting Lumbra's cost is its own
# work, so it alone is recorded, with call graphs.
start_profile() {
  local scope=(-a)
  [ -n "$profile_dir" ] || return 0
  case $1 in
    lumbra) ;;
    inspecting) scope=(-g -p "${pids[inspecting]}") ;;
    *) return 0 ;;
  esac
  mkdir -p "$profile_dir"
  perf record "${scope[@]}" -F 499 -o "$profile_dir/$2.perf.data" >"$profile_dir/$2.perf.log" 2>&1 &
  profiler=$!
  started+=("$profiler")
  sleep 0.5
}

stop_profile() {
  [ -n "$profiler" ] || return 0
  kill -INT "$profiler" 2>/dev/null || true
  wait "$profiler" 2>/dev/null || true
  profiler=""
}

# run_wrk TARGET CONNECTIONS PATH KEY [HEADER]: runs wrk, sending HEADER with each request when
# given, and stores its figures under KEY.
run_wrk() {
  local target=$1 connections=$2 path=$3 key=$4 header=${5:-} port url line threads=2
  port=$(target_port "$target")
  if [ -n "$port" ]; then url="http://127.0.0.1:$port" path="http://$origin$path"; else url="http://$origin"; fi
  [ "$connections" -lt "$threads" ] && threads=$connections
  start_profile "$target" "$key"
  line=$(timeout $((duration + 60)) wrk -t "$threads" -c "$connections" -d "${duration}s" \
    --timeout 5s ${header:+-H "$header"} -s "$helpers/absolute_url.lua" "$url" -- "$path" "$origin" 2>&1 |
    grep '^RESULT' || true)
  stop_profile
  [ -n "$line" ] || fail "wrk gave no result for $key through $target"
  local requests duration_us bytes p50 p99 connect read_errors write status timeouts
  read -r requests duration_us bytes p50 p99 connect read_errors write status timeouts \
    <<<"$(echo "${line#RESULT }" | sed -E 's/[a-z_0-9]+=//g')"
  result[$target.$key.rps]=$(awk "BEGIN { printf \"%.0f\", $requests / ($duration_us / 1e6) }")
  result[$target.$key.mbs]=$(awk "BEGIN { printf \"%.1f\", $bytes / $duration_us }")
  result[$target.$key.p50]=$(awk "BEGIN { printf \"%.2f\", $p50 / 1000 }")
  result[$target.$key.p99]=$(awk "BEGIN { printf \"%.2f\", $p99 / 1000 }")
  result[$target.$key.errors]=$((connect + read_errors + write + status + timeouts))
  result[$target.$key.detail]="connect $connect, read $read_errors, write $write, status $status, timeout $timeouts"
  sleep 1
}

target_port() {
  case $1 in
    direct) echo "" ;;
    tinyproxy) echo "$tinyproxy_port" ;;
    lumbra) echo "$lumbra_port" ;;
    baseline) echo "$baseline_port" ;;
    lists) echo "$lists_port" ;;
    inspecting) echo "$inspecting_port" ;;
  esac
}

target_pid() {
  echo "${pids[$1]}"
}

# run_big_file TARGET ROUND [tunnel]: the 100 MiB file once, plainly or (through a proxy) inside a
# CONNECT tunnel as HTTPS goes; its speed joins the target's list (big or bigtunnel).
run_big_file() {
  local target=$1 round=$2 tunnel=${3:-} port code size speed key=big
  port=$(target_port "$target")
  [ -z "$tunnel" ] || key=bigtunnel
  start_profile "$target" "$key$round"
  # shellcheck disable=SC2046
  read -r code size speed <<<"$(curl -s -o /dev/null \
    -w '%{http_code} %{size_download} %{speed_download}' --max-time 120 \
    $(proxy_arguments "$port") ${tunnel:+${port:+--proxytunnel}} "http://$origin/big.bin" || true)"
  stop_profile
  if [ "$code" != 200 ] || [ "$size" != 104857600 ]; then
    fail "100 MiB file${tunnel:+ in a tunnel} through $target: status $code, $size bytes"
  fi
  result[$target.$key.speeds]="${result[$target.$key.speeds]:-} $speed"
}

# run_tunnels TARGET: tunnels opened one after another (p50 and p99 of CONNECT plus one GET of the
# 1 KiB page inside, in microseconds), then 50 at a time for the run's duration (tunnels/s).
run_tunnels() {
  local target=$1 port p50 p99 rate errors
  port=$(target_port "$target")
  start_profile "$target" tunnels
  read -r p50 p99 <<<"$("$tunnel_load" latency "$origin_port" "${port:-0}" 2000)"
  read -r rate errors <<<"$("$tunnel_load" rate "$origin_port" "${port:-0}" 50 "$duration")"
  stop_profile
  result[$target.tunnel.p50]=$p50
  result[$target.tunnel.p99]=$p99
  result[$target.tunnel.rps]=$rate
  result[$target.tunnel.errors]=$errors
  sleep 1
}

# run_tls TARGET: HTTPS to the origin's TLS port with 50 connections, directly or through a
# CONNECT: keep-alive GETs of the 1 KiB page (requests/s), then one GET per connection
# (handshakes/s). The inspecting Lumbra's figures take Lumbra's column; its client trusts Lumbra's
# authority, the others the origin's certificate.
run_tls() {
  local target=$1 column=$1 port trust=$origin_certificate rps handshakes errors new_errors
  port=$(target_port "$target")
  [ "$target" != inspecting ] || { column=lumbra trust=$inspecting_authority; }
  start_profile "$target" tls
  read -r rps handshakes errors <<<"$("$tunnel_load" tls "$tls_port" "${port:-0}" 50 "$duration" "$trust" 0)"
  stop_profile
  sleep 1
  start_profile "$target" tlsnew
  read -r handshakes _ new_errors <<<"$("$tunnel_load" tls "$tls_port" "${port:-0}" 50 "$duration" "$trust" 1)"
  stop_profile
  if [ -z "$rps" ] || [ -z "$handshakes" ]; then
    fail "the TLS load client gave no figures through $target"
  fi
  result[$column.tls.rps]=$rps
  result[$column.tlsnew.rps]=$handshakes
  result[$column.tls.errors]=$((errors + new_errors))
  sleep 1
}

# A target's three page rounds: the median MB/s, and every round's errors.
combine_page_rounds() {
  local target=$1 round errors=0 detail=""
  for round in 1 2 3; do
    errors=$((errors + result[$target.page$round.errors]))
    detail+="${detail:+; }round $round: ${result[$target.page$round.detail]}"
  done
  result[$target.page.mbs]=$(printf '%s\n' "${result[$target.page1.mbs]}" \
    "${result[$target.page2.mbs]}" "${result[$target.page3.mbs]}" | sort -g | sed -n 2p)
  result[$target.page.errors]=$errors
  result[$target.page.detail]=$detail
}

# median_of A B C: the middle one of three numbers.
median_of() {
  printf '%s\n' "$@" | sort -g | sed -n 2p
}

# median_big_file TARGET [KEY]: the median of a target's 100 MiB speeds, in MB/s.
median_big_file() {
  local target=$1 key=${2:-big}
  # shellcheck disable=SC2086
  result[$target.$key.mbs]=$(printf '%s\n' ${result[$target.$key.speeds]} | sort -g |
    awk '{ speeds[NR] = $1 } END { printf "%.1f", speeds[int((NR + 1) / 2)] / 1e6 }')
}

# The system's count of connections dropped because an accept queue was full.
listen_overflows() {
  awk '/^TcpExt:/ { if (!names) { split($0, names_row); names = 1 } else {
    for (i = 2; i <= NF; i++) if (names_row[i] == "ListenOverflows") print $i } }' /proc/net/netstat
}

rss_kib() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

# The proxy's memory with many open keep-alive connections, compared with its idle memory.
run_held_connections() {
  local target=$1 pid port idle held holder ready=""
  pid=$(target_pid "$target")
  port=$(target_port "$target")
  idle=$(rss_kib "$pid")
  python3 "$helpers/hold_connections.py" --proxy-port "$port" --url "http://$origin/small.html" \
    --host "$origin" --count "$held_connections" >"$work/hold-$target.out" 2>&1 &
  holder=$!
  started+=("$holder")
  for _ in $(seq 300); do
    ready=$(grep '^ready' "$work/hold-$target.out" || true)
    [ -n "$ready" ] && break
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$ready" ] || { cat "$work/hold-$target.out" >&2; fail "holding connections through $target failed"; }
  held=$(rss_kib "$pid")
  stop_process "$holder"
  result[$target.rss.idle]=$idle
  result[$target.rss.held]=$held
  result[$target.rss.per]=$(awk "BEGIN { printf \"%.1f\", ($held - $idle) / $held_connections }")
  result[$target.rss.state]=${ready#ready }
  sleep 2
}

# The Lumbra binaries measured: the current one, and the baseline when LUMBRA_BASELINE names one.
lumbras=(lumbra)
[ -z "$baseline_binary" ] || lumbras+=(baseline)
targets=(direct tinyproxy "${lumbras[@]}")

# in_turn N: the targets in their order for odd N, the other way round for even N. Each
# figure (and each round of one) takes its N, so that no target is always measured first,
# on a machine still busy from what came before.
in_turn() {
  if [ $(($1 % 2)) = 1 ]; then
    echo "${targets[@]}"
  else
    local index
    for ((index = ${#targets[@]} - 1; index >= 0; index--)); do echo -n "${targets[index]} "; done
  fi
}

# Each figure is taken for the targets one after the other, and the 100 MiB
# runs take turns, so that a machine whose speed drifts during the run (other work,
# frequency changes) skews the ratios as little as it can.
measure_all() {
  local target round overflows
  echo "Measuring memory with $held_connections held connections..."
  for target in tinyproxy "${lumbras[@]}"; do run_held_connections "$target"; done
  echo "Measuring the 1 KiB page with 50 connections..."
  for target in $(in_turn 2); do run_wrk "$target" 50 /small.html small; done
  echo "Measuring the 1 KiB page with and without a block list, three rounds each..."
  for round in 1 2 3; do
    run_wrk lumbra 50 /small.html unlisted$round
    run_wrk lists 50 /small.html listed$round
  done
  result[lists.unlisted.rps]=$(median_of "${result[lumbra.unlisted1.rps]}" \
    "${result[lumbra.unlisted2.rps]}" "${result[lumbra.unlisted3.rps]}")
  result[lists.listed.rps]=$(median_of "${result[lists.listed1.rps]}" \
    "${result[lists.listed2.rps]}" "${result[lists.listed3.rps]}")
  echo "Measuring the 200 KiB page with 20 connections, three rounds..."
  for round in 1 2 3; do
    for target in $(in_turn "$round"); do run_wrk "$target" 20 "$page_target" "page$round"; done
  done
  for target in "${targets[@]}"; do combine_page_rounds "$target"; done
  echo "Measuring the gzipped 200 KiB page with 20 connections..."
  for target in $(in_turn 1); do run_wrk "$target" 20 "$page_target" gzpage "$gzip_header"; done
  echo "Measuring the 100 MiB file three times..."
  for round in 1 2 3; do
    for target in $(in_turn "$round"); do run_big_file "$target" "$round"; done
  done
  for target in "${targets[@]}"; do median_big_file "$target"; done
  echo "Measuring tunnels, one after another and 50 at a time..."
  for target in $(in_turn 2); do run_tunnels "$target"; done
  echo "Measuring the 100 MiB file through a tunnel three times..."
  for round in 1 2 3; do
    for target in $(in_turn $((round + 1))); do run_big_file "$target" "$round" tunnel; done
  done
  for target in "${targets[@]}"; do median_big_file "$target" bigtunnel; done
  echo "Measuring HTTPS with 50 connections, kept alive and one GET each (Lumbra inspecting)..."
  for target in direct tinyproxy inspecting; do run_tls "$target"; done
  echo "Measuring the 1 KiB page with $many_connections connections..."
  for target in $(in_turn 1); do
    overflows=$(listen_overflows)
    run_wrk "$target" "$many_connections" /small.html many
    result[$target.many.overflows]=$(($(listen_overflows) - overflows))
  done
}

# ratio A B: A / B with two decimals, "-" when either is missing or B is 0.
ratio() {
  awk -v a="${1:-}" -v b="${2:-}" 'BEGIN {
    if (a == "" || b == "" || a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'
}

# meets VALUE OP LIMIT: "yes" or "NO".
meets() {
  awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN {
    if (v == "-" || l == "-") { print "?"; exit }
    ok = (op == ">=") ? (v + 0 >= l + 0) : (op == "<=") ? (v + 0 <= l + 0) : (v + 0 == l + 0)
    print ok ? "yes" : "NO" }'
}

row_format="%-34s %10s %10s %7s %10s %7s %7s  %-22s %s\n"
# With a baseline, its figure and Lumbra's ratio to it follow the verdict, which then takes a
# fixed width.
[ -z "$baseline_binary" ] || row_format="%-34s %10s %10s %7s %10s %7s %7s  %-22s %-4s %10s  %s\n"

# baseline_bound KEY: the ratio to the baseline Lumbra must keep to be at most 10% worse;
# requests/s and MB/s are better higher, every other figure (time, memory, errors) lower.
baseline_bound() {
  case $1 in
    *.rps | *.mbs) echo ">= 0.9" ;;
    *) echo "<= 1.1" ;;
  esac
}

# The labels of the figures where Lumbra is more than 10% worse than the baseline.
worse_than_baseline=()

print_row() {
  local label=$1 key=$2 target_text=${3:-} verdict=${4:-}
  local d=${result[direct.$key]:--} t=${result[tinyproxy.$key]:--} l=${result[lumbra.$key]:--}
  local baseline_cells=() b=${result[baseline.$key]:--} bound limit
  if [ -n "$baseline_binary" ]; then
    bound=$(baseline_bound "$key")
    baseline_cells=("$b" "$(ratio "$l" "$b") ($bound)")
    # Lumbra's figure is held against the baseline's times the bound rather than the ratio, so
    # that errors the baseline has none of still count against Lumbra.
    limit=$(awk -v b="$b" -v f="${bound#* }" 'BEGIN { if (b == "-") print "-"; else print b * f }')
    # Figures the baseline was not measured for (HTTPS inspection) are not held against it.
    [ "$b" = - ] || [ "$(meets "$l" "${bound% *}" "$limit")" = yes ] ||
      worse_than_baseline+=("$label ($b -> $l)")
  fi
  # shellcheck disable=SC2059
  printf "$row_format" "$label" "$d" "$t" "$(ratio "$t" "$d")" "$l" "$(ratio "$l" "$d")" \
    "$(ratio "$l" "$t")" "$target_text" "$verdict" "${baseline_cells[@]}"
}

print_table() {
  local small_rps_ratio small_p99_ratio page_ratio big_ratio
  small_rps_ratio=$(ratio "${result[lumbra.small.rps]}" "${result[tinyproxy.small.rps]}")
  small_p99_ratio=$(ratio "${result[lumbra.small.p99]}" "${result[tinyproxy.small.p99]}")
  page_ratio=$(ratio "${result[lumbra.page.mbs]}" "${result[direct.page.mbs]}")
  big_ratio=$(ratio "${result[lumbra.big.mbs]}" "${result[direct.big.mbs]}")
  echo
  # shellcheck disable=SC2059
  printf "$row_format" figure direct tinyproxy "xdirect" lumbra "xdirect" "xtiny" "Lumbra's target" met \
    ${baseline_binary:+baseline xbase}
  print_row "1 KiB page, 50 conn: requests/s" small.rps ">= 2 x tinyproxy" "$(meets "$small_rps_ratio" ">=" 2)"
  print_row "1 KiB page, 50 conn: p50 ms" small.p50
  print_row "1 KiB page, 50 conn: p99 ms" small.p99 "<= 0.5 x tinyproxy" "$(meets "$small_p99_ratio" "<=" 0.5)"
  print_row "1 KiB page, 50 conn: errors" small.errors
  local lists_ratio
  lists_ratio=$(ratio "${result[lists.listed.rps]}" "${result[lists.unlisted.rps]}")
  # shellcheck disable=SC2059
  printf "$row_format" "  median of 3, without block list" "" "" "" "${result[lists.unlisted.rps]}" "" "" "" ""
  # shellcheck disable=SC2059
  printf "$row_format" "  median of 3, $list_domains listed" "" "" "" "${result[lists.listed.rps]}" "" "" \
    ">= 0.95 x without: $lists_ratio" "$(meets "$lists_ratio" ">=" 0.95)"
  print_row "200 KiB page, median of 3: MB/s" page.mbs ">= 0.35 x direct" "$(meets "$page_ratio" ">=" 0.35)"
  print_row "200 KiB page, 20 conn: errors" page.errors
  print_row "gzipped 200 KiB page: requests/s" gzpage.rps
  print_row "gzipped 200 KiB page: MB/s received" gzpage.mbs
  print_row "gzipped 200 KiB page, 20 conn: errors" gzpage.errors
  print_row "100 MiB file, median of 3: MB/s" big.mbs ">= 0.6 x direct" "$(meets "$big_ratio" ">=" 0.6)"
  local tunnel_p50 tiny_p50 tunnel_rps_ratio tunnel_big_ratio
  tunnel_p50=$(ratio "${result[lumbra.tunnel.p50]}" "${result[direct.tunnel.p50]}")
  tiny_p50=$(ratio "${result[tinyproxy.tunnel.p50]}" "${result[direct.tunnel.p50]}")
  tunnel_rps_ratio=$(ratio "${result[lumbra.tunnel.rps]}" "${result[tinyproxy.tunnel.rps]}")
  tunnel_big_ratio=$(ratio "${result[lumbra.bigtunnel.mbs]}" "${result[direct.bigtunnel.mbs]}")
  print_row "tunnel open + GET: p50 us" tunnel.p50 "xdirect <= 0.5 x tiny's" \
    "$(meets "$tunnel_p50" "<=" "$(awk -v t="$tiny_p50" 'BEGIN { print t / 2 }')")"
  print_row "tunnel open + GET: p99 us" tunnel.p99
  print_row "tunnels/s, 50 at a time" tunnel.rps ">= 1.5 x tinyproxy" "$(meets "$tunnel_rps_ratio" ">=" 1.5)"
  print_row "tunnels, 50 at a time: errors" tunnel.errors
  print_row "100 MiB in a tunnel, median of 3: MB/s" bigtunnel.mbs ">= 0.8 x direct" "$(meets "$tunnel_big_ratio" ">=" 0.8)"
  print_row "HTTPS 1 KiB, 50 kept-alive: req/s" tls.rps
  print_row "HTTPS, a GET per conn: handshakes/s" tlsnew.rps
  print_row "HTTPS, both runs: errors" tls.errors
  print_row "RSS idle KiB" rss.idle
  print_row "RSS with $held_connections connections KiB" rss.held
  print_row "RSS per open connection KiB" rss.per "<= 16 KiB" "$(meets "${result[lumbra.rss.per]}" "<=" 16)"
  print_row "1 KiB page, $many_connections conn: requests/s" many.rps
  print_row "1 KiB page, $many_connections conn: errors" many.errors "0 errors" "$(meets "${result[lumbra.many.errors]}" "==" 0)"
  print_row "  accept-queue overflows" many.overflows
  echo
  local target key state held=""
  for target in tinyproxy "${lumbras[@]}"; do held+="${held:+; }$target ${result[$target.rss.state]}"; done
  echo "Held connections (answered, still open): $held"
  for target in tinyproxy "${lumbras[@]}"; do
    state=${result[$target.rss.state]}
    [ "${state#*open=}" = "$held_connections" ] ||
      echo "Note: $target closed kept-alive connections after one answer; its RSS per connection covers fewer open ones."
  done
  [ "${result[tinyproxy.small.errors]}" = 0 ] ||
    echo "Note: tinyproxy closes each connection after one answer without saying so; wrk counts every such close as a read error."
  for target in "${targets[@]}"; do
    for key in small page gzpage many; do
      [ "${result[$target.$key.errors]}" = 0 ] ||
        echo "Errors, $target, $key: ${result[$target.$key.detail]}"
    done
  done
  echo "Gzipped page: direct and tinyproxy receive it compressed, Lumbra's client decoded and filtered."
  echo "HTTPS: Lumbra opens it up (a certificate of its authority, filtered), tinyproxy tunnels it."
  echo "MB = 10^6 bytes; ratios are Lumbra (or tinyproxy) divided by direct access or tinyproxy;"
  echo "wrk: $duration s runs, 2 threads, 5 s timeout; origin: nginx with one worker; $(nproc) cores;"
  echo "load average at the start: $load_at_start (other work on the machine skews every figure)."
  [ -n "$baseline_binary" ] || return 0
  echo "baseline: $baseline_binary; xbase is Lumbra divided by the baseline, with the bound it keeps"
  echo "when at most 10% worse (>= where higher is better, <= where lower is better)."
  local worse="none"
  [ ${#worse_than_baseline[@]} = 0 ] || worse=$(printf '%s; ' "${worse_than_baseline[@]}")
  echo "More than 10% worse than the baseline (baseline -> Lumbra): ${worse%; }"
}

load_at_start=$(cut -d ' ' -f 1-3 /proc/loadavg)
start_origin
start_tinyproxy
for target in "${lumbras[@]}"; do start_lumbra "$target"; done
start_lumbra_with_list
start_inspecting_lumbra
for target in "${targets[@]}" lists; do check_route "$target" "$(target_port "$target")"; done
show_filtering
show_decoding
check_inspection
measure_all
for target in "${lumbras[@]}" lists inspecting; do
  kill -0 "${pids[$target]}" 2>/dev/null ||
    { cat "$work/$target/output.log" >&2; fail "$target ended during the run (see its output above)"; }
done
print_table
