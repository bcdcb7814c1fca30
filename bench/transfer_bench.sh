#!/bin/bash
# Transfer throughput over loopback with real quorvel-cli processes, for both exchanges: alice is pinned at bob
# (TLS 1.3, AES-256-GCM), carol is not (the legacy exchange, AES-256-CBC). One run on this shared machine swings by
# 40 % and more, so every figure is the median of RUNS runs, and run k of a figure is measured right after run k of
# its reference, so that a slow phase of the machine hits both:
# (a) one large file into a parcel box on tmpfs beside a raw socat copy and `openssl speed` aes-256-gcm / -cbc, with
# the CPU time each end spent, and the least a pinned send can spend: the raw copy's work plus AES-GCM at both ends;
# (b) SMALL_FILES and MANY_FILES files of 1 KiB in one send beside `openssl speed rsa3072` (private-key signs/s);
# (c) peak memory of listen with 50 transfers; (d) the time of one `send` of one 1 KiB file (median of 20) beside the
# receiver's own time for its exchange, from the first to the last line it logged for that transfer.
usage="Usage: bench/transfer_bench.sh [-r RUNS] [-s SIZE_MIB] [-n SMALL_FILES] [-m MANY_FILES] BUILD_DIR
  -r RUNS         runs per figure, interleaved with the reference (default 5, at least 1)
  -s SIZE_MIB     size of the large file in MiB (default 1024)
  -n SMALL_FILES  1 KiB files in one send, pinned and legacy (default 200)
  -m MANY_FILES   1 KiB files in one send, pinned only (default 1000)"
set -eu
runs=5
size_mib=1024
small=200
many=1000
while getopts r:s:n:m:h option; do
    case $option in
    r) runs=$OPTARG ;;
    s) size_mib=$OPTARG ;;
    n) small=$OPTARG ;;
    m) many=$OPTARG ;;
    *)
        echo "$usage" >&2
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))
for number in "$runs" "$size_mib" "$small" "$many"; do
    case $number in
    '' | *[!0-9]* | 0)
        echo "transfer_bench: '$number' is not a positive whole number" >&2
        echo "$usage" >&2
        exit 2
        ;;
    esac
