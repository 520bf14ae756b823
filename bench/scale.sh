#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program at scale, as a process: `vantor-lite --check-now` over N URL
# services against an nginx of our own on 127.0.0.1 that answers 200 at once,
# for each N given (default 1000 5000 10000). Beside each run, the floor: the
# same N GET requests made by plain_http_loop, one libcurl multi loop with
# the same number in flight.
#
#     bench/scale.sh [N ...]
#     bench/scale.sh --minute N
#
# With --minute, `vantor-lite --headless` runs over N services that are all
# due every minute ("Minutely", period 1) until two minute boundaries have
# passed, and each minute's requests (from nginx's access log) and the
# writes of service.xml are set beside the minute: every service must be
# checked and stored well before the next minute begins. Beside them, what
# the program wrote in each minute (/proc/PID/io: wchar, the bytes it handed
# to write(2), and write_bytes, what reached the disk): with results that do
# not change, a minute should write little.
#
#   VANTOR_BIN      the program (default build/release/bin/vantor-lite)
#   PLAIN_LOOP_BIN  the floor (default plain_http_loop beside VANTOR_BIN)
#   SCALE_INFLIGHT  requests the floor keeps in flight (default 200, what
#                   --check-now keeps out with every alarm method off)
#   SCALE_WINDOW    with --minute: 1 runs the program with its window open
#                   (scheduling started at start-up) instead of --headless,
#                   on QT_QPA_PLATFORM (default offscreen; xcb with DISPLAY
#                   set shows it on an X server such as Xvfb)
#
# Exits non-zero only when a run fails: a check not stored as "Passed", a
# non-zero exit, a failed plain request. Targets missed are reported, not
# failed: this is a benchmark.
set -euo pipefail

cd "$(dirname "$0")/.."
repo_root=$PWD

vantor_bin=${VANTOR_BIN:-build/release/bin/vantor-lite}
plain_bin=${PLAIN_LOOP_BIN:-$(dirname "$vantor_bin")/plain_http_loop}
inflight=${SCALE_INFLIGHT:-200}
minute_mode=no
if [ "${1:-}" = --minute ]; then
    minute_mode=yes
    shift
