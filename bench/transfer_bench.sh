#!/bin/sh
# Transfer throughput over loopback with real quorvel-cli processes, each figure beside a reference measured in the
# same run, for both exchanges: alice is pinned at bob (TLS 1.3, AES-256-GCM), carol is not (the legacy exchange,
# AES-256-CBC). (a) one large file into a parcel box on tmpfs against a raw socat copy and `openssl speed`;
# (b) many small files in one send against `openssl speed rsa3072`; (c) peak memory of listen with 50 transfers;
# (d) the time of one `send` of one 1 KiB file (median of 20) against the receiver's own time for its exchange, from
# the first to the last line it logged for that transfer.
# Usage: bench/transfer_bench.sh BUILD_DIR [SIZE_MIB] [SMALL_FILES]
set -eu
build=${1:?build directory with quorvel-cli}
size_mib=${2:-1024}
small=${3:-200}
cli="$build/quorvel-cli"
work=$(mktemp -d /dev/shm/quorvel-bench-XXXXXX)
listener=
trap 'test -n "$listener" && kill "$listener" 2>/dev/null; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
for who in alice bob carol; do
    QUORVEL_HOME="$work/$who" "$cli" init --name "$who" --address 127.0.0.1 --port "$port" \
        --parcel-root "$work/$who/PBoxes" >/dev/null
    QUORVEL_HOME="$work/$who" "$cli" reg set machine IOBlockSize dword 8192
    QUORVEL_HOME="$work/$who" "$cli" export-profile "$work/$who" >/dev/null
    # The same profile as an older program would have written it: no signature key, so no pin.
    grep -v '^SKEY: ' "$work/$who.prf" >"$work/$who-legacy.prf"
done
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/alice.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/carol-legacy.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/alice" "$cli" import-profile "$work/bob.prf" >/dev/null
QUORVEL_HOME="$work/carol" "$cli" import-profile "$work/bob-legacy.prf" >/dev/null

now() { date +%s.%N; }
QUORVEL_HOME="$work/bob" "$cli" listen >"$work/listen.out" 2>&1 &
listener=$!
until grep -q "Listening on" "$work/listen.out"; do sleep 0.1; done

head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
for sender in alice carol; do
    start=$(now)
    QUORVEL_HOME="$work/$sender" "$cli" send bob "$work/big.bin" --to "127.0.0.1:$port" >/dev/null
    eval "${sender}_s=$(echo "$(now) - $start" | bc)"
    cmp "$work/big.bin" "$work/bob/PBoxes/$sender/big.bin"
    rm -f "$work/bob/PBoxes/$sender/big.bin"
done
grep -q "R::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_256_GCM_SHA384)" "$work/listen.out"
grep -q "R::Legacy exchange with \[carol\]" "$work/listen.out"

raw_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
socat -u "TCP-LISTEN:$raw_port,bind=127.0.0.1,reuseaddr" "CREATE:$work/raw.bin" &
raw_listener=$!
sleep 0.3
start=$(now)
socat -u "FILE:$work/big.bin" "TCP:127.0.0.1:$raw_port"
wait $raw_listener
raw_s=$(echo "$(now) - $start" | bc)
rm -f "$work/raw.bin"

aes_8k=$(openssl speed -evp aes-256-cbc -bytes 8192 -seconds 2 2>/dev/null | awk '/^AES-256-CBC/ {print $2}')
gcm_8k=$(openssl speed -evp aes-256-gcm -bytes 8192 -seconds 2 2>/dev/null | awk '/^AES-256-GCM/ {print $2}')
echo "(a) ${size_mib} MiB, block size 8192, parcel box on tmpfs; raw socat copy: $(echo "$size_mib / $raw_s" | bc -l | cut -c1-7) MiB/s"
echo "    pinned (TLS 1.3, AES-256-GCM): $(echo "$size_mib / $alice_s" | bc -l | cut -c1-7) MiB/s, ratio $(echo "$raw_s / $alice_s" | bc -l | cut -c1-5)"
echo "    legacy (AES-256-CBC):          $(echo "$size_mib / $carol_s" | bc -l | cut -c1-7) MiB/s, ratio $(echo "$raw_s / $carol_s" | bc -l | cut -c1-5)"
echo "    openssl speed at 8 KiB: aes-256-cbc $aes_8k, aes-256-gcm $gcm_8k (k = 1000s of bytes/s)"

mkdir "$work/small"
i=0
while [ $i -lt "$small" ]; do
    head -c 1024 /dev/urandom >"$work/small/f$i"
    i=$((i + 1))
done
rsa=$(openssl speed -seconds 2 rsa3072 2>/dev/null | awk '/^rsa 3072/ {print $6}')
echo "(b) $small files of 1 KiB in one send; openssl speed rsa3072: $rsa private-key operations/s"
for sender in alice carol; do
    start=$(now)
    QUORVEL_HOME="$work/$sender" "$cli" send bob "$work"/small/f* --to "127.0.0.1:$port" >/dev/null
    small_s=$(echo "$(now) - $start" | bc)
    arrived=$(ls "$work/bob/PBoxes/$sender" | wc -l)
    echo "    $sender ($( [ $sender = alice ] && echo pinned || echo legacy )): $arrived arrived, $(echo "$small / $small_s" | bc -l | cut -c1-7) files/s"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Milliseconds since midnight of a log line's "HH:MM:SS.mmm" prefix.
ms_of() { echo "$1" | awk -F'[:. ]' '{ print (($1 * 60 + $2) * 60 + $3) * 1000 + $4 }'; }
head -c 1024 /dev/urandom >"$work/one.bin"
: >"$work/send_ms"
: >"$work/exchange_ms"
i=0
while [ $i -lt 20 ]; do
    rm -f "$work/bob/PBoxes/alice/one.bin"
    lines_before=$(wc -l <"$work/listen.out")
    start=$(now)
    QUORVEL_HOME="$work/alice" "$cli" send bob "$work/one.bin" --to "127.0.0.1:$port" >/dev/null
    echo "($(now) - $start) * 1000" | bc >>"$work/send_ms"
    until tail -n +"$((lines_before + 1))" "$work/listen.out" | grep -q "R: STORED"; do sleep 0.01; done
    id=$(tail -n +"$((lines_before + 1))" "$work/listen.out" | grep "R: STORED" | sed -n 's/.*\[#\([0-9]*\)\].*/\1/p')
    own=$(tail -n +"$((lines_before + 1))" "$work/listen.out" | grep "\[#$id\]")
    first=$(ms_of "$(echo "$own" | head -n 1)")
    last=$(ms_of "$(echo "$own" | tail -n 1)")
    echo "$((last - first))" >>"$work/exchange_ms"
    i=$((i + 1))
done
echo "(d) one 1 KiB file per send, pinned, median of 20: send $(median <"$work/send_ms" | cut -c1-6) ms;" \
    "the receiver's exchange $(median <"$work/exchange_ms") ms"

rm -f "$work"/bob/PBoxes/alice/*
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