done
if [ $# -ne 1 ]; then
    echo "$usage" >&2
    exit 2
fi
cli="$1/quorvel-cli"
if [ ! -x "$cli" ]; then
    echo "transfer_bench: $cli not found; build it first, for example" >&2
    echo "  cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target quorvel-cli" >&2
    exit 2
fi

# Everything else is part of every Debian 12 system (bash, coreutils, diffutils, grep, sed, mawk).
missing_tools() {
    for tool in socat openssl; do
        command -v "$tool" >/dev/null || printf '%s ' "$tool"
    done
}
missing=$(missing_tools)
if [ -n "$missing" ]; then
    install_deps="$(dirname "$0")/../scripts/install-deps"
    echo "transfer_bench: needs ${missing% } (each from the Debian package of that name, which scripts/install-deps installs)" >&2
    if [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; then
        echo "transfer_bench: running $install_deps" >&2
        "$install_deps"
        missing=$(missing_tools)
    fi
    if [ -n "$missing" ]; then
        echo "transfer_bench: still missing ${missing% }; run scripts/install-deps (needs root or sudo) and try again" >&2
        exit 2
    fi
fi

work=$(mktemp -d /dev/shm/quorvel-bench-XXXXXX)
listener=
raw_listener=
cleanup() {
    if [ -n "$listener" ]; then kill "$listener" 2>/dev/null || true; fi
    if [ -n "$raw_listener" ]; then kill "$raw_listener" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "transfer_bench: $*" >&2
    exit 1
}
# shellcheck source=bench/bench_common.sh
. "$(dirname "$0")/bench_common.sh"
# "median min max" of a series.
stats() {
    sort -g "$work/series/$1" | awk '{ v[NR] = $1 }
        END { printf "%.6g %.6g %.6g\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR] }'
}
median_of() { stats "$1" | awk '{ print $1 }'; }
# "median (min to max)" with FORMAT applied to each.
spread() { stats "$1" | awk -v f="$2" '{ printf f " (" f " to " f ")", $1, $2, $3 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
rate() { awk -v amount="$1" -v seconds="$2" 'BEGIN { printf "%.6f\n", amount / seconds }'; }
# Empties the sender's folder in bob's parcel box, so every run stores the same names afresh.
clear_box() { if [ -d "$work/bob/PBoxes/$1" ]; then find "$work/bob/PBoxes/$1" -mindepth 1 -delete; fi; }
# Sends FILES... from SENDER to bob and records the files per second under SERIES; all of them must arrive.
send_files() {
    local sender=$1 series=$2 start seconds arrived
    shift 2
    clear_box "$sender"
    # No session saved by an earlier run: the first connection of every timed send makes the full handshake.
    find "$work/$sender" -name 'tls-session-*' -delete
    start=$(now)
    QUORVEL_HOME="$work/$sender" "$cli" send bob "$@" --to "127.0.0.1:$port" >/dev/null
    seconds=$(since "$start")
    arrived=$(find "$work/bob/PBoxes/$sender" -type f | wc -l)
    [ "$arrived" -eq $# ] || fail "$sender sent $# files, $arrived arrived"
    record "$series" "$(rate $# "$seconds")"
}
# openssl speed's figure for one algorithm, in the unit it prints.
openssl_aes_8k() {
    openssl speed -evp "$1" -bytes 8192 -seconds 1 2>/dev/null | awk -v name="${1^^}" '$1 == name { print $2 + 0 }'
}
openssl_rsa3072_sign() {
    openssl speed -seconds 1 rsa3072 2>/dev/null | awk '/^rsa 3072/ { print $6 }'
}
record_nonempty() {
    [ -n "$2" ] || fail "openssl speed printed no figure for $1"
    record "$1" "$2"
}

mkdir "$work/series"
port=$(free_port)
for who in alice bob carol; do
    QUORVEL_HOME="$work/$who" "$cli" init --name "$who" --address 127.0.0.1 --port "$port" \
        --parcel-root "$work/$who/PBoxes" >/dev/null
    QUORVEL_HOME="$work/$who" "$cli" reg set machine IOBlockSize dword 8192
    QUORVEL_HOME="$work/$who" "$cli" export-profile "$work/$who.prf" >/dev/null
    # The same profile as an older program would have written it: no signature key, so no pin.
    grep -v '^SKEY: ' "$work/$who.prf" >"$work/$who-legacy.prf"
done
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/alice.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/carol-legacy.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/alice" "$cli" import-profile "$work/bob.prf" >/dev/null
QUORVEL_HOME="$work/carol" "$cli" import-profile "$work/bob-legacy.prf" >/dev/null

QUORVEL_HOME="$work/bob" "$cli" listen >"$work/listen.out" 2>&1 &
listener=$!
wait_for_line "$work/listen.out" "Listening on"

# (a) Per run: the raw copy, then each exchange beside the cipher it uses.
head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
# Both ends of a transfer read and write up to 64 KiB per call, so the raw copy does too: with socat's default of
# 8 KiB it is the slower one on a busy machine (120 against 390 MiB/s), since every piece wakes the other process.
# Sets children_cpu to the CPU seconds (user and system) of the children this shell has waited for, so far.
# `times` must run in this shell, never in $( ): a subshell would count only its own children.
children_cpu=0
read_children_cpu() {
    times >"$work/times"
    children_cpu=$(awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, part, "m"); total += part[1] * 60 + part[2] } }
        END { printf "%.3f\n", total }' "$work/times")
}
# CPU seconds (user and system) of the running process PID, so far.
process_cpu() { awk -v tick="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / tick }' "/proc/$1/stat"; }
difference() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
raw_copy() {
    local raw_port start cpu_before
    raw_port=$(free_port)
    read_children_cpu
    cpu_before=$children_cpu
    socat -b 65536 -d -d -u "TCP-LISTEN:$raw_port,bind=127.0.0.1,reuseaddr" "CREATE:$work/raw.bin" 2>"$work/socat.log" &
    raw_listener=$!
    wait_for_line "$work/socat.log" "listening on"
    start=$(now)
    socat -b 65536 -u "FILE:$work/big.bin" "TCP:127.0.0.1:$raw_port"
    wait "$raw_listener" || fail "the raw socat copy failed: $(tail -n 3 "$work/socat.log")"
    raw_listener=
    record raw "$(rate "$size_mib" "$(since "$start")")"
    read_children_cpu
    record raw_cpu "$(difference "$cpu_before" "$children_cpu")"
    cmp "$work/big.bin" "$work/raw.bin"
    rm -f "$work/raw.bin"
}
send_big() {
    local sender=$1 start sender_before receiver_before
    clear_box "$sender"
    read_children_cpu
    sender_before=$children_cpu
    receiver_before=$(process_cpu "$listener")
    start=$(now)
    QUORVEL_HOME="$work/$sender" "$cli" send bob "$work/big.bin" --to "127.0.0.1:$port" >/dev/null
    record "big_$sender" "$(rate "$size_mib" "$(since "$start")")"
    read_children_cpu
    record "cpu_$sender" "$(difference "$sender_before" "$children_cpu")"
    record "cpu_bob_$sender" "$(difference "$receiver_before" "$(process_cpu "$listener")")"
    cmp "$work/big.bin" "$work/bob/PBoxes/$sender/big.bin"
    clear_box "$sender"
}
run=1
while [ $run -le "$runs" ]; do
    raw_copy
    record_nonempty gcm "$(openssl_aes_8k aes-256-gcm)"
    send_big alice
    record_nonempty cbc "$(openssl_aes_8k aes-256-cbc)"
    send_big carol
    run=$((run + 1))
done
grep -q "R::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_256_GCM_SHA384)" "$work/listen.out" ||
    fail "alice's transfers did not use the pinned exchange"
grep -q "R::Legacy exchange with \[carol\]" "$work/listen.out" || fail "carol's transfers did not use the legacy exchange"
rm -f "$work/big.bin"

echo "Medians of $runs interleaved runs, the lowest and highest run in brackets."
echo "(a) $size_mib MiB, block size 8192, parcel box on tmpfs"
echo "    raw socat copy, 64 KiB pieces: $(spread raw "%.0f") MiB/s"
echo "    pinned (TLS 1.3, AES-256-GCM): $(spread big_alice "%.0f") MiB/s, ratio to raw $(ratio "$(median_of big_alice)" "$(median_of raw)")"
echo "    legacy (AES-256-CBC):          $(spread big_carol "%.0f") MiB/s, ratio to raw $(ratio "$(median_of big_carol)" "$(median_of raw)")"
echo "    openssl speed at 8 KiB (k = 1000s of bytes/s): aes-256-gcm $(spread gcm "%.0fk"), aes-256-cbc $(spread cbc "%.0fk")"
# The receiver's share is read from its /proc entry once the sender has ended, so the rest of its work on the file
# (a few milliseconds of closing and renaming) may fall into the next measure.
cpu_line() { awk -v s="$(median_of "cpu_$1")" -v r="$(median_of "cpu_bob_$1")" 'BEGIN { printf "%.2f + %.2f = %.2f", s, r, s + r }'; }
cores=$(nproc)
floor=$(awk -v raw="$(median_of raw_cpu)" -v gcm="$(median_of gcm)" -v mib="$size_mib" \
    'BEGIN { printf "%.2f", raw + 2 * mib * 1048576 / (gcm * 1000) }')
echo "    CPU seconds, sender + receiver: raw $(awk -v raw="$(median_of raw_cpu)" 'BEGIN { printf "%.2f", raw }'), pinned $(cpu_line alice), legacy $(cpu_line carol)"
echo "    least CPU a pinned send needs, the raw copy's plus AES-256-GCM at both ends: $floor s; on $cores cores that" \
    "allows at most $(awk -v raw="$(median_of raw)" -v mib="$size_mib" -v floor="$floor" -v cores="$cores" \
        'BEGIN { printf "%.2f", (mib / raw) / (floor / cores) }') of raw"

# (b) Per run: the RSA reference, then the three sends. A pinned handshake costs two RSA-3072 private-key
# operations, so files/s over signs/s shows how far a send is from that bound; the goal is 1.5.
make_files() {
    local dir=$1 count=$2 i=0
    mkdir "$dir"
    while [ $i -lt "$count" ]; do
        head -c 1024 /dev/urandom >"$dir/f$i"
        i=$((i + 1))
    done
}
make_files "$work/small" "$small"
make_files "$work/many" "$many"
run=1
while [ $run -le "$runs" ]; do
    record_nonempty rsa "$(openssl_rsa3072_sign)"
    send_files alice small_alice "$work"/small/f*
    send_files carol small_carol "$work"/small/f*
    send_files alice many_alice "$work"/many/f*
    run=$((run + 1))
done
clear_box alice
clear_box carol
rsa=$(median_of rsa)
echo "(b) 1 KiB files in one send; openssl speed rsa3072: $(spread rsa "%.1f") private-key operations/s"
echo "    $small, pinned: $(spread small_alice "%.0f") files/s, $(ratio "$(median_of small_alice)" "$rsa") x rsa3072 sign/s (goal 1.5)"
echo "    $small, legacy: $(spread small_carol "%.0f") files/s, $(ratio "$(median_of small_carol)" "$rsa") x rsa3072 sign/s"
echo "    $many, pinned: $(spread many_alice "%.0f") files/s, $(ratio "$(median_of many_alice)" "$rsa") x rsa3072 sign/s (goal 1.5)"

# (d) Milliseconds since midnight of a log line's "HH:MM:SS.mmm" prefix.
ms_of() { awk -F'[:. ]' '{ print (($1 * 60 + $2) * 60 + $3) * 1000 + $4 }' <<<"$1"; }
head -c 1024 /dev/urandom >"$work/one.bin"
i=0
while [ $i -lt 20 ]; do
    clear_box alice
    lines_before=$(wc -l <"$work/listen.out")
    start=$(now)
    QUORVEL_HOME="$work/alice" "$cli" send bob "$work/one.bin" --to "127.0.0.1:$port" >/dev/null
    record send_ms "$(awk -v s="$(since "$start")" 'BEGIN { print s * 1000 }')"
    tries=0
    until tail -n +"$((lines_before + 1))" "$work/listen.out" | grep -q "R: STORED"; do
        tries=$((tries + 1))
        [ $tries -le 2000 ] || fail "the receiver logged no STORED line within 20 s"
        sleep 0.01
    done
    new=$(tail -n +"$((lines_before + 1))" "$work/listen.out")
    id=$(grep "R: STORED" <<<"$new" | sed -n 's/.*\[#\([0-9]*\)\].*/\1/p')
    own=$(grep "\[#$id\]" <<<"$new")
    record exchange_ms $(($(ms_of "$(tail -n 1 <<<"$own")") - $(ms_of "$(head -n 1 <<<"$own")")))
    i=$((i + 1))
done
echo "(d) one 1 KiB file per send, pinned, median of 20: send $(median_of send_ms) ms;" \
    "the receiver's exchange $(median_of exchange_ms) ms"

# (c) One measure: the listener's peak after everything above and 50 transfers at once.
clear_box alice
i=0
while [ $i -lt 50 ]; do
    head -c $((4 * 1048576)) /dev/zero >"$work/small/m$i"
    i=$((i + 1))
done
QUORVEL_HOME="$work/alice" "$cli" send bob "$work"/small/m* --to "127.0.0.1:$port" >/dev/null
peak=$(awk '/VmHWM/ {print $2, $3}' "/proc/$listener/status")
kill -TERM "$listener"
wait "$listener" || true
listener=
echo "(c) listen after 50 transfers of 4 MiB at once: peak resident $peak"