fi
sizes=("$@")
if [ ${#sizes[@]} -eq 0 ]; then
    sizes=(1000 5000 10000)
fi

work=""
nginx_pid=""
nginx_port=""

die() {
    echo "scale.sh: $*" >&2
    exit 1
}

cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    if [ -n "$work" ]; then
        rm -rf "$work"
    fi
}
trap cleanup EXIT
# The EXIT trap does the cleaning; these only give the usual exit codes.
trap 'exit 130' INT
trap 'exit 143' TERM

absolute() {
    case $1 in
        /*) echo "$1" ;;
        *) echo "$repo_root/$1" ;;
    esac
}

check_prerequisites() {
    vantor_bin=$(absolute "$vantor_bin")
    plain_bin=$(absolute "$plain_bin")
    [ -x "$vantor_bin" ] || die "$vantor_bin is missing: cmake --build --preset release --target vantor-lite"
    [ -x "$plain_bin" ] || die "$plain_bin is missing: cmake --build --preset release --target plain_http_loop"
    [ -x /usr/sbin/nginx ] || die "nginx is missing: scripts/install-deps.sh installs it"
    [ -x /usr/bin/time ] || die "/usr/bin/time is missing: scripts/install-deps.sh installs it"
    [[ $inflight =~ ^[1-9][0-9]*$ ]] || die "SCALE_INFLIGHT must be a positive number, not '$inflight'"
    local n
    for n in "${sizes[@]}"; do
        [[ $n =~ ^[1-9][0-9]*$ ]] || die "N must be a positive number, not '$n'"
    done
}

# True when something listens on TCP port $1 of any address (IPv4 or IPv6).
port_in_use() {
    local hex
    hex=$(printf '%04X' "$1")
    awk -v port=":$hex" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 4) == port { found = 1 }
        END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

write_nginx_conf() {
    local dir=$1 port=$2
    # Every connection of a run may be open at once, the program's and the
    # floor's alike: room for far more than either keeps in flight.
    local connections=$((inflight * 2 + 4096))
    cat >"$dir/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections $connections; }
http {
    log_format times '\$msec';
    access_log ${access_log:-off};
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        location / { default_type text/plain; return 200 "ok\n"; }
    }
}
EOF
}

# Starts nginx in the foreground of a child (no daemon, no master, so it
# runs as whoever runs this script and $! is nginx itself) on a free port.
start_nginx() {
    local dir=$work/nginx port
    mkdir -p "$dir/tmp"
    # One connection per request, and connections may outnumber 1024.
    ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        # Below the kernel's ephemeral range (32768 up), so no client socket
        # of a run can hold it.
        port=$((20000 + RANDOM % 12000))
        port_in_use "$port" && continue
        write_nginx_conf "$dir" "$port"
        : >"$dir/error.log"
        /usr/sbin/nginx -e "$dir/error.log" -p "$dir" -c "$dir/nginx.conf" >"$dir/nginx.out" 2>&1 &
        nginx_pid=$!
        for _ in $(seq 50); do
            # nginx retries a taken port for a while before it gives up; its
            # error log says so at once.
            if grep -q 'bind()' "$dir/error.log" || ! kill -0 "$nginx_pid" 2>/dev/null; then
                break
            fi
            if port_in_use "$port" && "$plain_bin" "http://127.0.0.1:$port/probe" 1 1 >/dev/null 2>&1; then
                nginx_port=$port
                return 0
            fi
            sleep 0.1
        done
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
        nginx_pid=""
    done
    die "nginx did not start; its error log ends with: $(tail -3 "$dir/error.log" "$dir/nginx.out")"
}

# conf/service.xml with N URL services: GET, Minutely 5 (or the period $3),
# started, no alarms. A key is service:ip:port, so the path (/s1 ... /sN)
# keeps them apart.
write_services() {
    local file=$1 n=$2 period=${3:-5}
    awk -v n="$n" -v port="$nginx_port" -v period="$period" 'BEGIN {
        printf "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service><serviceList>\n"
        for (i = 1; i <= n; i++) {
            ip = "http://127.0.0.1/s" i
            printf "  <record key=\"URL:%s:%s\">", ip, port
            printf "<service>URL</service><ip>%s</ip><port>%s</port>", ip, port
            printf "<username></username><password></password>"
            printf "<schedule_by>Minutely</schedule_by><schedule_hour>00</schedule_hour>"
            printf "<schedule_minute>%s</schedule_minute>", period
            printf "<service_status>Unknown</service_status><status>Start</status>"
            printf "<proxy_ip></proxy_ip><proxy_port>0</proxy_port>"
            printf "<proxy_username></proxy_username><proxy_password></proxy_password>"
            printf "<url_method>GET</url_method><ftp_proxytype></ftp_proxytype>"
            printf "<alarm_email>n</alarm_email><alarm_smpp>n</alarm_smpp>"
            printf "<alarm_httpsms>n</alarm_httpsms><alarm_syslog>n</alarm_syslog>"
            printf "<service_url><referer></referer><cookie></cookie><headerData></headerData>"
            printf "<userAgent>VantorLite-scale</userAgent><contentType></contentType>"
            printf "<accept>text/html</accept><acceptCharSet></acceptCharSet>"
            printf "<acceptEncoding></acceptEncoding><acceptLanguage></acceptLanguage></service_url>"
            printf "</record>\n"
        }
        printf "</serviceList>\n"
    }' >"$file"
}

# A fresh application directory for one run, found through a per-user file
# of its own, so that no earlier run's results or logs weigh on this one.
make_app_dir() {
    local dir=$1 n=$2 period=${3:-5}
    mkdir -p "$dir/app/conf" "$dir/app/log" "$dir/app/help" "$dir/cfg/korvane" "$dir/runtime"
    printf '[Settings]\nAppPath=%s\n' "$dir/app" >"$dir/cfg/korvane/VantorLite.conf"
    # The program writes the other keys' defaults itself. A generous timeout
    # and no retries: a slow answer under load must not count as a failure,
    # and no check may run twice.
    printf '[http]\nHTTPDefaultTimeout=10000\nHTTPRetry=0\n' >"$dir/app/conf/SysInit.ini"
    write_services "$dir/app/conf/service.xml" "$n" "$period"
}

# Occurrences of text $1 in file $2; 0 when there are none or no file.
count() {
    { grep -o "$1" "$2" 2>/dev/null || true; } | wc -l
}

# Runs --check-now over N services; sets wall, rss_mb and passed.
run_program() {
    local dir=$1 n=$2 rc=0 rss_kb
    (
        cd "$dir"
        # XDG_RUNTIME_DIR: the single-instance lock of this run alone, not
        # that of a monitor or test running beside it.
        XDG_CONFIG_HOME=$dir/cfg XDG_RUNTIME_DIR=$dir/runtime HOME=$dir \
            /usr/bin/time -f '%e %M' -o "$dir/time.txt" \
            "$vantor_bin" --check-now >"$dir/check-now.out" 2>"$dir/check-now.err"
    ) || rc=$?
    local xml=$dir/app/conf/service.xml
    passed=$(count '<service_status>Passed</service_status>' "$xml")
    local records
    records=$(count '<record ' "$xml")
    if [ "$rc" -ne 0 ] || [ "$passed" -ne "$n" ] || [ "$records" -ne "$n" ]; then
        echo "N=$n: exit code $rc, $records records, $passed stored as Passed" >&2
        echo "--- checks not passed (first 10):" >&2
        awk -F'\t' '$2 != "Passed"' "$dir/check-now.out" | head -10 >&2
        echo "--- standard error (last 10 lines):" >&2
        tail -10 "$dir/check-now.err" >&2
        die "the run of $n services failed"
    fi
    # With a signal, time writes a line of its own before the figures.
    read -r wall rss_kb < <(tail -1 "$dir/time.txt")
    rss_mb=$(quotient %.1f "$rss_kb" 1024)
}

run_plain_loop() {
    local n=$1
    plain=$("$plain_bin" "http://127.0.0.1:$nginx_port/s" "$n" "$inflight") ||
        die "the plain loop of $n requests failed"
}

# awk does the arithmetic that bash cannot, with decimals.
# $2 / $3 printed with format $1; 0 when $3 is 0.
quotient() {
    awk -v a="$2" -v b="$3" -v format="$1" 'BEGIN { printf format, (b > 0 ? a / b : 0) }'
}

# True when condition $1 over a=$2 and b=$3 holds.
holds() {
    awk -v a="$2" -v b="$3" "BEGIN { exit !($1) }"
}

verdict() {
    if holds "$1" "$2" "$3"; then echo met; else echo "not met"; fi
}

report_targets() {
    local big=10000 small=1000 line
    echo
    if [ -n "${wall_of[$big]:-}" ]; then
        echo "10,000 services under 10 s:      $(verdict 'a < 10' "${wall_of[$big]}" 0) (${wall_of[$big]} s)"
        echo "peak RSS under 100 MB at 10,000: $(verdict 'a < 100' "${rss_of[$big]}" 0) (${rss_of[$big]} MB)"
    else
        echo "10,000 services under 10 s:      not measured (10000 not in this run)"
        echo "peak RSS under 100 MB at 10,000: not measured (10000 not in this run)"
    fi
    if [ -n "${wall_of[$big]:-}" ] && [ -n "${wall_of[$small]:-}" ]; then
        line=$(quotient %.1f "${wall_of[$big]}" "${wall_of[$small]}")
        echo "10,000 at most 12x 1,000:        $(verdict 'b > 0 && a / b <= 12' "${wall_of[$big]}" "${wall_of[$small]}") (${line}x)"
    else
        echo "10,000 at most 12x 1,000:        not measured (needs 1000 and 10000)"
    fi
    local worst=0 worst_n=""
    for n in "${sizes[@]}"; do
        if holds 'a > b' "${ratio_of[$n]}" "$worst"; then
            worst=${ratio_of[$n]}
            worst_n=$n
        fi
    done
    echo "ratio to the plain loop under 2: $(verdict 'a < 2' "$worst" 0) (worst ${worst} at N=$worst_n)"
}

# --headless over N services due every minute, until two minute boundaries
# have passed; then per minute: requests, the last one's second, and the
# last write of service.xml in that minute.
run_minute() {
    local n=$1 dir=$work/minute pid start end now mtime last=""
    make_app_dir "$dir" "$n" 1
    local xml=$dir/app/conf/service.xml
    start=$(date +%s)
    # Through the second boundary, and the minute after it well begun.
    end=$(((start / 60 + 2) * 60 + 30))
    (
        cd "$dir"
        if [ "${SCALE_WINDOW:-}" = 1 ]; then
            printf '[System]\nInitStart=1\n' >>"$dir/app/conf/SysInit.ini"
            XDG_CONFIG_HOME=$dir/cfg XDG_RUNTIME_DIR=$dir/runtime HOME=$dir \
                QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
                exec "$vantor_bin" >"$dir/headless.out" 2>"$dir/headless.err"
        fi
        XDG_CONFIG_HOME=$dir/cfg XDG_RUNTIME_DIR=$dir/runtime HOME=$dir \
            exec "$vantor_bin" --headless >"$dir/headless.out" 2>"$dir/headless.err"
    ) &
    pid=$!
    local mode=--headless
    if [ "${SCALE_WINDOW:-}" = 1 ]; then
        mode="the window (${QT_QPA_PLATFORM:-offscreen})"
    fi
    echo "N=$n: $mode from $(date -d "@$start" +%T) to $(date -d "@$end" +%T) ..." >&2
    : >"$dir/writes"
    : >"$dir/io"
    local minute last_minute=""
    while now=$(date +%s) && [ "$now" -lt "$end" ]; do
        mtime=$(stat -c %.3Y "$xml" 2>/dev/null || echo 0)
        if [ "$mtime" != "$last" ]; then
            echo "$mtime" >>"$dir/writes"
            last=$mtime
        fi
        minute=$((now / 60))
        if [ "$minute" != "$last_minute" ] && [ -r "/proc/$pid/io" ]; then
            echo "$minute $(awk '/^wchar|^write_bytes/ { printf "%s ", $2 }' "/proc/$pid/io")" >>"$dir/io"
            last_minute=$minute
        fi
        sleep 0.1
    done
    kill -TERM "$pid"
    wait "$pid" || die "$mode ended with $?: $(tail -3 "$dir/headless.err")"
    local passed
    passed=$(count '<service_status>Passed</service_status>' "$xml")
    echo "minute    requests  first at  last at  last write of service.xml at"
    awk -v logfile="$work/nginx/access.log" '
        FILENAME == logfile { m = int($1 / 60); n[m]++; s = $1 - m * 60
                          if (!(m in first) || s < first[m]) first[m] = s
                          if (s > last[m]) last[m] = s; next }
        { m = int($1 / 60); s = $1 - m * 60; if (s > w[m]) w[m] = s; seen[m] = 1 }
        END { for (m in n) { cmd = "date -d @" m * 60 " +%H:%M"; cmd | getline t; close(cmd)
                             printf "%s  %9d  %7.2fs  %6.2fs  %s\n", t, n[m], first[m], last[m],
                                    (m in seen) ? sprintf("%.2fs", w[m]) : "-" } }
    ' "$work/nginx/access.log" "$dir/writes" | sort
    echo "stored as Passed at the end: $passed of $n"
    echo "written by the program in the minute from (MB handed to write(2), MB to disk):"
    awk 'NR > 1 { cmd = "date -d @" pm * 60 " +%H:%M"; cmd | getline t; close(cmd)
                  printf "  %s  %8.1f  %8.1f\n", t, ($2 - pw) / 1e6, ($3 - pb) / 1e6 }
         { pm = $1; pw = $2; pb = $3 }' "$dir/io"
    grep -E 'scheduling|stops' "$dir/app/log/"system_*.log | tr -d '\r' | sed 's/^/log: /'
}

main() {
    check_prerequisites
    if [ "$minute_mode" = yes ]; then
        [ ${#sizes[@]} -eq 1 ] || die "--minute takes one N"
        work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-scale.XXXXXX")
        access_log="$work/nginx/access.log times"
        start_nginx
        run_minute "${sizes[0]}"
        return
    fi
    work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-scale.XXXXXX")
    start_nginx
    echo "vantor-lite --check-now against nginx on 127.0.0.1:$nginx_port;" \
        "plain loop with $inflight in flight; $(nproc) cores"
    echo

    declare -gA wall_of rss_of ratio_of
    local rows=() n i=0 dir wall rss_mb passed plain ratio rate
    for n in "${sizes[@]}"; do
        i=$((i + 1))
        dir=$work/run$i
        echo "N=$n: running ..." >&2
        make_app_dir "$dir" "$n"
        run_program "$dir" "$n"
        run_plain_loop "$n"
        rate=$(quotient %.0f "$n" "$wall")
        ratio=$(quotient %.2f "$wall" "$plain")
        wall_of[$n]=$wall
        rss_of[$n]=$rss_mb
        ratio_of[$n]=$ratio
        rows+=("$(printf '%7s %9s %9s %8s %9s %7s %7s' "$n" "$wall" "$rate" "$rss_mb" "$plain" "$ratio" "$passed")")
        rm -rf "$dir"  # 10,000 services leave megabytes of logs behind
    done

    printf '%7s %9s %9s %8s %9s %7s %7s\n' N "wall s" checks/s "RSS MB" "plain s" ratio Passed
    printf '%s\n' "${rows[@]}"
    report_targets
}

main
